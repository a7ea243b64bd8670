#!/usr/bin/env bash
# Runs one of the core's Windows test programs under wine64:
#   run_suite.sh SUITE.exe PROBE.exe WINEPREFIX RESULTS_DIR
# Exits 77 (skipped) with the reason when wine is missing or cannot run a 64-bit program here.
# Every suite shares one private wine prefix inside the build folder; the first one to arrive
# makes it (wineboot), the others wait for it. No X display is used.
set -uo pipefail
suite=$1 probe=$2 prefix=$3 results=$4
name=$(basename "$suite" .exe)

[ -f "$suite" ] || { echo "$suite was not built (the 64-bit Windows build failed or is off)"; exit 1; }

wine=$(command -v wine64 || true)
[ -n "$wine" ] || { [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64; }
[ -n "$wine" ] || { echo "SKIPPED: wine64 is not installed"; exit 77; }
command -v flock >/dev/null || { echo "SKIPPED: flock (util-linux) is not installed"; exit 77; }

unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
mkdir -p "$prefix" "$results"

# Made once: the prefix, and the probe's verdict kept beside it.
exec 9>"$prefix.lock"
flock 9
if [ ! -f "$prefix/.nimbrel-ready" ]; then
    if ! timeout 300 "$wine" wineboot -i >"$prefix.boot.log" 2>&1; then
        echo "SKIPPED: wineboot could not prepare the wine prefix $prefix:"
        tail -5 "$prefix.boot.log"
        exit 77
    fi
    probeOut=$(timeout 60 "$wine" "$probe" 2>&1)
    if [[ "$probeOut" != *"64-bit Windows programs run"* ]]; then
        echo "$probeOut" >"$prefix.probe-failed"
    fi
    touch "$prefix/.nimbrel-ready"
fi
flock -u 9
if [ -f "$prefix.probe-failed" ]; then
    echo "SKIPPED: wine cannot run a tiny 64-bit Windows program here:"
    cat "$prefix.probe-failed"
    exit 77
fi

# Each suite works in a folder of its own; its temporary files stay in the build folder.
work=$results/$name
rm -rf "$work" && mkdir -p "$work"
cd "$work" || exit 1
timeout 800 "$wine" "$suite" --gtest_output="xml:$(basename "$name").xml" 2>&1 | tr -d '\r'
status=${PIPESTATUS[0]}
exit "$status"
