#!/usr/bin/env bash
# Prints the test suite's size against the code's and, given a built tree, the wall time of
# its suite:
#
#   scripts/suite-figures.sh [BUILD_DIR]      (default: build-normal when it exists)
#
# Lines are those of the .cpp and .h files git knows: code under src/, tests under tests/ and
# fuzz/. The house rule is at most 35 % test lines.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

count() { git ls-files -co --exclude-standard -- "$@" | grep -E '\.(cpp|h)$' | xargs -r cat | wc -l; }
code=$(count src)
tests=$(count tests fuzz)
printf 'code (src/):             %6d lines\n' "$code"
printf 'tests (tests/, fuzz/):   %6d lines\n' "$tests"
share=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.1f", 100 * t / c }')
printf 'test share:              %6s %% (at most 35 %%)\n' "$share"

dir=${1:-build-normal}
if [ -f "$dir/CTestTestfile.cmake" ]; then
    start=$(date +%s.%N)
    QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" -j2 --timeout 300 >"$dir/suite-figures.log" 2>&1 ||
        echo "(some tests failed: $dir/suite-figures.log)"
    end=$(date +%s.%N)
    printf 'one-build suite (%s): %.1f s wall, ctest -j2\n' "$dir" "$(awk -v a="$start" -v b="$end" 'BEGIN { print b - a }')"
fi
