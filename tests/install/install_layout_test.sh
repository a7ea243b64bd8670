#!/bin/sh
# `cmake --install` into a private folder: the programs, the guide, the icons, the desktop entry
# and the .nssp file type land where a Linux desktop finds them, and the desktop's MIME database
# built from them maps *.nssp to our type, which the desktop entry opens.
set -eu
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
DESTDIR="$dest" cmake --install "$build" --prefix /usr >/dev/null
usr=$dest/usr
[ -L "$usr/bin/nimbrel" ] || fail "bin/nimbrel is not a link"
[ "$(readlink "$usr/bin/nimbrel")" = "../lib/nimbrel/nimbrel" ] || fail "bin/nimbrel points elsewhere"
[ -x "$usr/lib/nimbrel/nimbrel" ] || fail "the editor is missing beside its players"
[ -f "$usr/lib/nimbrel/help/index.html" ] || fail "the guide is missing beside the editor"
[ -f "$usr/share/nimbrel/help/index.html" ] || fail "the guide is missing in share"
desktop=$usr/share/applications/nimbrel.desktop
grep -qx 'Exec=nimbrel %f' "$desktop" || fail "the desktop entry does not open a file"
grep -qx 'MimeType=application/x-nimbrel-project;' "$desktop" || fail "the desktop entry names no project type"
grep -qx 'Icon=nimbrel' "$desktop" || fail "the desktop entry has no icon"
[ -f "$usr/share/icons/hicolor/scalable/apps/nimbrel.svg" ] || fail "the program icon is missing"
[ -f "$usr/share/icons/hicolor/scalable/mimetypes/application-x-nimbrel-project.svg" ] || fail "the project icon is missing"
xml=$usr/share/mime/packages/nimbrel.xml
grep -q 'glob pattern="\*.nssp"' "$xml" || fail "the MIME type does not match .nssp"
if command -v update-mime-database >/dev/null 2>&1; then
  update-mime-database "$usr/share/mime" >/dev/null 2>&1
  grep -q 'application/x-nimbrel-project:\*\.nssp' "$usr/share/mime/globs2" || fail "the MIME database does not map *.nssp"
fi
if command -v desktop-file-validate >/dev/null 2>&1; then
  desktop-file-validate "$desktop" || fail "the desktop entry is not valid"
fi
echo "install_layout: 1 passed, 0 failed"
