#!/usr/bin/env bash
# Wall-clock time of `nimbrel-cli render` of 10 frames at 1920 x 1080 of a show of large JPEG
# photos (by default 30 noisy 6000 x 4000 photos of about 11 MB, some 340 MB), made once by
# show_bench in BUILD_DIR/bench-show. Prints figures; not a test.
#   bench/show/render_large_photos.sh BUILD_DIR [PHOTOS [WIDTH HEIGHT [QUALITY]]]
set -euo pipefail
build=$(realpath "${1:?build directory}")
count=${2:-30} width=${3:-6000} height=${4:-4000} quality=${5:-90}
bin=$build/bin
for program in nimbrel-cli show_bench; do
    [ -x "$bin/$program" ] || { echo "$bin/$program is missing: build it first"; exit 1; }
done
work=$build/bench-show/photos-$count-${width}x$height-q$quality
if [ ! -s "$work/show.nssp" ]; then
    echo "making the photos in $work..."
    # show_bench prints its own figures as it makes them; only the photos are wanted here.
    nice -n 19 "$bin/show_bench" "$count" "$width" "$height" "$work" "$quality" >/dev/null
fi
echo "show: $(ls "$work"/*.jpg | wc -l) photos, $(du -sm "$work" | cut -f1) MB"
times=0,1.3,2.6,3.9,5.2,6.5,7.8,9.1,10.4,11.7
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
for run in 1 2 3; do
    rm -f "$out"/*.png
    /usr/bin/time -f "%e %U %S %M" -o "$out/time" \
        "$bin/nimbrel-cli" render "$work/show.nssp" --size 1920x1080 --at "$times" --out "$out" >/dev/null
    read -r wall user system peak <"$out/time"
    echo "run $run: 10 frames at 1920x1080 in $wall s wall ($user s user, $system s system, peak $((peak / 1024)) MB)"
done
echo "(the machine's load while measuring: $(cut -d' ' -f1-3 /proc/loadavg))"
