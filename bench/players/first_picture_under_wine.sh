#!/usr/bin/env bash
# Time from start to the first picture on screen, and the player's peak memory, for a slideshow
# of large JPEG photos under wine and Xvfb. Prints figures; not a test.
#   bench/players/first_picture_under_wine.sh BUILD_DIR [MEGABYTES]
#       the photos (about 300 MB of 5000 x 3500 JPEGs) packed as they are
#   bench/players/first_picture_under_wine.sh BUILD_DIR --fit WxH [PHOTOS]
#       PHOTOS (default 100) 24-megapixel JPEGs compiled by nimbrel-cli compile --fit WxH, as a
#       user's show with "Fit pictures to the screen"; also times the compile and sizes the result
#   bench/players/first_picture_under_wine.sh BUILD_DIR --many PICTURES
#       a show of PICTURES (e.g. 100000 or 200000) small JPEGs, listed by name in the project:
#       the start's cost of matching the list to the members
# RUNS (default 5) sets how often the player is started; the median start is the figure.
# MOTION=1 turns pan and zoom on in the show of photos packed as they are (the first form);
# CAPTION=N (1 the file name, 2 the date taken, 3 the description) adds captions. With CAPTION, or
# with CLI=1 for the same show without captions, the screensaver is made by nimbrel-cli compile
# (which draws the captions) rather than packed directly.
set -euo pipefail
trap 'echo "stopped at line $LINENO" >&2' ERR
build=$(realpath "${1:?build directory}")
fit="" many=""
if [ "${2:-}" = --many ]; then
    many=${3:?--many needs a number of pictures, e.g. 100000}
elif [ "${2:-}" = --fit ]; then
    fit=${3:?--fit needs WxH, e.g. 3840x2160}
    count=${4:-100}
else
    megabytes=${2:-300}
fi
bin=$build/bin
work=$build/bench-players
mkdir -p "$work"
# The shipped 32-bit player where wine really runs 32-bit programs (the probe returns its own exit
# code); its 64-bit build where it does not (a wine without the system's 32-bit support returns 0
# without running anything), or where NIMBREL_WINE_64=1 asks for it.
probe_dir=$build/tests/players
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
runs_probe() {  # loader, probe
    [ -f "$2" ] || return 1
    timeout 240 "$1" "$2" >/dev/null 2>&1 </dev/null
    [ $? -eq 42 ]
}
wine="" stub=""
if [ "${NIMBREL_WINE_64:-}" != 1 ] && runs_probe wine "$probe_dir/wine_probe32.exe"; then
    wine=wine stub=$bin/stub.bin
else
    for candidate in wine wine64 /usr/lib/wine/wine64; do
        if runs_probe $candidate "$probe_dir/wine_probe64.exe"; then wine=$candidate; break; fi
    done
    stub=$bin/win64/stub.bin
    [ -n "$wine" ] || { echo "wine runs no Windows program on this machine (or the probes in $probe_dir were not built): nothing measured"; exit 0; }
    [ "${NIMBREL_WINE_64:-}" = 1 ] || echo "wine does not run 32-bit programs here: timing the 64-bit player"
fi
echo "player: $stub under $wine"
for tool in Xvfb import convert; do command -v $tool >/dev/null || { echo "$tool missing"; exit 0; }; done

if [ -n "$many" ]; then
# Four small pictures of different colours (a few hundred bytes each), stretched to the screen,
# stored under PICTURES names photo1.jpg... that the project lists in reverse, so that every
# entry must be looked up.
manydir=$work/many
mkdir -p "$manydir"
small=()
for colour in orange teal gold violet; do
    f=$manydir/small-$colour.jpg
    [ -s "$f" ] || convert -size 16x16 "xc:$colour" -quality 80 "$f"
    small+=("$f")
done
awk -v n="$many" 'BEGIN {
    printf "[Header]\r\nNumber=%d\r\nType=0\r\n\r\n[Files]\r\n", n
    for (i = 0; i < n; i++) printf "%d=C:\\Photos\\PHOTO%d.JPG\r\n", i, n - i
    printf "\r\n[Options]\r\nCenter=1\r\nStretch=1\r\nKeepAspect=0\r\nShowSpeed=5\r\nTransition=0\r\n"
    printf "ColorR=0\r\nColorG=0\r\nColorB=0\r\n\r\n"
}' >"$manydir/Options.ini"
printf 'Many\r\nMany small pictures\r\n' >"$manydir/About.cfg"
"$bin/player_make_screensaver" "$work/photos.scr" "$stub" "$manydir/Options.ini" "$manydir/About.cfg" \
    --copies "$many" "${small[@]}"
echo "screensaver: $(($(stat -c %s "$work/photos.scr") / 1048576)) MB, $many pictures"
target_first=1 target_peak=300
elif [ -z "$fit" ]; then
# Photos of 10 to 20 MB each: one noisy 5000 x 3500 JPEG, stored under as many names as make up
# the show's size (each costs the player the same work as a different photo would).
photo=$work/photo.jpg
[ -s "$photo" ] || convert -size 5000x3500 plasma:red-blue -attenuate 0.6 +noise Gaussian -quality 97 "$photo"
photos=$(((megabytes * 1048576 + $(stat -c %s "$photo") - 1) / $(stat -c %s "$photo")))
rm -f "$work"/photo[0-9]*.jpg
files=()
for i in $(seq 1 "$photos"); do
    f=$work/photo$i.jpg
    [ -s "$f" ] || cp "$photo" "$f"
    files+=("$f")
done
cli=""
[ -z "${CAPTION:-}" ] && [ "${CLI:-}" != 1 ] || cli=1
{
    printf '[Header]\r\nNumber=%d\r\nType=0\r\n\r\n[Files]\r\n' "$photos"
    i=0; for f in "${files[@]}"; do
        if [ -n "$cli" ]; then printf '%d=%s\r\n' $i "$f"; else printf '%d=C:\\Photos\\%s\r\n' $i "$(basename "$f")"; fi
        i=$((i + 1))
    done
    printf '\r\n[Options]\r\n'
    [ -z "$cli" ] || printf 'Output=%s\r\n' "$work/photos.scr"
    printf 'Center=1\r\nStretch=1\r\nKeepAspect=1\r\nShowSpeed=5\r\nTransition=0\r\n'
    printf 'ColorR=0\r\nColorG=0\r\nColorB=0\r\n\r\n'
    if [ "${MOTION:-}" = 1 ] || [ -n "${CAPTION:-}" ]; then
        printf '[Show]\r\n'
        [ "${MOTION:-}" != 1 ] || printf 'Motion=1\r\n'
        [ -z "${CAPTION:-}" ] || printf 'Caption=%s\r\n' "$CAPTION"
        printf '\r\n'
    fi
} >"$work/Options.ini"
if [ -n "$cli" ]; then
    cp "$work/Options.ini" "$work/photos.nssp"
    "$bin/nimbrel-cli" compile -q --stub-dir "$(dirname "$stub")" "$work/photos.nssp"
else
    printf 'Photos\r\nLarge photos\r\n' >"$work/About.cfg"
    "$bin/player_make_screensaver" "$work/photos.scr" "$stub" "$work/Options.ini" "$work/About.cfg" "${files[@]}"
fi
echo "screensaver: $(($(stat -c %s "$work/photos.scr") / 1048576)) MB, $photos photos"
target_first=1 target_peak=200
else
# Photos as a camera gives them: 6000 x 4000 (24 megapixels), noisy, 8 to 12 MB each. Four
# different ones, each under a quarter of the names, so that no two neighbours are the same.
fitdir=$work/fit
mkdir -p "$fitdir"
for k in 1 2 3 4; do
    src=$fitdir/camera$k.jpg
    [ -s "$src" ] || nice -n 19 convert -size 6000x4000 -seed $k plasma:fractal -attenuate 0.35 +noise Gaussian \
        -quality 90 "$src"
done
rm -f "$fitdir"/photo[0-9]*.jpg
files=()
for i in $(seq 1 "$count"); do
    f=$fitdir/photo$i.jpg
    ln -f "$fitdir/camera$(((i - 1) % 4 + 1)).jpg" "$f"
    files+=("$f")
done
{
    printf '[Header]\r\nNumber=%d\r\nType=0\r\n\r\n[Files]\r\n' "$count"
    i=0; for f in "${files[@]}"; do printf '%d=%s\r\n' $i "$f"; i=$((i + 1)); done
    printf '\r\n[Options]\r\nOutput=%s\r\nCenter=1\r\nStretch=1\r\nKeepAspect=1\r\nShowSpeed=5\r\n' "$work/photos.scr"
    printf 'Transition=0\r\nColorR=0\r\nColorG=0\r\nColorB=0\r\n\r\n'
} >"$fitdir/photos.nssp"
total=0
for f in "${files[@]}"; do total=$((total + $(stat -c %s "$f"))); done
stubdir=$(dirname "$stub")
compile_start=$(date +%s.%N)
/usr/bin/time -f '%M' -o "$fitdir/compile.rss" "$bin/nimbrel-cli" compile -q --fit "$fit" --stub-dir "$stubdir" \
    "$fitdir/photos.nssp"
compile_end=$(date +%s.%N)
seconds=$(echo "$compile_end - $compile_start" | bc)
size=$(stat -c %s "$work/photos.scr")
echo "photos: $count of 6000 x 4000, $((total / 1048576)) MB in all ($(((total / count) / 1048576)) MB each on average)"
echo "compile --fit $fit: $seconds s, $(echo "scale=2; $count / $seconds" | bc) photos a second on $(nproc) cores" \
     "(target: 5), peak memory $(($(cat "$fitdir/compile.rss") / 1024)) MB"
echo "screensaver: $((size / 1048576)) MB, $(echo "scale=1; 100 * $size / $total" | bc) % of the photos (target: 25 %)"
target_first=0.5 target_peak=150
fi

Xvfb -displayfd 1 -screen 0 1920x1080x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wineserver -k 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$work/display")
[ -f "$WINEPREFIX/system.reg" ] || { timeout 180 $wine wineboot -i >/dev/null 2>&1 || true; wineserver -w || true; }
# Start wine's server and its desktop first, so that their own start-up is not counted: a
# screensaver starts on a running system.
wineserver -k 2>/dev/null || true  # one left from an earlier run would hold another display
wineserver -w 2>/dev/null || true
wineserver -p 30
$wine cmd /c exit >/dev/null 2>&1 || true
# The player notes in its trace file when the first picture is on screen; a screenshot then
# confirms that it is. Wine's own start varies by a tenth of a second from one run to the next:
# the player runs RUNS times (default 5), and the median is the figure.
trace=$work/trace.txt
export NIMBREL_PLAYER_TRACE="Z:${trace//\//\\}"
peak=0
measure_peak() {
    for pid in $(pgrep -f 'photos.scr' || true); do
        kb=$(awk '/VmHWM/ {print $2}' /proc/$pid/status 2>/dev/null || echo 0)
        [ "${kb:-0}" -gt "$peak" ] && peak=$kb
    done
    return 0
}
times=()
runs=${RUNS:-5}
for run in $(seq "$runs"); do
    rm -f "$trace"
    start=$(date +%s.%N)
    $wine "$work/photos.scr" /s 2>"$work/player.err" &
    player=$!
    first=""
    for _ in $(seq 3000); do
        if grep -q "first picture on screen" "$trace" 2>/dev/null; then first=$(date +%s.%N); break; fi
        sleep 0.01
    done
    centre=$(import -window root -crop 1x1+960+540 -format '%[fx:int(255*(r+g+b))]' info: 2>/dev/null || echo 0)
    [ "${centre:-0}" -gt 30 ] || { echo "run $run: the screen shows no picture"; first=""; }
    measure_peak
    # The last run goes on for two more pictures, so that the peak includes decoding ahead.
    [ "$run" -lt "$runs" ] || { sleep 12; measure_peak; }
    kill $player 2>/dev/null || true
    wait $player 2>/dev/null || true
    if [ -s "$work/player.err" ]; then
        echo "the player reported: $(cat "$work/player.err")"
        break
    elif [ -n "$first" ]; then
        times+=("$(echo "$first - $start" | bc)")
    else
        echo "run $run: no picture within 30 s"
    fi
    sleep 1
done
if [ ${#times[@]} -gt 0 ]; then
    median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR] = $1} END {print a[int((NR + 1) / 2)]}')
    echo "first picture after $median s, the median of ${#times[@]} runs (${times[*]}) (target: $target_first s)"
    echo "the last run's steps in the player, in ms:"
    # The start-up steps and those of the pictures decoded ahead; of the frames only the first.
    awk '/ show [0-9]+ slide / { if (shown++) next } { print "    " $0 }' "$trace"
fi
echo "peak memory (resident, of the player's process): $((peak / 1024)) MB (target: $target_peak MB)"
