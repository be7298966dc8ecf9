#!/bin/bash
# Draws the window's background picture, assets/background.jpg: 500x430, a
# baseline JPEG with three colour components. The top band (0..80) carries
# the logo and the headline; the rest stays calm because the white panel
# (2,170 to 498,400), the progress bar and the button sit on it, and the
# orange percentage is drawn straight onto it around 169..353, 116..132.
#
# Needs ImageMagick 6 (convert) and the DejaVu and WenQuanYi fonts. The
# picture is committed; the build only embeds it, so run this only to change
# the artwork.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
out=${1:-$here/background.jpg}

bold_font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
plain_font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
cjk_font=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
for font in "$bold_font" "$plain_font" "$cjk_font"; do
  [[ -f "$font" ]] || { echo "make_background: missing font $font" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The calm field: a soft mint gradient with two large, faint circles.
convert -size 500x430 gradient:'rgb(246,255,246)-rgb(222,240,226)' \
  -fill 'rgba(150,200,160,0.16)' -draw 'circle 430,300 430,120' \
  -fill 'rgba(120,180,140,0.10)' -draw 'circle 40,420 40,250' \
  -fill 'rgba(255,255,255,0.35)' -draw 'circle 250,150 250,95' \
  "$work/field.png"

# The top band: a deep green gradient with a lighter sweep across it.
convert -size 500x80 gradient:'rgb(70,122,88)-rgb(112,160,122)' -rotate -90 \
  -resize 500x80\! \
  -fill 'rgba(255,255,255,0.08)' -draw 'polygon 260,0 500,0 500,80 340,80' \
  -fill 'rgba(255,255,255,0.06)' -draw 'polygon 300,0 360,0 440,80 380,80' \
  "$work/band.png"

# The logo: a rounded tile with an upward arrow over a baseline, the sign
# of a new version coming in.
convert -size 56x56 xc:none \
  -fill 'rgb(250,252,246)' -draw 'roundrectangle 0,0 55,55 12,12' \
  -fill 'rgb(84,138,100)' \
  -draw 'polygon 28,9 45,28 34,28 34,40 22,40 22,28 11,28' \
  -draw 'roundrectangle 12,44 44,48 2,2' \
  "$work/logo.png"

convert "$work/field.png" \
  "$work/band.png" -geometry +0+0 -composite \
  -fill 'rgb(60,104,76)' -draw 'rectangle 0,80 499,81' \
  -fill 'rgba(255,255,255,0.55)' -draw 'rectangle 0,82 499,82' \
  "$work/logo.png" -geometry +18+12 -composite \
  -font "$bold_font" -pointsize 34 -fill 'rgba(0,0,0,0.25)' \
  -annotate +89+53 'Tavrix' \
  -fill 'rgb(255,255,255)' -annotate +87+51 'Tavrix' \
  -font "$cjk_font" -pointsize 15 -fill 'rgb(226,242,228)' \
  -annotate +224+50 '软件更新' \
  -font "$plain_font" -pointsize 10 -fill 'rgb(200,226,206)' \
  -annotate +90+70 'Keeping your Tavrix up to date' \
  -strip -colorspace sRGB -type TrueColor \
  -interlace None -sampling-factor 2x2 -quality 90 \
  "jpeg:$out"

echo "make_background: wrote $out"
