#!/usr/bin/env bash
# The Flash player showing recorded frames under wine and Xvfb (1920 x 1080): time from start to
# the first frame on screen, the frames shown a second over ten seconds, and the player's peak
# memory. Prints figures; not a test.
#   bench/flash/flash_player_under_wine.sh BUILD_DIR SCREENSAVER.scr
# Make the screensaver with: BUILD_DIR/bin/flash_record_bench 20 24 800 600 /tmp/movie.scr STUB
# (STUB: BUILD_DIR/bin/win64/flash.bin where wine runs 64-bit programs only).
set -euo pipefail
build=$(realpath "${1:?build directory}")
scr=$(realpath "${2:?screensaver}")
work=$build/bench-flash
mkdir -p "$work"
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=""
# The first loader that runs here (a wine without 32-bit support cannot even say its version).
for candidate in wine wine64 /usr/lib/wine/wine64; do
    $candidate --version >/dev/null 2>&1 && { wine=$candidate; break; }
done
[ -n "$wine" ] || { echo "wine not found: nothing measured"; exit 0; }
for tool in Xvfb import; do command -v $tool >/dev/null || { echo "$tool missing"; exit 0; }; done
Xvfb -displayfd 1 -screen 0 1920x1080x24 -nolisten tcp >"$work/display" 2>/dev/null &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; wineserver -k 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(head -1 "$work/display")
[ -f "$WINEPREFIX/system.reg" ] || { timeout 180 $wine wineboot -i >/dev/null 2>&1 || true; wineserver -w || true; }
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
wineserver -p 30
$wine cmd /c exit >/dev/null 2>&1 || true
trace=$work/trace.txt
export NIMBREL_PLAYER_TRACE="Z:${trace//\//\\}"
rm -f "$trace"
start=$(date +%s.%N)
$wine "$scr" /s 2>"$work/player.err" &
player=$!
first=""
for _ in $(seq 3000); do
    if grep -Eq " show [0-9]+ frame 0[^0-9]*$" "$trace" 2>/dev/null; then first=$(date +%s.%N); break; fi
    sleep 0.01
done
[ -n "$first" ] && echo "first frame after $(echo "$first - $start" | bc) s (target: 0.5 s)" || echo "no frame within 30 s"
peak=0
for _ in $(seq 10); do
    sleep 1
    for pid in $(pgrep -f "$(basename "$scr")" || true); do
        kb=$(awk '/VmHWM/ {print $2}' /proc/$pid/status 2>/dev/null || echo 0)
        [ "${kb:-0}" -gt "$peak" ] && peak=$kb
    done
done
kill $player 2>/dev/null || true
wait $player 2>/dev/null || true
# Frames put on screen over the ten seconds, from the trace's "MS show SHOWMS frame N" lines.
awk '/ show [0-9]+ frame [0-9]+/ { t = $1; if (!first) first = t; last = t; n++ }
     END { if (n > 1) printf "frames shown: %d in %.1f s = %.1f a second (target: 24)\n", n - 1, (last - first) / 1000, (n - 1) * 1000 / (last - first) }' "$trace"
echo "peak memory (resident, of the player's process): $((peak / 1024)) MB (target: 150 MB)"
