#!/bin/sh
# Draws the program's pictures: the icon group (tavelio.ico) and the splash
# image (splash.png). The results are committed, so building the program needs
# no image tools; run this only to change the art. Needs Debian's imagemagick
# and fonts-noto-cjk (installed here when missing, as root).
set -eu

here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

magick_bin=/usr/bin/convert
if ! [ -x "$magick_bin" ] || ! fc-list 2>/dev/null | grep -q "Noto Sans CJK JP"; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq imagemagick fonts-noto-cjk fonts-dejavu-core
fi

font_file() {
    fc-match -f '%{file}' "$1"
}
bold=$(font_file "Noto Sans CJK JP:style=Bold")
regular=$(font_file "Noto Sans CJK JP:style=Regular")
mono=$(font_file "DejaVu Sans Mono:style=Bold")

# Colours: a deep indigo ground, a vermilion tile for the kana.
ground_top='#1f2a4d'
ground_bottom='#0f1428'
tile='#e0452e'
tile_edge='#b8321f'
ink='#f4f1ea'
muted='#9aa3c0'
cap_face='#e9ebf2'
cap_edge='#9ca3b8'
cap_ink='#1f2a4d'

# Metadata out, so that a rerun gives the same bytes.
png_out="-strip -define png:exclude-chunks=date,time"

# ------------------------------------------------------------------ icon
# One picture per size, each drawn at four times its size and reduced, so the
# small ones stay sharp instead of being shrunk from the 256 one.
icon_sizes="16 24 32 48 64 128 256"
for size in $icon_sizes; do
    big=$((size * 4))
    radius=$((big * 22 / 100))
    inset=$((big / 32))
    glyph=$((big * 78 / 100))
    "$magick_bin" -size "${big}x${big}" xc:none \
        -fill "$tile_edge" -draw "roundrectangle $inset,$inset $((big - inset - 1)),$((big - inset - 1)) $radius,$radius" \
        -fill "$tile" -draw "roundrectangle $inset,$inset $((big - inset - 1)),$((big - inset - 1 - big / 24)) $radius,$radius" \
        -font "$bold" -pointsize "$glyph" -fill "$ink" -gravity center \
        -annotate "+0-$((big / 22))" "か" \
        -filter Lanczos -resize "${size}x${size}" \
        -define png:color-type=6 $png_out "PNG32:$work/icon-$size.png"
done
set --
for size in $icon_sizes; do
    set -- "$@" "$work/icon-$size.png"
done
"$magick_bin" "$@" "$here/tavelio.ico"

# ---------------------------------------------------------------- splash
# 640x300, 8-bit RGB without alpha: the name, what it does (ka becomes か),
# and the key that does it.
"$magick_bin" -size 640x300 "gradient:$ground_top-$ground_bottom" \
    -font "$bold" -pointsize 60 -fill "$ink" -annotate +40+96 "Tavelio" \
    -font "$regular" -pointsize 17 -fill "$muted" \
    -annotate +42+132 "Typed with the IME off?" \
    -annotate +42+156 "Tavelio types it again, in kana." \
    -fill "$cap_edge" -draw "roundrectangle 40,214 120,258 8,8" \
    -fill "$cap_face" -draw "roundrectangle 40,210 120,250 8,8" \
    -fill "$cap_edge" -draw "roundrectangle 148,214 298,258 8,8" \
    -fill "$cap_face" -draw "roundrectangle 148,210 298,250 8,8" \
    -font "$bold" -pointsize 18 -fill "$cap_ink" \
    -annotate +59+237 "Ctrl" \
    -annotate +177+237 "Backspace" \
    -fill "$muted" -pointsize 22 -annotate +127+238 "+" \
    -fill '#2a3760' -draw "roundrectangle 332,92 442,202 18,18" \
    -font "$mono" -pointsize 46 -fill "$ink" -annotate +356+163 "ka" \
    -fill "$muted" -draw "rectangle 356,176 418,180" \
    -font "$bold" -pointsize 40 -fill "$muted" -annotate +454+162 "→" \
    -fill "$tile_edge" -draw "roundrectangle 498,86 600,210 22,22" \
    -fill "$tile" -draw "roundrectangle 498,82 600,204 22,22" \
    -font "$bold" -pointsize 78 -fill "$ink" -gravity northwest -annotate +510+92 "か" \
    -font "$regular" -pointsize 14 -fill "$muted" -annotate +366+236 "romaji" \
    -annotate +535+236 "kana" \
    -alpha off -type TrueColor -depth 8 -define png:color-type=2 $png_out "PNG24:$here/splash.png"

echo "wrote $here/tavelio.ico and $here/splash.png"
