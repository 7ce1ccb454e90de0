#!/bin/sh
# Renders every picture of the application from the SVG sources beside this script into src/resources/images/.
# Needs rsvg-convert (librsvg2-bin), ImageMagick's convert and the DejaVu Sans font; optipng is used when present.
# Running it again produces the same files.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
out="$here/../src/resources/images"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

for tool in rsvg-convert convert fc-match; do
    command -v "$tool" >/dev/null || { echo "render.sh: $tool is missing" >&2; exit 1; }
done
fc-match -f '%{family}\n' 'DejaVu Sans' | grep -q 'DejaVu Sans' || { echo "render.sh: font DejaVu Sans is missing" >&2; exit 1; }

mkdir -p "$out"

# Without these options ImageMagick stamps creation and modification times into its PNG output.
stable="-strip -define png:exclude-chunks=date,time"

png() { # source.svg target.png [width height]
    if [ $# -eq 4 ]; then
        rsvg-convert -w "$3" -h "$4" "$here/$1" -o "$work/raw.png"
    else
        rsvg-convert "$here/$1" -o "$work/raw.png"
    fi
    # shellcheck disable=SC2086 # $stable is a list of options
    convert "$work/raw.png" $stable "PNG32:$2"
    if command -v optipng >/dev/null; then
        optipng -quiet -o5 -strip all "$2"
    fi
}

on_white() { # source.png [options] target: flattened onto white for the formats without transparency
    source=$1
    shift
    convert "$source" -background white -alpha remove -alpha off -strip "$@"
}

ico() { # source.svg target.ico
    for size in 16 32 48; do
        rsvg-convert -w $size -h $size "$here/$1" -o "$work/ico$size.png"
    done
    convert "$work/ico16.png" "$work/ico32.png" "$work/ico48.png" -strip "$2"
}

# Splices a pictogram (the part of glyph.svg between its "glyph begin" and "glyph end" markers) into a tile at the
# tile's "<!-- glyph -->" line, keeping the tile's indentation.
compose() { # tile.svg glyph.svg target.svg
    awk -v glyph="$2" '
        BEGIN {
            while ((getline line < glyph) > 0) {
                if (line ~ /glyph end/) inside = 0
                if (inside) body = body line "\n"
                if (line ~ /glyph begin/) inside = 1
            }
        }
        /<!-- glyph -->/ {
            match($0, /^ */)
            pad = substr($0, 1, RLENGTH)
            n = split(body, lines, "\n")
            for (i = 1; i < n; i++) {
                text = lines[i]
                sub(/^  /, "", text)
                print pad text
            }
            next
        }
        { print }' "$1" > "$3"
}

png background.svg "$out/background.png"
png logo.svg "$out/Tarnwell.png"

for colour in red yellow green grey; do
    png "lamp-$colour.svg" "$out/$colour.png"
done

png link-connected-a.svg "$out/12.png"
png link-connected-b.svg "$out/131.png"
png link-idle.svg "$out/connect_normal.png"
png link-unknown.svg "$out/question.png"
on_white "$out/12.png" "BMP3:$out/12.bmp"
on_white "$out/131.png" -quality 92 "$out/131.jpg"

png stop.svg "$out/stop.png"
png tray-ups-lost.svg "$out/15.png"
png tray-online.svg "$out/online_1.png"
png tray-online-pulse.svg "$out/onlineA_1.png"
png tray-offline.svg "$out/offline_1.PNG"
ico tray-online-pulse.svg "$out/onlineA.ico"
ico tray-offline.svg "$out/offline.ico"

png icon-log.svg "$out/log.png"
png icon-set.svg "$out/set.png"
png icon-about.svg "$out/about.png"
png icon-close.svg "$out/close.png"
png icon-btn-close.svg "$out/btn_close.png"
png icon-maximize.svg "$out/gtk-add.png"
png icon-minimize.svg "$out/gtk-remove.png"
png icon-restore.svg "$out/gtk-fullscreen.png"

rsvg-convert "$here/popup-close.svg" -o "$work/popup.png"
on_white "$work/popup.png" "BMP3:$out/BackTile1_IconExitPress.bmp"

for skin in set close log about; do
    mkdir -p "$out/$skin"
    for state in normal hovered pressed; do
        compose "$here/buttons/tile-$state.svg" "$here/buttons/glyph-$skin.svg" "$out/$skin/$state.svg"
    done
done
