#!/usr/bin/env bash
# Installs the built program into a temporary prefix and checks the tree; validates the
# installed desktop entry; builds the Debian package with CPack and checks its contents and
# control fields with dpkg-deb. Nothing is installed on the system itself.
#
#   bash tst_install.sh <build folder>
#
# Every failed check is reported; the exit status is 1 when any failed.
set -euo pipefail

build=$(cd "${1:?usage: tst_install.sh <build folder>}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

for tool in cmake cpack desktop-file-validate dpkg-deb dpkg-shlibdeps readelf; do
    command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (bash scripts/install-deps.sh)" >&2; exit 1; }
done

icon_sizes=(16 22 24 32 48 64 128 256)

# The files of an install, relative to its prefix, sorted.
expected_files() {
    {
        echo bin/pagewick
        echo share/applications/pagewick.desktop
        for size in "${icon_sizes[@]}"; do
            echo "share/icons/hicolor/${size}x${size}/apps/pagewick.png"
        done
        echo share/icons/hicolor/scalable/apps/pagewick.svg
        echo share/man/man1/pagewick.1.gz
        echo share/pagewick/Help.chm
    } | LC_ALL=C sort
}

# Width and height of a PNG file from its header, as "WxH".
png_size() {
    local bytes
    bytes=$(od -An -tu1 -j16 -N8 "$1" | tr -s ' \n' ' ')
    read -r w1 w2 w3 w4 h1 h2 h3 h4 <<<"$bytes"
    echo "$(( (w1 << 24) | (w2 << 16) | (w3 << 8) | w4 ))x$(( (h1 << 24) | (h2 << 16) | (h3 << 8) | h4 ))"
}

# --- The installed tree -------------------------------------------------------------------

prefix="$work/prefix"
if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log" >&2
    echo "FAIL: cmake --install failed" >&2
    exit 1
fi

actual=$(cd "$prefix" && find . -type f -o -type l | sed 's|^\./||' | LC_ALL=C sort)
if [[ "$actual" != "$(expected_files)" ]]; then
    fail "installed files differ from the expected ones:"
    diff <(expected_files) <(echo "$actual") >&2 || true
fi

program="$prefix/bin/pagewick"
[[ -x "$program" ]] || fail "bin/pagewick is not executable"
if [[ -f "$program" ]] && readelf -d "$program" | grep -E 'RPATH|RUNPATH' >&2; then
    fail "bin/pagewick keeps a library search path from the build"
fi

book="$prefix/share/pagewick/Help.chm"
[[ -f "$book" && "$(head -c4 "$book")" == ITSF ]] || fail "share/pagewick/Help.chm is not a help book"

for size in "${icon_sizes[@]}"; do
    png="$prefix/share/icons/hicolor/${size}x${size}/apps/pagewick.png"
    [[ -f "$png" ]] || continue
    got=$(png_size "$png")
    [[ "$got" == "${size}x${size}" ]] || fail "the ${size}x${size} icon is $got"
done

man="$prefix/share/man/man1/pagewick.1.gz"
if [[ -f "$man" ]] && ! gzip -cd "$man" | grep -q '^\.TH PAGEWICK 1 '; then
    fail "share/man/man1/pagewick.1.gz is not the man page of pagewick(1)"
fi

# --- The desktop entry --------------------------------------------------------------------

desktop="$prefix/share/applications/pagewick.desktop"
if [[ -f "$desktop" ]]; then
    desktop-file-validate "$desktop" >&2 || fail "desktop-file-validate rejects pagewick.desktop"
    # The menu starts "pagewick" with no argument (the program then opens its help book);
    # a file manager adds the book's path or file URL, a link handler the ms-its: link.
    grep -qx 'Exec=pagewick %u' "$desktop" || fail "pagewick.desktop does not start 'pagewick %u'"
    grep -qx 'Icon=pagewick' "$desktop" || fail "pagewick.desktop does not name the installed icon"
    mime_types=$(sed -n 's/^MimeType=//p' "$desktop")
    for type in application/vnd.ms-htmlhelp application/x-chm x-scheme-handler/ms-its; do
        [[ ";$mime_types" == *";$type;"* ]] || fail "pagewick.desktop does not open $type"
    done
    # Each type is one the shared MIME database knows, as a type or an alias.
    database=/usr/share/mime/packages/freedesktop.org.xml
    if [[ -f "$database" ]]; then
        IFS=';' read -ra types <<<"$mime_types"
        for type in "${types[@]}"; do
            [[ -z "$type" || "$type" == x-scheme-handler/* ]] && continue
            grep -qE "(mime-type|alias) type=\"$type\"" "$database" || fail "MIME type $type is unknown"
        done
    fi
fi

# --- The Debian package -------------------------------------------------------------------

if ! (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package") >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack -G DEB failed" >&2
    exit 1
fi
debs=("$work"/package/pagewick_*.deb)
if [[ ${#debs[@]} -ne 1 || ! -f "${debs[0]}" ]]; then
    echo "FAIL: cpack did not write one pagewick_*.deb: ${debs[*]}" >&2
    exit 1
fi
deb=${debs[0]}
arch=$(dpkg --print-architecture)
[[ "$(basename "$deb")" == pagewick_*_"$arch".deb ]] || fail "package file name $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[[ "$(field Package)" == pagewick ]] || fail "Package: $(field Package)"
[[ "$(field Architecture)" == "$arch" ]] || fail "Architecture: $(field Architecture)"
[[ -n "$(field Maintainer)" ]] || fail "no Maintainer"
[[ -n "$(field Description)" ]] || fail "no Description"
[[ "$(field Recommends)" == *fonts-noto-cjk* ]] || fail "Recommends: $(field Recommends)"

# The libraries the program links, as Debian packages with versions.
depends=$(field Depends)
echo "Depends: $depends"
for package in libqt6webenginewidgets6 libqt6webenginecore6 libqt6printsupport6 libqt6core5compat6 \
               libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6; do
    [[ ", $depends," == *", $package (>= "*")"* ]] || fail "Depends lacks a versioned $package"
done
# The SVG icon engine is a plugin, loaded rather than linked: named by hand.
[[ "$depends" =~ (^|, )libqt6svg6($| |,) ]] || fail "Depends lacks libqt6svg6"

# The package holds the installed tree under /usr, owned by root, and nothing else.
listing=$(dpkg-deb -c "$deb")
packaged=$(awk '$1 !~ /^d/ { print $6 }' <<<"$listing" | sed 's|^\./usr/||' | LC_ALL=C sort)
if [[ "$packaged" != "$(expected_files)" ]]; then
    fail "packaged files differ from the expected ones (under /usr):"
    diff <(expected_files) <(echo "$packaged") >&2 || true
fi
awk '$2 != "root/root" { bad = 1; print "not root/root: " $0 } END { exit bad }' <<<"$listing" >&2 \
    || fail "package files not owned by root"
grep -qE '^-rwxr-xr-x .* \./usr/bin/pagewick$' <<<"$listing" || fail "/usr/bin/pagewick is not executable"

# The packaged program is stripped: no debug sections.
dpkg-deb -x "$deb" "$work/unpacked"
if readelf -S "$work/unpacked/usr/bin/pagewick" | grep -q '\.debug_info'; then
    fail "/usr/bin/pagewick in the package keeps its debug information"
fi

if [[ $failures -ne 0 ]]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "install tree, desktop entry and package: all checks passed"
