#!/usr/bin/env bash
# Installs what the tests need, then builds and runs the whole suite three times: a normal
# build, one with AddressSanitizer and UndefinedBehaviorSanitizer, and one with
# ThreadSanitizer; checks the normal build's installation and Debian packages; then runs each
# fuzz harness for 20 seconds.
#
#   scripts/run-tests.sh [VARIANT...]     (normal package sanitize tsan fuzz; default: all five)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh --tests

export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0
# Qt is not built with ThreadSanitizer: what its libraries do inside the runtime's interceptors
# (freeing a queued call's arguments, say) is synchronised by locks the runtime cannot see.
export TSAN_OPTIONS="suppressions=$root/tests/tsan.supp:halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1"

variants=("$@")
[ ${#variants[@]} -gt 0 ] || variants=(normal package sanitize tsan fuzz)

status=0
for variant in "${variants[@]}"; do
    if [ "$variant" = fuzz ]; then
        echo "=== fuzzing ==="
        bash scripts/fuzz.sh 20 || status=1
        continue
    fi
    if [ "$variant" = package ]; then
        echo "=== installation and packages ==="
        bash scripts/build.sh build-normal
        bash tests/packaging/check-package.sh build-normal || status=1
        continue
    fi
    dir=build-$variant
    options=()
    # The sanitizer builds keep line tables for their reports and skip the rest of the debug
    # information, which is most of their build time.
    lean=-DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG"
    case $variant in
        normal) ;;
        sanitize) options=(-DTQ470_SANITIZE=ON "$lean") ;;
        tsan) options=(-DTQ470_THREAD_SANITIZE=ON "$lean") ;;
        *) echo "unknown variant: $variant" >&2; exit 2 ;;
    esac
    echo "=== $variant build ==="
    bash scripts/build.sh "$dir" "${options[@]}"
    echo "=== $variant tests ==="
    exclude=()
    [ "$variant" = tsan ] && exclude=(-LE idle-signals)
    ctest --test-dir "$dir" --output-on-failure --timeout 300 -j2 "${exclude[@]}" || status=1
done
exit $status
