#!/bin/sh
# Remakes the README's pictures from the program itself: the screenshot test photographs every
# window with the example project (examples/holiday), and this copies the ones the README shows.
# A frame of the example's running screensaver comes from nimbrel-cli render, the same show
# engine the screensaver plays.  Usage: docs/screenshots/update.sh [BUILD_DIR]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${1:-$root/build}
cmake --build "$build" --target screenshot_tests
ctest --test-dir "$build" -R '^screenshots_scale1$' --output-on-failure
shots=$build/screenshots/scale-1
for name in main_project main_options main_flash wizard_slideshow_1 chooser about; do
  cp "$shots/$name.png" "$here/$name.png"
done
cli=$build/bin/nimbrel-cli
if [ -x "$cli" ] && "$cli" --help 2>&1 | grep -q '^  render'; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  cp "$root"/examples/holiday/* "$tmp/"
  # Half a second into the first change of pictures: one photo fading into the next.
  if "$cli" render "$tmp/holiday.nssp" --size 640x400 --at 5.5 --seed 1 --out "$tmp/frames"; then
    cp "$tmp/frames/frame-01.png" "$here/screensaver.png"
  else
    echo "nimbrel-cli render failed: the screensaver picture is left as it was" >&2
  fi
fi
echo "README pictures updated in $here"
