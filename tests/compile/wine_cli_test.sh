#!/usr/bin/env bash
# nimbrel-cli.exe under wine and nimbrel-cli on Linux compile the same project: both screensavers
# must hold the same stub bytes and the same members, byte for byte (the project file inside
# may differ only in its paths). Exits 77 (skipped) when wine or the Windows build is missing.
set -euo pipefail
bin=$1          # build/bin with nimbrel-cli, nimbrel-cli.exe, stub.bin
work=$2         # a scratch folder of this test
examples=$3     # examples/holiday
fixture=${4:-}  # a PE32 executable with an icon group "1", used when stub.bin was not built
# nimbrel-cli.exe is a 64-bit program: wine64 runs it even where the kernel runs no 32-bit ones.
WINE=$(command -v wine64 || true)
[ -n "$WINE" ] || { [ -x /usr/lib/wine/wine64 ] && WINE=/usr/lib/wine/wine64; }
[ -n "$WINE" ] || { echo "wine64 is not installed"; exit 77; }
[ -f "$bin/nimbrel-cli.exe" ] || { echo "no nimbrel-cli.exe (Windows build off)"; exit 77; }

rm -rf "$work" && mkdir -p "$work/linux" "$work/windows" "$work/stubs"
export WINEPREFIX=${NIMBREL_WINEPREFIX:-$work/../wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# A stub that the icon editor accepts, so that both sides edit its icon: the real player when it
# was built, else a test executable.
if [ -f "$bin/stub.bin" ]; then cp "$bin/stub.bin" "$work/stubs/stub.bin"
elif [ -f "$fixture" ]; then cp "$fixture" "$work/stubs/stub.bin"
else echo "no PE32 stub to build with"; exit 77; fi
stub_size=$(stat -c %s "$work/stubs/stub.bin")
cp "$work/stubs/stub.bin" "$work/stubs/flash.bin"
for side in linux windows; do cp "$examples"/* "$work/$side/"; done

"$bin/nimbrel-cli" compile "$work/linux/holiday.nssp" --stub-dir "$work/stubs" > "$work/linux.log"
timeout 300 "$WINE" "$bin/nimbrel-cli.exe" compile "Z:${work//\//\\}\\windows\\holiday.nssp" \
    --stub-dir "Z:${work//\//\\}\\stubs" > "$work/windows.log" 2>&1 || {
    cat "$work/windows.log"; echo "nimbrel-cli.exe failed"; exit 1; }

for side in linux windows; do
    "$bin/nimbrel-cli" extract "$work/$side/holiday.scr" "$work/$side.members" > /dev/null
    "$bin/nimbrel-cli" list "$work/$side/holiday.scr" > "$work/$side.list"
done
lin=$work/linux/holiday.scr win=$work/windows/holiday.scr
# The stub part: everything before the archive, equal byte for byte.
start_of() { "$bin/nimbrel-cli" list "$1" | sed -n 's/.* at offset \([0-9]*\),.*/\1/p' | head -1; }
s1=$(start_of "$lin"); s2=$(start_of "$win")
[ -n "$s1" ] && [ "$s1" = "$s2" ] || { echo "archive starts differ: '$s1' '$s2'"; exit 1; }
cmp -n "$s1" "$lin" "$win" || { echo "stub parts differ"; exit 1; }
for f in "$work/linux.members"/*; do
    name=$(basename "$f")
    [ "$name" = Options.ini ] && continue
    cmp "$f" "$work/windows.members/$name" || { echo "member $name differs"; exit 1; }
done
diff <(ls "$work/linux.members") <(ls "$work/windows.members")
# Options.ini: the same lines once paths are set aside.
strip_paths() { tr -d '\r' < "$1" | sed -E 's#^([0-9]+|Output|IconFile|FlashFile)=.*#\1=(path)#'; }
diff <(strip_paths "$work/linux.members/Options.ini") <(strip_paths "$work/windows.members/Options.ini")
if [ "$s1" = "$stub_size" ] && cmp -s -n "$s1" "$work/stubs/stub.bin" "$lin"; then
    echo "the icon was not changed: the screensaver starts with the stub as it was"; exit 1
fi
echo "same stub bytes ($s1, icon changed) and members under Linux and Windows"
