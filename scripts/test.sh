#!/usr/bin/env bash
# Builds Pagewick into ./build and runs every test: `bash scripts/test.sh`.
# Exits non-zero when the build or any test fails. Safe to run again.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$repo/build"

bash "$repo/scripts/install-deps.sh"
cmake -S "$repo" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)"

export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---disable-gpu}"
cd "$build"
ctest --output-on-failure
