#!/usr/bin/env bash
# Wall-clock time of `nimbrel-cli compile` of a show of JPEG photos, with today's packing and
# with --store-compressed, beside `cp -r` of the same photos (the goal for the option: within 2x
# of the copy). The photos (by default 40 noisy 3000 x 2000 JPEGs, some 150 MB) are made once
# with ImageMagick in BUILD_DIR/bench-store. Prints figures; not a test.
#   bench/pipeline/store_compressed.sh BUILD_DIR [PHOTOS]
set -euo pipefail
build=$(realpath "${1:?build directory}")
count=${2:-40}
. "$(dirname "$0")/../compile_setup.sh"
work=$build/bench-store/photos-$count
if [ ! -s "$work/show.nssp" ]; then
    echo "making $count photos in $work..."
    mkdir -p "$work"
    {
        printf '[Header]\r\nNumber=%d\r\nType=0\r\n[Files]\r\n' "$count"
        for i in $(seq 0 $((count - 1))); do
            nice -n 19 "$convert" -size 3000x2000 xc:gray +noise Gaussian -blur 0x0.6 -quality 92 \
                "$work/photo$i.jpg"
            printf '%d=photo%d.jpg\r\n' "$i" "$i"
        done
    } >"$work/show.nssp.tmp"
    mv "$work/show.nssp.tmp" "$work/show.nssp"
fi
echo "show: $(ls "$work"/*.jpg | wc -l) photos, $(du -sm --apparent-size "$work" | cut -f1) MB"
measure() {  # label, command...
    local label=$1
    shift
    sync
    /usr/bin/time -f "%e %U %S" -o "$out/time" "$@" >/dev/null
    read -r wall user system <"$out/time"
    printf '%-22s %6s s wall (%s s user, %s s system)\n' "$label" "$wall" "$user" "$system"
}
for run in 1 2 3; do
    echo "run $run:"
    rm -rf "$out/copy" "$out"/*.scr
    measure "cp -r" cp -r "$work" "$out/copy"
    measure "compile (today)" "$bin/nimbrel-cli" compile -q --stub-dir "$stubs" -o "$out/today.scr" "$work/show.nssp"
    measure "compile --store-compressed" "$bin/nimbrel-cli" compile -q --store-compressed --stub-dir "$stubs" \
        -o "$out/stored.scr" "$work/show.nssp"
    echo "  sizes: today $(stat -c %s "$out/today.scr") bytes, stored $(stat -c %s "$out/stored.scr") bytes"
done
echo "(the machine's load while measuring: $(cut -d' ' -f1-3 /proc/loadavg))"
