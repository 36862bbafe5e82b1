#!/bin/bash
# Measures the two ways of showing book pages dark, on real books, under a virtual display:
#   inject  the reader darkens the page at run time (BrowserControl::setDarkPages);
#   force   the engine's own dark mode, --blink-settings=forceDarkModeEnabled=true, which is
#           set when the engine starts, so that switching means starting the reader again.
# For each book page and method: the mean luminance of the page area (ImageMagick), the contrast
# of body text against its ground, the colour distance of the page's largest picture between
# light and dark (0 = unchanged, 1 = black against white), and the switch time. For force, the
# switch is the time the reader takes to start at a page and show it dark (the part of a
# relaunch after saving notes and bookmarks).
#
# Usage: scripts/measure-page-colors.sh [BUILD_DIR] [OUT_DIR]
# Needs the books in ../shared/books, xvfb-run and ImageMagick. Screenshots stay in OUT_DIR.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
out=$(realpath -m "${2:-/tmp/page-colors}")
books=$(realpath ../shared/books)
convert=/usr/bin/convert

if [ -z "${PAGEWICK_MEASURE_DISPLAY:-}" ]; then
    cmake --build "$build" -j2 --target page_colors pagewick >/dev/null
    unset QT_QPA_PLATFORM QTWEBENGINE_CHROMIUM_FLAGS
    exec env PAGEWICK_MEASURE_DISPLAY=1 xvfb-run -a -s '-screen 0 1280x900x24' "$0" "$build" "$out"
fi

mkdir -p "$out"/inject "$out"/force
# Book pages: screenshots in pages (keepass, both Russian books), Chinese, pages that paint no
# ground of their own (putty, Chinese toolbox), heavy style sheets (Korean AutoHotkey).
pages=(
    "$books/keepass.chm" /help/base/usingpws.html
    "$books/filmcollection-ru.chm" /editFilm.htm
    "$books/stepmap-ru.chm" /interface.htm
    "$books/7zip-zh-cn.chm" /fm/index.htm
    "$books/supertexttoolbox-zh.chm" /page_1.html
    "$books/halibut-putty.chm" /config-appearance.html
    "$books/autohotkey-ko.chm" /docs/AutoHotkey.htm
)

quiet() { grep -P '^\d+\t' || true; }
"$build/bench/page_colors" inject "$out/inject" "${pages[@]}" 2>/dev/null | quiet > "$out/inject.tsv"
cp "$out"/inject/*-light.png "$out/force/"
QTWEBENGINE_CHROMIUM_FLAGS=--blink-settings=forceDarkModeEnabled=true \
    "$build/bench/page_colors" force "$out/force" "${pages[@]}" 2>/dev/null | quiet > "$out/force.tsv"

# The mean luminance as ImageMagick measures it, of the screenshot without its scroll bar.
mean() { "$convert" "$1" -crop +0+0 -gravity east -chop 16x0 -colorspace Gray -format '%[fx:mean]' info:; }

# The reader started at a page with the engine's dark mode: milliseconds until the page area is
# drawn dark, or -1.
relaunch() {
    local config start now shot pid
    config=$(mktemp -d)
    start=$(date +%s%N)
    XDG_CONFIG_HOME=$config QTWEBENGINE_CHROMIUM_FLAGS=--blink-settings=forceDarkModeEnabled=true \
        "$build/app/pagewick" "$1::$2" >/dev/null 2>&1 &
    pid=$!
    local result=-1
    for _ in $(seq 1 150); do
        # Dark, and not the empty black screen before the window: text on it.
        shot=$(import -window root -crop 400x250+450+300 png:- 2>/dev/null \
               | "$convert" png:- -colorspace Gray -format '%[fx:mean] %[fx:standard_deviation]' info: 2>/dev/null || echo 1 0)
        if awk -v m="${shot% *}" -v d="${shot#* }" 'BEGIN { exit !(m < 0.3 && d > 0.03) }'; then
            now=$(date +%s%N)
            result=$(( (now - start) / 1000000 ))
            break
        fi
        sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    rm -rf "$config"
    echo "$result"
}

printf '%-24s %-26s %-7s %6s %8s %8s %8s\n' book page method mean contrast picture switch_ms
i=0
while [ $((i * 2)) -lt ${#pages[@]} ]; do
    n=$((i + 1))
    book=$(basename "${pages[$((i * 2))]}")
    page=${pages[$((i * 2 + 1))]}
    light=$(mean "$out/inject/$n-light.png")
    inject=$(mean "$out/inject/$n-inject.png")
    force=$(mean "$out/force/$n-force.png")
    IFS=$'\t' read -r _ _ _ _ _ lightContrast _ _ < <(grep -P "^$n\t.*\tbook\t" "$out/inject.tsv")
    IFS=$'\t' read -r _ _ _ _ _ injectContrast injectPicture injectMs < <(grep -P "^$n\t.*\tinject\t" "$out/inject.tsv")
    IFS=$'\t' read -r _ _ _ _ _ forceContrast forcePicture _ < <(grep -P "^$n\t" "$out/force.tsv")
    forceMs=$(relaunch "${pages[$((i * 2))]}" "$page")
    printf '%-24s %-26s %-7s %6.3f %8.1f %8s %8s\n' "$book" "$page" book "$light" "$lightContrast" - -
    printf '%-24s %-26s %-7s %6.3f %8.1f %8.3f %8s\n' "$book" "$page" inject "$inject" "$injectContrast" "$injectPicture" "$injectMs"
    printf '%-24s %-26s %-7s %6.3f %8.1f %8.3f %8s\n' "$book" "$page" force "$force" "$forceContrast" "$forcePicture" "$forceMs"
    i=$((i + 1))
done
