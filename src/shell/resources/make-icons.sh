#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Draws the program icon (kelvano.png, 32 x 32, and the same pixels as plain RGBA bytes in
# kelvano.rgba, which the program reads without an image decoder) and the About logo (logo.png,
# 72 x 72) with ImageMagick. Run it from any folder; it writes next to itself.
# Then renders the installed icon, the same drawing as an SVG under data/icons,
# at the usual menu sizes with rsvg-convert (Debian: librsvg2-bin).
# The PNGs are committed, so the build itself needs neither tool.
set -eu
cd "$(dirname "$0")"

GLASS='#3c3c46'  # outline of the glass
TUBE='#ffffff'   # inside of the tube
RED='#e02020'    # sensor 1
BLUE='#2040e0'   # sensor 2

# No time stamps or other chunks, so that the files only change when the
# drawing does.
PNGOPTS='-strip -define png:exclude-chunks=date,time'

# Icon: one thermometer, red column, tick marks on the right.
convert -size 32x32 xc:none \
    -stroke "$GLASS" -strokewidth 1.5 -fill "$TUBE" \
    -draw 'roundrectangle 12.5,2.5 19.5,24 3.5,3.5' \
    -fill "$RED" -draw 'circle 16,25 16,30.5' \
    -stroke none -draw 'rectangle 14.5,10 17.5,25' \
    -draw 'circle 16,25 16,29.5' \
    -fill '#ff9090' -draw 'circle 14.5,23.5 14.5,25' \
    -stroke "$GLASS" -strokewidth 1 \
    -draw 'line 21,6 24,6' -draw 'line 21,10 23,10' -draw 'line 21,14 24,14' \
    -draw 'line 21,18 23,18' \
    $PNGOPTS PNG32:kelvano.png
convert kelvano.png rgba:kelvano.rgba

# Logo: two thermometers side by side, red for sensor 1 and blue for
# sensor 2, with a scale between them.
convert -size 72x72 xc:none \
    -stroke "$GLASS" -strokewidth 2 -fill "$TUBE" \
    -draw 'roundrectangle 16,4 28,50 6,6' \
    -draw 'roundrectangle 44,4 56,50 6,6' \
    -fill "$RED" -draw 'circle 22,57 22,68' \
    -fill "$BLUE" -draw 'circle 50,57 50,68' \
    -stroke none \
    -fill "$RED" -draw 'rectangle 19,18 25,57' -draw 'circle 22,57 22,67' \
    -fill "$BLUE" -draw 'rectangle 47,30 53,57' -draw 'circle 50,57 50,67' \
    -fill 'rgba(255,255,255,0.55)' \
    -draw 'circle 18.5,53.5 18.5,56.5' -draw 'circle 46.5,53.5 46.5,56.5' \
    -stroke "$GLASS" -strokewidth 1.5 \
    -draw 'line 32,10 40,10' -draw 'line 33,16 39,16' -draw 'line 32,22 40,22' \
    -draw 'line 33,28 39,28' -draw 'line 32,34 40,34' -draw 'line 33,40 39,40' \
    -draw 'line 32,46 40,46' \
    $PNGOPTS PNG32:logo.png

# The installed icons: the scalable drawing at the sizes desktops look for.
icons=../../../data/icons/hicolor
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "$icons/${size}x$size/apps"
    rsvg-convert -w "$size" -h "$size" "$icons/scalable/apps/io.github.corvanta.Kelvano.svg" |
        convert - $PNGOPTS PNG32:"$icons/${size}x$size/apps/io.github.corvanta.Kelvano.png"
done
