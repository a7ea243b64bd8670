#!/usr/bin/env bash
# Processor time of `nimbrel-cli compile --fit 3840x2160` of a show of 24-megapixel JPEG photos
# against `djpeg` decoding each photo whole (to /dev/null), both on one CPU and taken in turns, for
# photos with 4:4:4 chroma (as ImageMagick writes them at quality 90) and with 4:2:0 (as cameras
# do). The goal: the compile within 1.3x of the decodes. The photos (16 of each kind, four
# distinct, 6000 x 4000) are made once with ImageMagick in BUILD_DIR/bench-fit. Prints figures;
# not a test.
#   bench/codecs/fit_against_djpeg.sh BUILD_DIR [ROUNDS]
set -euo pipefail
build=$(realpath "${1:?build directory}")
rounds=${2:-5}
. "$(dirname "$0")/../compile_setup.sh"
command -v djpeg >/dev/null || { echo "djpeg is missing (Debian: libjpeg-turbo-progs)"; exit 1; }
for chroma in 444 420; do
    work=$build/bench-fit/$chroma
    if [ ! -s "$work/show.nssp" ]; then
        echo "making 16 photos with $chroma chroma in $work..."
        mkdir -p "$work"
        sampling=$([ $chroma = 420 ] && echo 2x2 || echo 1x1)
        for k in 1 2 3 4; do
            nice -n 19 "$convert" -size 6000x4000 -seed $k plasma:fractal -attenuate 0.35 +noise Gaussian \
                -sampling-factor $sampling -quality 90 "$work/distinct$k.jpg"
        done
        {
            printf '[Header]\r\nNumber=16\r\nType=0\r\n[Files]\r\n'
            for i in $(seq 1 16); do
                cp "$work/distinct$(((i - 1) % 4 + 1)).jpg" "$work/photo$i.jpg"
                printf '%d=photo%d.jpg\r\n' $((i - 1)) "$i"
            done
        } >"$work/show.nssp.tmp"
        rm -f "$work"/distinct*.jpg
        mv "$work/show.nssp.tmp" "$work/show.nssp"
    fi
    echo "$chroma chroma: 16 photos, $(du -sm --apparent-size "$work" | cut -f1) MB"
    cpu() {  # processor seconds (user + system) of a command on CPU 0
        /usr/bin/time -f "%U %S" -o "$out/time" taskset -c 0 "$@" >/dev/null
        awk '{printf "%.2f", $1 + $2}' "$out/time"
    }
    decodes=() compiles=()
    for run in $(seq "$rounds"); do
        decodes+=("$(cpu bash -c 'for f in "$1"/photo*.jpg; do djpeg -outfile /dev/null "$f"; done' - "$work")")
        compiles+=("$(cpu "$bin/nimbrel-cli" compile -q --fit 3840x2160 --stub-dir "$stubs" -o "$out/fit.scr" \
            "$work/show.nssp")")
        echo "  run $run: djpeg ${decodes[-1]} s, compile --fit ${compiles[-1]} s"
    done
    python3 - "${decodes[*]}" "${compiles[*]}" <<'EOF'
import statistics, sys
d = [float(x) for x in sys.argv[1].split()]
c = [float(x) for x in sys.argv[2].split()]
print("  median: djpeg %.2f s, compile --fit %.2f s = %.2fx; best: %.2f s, %.2f s = %.2fx (goal: 1.3x)"
      % (statistics.median(d), statistics.median(c), statistics.median(c) / statistics.median(d),
         min(d), min(c), min(c) / min(d)))
EOF
done
echo "(the machine's load while measuring: $(cut -d' ' -f1-3 /proc/loadavg))"
