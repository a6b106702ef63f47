#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each of them for a while.
#
#   scripts/fuzz.sh [SECONDS] [HARNESS...]      (default: 20 seconds each, every harness)
#
# Each run starts from the seeds in fuzz/corpus/<harness> and grows a scratch corpus in
# build-fuzz/corpus/<harness>. An input that crashes a harness is saved in build-fuzz/findings
# and the script fails: fix the fault, then copy the input into fuzz/corpus/<harness> so that
# every later run tries it again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-20}
[ $# -gt 0 ] && shift
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(hextobin upgradefile identity)

dir=build-fuzz
CXX=clang++-14 bash scripts/build.sh "$dir" -DTQ470_FUZZ=ON

export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$dir/findings"
status=0
for h in "${harnesses[@]}"; do
    mkdir -p "$dir/corpus/$h"
    echo "=== fuzz_$h: ${seconds}s ==="
    if ! "$dir/fuzz/fuzz_$h" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=1024 \
            -artifact_prefix="$dir/findings/$h-" "$dir/corpus/$h" "fuzz/corpus/$h" \
            >"$dir/fuzz_$h.log" 2>&1; then
        status=1
        tail -n 40 "$dir/fuzz_$h.log"
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$dir/fuzz_$h.log" | tr '\n' ' '
    echo
done
exit $status
