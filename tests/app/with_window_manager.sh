#!/bin/sh
# Runs a program on a private X screen of its own under a real window manager (Xvfb and openbox),
# so that windows get frames, title bars and placement as on a desktop.
# Usage: with_window_manager.sh WIDTHxHEIGHT PROGRAM [ARGUMENT]...   Exit 77 (skipped) when Xvfb or
# openbox is missing.
set -u
size=$1
shift
for tool in Xvfb openbox xprop; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "$tool is not installed: the window manager test is skipped"
    exit 77
  fi
done
work=$(mktemp -d)
xvfb=
wm=
cleanup() {
  [ -n "$wm" ] && kill "$wm" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM
# Xvfb picks a free display and writes its number.
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
tries=0
while [ ! -s "$work/display" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
if [ ! -s "$work/display" ]; then echo "Xvfb did not start"; exit 1; fi
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
HOME=$work openbox --sm-disable >/dev/null 2>&1 &
wm=$!
# The window manager is up once it names itself on the root window.
tries=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
  tries=$((tries + 1))
  if [ $tries -ge 100 ]; then echo "openbox did not start"; exit 1; fi
  sleep 0.1
done
QT_QPA_PLATFORM=xcb "$@"
