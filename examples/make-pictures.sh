#!/usr/bin/env bash
# Draws the example project's pictures and icon (ImageMagick). The committed files came from
# this script; run it again to remake them.
set -euo pipefail
cd "$(dirname "$0")/holiday"
convert -size 800x600 gradient:'#1e90ff-#ffd27f' -fill '#fff3b0' -draw 'circle 600,150 600,90' \
        -fill '#e8c07d' -draw 'rectangle 0,450 800,600' beach.jpg
convert -size 800x600 gradient:'#ff7e00-#5a1e6e' -fill '#ffdd55' -draw 'circle 400,420 400,330' \
        -fill '#20123a' -draw 'rectangle 0,480 800,600' sunset.png
convert -size 640x480 xc:'#2e7d32' -fill '#81c784' -draw 'polygon 0,480 200,180 400,480' \
        -fill '#a5d6a7' -draw 'polygon 250,480 470,120 640,480' -fill white -draw 'polygon 430,185 470,120 505,190' \
        hills.bmp
convert -size 256x256 xc:none -fill '#1e90ff' -draw 'roundrectangle 8,8 248,248 40,40' \
        -fill '#ffd27f' -draw 'circle 128,128 128,60' -define icon:auto-resize=48,32,16 holiday.ico
