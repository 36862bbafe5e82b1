#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages Pagewick needs to build, test and run, skipping
# those already installed. Safe to run again: with nothing missing it changes nothing and does
# not touch the network. Needs root, or sudo for apt-get.
set -euo pipefail

packages=(
    cmake g++ make pkg-config          # build tools
    qt6-base-dev qt6-5compat-dev       # Qt 6: Core, DBus, Gui, Widgets, Concurrent, PrintSupport, Core5Compat
    qt6-webengine-dev                  # the page view
    qt6-pdf-dev                        # printed pages drawn for printers that take no PDF
    libqt6svg6                         # the SVG icon engine that draws the reader's icons
    libqpdf-dev                        # a book or chapter bound into one PDF with its outline
    fp-utils                           # chmcmd compiles the help book and the test books
    libbenchmark-dev                   # benchmarks
    zlib1g-dev                         # tests decode the notes record with zlib itself
    xvfb xauth imagemagick             # windows without a display, screenshots
    clang libclang-rt-14-dev           # fuzzing builds
    librsvg2-bin                       # draws the installed application icons from Icon.svg
    desktop-file-utils dpkg-dev        # install test: checks the desktop entry; the Debian package
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    if [[ "$status" != "install ok installed" ]]; then
        missing+=("$package")
    fi
done

if [[ ${#missing[@]} -eq 0 ]]; then
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null 2>&1; then
    as_root=(sudo)
else
    echo "install-deps: these packages are missing and neither root nor sudo is available:" >&2
    echo "    ${missing[*]}" >&2
    exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"
