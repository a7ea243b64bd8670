#!/bin/bash
# The Windows conversion through WIC: nimbrel-cli.exe compiles a show of a 16-bit TIFF and a JPEG
# (both stored on their sides), a small JPEG, an HEIC and a WebP with --fit 400x400 under wine;
# the members must be upright JPEGs of the fitted size, the small JPEG packed as it is. What
# wine's WIC has no codec for (HEIC, WebP) must be named as left out.
# Usage: wic_wine_test.sh BIN_DIR WORK_DIR PROBE
set -u
bin=$1 work=$2 probe=$3
cli_exe=$bin/win64/nimbrel-cli.exe
[ -f "$cli_exe" ] || { echo "SKIP: $cli_exe not built"; exit 77; }
command -v wine >/dev/null || { echo "SKIP: wine is not installed"; exit 77; }
rm -rf "$work" && mkdir -p "$work"
export WINEDEBUG=-all WINEPREFIX=${WINEPREFIX:-$work/prefix}
# The wine that runs the 64-bit program: "wine" may be the 32-bit loader, which a kernel without
# 32-bit support cannot start.
wine=
for candidate in wine wine64 /usr/lib/wine/wine64; do
    command -v "$candidate" >/dev/null || continue
    if timeout 300 "$candidate" "$cli_exe" --version >/dev/null 2>&1; then wine=$candidate; break; fi
done
[ -n "$wine" ] || { echo "SKIP: no wine here runs 64-bit Windows programs"; exit 77; }
"$probe" make "$work" || exit 1
printf 'MZ stand-in player' > "$work/stub.bin"
printf '[Header]\r\nNumber=5\r\nType=0\r\n[Files]\r\n0=scan.tif\r\n1=photo.jpg\r\n2=small.jpg\r\n3=phone.heic\r\n4=web.webp\r\n' \
    > "$work/Show.nssp"
(cd "$work" && timeout 300 "$wine" "$cli_exe" compile Show.nssp --stub-dir . --fit 400x400) > "$work/compile.txt" 2>&1
status=$?
cat "$work/compile.txt"
[ $status -eq 0 ] || { echo "FAIL: nimbrel-cli.exe compile ended with $status"; exit 1; }
mkdir -p "$work/out"
"$bin/nimbrel-cli" extract "$work/Show.scr" "$work/out" >/dev/null || { echo "FAIL: extract"; exit 1; }
fail=0
expect() {  # member, expected info line
    local got
    got=$("$probe" info "$work/out/$1")
    if [ "$got" != "$2" ]; then echo "FAIL: $1 is \"$got\", expected \"$2\""; fail=1; else echo "ok: $1 $got"; fi
}
expect scan.tif "jpeg 200x400 blue"
expect photo.jpg "jpeg 200x400 blue"
cmp -s "$work/small.jpg" "$work/out/small.jpg" || { echo "FAIL: small.jpg was not packed as it is"; fail=1; }
for name in phone.heic web.webp; do
    if [ -f "$work/out/$name" ]; then
        # The system had a codec for it after all.
        expect "$name" "jpeg $([ $name = phone.heic ] && echo 96x128 || echo 300x200) blue"
    elif grep -q "$name" "$work/compile.txt"; then
        echo "ok: $name named as left out (no codec for it under wine)"
    else
        echo "FAIL: $name neither converted nor named"; fail=1
    fi
done
exit $fail
