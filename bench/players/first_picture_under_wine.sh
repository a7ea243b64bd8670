#!/usr/bin/env bash
# Time from start to the first picture on screen, and the player's peak memory, for a slideshow
# of large JPEG photos (about 300 MB) under wine and Xvfb. Prints figures; not a test.
#   bench/players/first_picture_under_wine.sh BUILD_DIR [MEGABYTES]
set -euo pipefail
trap 'echo "stopped at line $LINENO" >&2' ERR
build=$(realpath "${1:?build directory}")
megabytes=${2:-300}
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
{
    printf '[Header]\r\nNumber=%d\r\nType=0\r\n\r\n[Files]\r\n' "$photos"
    i=0; for f in "${files[@]}"; do printf '%d=C:\\Photos\\%s\r\n' $i "$(basename "$f")"; i=$((i + 1)); done
    printf '\r\n[Options]\r\nCenter=1\r\nStretch=1\r\nKeepAspect=1\r\nShowSpeed=5\r\nTransition=0\r\n'
    printf 'ColorR=0\r\nColorG=0\r\nColorB=0\r\n\r\n'
} >"$work/Options.ini"
printf 'Photos\r\nLarge photos\r\n' >"$work/About.cfg"
"$bin/player_make_screensaver" "$work/photos.scr" "$stub" "$work/Options.ini" "$work/About.cfg" "${files[@]}"
echo "screensaver: $(($(stat -c %s "$work/photos.scr") / 1048576)) MB, $photos photos"

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
# confirms that it is.
trace=$work/trace.txt
rm -f "$trace"
export NIMBREL_PLAYER_TRACE="Z:${trace//\//\\}"
start=$(date +%s.%N)
$wine "$work/photos.scr" /s 2>"$work/player.err" &
player=$!
first=""
for _ in $(seq 3000); do
    if grep -q "first picture on screen" "$trace" 2>/dev/null; then first=$(date +%s.%N); break; fi
    sleep 0.01
done
centre=$(import -window root -crop 1x1+960+540 -format '%[fx:int(255*(r+g+b))]' info: 2>/dev/null || echo 0)
[ "${centre:-0}" -gt 30 ] || { echo "the screen shows no picture"; first=""; }
peak=0
for pid in $(pgrep -f 'photos.scr' || true); do
    kb=$(awk '/VmHWM/ {print $2}' /proc/$pid/status 2>/dev/null || echo 0)
    [ "${kb:-0}" -gt "$peak" ] && peak=$kb
done
sleep 12  # two more pictures, so that the peak includes decoding ahead
for pid in $(pgrep -f 'photos.scr' || true); do
    kb=$(awk '/VmHWM/ {print $2}' /proc/$pid/status 2>/dev/null || echo 0)
    [ "${kb:-0}" -gt "$peak" ] && peak=$kb
done
kill $player 2>/dev/null || true
if [ -s "$work/player.err" ]; then
    echo "the player reported: $(cat "$work/player.err")"
elif [ -n "$first" ]; then
    echo "first picture after $(echo "$first - $start" | bc) s (target: 1 s); the player's own steps, in ms:"
    sed 's/^/    /' "$trace"
else
    echo "no picture within 30 s"
fi
echo "peak memory (resident, of the player's process): $((peak / 1024)) MB (target: 200 MB)"
