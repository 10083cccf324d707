#!/bin/sh
# Renders the icon's PNG images for the hicolor theme and the Windows .ico
# from packaging/kvz-cdi.svg. Run by hand after changing the drawing, and
# commit what it makes: the build takes these files as they are and needs
# no converter. Needs rsvg-convert (librsvg2-bin) and ImageMagick.
#   packaging/icons/hicolor/NxN/apps/kvz-cdi.png   N = 16 24 32 48 64 128 256
#   packaging/windows/kvz-cdi.ico                  16, 24, 32, 48, 64 and 256
set -eu
cd "$(dirname "$0")/.."
svg=packaging/kvz-cdi.svg
sizes="16 24 32 48 64 128 256"
for size in $sizes; do
    dir=packaging/icons/hicolor/${size}x$size/apps
    mkdir -p "$dir"
    # Drawn from the vector at each size, never scaled from another image;
    # no time or name chunks, so the same drawing gives the same bytes.
    rsvg-convert --width "$size" --height "$size" "$svg" |
        convert png:- -strip -define png:exclude-chunks=date,time "$dir/kvz-cdi.png"
done
# Windows shows 16 to 48 in lists and menus and 256 in large icon views,
# and scales the 256 image down for the sizes in between.
png() { echo "packaging/icons/hicolor/$1x$1/apps/kvz-cdi.png"; }
convert "$(png 16)" "$(png 24)" "$(png 32)" "$(png 48)" "$(png 64)" "$(png 256)" \
    packaging/windows/kvz-cdi.ico
for size in $sizes; do file "$(png "$size")"; done
identify packaging/windows/kvz-cdi.ico
