#!/usr/bin/env bash
# nimbrel-cli.exe under wine and nimbrel-cli on Linux compile the same project: both screensavers
# must hold the same stub bytes and the same members, byte for byte (the project file inside
# may differ only in its paths). Exits 77 (skipped) when wine or the Windows build is missing.
set -euo pipefail
bin=$1          # build/bin with nimbrel-cli, nimbrel-cli.exe, stub.bin
work=$2         # a scratch folder of this test
examples=$3     # examples/holiday
command -v wine >/dev/null || { echo "wine is not installed"; exit 77; }
[ -f "$bin/nimbrel-cli.exe" ] || { echo "no nimbrel-cli.exe (Windows build off)"; exit 77; }

rm -rf "$work" && mkdir -p "$work/linux" "$work/windows" "$work/stubs"
export WINEPREFIX=${NIMBREL_WINEPREFIX:-$work/../wineprefix} WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# A stub that the icon editor accepts: the real player when it was built, else the CLI itself.
if [ -f "$bin/stub.bin" ]; then cp "$bin/stub.bin" "$work/stubs/stub.bin"; else cp "$bin/nimbrel-cli.exe" "$work/stubs/stub.bin"; fi
cp "$work/stubs/stub.bin" "$work/stubs/flash.bin"
for side in linux windows; do cp "$examples"/* "$work/$side/"; done

"$bin/nimbrel-cli" compile "$work/linux/holiday.nssp" --stub-dir "$work/stubs" > "$work/linux.log"
timeout 300 wine "$bin/nimbrel-cli.exe" compile "$(winepath -w "$work/windows/holiday.nssp" 2>/dev/null)" \
    --stub-dir "$(winepath -w "$work/stubs" 2>/dev/null)" > "$work/windows.log" 2>&1 || {
    cat "$work/windows.log"; echo "nimbrel-cli.exe failed"; exit 1; }

for side in linux windows; do
    "$bin/nimbrel-cli" extract "$work/$side/holiday.scr" "$work/$side.members" > /dev/null
    "$bin/nimbrel-cli" list "$work/$side/holiday.scr" > "$work/$side.list"
done
lin=$work/linux/holiday.scr win=$work/windows/holiday.scr
# The stub part: everything before the archive, equal byte for byte.
start_of() { "$bin/nimbrel-cli" list "$1" | sed -n 's/.*archive starts at \([0-9]*\).*/\1/p' | head -1; }
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
echo "same stub bytes ($s1) and members under Linux and Windows"
