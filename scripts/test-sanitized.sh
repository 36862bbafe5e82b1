#!/usr/bin/env bash
# Builds the book access layer, the notes record and extraction with AddressSanitizer and
# UndefinedBehaviorSanitizer into ./build-sanitize and runs their tests: the code that reads
# untrusted book files. `bash scripts/test-sanitized.sh`; safe to run again.
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="$repo/build-sanitize"
tests=(tst_bookfile tst_bookcache tst_paths tst_encoding tst_sitemap tst_search tst_searchindex tst_textindex tst_userdata tst_extractor)

bash "$repo/scripts/install-deps.sh"
cmake -S "$repo" -B "$build" -DPAGEWICK_SANITIZE=ON -DPAGEWICK_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${tests[@]}"

export QT_QPA_PLATFORM=offscreen
cd "$build"
pattern="^($(IFS='|'; echo "${tests[*]}"))\$"
ctest --output-on-failure -R "$pattern"
