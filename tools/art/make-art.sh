#!/usr/bin/env bash
# Produces the Miravell player's artwork from drawing commands alone:
#
#   app/resources/splash.png    512x512 RGBA start-up splash (emblem + name)
#   app/resources/miravell.ico  Windows icon: 16, 24, 32, 48, 64, 128, 256 px,
#                               32-bit with alpha, each size reduced from the
#                               1024 px master
#
# Needs Debian's imagemagick (6.x `convert`), fonts-noto-core (Noto Sans Bold)
# and, as a fallback font, fonts-dejavu-core.  Run from anywhere:
#
#   tools/art/make-art.sh
#
# The output is deterministic: metadata, timestamps and text chunks are left
# out, so a re-run with the same ImageMagick build gives the same bytes.
set -euo pipefail

script_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo_root=$(cd "$script_dir/../.." && pwd)
out_dir="$repo_root/app/resources"

command -v convert >/dev/null 2>&1 || {
    echo "make-art.sh: ImageMagick's convert is missing (apt-get install imagemagick)" >&2
    exit 1
}

pick_font() {
    local f
    for f in "$@"; do
        if [[ -r $f ]]; then
            printf '%s\n' "$f"
            return 0
        fi
    done
    echo "make-art.sh: none of these fonts is installed: $*" >&2
    return 1
}
font_bold=$(pick_font \
    /usr/share/fonts/truetype/noto/NotoSans-Bold.ttf \
    /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out_dir"

# The same environment on every run: C locale for number formatting, one
# thread so that no result depends on how the work is split.
export LC_ALL=C
export MAGICK_THREAD_LIMIT=1
export MAGICK_TEMPORARY_PATH="$work"

# Palette.
c_ink='#1a1a2e'        # deep indigo: tile corner, book cover, text outline
c_mid='#533483'        # violet: middle of the tile gradient
c_accent='#e94560'     # coral red: far corner of the tile gradient
c_page='#ffffff'       # pages, play button, lettering
c_page_shade='#d9d6ee' # page shading toward the spine, text lines

# PNG output without timestamps or other chunks that vary between runs.
# shellcheck disable=SC2054 # the commas are part of one option value
png_opts=(-strip
          -define png:exclude-chunks=date,time,tIME,tEXt,zTXt,iTXt,bKGD
          -define png:compression-level=9)

M=1024 # emblem master size: everything is drawn at this size, then reduced

# An open path for IM6's stroker, which would otherwise close it: the curve
# is drawn out and back again, so the closing segment has no length.
# stroke_curve X0,Y0 C1X,C1Y C2X,C2Y X1,Y1
stroke_curve() {
    printf "path 'M %s C %s %s %s C %s %s %s' " "$1" "$2" "$3" "$4" "$3" "$2" "$1"
}

# --------------------------------------------------------------------------
# Emblem master: M x M, transparent outside a rounded square tile.
#   full  - detailed mark, for the splash and the icon's 48 px and up
#   small - bigger, plainer motif for the icon's 16, 24 and 32 px
# --------------------------------------------------------------------------
make_emblem() {
    local variant=$1 out=$2
    local w="$work/$variant"
    mkdir -p "$w"
    local r=228 inset=24
    local lo=$inset hi=$((M - 1 - inset))

    # Tile: diagonal indigo -> violet -> coral gradient in a rounded square.
    convert -size 1x100 gradient:"$c_ink"-"$c_mid" \
        -size 1x156 gradient:"$c_mid"-"$c_accent" -append +repage "$w/ramp.png"
    convert -size ${M}x${M} -define gradient:angle=135 gradient:black-white \
        "$w/ramp.png" -clut "$w/grad.png"
    convert -size ${M}x${M} xc:black -fill white \
        -draw "roundrectangle $lo,$lo $hi,$hi $r,$r" "$w/tile-mask.png"
    convert "$w/grad.png" "$w/tile-mask.png" \
        -alpha off -compose CopyOpacity -composite "$w/tile.png"

    # Soft light from the top left.
    convert -size ${M}x${M} xc:none \
        -fill 'rgba(255,255,255,0.07)' -draw "ellipse 330,170 560,360 0,360" \
        -blur 0x110 "$w/glow.png"

    # Thin light rim, so that the tile stands apart from dark desktops.
    convert -size ${M}x${M} xc:none -fill none \
        -stroke 'rgba(255,255,255,0.22)' -strokewidth 6 \
        -draw "roundrectangle $((lo + 3)),$((lo + 3)) $((hi - 3)),$((hi - 3)) $((r - 3)),$((r - 3))" \
        "$w/rim.png"

    # Motif: an open book, a play button rising from it.
    local book cover lines tri tri_sw
    if [[ $variant == full ]]; then
        book="path 'M 500,660 C 430,600 300,590 190,612 L 190,792 C 300,772 430,785 500,840 Z'
              path 'M 524,660 C 594,600 724,590 834,612 L 834,792 C 724,772 594,785 524,840 Z'"
        cover="path 'M 512,872 C 440,818 300,806 168,826 L 168,800 C 300,782 440,795 512,850
                     C 584,795 724,782 856,800 L 856,826 C 724,806 584,818 512,872 Z'"
        lines=""
        local y
        for y in 660 700 740; do
            lines+=$(stroke_curve 252,$y 330,$((y - 14)) 405,$((y - 8)) 455,$((y + 16)))
            lines+=$(stroke_curve 772,$y 694,$((y - 14)) 619,$((y - 8)) 569,$((y + 16)))
        done
        tri="polygon 432,214 432,514 692,364"
        tri_sw=70
    else
        # One solid silhouette: at 16 px a gap at the spine would only blur.
        book="path 'M 512,660 C 430,598 290,588 140,615 L 140,850 C 290,822 430,832 512,890
                    C 594,832 734,822 884,850 L 884,615 C 734,588 594,598 512,660 Z'"
        cover=""
        lines=""
        tri="polygon 412,140 412,480 706,310"
        tri_sw=90
    fi

    # Pages: white, shaded toward the spine, faint lines of text.
    convert -size ${M}x${M} xc:black -fill white -draw "$book" "$w/book-mask.png"
    convert -size ${M}x1 xc:"$c_page" \( +clone -fill "$c_page_shade" -colorize 100 \) \
        -fx "t = pow(1 - abs(i - $((M / 2))) / $((M / 2)), 4); u * (1 - t) + v * t" \
        -scale ${M}x${M}\! "$w/pages.png"
    if [[ -n $lines ]]; then
        convert "$w/pages.png" -fill none -stroke "$c_page_shade" -strokewidth 9 \
            -draw "stroke-linecap round stroke-linejoin round $lines" "$w/pages.png"
    fi
    convert "$w/pages.png" "$w/book-mask.png" \
        -alpha off -compose CopyOpacity -composite "$w/book.png"
    # The cover shows as a dark band under the pages.
    if [[ -n $cover ]]; then
        convert -size ${M}x${M} xc:none -fill "$c_ink" -draw "$cover" \
            "$w/book.png" -compose Over -composite "$w/book.png"
    fi

    # Play button: round joins soften its corners.
    convert -size ${M}x${M} xc:none -fill "$c_page" -stroke "$c_page" \
        -strokewidth $tri_sw -draw "stroke-linejoin round $tri" "$w/tri.png"

    # The motif casts a soft shadow down onto the tile.
    convert "$w/book.png" "$w/tri.png" -compose Over -composite "$w/motif.png"
    convert "$w/motif.png" -background black -alpha shape \
        -channel A -evaluate multiply 0.35 +channel -blur 0x18 -roll +0+18 \
        "$w/motif-shadow.png"

    convert "$w/tile.png" \
        "$w/glow.png" -compose Over -composite \
        "$w/motif-shadow.png" -compose Over -composite \
        "$w/motif.png" -compose Over -composite \
        \( "$w/tile-mask.png" -alpha copy \) -compose DstIn -composite \
        "$w/rim.png" -compose Over -composite \
        "PNG32:$out"
}

make_emblem full "$work/emblem-full.png"
make_emblem small "$work/emblem-small.png"

# --------------------------------------------------------------------------
# Splash: composed at twice the final size, then reduced to 512 x 512.
# Transparent around the emblem and the lettering; the window shows it as a
# layered window, so it has to read on light and on dark desktops alike.
# --------------------------------------------------------------------------
S=1024
name_text='Miravell'
tag_text='LEARNING PLAYER'

# Emblem with a soft drop shadow.
convert -size ${S}x${S} xc:none \
    \( "$work/emblem-full.png" -filter Lanczos -resize 600x600 \) \
    -geometry +212+60 -compose Over -composite "$work/splash-emblem.png"
convert "$work/splash-emblem.png" -background black -alpha shape \
    -channel A -evaluate multiply 0.45 +channel -blur 0x22 -roll +0+22 \
    "$work/splash-emblem-shadow.png"

# Lettering: soft shadow, thin dark outline, white letters on top.
draw_text() { # draw_text OUT FILL STROKE STROKEWIDTH
    convert -size ${S}x${S} xc:none -gravity North \
        -fill "$2" -stroke "$3" -strokewidth "$4" -font "$font_bold" \
        -pointsize 150 -kerning 1 -annotate +0+672 "$name_text" \
        -pointsize 36 -kerning 11 -annotate +6+880 "$tag_text" \
        "$1"
}
draw_text "$work/text-outline.png" "$c_ink" "$c_ink" 10
draw_text "$work/text-fill.png" "$c_page" none 0
convert "$work/text-outline.png" -background black -alpha shape \
    -channel A -evaluate multiply 0.45 +channel -blur 0x10 -roll +0+6 \
    "$work/text-shadow.png"

# The first layer is an explicit RGBA canvas, so the result stays in colour
# even though the shadow layers hold only black.
convert -size ${S}x${S} xc:'rgba(0,0,0,0)' -colorspace sRGB -type TrueColorAlpha \
    "$work/splash-emblem-shadow.png" -compose Over -composite \
    "$work/splash-emblem.png" -compose Over -composite \
    "$work/text-shadow.png" -compose Over -composite \
    "$work/text-outline.png" -compose Over -composite \
    "$work/text-fill.png" -compose Over -composite \
    -filter Lanczos -resize 512x512 \
    -define png:color-type=6 -define png:bit-depth=8 "${png_opts[@]}" \
    "PNG32:$out_dir/splash.png"

# --------------------------------------------------------------------------
# Icon: the emblem alone (no lettering), each size reduced from the 1024 px
# master with a Lanczos filter; the smallest sizes use the plainer motif and
# get a touch of sharpening.
# --------------------------------------------------------------------------
icon_layers=()
for size in 16 24 32 48 64 128 256; do
    if ((size <= 32)); then
        src="$work/emblem-small.png"
        sharpen=(-channel RGB -unsharp 0x0.4+0.3+0 +channel)
    else
        src="$work/emblem-full.png"
        sharpen=()
    fi
    convert "$src" -filter Lanczos -resize ${size}x${size} "${sharpen[@]}" \
        "${png_opts[@]}" "PNG32:$work/icon-$size.png"
    icon_layers+=("$work/icon-$size.png")
done
convert "${icon_layers[@]}" "${png_opts[@]}" "$out_dir/miravell.ico"

echo "make-art.sh: wrote $out_dir/splash.png and $out_dir/miravell.ico"
