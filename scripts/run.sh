#!/usr/bin/env bash
# Builds Pagewick into ./build and starts it: `bash scripts/run.sh [book.chm]`.
# Without a book the reader opens its own user guide, Help.chm, which the build puts beside
# the program. Safe to run again; only what changed is rebuilt.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$repo/build"

book=()
if [[ $# -gt 0 ]]; then
    # The reader runs from its own folder, so a relative book path is made absolute first.
    if [[ "$1" = /* ]]; then
        book=("$1")
    else
        book=("$PWD/$1")
    fi
    shift
fi

bash "$repo/scripts/install-deps.sh"
cmake -S "$repo" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"

cd "$build/app"
exec ./pagewick "${book[@]}" "$@"
