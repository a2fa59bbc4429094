#!/bin/sh
# Draws the program icon (ui/icon.png, 64 x 64) and the logo picture
# (ui/logo.png, 138 x 58), both 32-bit RGBA, with ImageMagick.
# Usage: tools/make_images.sh   (from anywhere; writes into the source tree)
set -eu

ui="$(cd "$(dirname "$0")/.." && pwd)/ui"
font=DejaVu-Sans-Bold

# Icon: a blue tile with a white chip and an upward arrow on it.
convert -size 64x64 xc:none \
  -fill '#1d5fae' -stroke '#123f78' -strokewidth 2 -draw 'roundrectangle 2,2 61,61 10,10' \
  -stroke none -fill '#3b82d6' -draw 'roundrectangle 5,5 58,30 8,8' \
  -fill white \
  -draw 'rectangle 12,19 16,21' -draw 'rectangle 12,27 16,29' -draw 'rectangle 12,35 16,37' -draw 'rectangle 12,43 16,45' \
  -draw 'rectangle 47,19 51,21' -draw 'rectangle 47,27 51,29' -draw 'rectangle 47,35 51,37' -draw 'rectangle 47,43 51,45' \
  -draw 'roundrectangle 17,14 46,50 3,3' \
  -fill '#1d5fae' -draw 'polygon 31.5,19 41,30 35,30 35,44 28,44 28,30 22,30' \
  -define png:exclude-chunk=date,time "PNG32:$ui/icon.png"

# Logo: the name on a dark blue plate, a thin orange rule and a subtitle.
convert -size 138x58 xc:none \
  -fill '#1f4e8c' -draw 'roundrectangle 0,0 137,57 7,7' \
  -fill '#f39c1f' -draw 'rectangle 12,36 125,37' \
  -font "$font" -fill white -pointsize 21 -gravity north -annotate +0+8 'QUORVEL' \
  -font "$font" -fill '#bcd4f2' -pointsize 8 -gravity north -annotate +0+41 'FIRMWARE UPDATE' \
  -define png:exclude-chunk=date,time "PNG32:$ui/logo.png"

identify "$ui/icon.png" "$ui/logo.png"
