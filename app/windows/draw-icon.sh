#!/usr/bin/env bash
# Draws the application icon with ImageMagick: a Bluetooth rune and a
# receiver's sound waves on a rounded tile, at the sizes Windows asks for.
#   draw-icon.sh OUTPUT.ico
set -euo pipefail
out=$1
tile=$(mktemp --suffix=.png)
trap 'rm -f "$tile"' EXIT

# Two rings around (100,128), kept only in a 90-degree wedge opening to the right.
convert -size 256x256 xc:none \
    -fill 'rgb(11,92,138)' -draw 'roundrectangle 8,8 247,247 44,44' \
    \( -size 256x256 xc:none -fill none -stroke 'rgb(127,211,255)' -strokewidth 12 \
       -draw 'circle 100,128 168,128' -draw 'circle 100,128 208,128' \
       \( -size 256x256 xc:none -fill white -draw 'polygon 118,128 256,-10 256,266' \) \
       -compose DstIn -composite \) \
    -compose Over -composite \
    -fill none -stroke white -strokewidth 16 \
    -draw 'stroke-linejoin round stroke-linecap round polyline 34,96 108,164 72,200 72,56 108,92 34,160' \
    -depth 8 "$tile"

convert "$tile" -define icon:auto-resize=256,64,48,32,24,16 "$out"
