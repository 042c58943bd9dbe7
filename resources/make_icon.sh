#!/usr/bin/env bash
# Draws zipdrop's icon, a light-blue round button with a white rim that reads ココに / .zip / File,
# at every size Windows asks for, and packs the images into resources/zipdrop.ico; the 256-pixel
# image is also kept as resources/zipdrop.png, the icon of the Linux launcher. Both are
# committed, so building needs neither ImageMagick nor the Japanese font; run this script only
# to change the drawing.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

export DEBIAN_FRONTEND=noninteractive
if ! command -v convert >/dev/null || ! command -v icotool >/dev/null ||
   ! fc-list | grep -q IPAGothic; then
  apt-get install -y -qq --no-install-recommends imagemagick icoutils fonts-ipafont-gothic >/dev/null
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Each size is drawn at that size rather than scaled down, so the letters stay sharp.
draw() {
  local size=$1 out=$2
  local c rim blue point line
  c=$(awk "BEGIN{print ($size-1)/2}")
  rim=$(awk "BEGIN{print $c-$size/40}")
  blue=$(awk "BEGIN{print $c-$size/11}")
  point=$(awk "BEGIN{print $size*0.2}")
  line=$(awk "BEGIN{print $size*0.215}")
  convert -size "${size}x${size}" xc:none \
    -fill '#1f78b4' -draw "circle $c,$c $c,0" \
    -fill white -draw "circle $c,$c $c,$(awk "BEGIN{print $c-$rim}")" \
    -fill '#5ab4ec' -draw "circle $c,$c $c,$(awk "BEGIN{print $c-$blue}")" \
    -font IPAPGothic -fill white -stroke white -strokewidth "$(awk "BEGIN{print $size/96}")" \
    -gravity center -pointsize "$point" \
    -annotate "+0-$line" 'ココに' \
    -annotate '+0+0' '.zip' \
    -annotate "+0+$line" 'File' \
    "PNG32:$out"
}

for size in 16 24 32 48 64 128 256; do
  draw "$size" "$work/$size.png"
done
# The 256-pixel image is stored as PNG, as Windows Vista and later expect; the others as
# 32-bit bitmaps with alpha.
icotool -c -o "$here/zipdrop.ico" "$work"/{16,24,32,48,64,128}.png --raw="$work/256.png"
icotool -l "$here/zipdrop.ico"
cp "$work/256.png" "$here/zipdrop.png"
