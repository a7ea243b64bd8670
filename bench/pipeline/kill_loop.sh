#!/usr/bin/env bash
# Kills `nimbrel-cli compile` with SIGKILL at random moments until KILLS (default 200) builds were
# killed before they ended, over a
# project whose output already holds a screensaver, and checks after each kill: the project is
# untouched, the output is the old screensaver or a new one that verifies. A build at the end
# must then leave nothing behind: no ~nb*.tmp beside the output, no nimbrel* folder in TMPDIR.
# Prints figures; not a test.
#   bench/pipeline/kill_loop.sh BUILD_DIR [KILLS [PICTURES]]
set -euo pipefail
build=$(realpath "${1:?build directory}")
kills=${2:-200}
pictures=${3:-12}
cli=$build/bin/nimbrel-cli
[ -x "$cli" ] || { echo "$cli is missing: build it first"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/players" "$work/tmp" "$work/show"
printf 'MZ stand-in player' >"$work/players/stub.bin"
{
    printf '[Header]\r\nNumber=%d\r\nType=0\r\n[Files]\r\n' "$pictures"
    for i in $(seq 0 $((pictures - 1))); do
        head -c $((1 << 20)) /dev/urandom >"$work/show/p$i.bmp"
        printf '%d=p%d.bmp\r\n' "$i" "$i"
    done
} >"$work/show/show.nssp"
export TMPDIR=$work/tmp
# exec: the background job's id is then the program's own, which the kill must reach.
run() { exec "$cli" compile -q --stub-dir "$work/players" "$@" "$work/show/show.nssp" 2>>"$work/errors"; }
t0=$(date +%s%N)
(run)
# The kills come at random moments within the time one whole build takes.
span=$(( ($(date +%s%N) - t0) / 1000000 + 1 ))
project=$(sha256sum <"$work/show/show.nssp")
old=$(sha256sum <"$work/show/show.scr")
killed=0 finished=0 new=0 bad=0
start=$(date +%s.%N)
i=0
while [ "$killed" -lt "$kills" ]; do
    i=$((i + 1))
    run &
    pid=$!
    delay=$(( (RANDOM * 32768 + RANDOM) % span ))
    sleep "$((delay / 1000)).$(printf '%03d' $((delay % 1000)))"
    kill -9 "$pid" 2>/dev/null || true
    if wait "$pid" 2>/dev/null; then finished=$((finished + 1)); else killed=$((killed + 1)); fi
    [ "$(sha256sum <"$work/show/show.nssp")" = "$project" ] || { echo "kill $i: the project changed"; bad=$((bad + 1)); }
    now=$(sha256sum <"$work/show/show.scr")
    if [ "$now" != "$old" ]; then
        "$cli" verify "$work/show/show.scr" >/dev/null || { echo "kill $i: the output does not verify"; bad=$((bad + 1)); }
        old=$now new=$((new + 1))
    fi
done
end=$(date +%s.%N)
echo "one build takes about $span ms; kills within that time of the start"
left_before=$(find "$work/show" "$work/tmp" -mindepth 1 -maxdepth 1 \( -name '~nb*' -o -name 'nimbrel*' \) | wc -l)
(run)
left_after=$(find "$work/show" "$work/tmp" -mindepth 1 -maxdepth 1 \( -name '~nb*' -o -name 'nimbrel*' \) | wc -l)
echo "$killed builds killed by kill -9 ($finished of $i finished first) in $(echo "$end - $start" | bc) s"
echo "new screensavers that verified: $new; faults: $bad"
echo "leftovers after the kills: $left_before; after one more build: $left_after"
[ "$bad" -eq 0 ] && [ "$left_after" -eq 0 ]
