#!/usr/bin/env bash
# Draws the client's images with ImageMagick. The PNGs are committed; run this
# again only to change them:  resources/make-images.sh
set -euo pipefail
out="$(cd "$(dirname "$0")" && pwd)/images"
mkdir -p "$out"

accent='#607cff'
dark='#323232'
light='#f0f0f0'
# No time stamps or other metadata, so a re-run gives the same files.
png=(-strip -define png:exclude-chunks=date,time)

# Sound bars of the logo: "x1,height" pairs centred on a vertical midline.
bars() {
  local cx=$1 cy=$2 w=$3 step=$4; shift 4
  local x=$cx cmd=""
  for h in "$@"; do
    cmd+="roundrectangle $x,$((cy - h / 2)) $((x + w)),$((cy + h / 2)) $((w / 2)),$((w / 2)) "
    x=$((x + step))
  done
  printf '%s' "$cmd"
}

# Application icon: accent tile with white sound bars.
convert -size 256x256 xc:none \
  -fill "$accent" -draw "roundrectangle 8,8 247,247 48,48" \
  -fill white -draw "$(bars 50 128 18 28 48 104 160 72 132 56 88)" \
  "${png[@]}" "$out/icon.png"

# Splash screen: dark panel, the logo tile, the product name and a wave line.
wave=$(awk 'function y(x) { return int(295 + 22 * sin((x - 40) / 45.0) * (1 - (x - 300) ^ 2 / 80000.0)) } BEGIN { for (x = 40; x < 560; x += 4) printf "line %d,%d %d,%d ", x, y(x), x + 4, y(x + 4) }')
convert -size 600x340 xc:"$dark" \
  -fill '#3c3c3c' -draw "rectangle 0,250 600,340" \
  -fill "$accent" -draw "roundrectangle 40,70 180,210 28,28" \
  -fill white -draw "$(bars 62 140 10 16 28 60 92 40 76 32 50)" \
  -font DejaVu-Sans-Bold -pointsize 40 -fill white -annotate +205+135 'Sonvira' \
  -font DejaVu-Sans -pointsize 26 -fill "$light" -annotate +207+178 'desktop' \
  -stroke "$accent" -strokewidth 3 -fill none -draw "$wave" \
  -stroke none -font DejaVu-Sans -pointsize 14 -fill '#b0b0b0' -annotate +40+325 'Loading...' \
  "${png[@]}" "$out/splash1.png"

# Draws one image at its size, and at twice its size as NAME@2x.png, which
# Qt takes on screens scaled above 100 % (icons, style sheets, QIcon pixmaps):
#   twice W H NAME convert-arguments...
# Every -draw is given at the 1x size; the 2x image scales its drawing
# (coordinates and stroke widths alike), so both come from one description.
twice() {
  local w=$1 h=$2 name=$3; shift 3
  local factor args prev a
  for factor in 1 2; do
    args=() prev=""
    for a in "$@"; do
      if [ "$prev" = "-draw" ]; then
        args+=("scale $factor,$factor $a")
      else
        args+=("$a")
      fi
      prev=$a
    done
    local file="$out/$name.png"
    [ "$factor" = 2 ] && file="$out/$name@2x.png"
    convert -size "$((w * factor))x$((h * factor))" xc:none "${args[@]}" "${png[@]}" "$file"
  done
}

# Configure: a gear, eight teeth around a ring.
teeth=""
for a in 0 45 90 135 180 225 270 315; do
  teeth+="push graphic-context translate 32,32 rotate $a rectangle -5,-29 5,-18 pop graphic-context "
done
twice 64 64 configure \
  -fill "$light" -draw "$teeth" -draw "circle 32,32 32,11" \
  -fill none -stroke "$accent" -strokewidth 5 -draw "circle 32,32 32,24"

# Watch folder: a folder with an eye on its front.
twice 64 64 watchfolder \
  -fill '#c9a640' -draw "roundrectangle 4,12 28,24 3,3" \
  -fill '#e8c25a' -draw "roundrectangle 4,18 60,54 4,4" \
  -fill white -stroke "$dark" -strokewidth 2 -draw "ellipse 32,36 16,9 0,360" \
  -stroke none -fill "$accent" -draw "circle 32,36 32,29" \
  -fill "$dark" -draw "circle 32,36 32,33"

# List add: an accent plus sign on a round badge.
twice 64 64 list-add \
  -fill "$accent" -draw "circle 32,32 32,3" \
  -fill white -draw "roundrectangle 28,14 36,50 3,3" -draw "roundrectangle 14,28 50,36 3,3"

# Style-sheet glyphs: arrows of combo and spin boxes, the check mark.
twice 12 12 arrow-down -fill "$light" -draw "polygon 1,3 11,3 6,9"
twice 12 12 arrow-up -fill "$light" -draw "polygon 1,9 11,9 6,3"
twice 14 14 check -stroke white -strokewidth 2.2 -fill none -draw "polyline 2.5,7.5 5.5,10.5 11.5,3.5"

# The icon for the desktop's icon theme (hicolor), installed by CMake.
for size in 16 22 24 32 48 64 128 256; do
  dir="$out/../linux/icons/${size}x${size}"
  mkdir -p "$dir"
  convert "$out/icon.png" -resize "${size}x${size}" "${png[@]}" "$dir/sonvira-desktop.png"
done

echo "images written to $out"
