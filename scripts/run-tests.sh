#!/usr/bin/env bash
# Installs what the tests need, then builds and runs the whole suite twice: a normal build
# and one with AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh

export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0

status=0
for variant in normal sanitize; do
    dir=build-$variant
    options=()
    [ "$variant" = sanitize ] && options=(-DTQ470_SANITIZE=ON)
    echo "=== $variant build ==="
    bash scripts/build.sh "$dir" "${options[@]}"
    echo "=== $variant tests ==="
    ctest --test-dir "$dir" --output-on-failure --timeout 300 -j2 || status=1
done
exit $status
