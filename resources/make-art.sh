#!/bin/sh
# Draws the program's pictures: the icon groups (tavelio.ico, and
# tavelio-paused.ico for the tray while paused) and the splash image
# (splash.png, and splash-2x.png for displays at 200 %). The results are
# committed, so building the program needs no image tools; run this only to
# change the art. Needs Debian's imagemagick
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
icon_sizes="16 20 24 28 32 40 48 64 128 256"
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
    # The paused icon: the same picture without its colour, as Windows shows
    # what is switched off.
    "$magick_bin" "$work/icon-$size.png" -modulate 100,0 \
        -define png:color-type=6 $png_out "PNG32:$work/paused-$size.png"
done
for name in icon paused; do
    set --
    for size in $icon_sizes; do
        set -- "$@" "$work/$name-$size.png"
    done
    "$magick_bin" "$@" "$work/$name.ico"
done
mv "$work/icon.ico" "$here/tavelio.ico"
mv "$work/paused.ico" "$here/tavelio-paused.ico"

# ---------------------------------------------------------------- splash
# 640x300, 8-bit RGB without alpha: the name, what it does (ka becomes か),
# and the key that does it. Drawn again at twice the size for displays at
# 200 %, so that the text stays sharp there instead of being enlarged.
# at SCALE TEXT: every number in TEXT times SCALE.
at() {
    eval "echo \"$(printf '%s' "$2" | sed -E 's/[0-9]+/$((&*'"$1"'))/g')\""
}
splash() {
    s=$1
    "$magick_bin" -size "$(at "$s" 640x300)" "gradient:$ground_top-$ground_bottom" \
        -font "$bold" -pointsize "$(at "$s" 60)" -fill "$ink" -annotate "$(at "$s" +40+96)" "Tavelio" \
        -font "$regular" -pointsize "$(at "$s" 17)" -fill "$muted" \
        -annotate "$(at "$s" +42+132)" "Typed with the IME off?" \
        -annotate "$(at "$s" +42+156)" "Tavelio types it again, in kana." \
        -fill "$cap_edge" -draw "$(at "$s" "roundrectangle 40,214 120,258 8,8")" \
        -fill "$cap_face" -draw "$(at "$s" "roundrectangle 40,210 120,250 8,8")" \
        -fill "$cap_edge" -draw "$(at "$s" "roundrectangle 148,214 298,258 8,8")" \
        -fill "$cap_face" -draw "$(at "$s" "roundrectangle 148,210 298,250 8,8")" \
        -font "$bold" -pointsize "$(at "$s" 18)" -fill "$cap_ink" \
        -annotate "$(at "$s" +59+237)" "Ctrl" \
        -annotate "$(at "$s" +177+237)" "Backspace" \
        -fill "$muted" -pointsize "$(at "$s" 22)" -annotate "$(at "$s" +127+238)" "+" \
        -fill '#2a3760' -draw "$(at "$s" "roundrectangle 332,92 442,202 18,18")" \
        -font "$mono" -pointsize "$(at "$s" 46)" -fill "$ink" -annotate "$(at "$s" +356+163)" "ka" \
        -fill "$muted" -draw "$(at "$s" "rectangle 356,176 418,180")" \
        -font "$bold" -pointsize "$(at "$s" 40)" -fill "$muted" -annotate "$(at "$s" +454+162)" "→" \
        -fill "$tile_edge" -draw "$(at "$s" "roundrectangle 498,86 600,210 22,22")" \
        -fill "$tile" -draw "$(at "$s" "roundrectangle 498,82 600,204 22,22")" \
        -font "$bold" -pointsize "$(at "$s" 78)" -fill "$ink" -gravity northwest \
        -annotate "$(at "$s" +510+92)" "か" \
        -font "$regular" -pointsize "$(at "$s" 14)" -fill "$muted" -annotate "$(at "$s" +366+236)" "romaji" \
        -annotate "$(at "$s" +535+236)" "kana" \
        -alpha off -type TrueColor -depth 8 -define png:color-type=2 $png_out "PNG24:$2"
}
splash 1 "$here/splash.png"
splash 2 "$here/splash-2x.png"

echo "wrote $here/tavelio.ico, $here/tavelio-paused.ico, $here/splash.png and $here/splash-2x.png"
