#!/usr/bin/env bash
# Draws the program icon of zebwin (two stations on a link under load) with ImageMagick.
# The PNG is committed; run this only to change the artwork.
set -euo pipefail
cd "$(dirname "$0")"
station() { # x y: top-left corner of a station's screen
    local x=$1 y=$2
    echo "fill #e8eef8 stroke #0b1d3d stroke-width 1.5 roundrectangle $x,$y $((x + 20)),$((y + 15)) 2,2"
    echo "stroke none fill #5fa8e8 rectangle $((x + 3)),$((y + 3)) $((x + 17)),$((y + 12))"
    echo "fill #e8eef8 rectangle $((x + 6)),$((y + 16)) $((x + 14)),$((y + 19))"
    echo "roundrectangle $((x + 2)),$((y + 19)) $((x + 18)),$((y + 22)) 1,1"
}
convert -size 64x64 xc:none \
    -draw "fill #1f3f7a stroke #0b1d3d stroke-width 2 roundrectangle 2,2 61,61 10,10" \
    -draw "$(station 7 33)" -draw "$(station 37 9)" \
    -draw "fill none stroke #ffd23f stroke-width 4 stroke-linejoin round stroke-linecap round polyline 27,38 34,30 30,29 37,20" \
    PNG32:zebwin.png
