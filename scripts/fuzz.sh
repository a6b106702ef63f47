#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang, runs each of them for a while, and prints the line
# coverage of each harness's parser over the corpus it ended with.
#
#   scripts/fuzz.sh [SECONDS] [HARNESS...]      (default: 20 seconds each, every harness)
#
# Each run starts from the seeds in fuzz/corpus/<harness> and from whole valid files that
# fuzz_seed_generator writes into build-fuzz/seeds/<harness> (an upgrade file is 393,282 bytes,
# too big to keep in the repository), and grows a scratch corpus in build-fuzz/corpus/<harness>.
# Each harness's input limit fits its whole files. An input that crashes a harness is saved in
# build-fuzz/findings and the script fails: fix the fault, then copy the input into
# fuzz/corpus/<harness> so that every later run tries it again.
#
# The coverage comes from a second build of the harnesses, build-fuzz-coverage, with clang's
# source-based coverage instead of the sanitizers, run once over each corpus.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

seconds=${1:-20}
[ $# -gt 0 ] && shift
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(hextobin upgradefile identity usbmontrace)

# Room for a whole file and for the mutations that make it longer.
declare -A max_len=([hextobin]=131072 [upgradefile]=409600 [identity]=1024 [usbmontrace]=8192)
declare -A parsers=(
    [hextobin]="src/upgrade/hextobin.cpp"
    [upgradefile]="src/upgrade/upgradefile.cpp"
    [identity]="src/protocol/deviceidentity.cpp src/tools/productionserial.cpp"
    [usbmontrace]="src/usb/usbmontrace.cpp"
)

dir=build-fuzz
coverage=build-fuzz-coverage
CXX=clang++-14 bash scripts/build.sh "$dir" -DTQ470_FUZZ=ON
"$dir/fuzz/fuzz_seed_generator" "$dir/seeds"

export ASAN_OPTIONS=detect_leaks=0:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
mkdir -p "$dir/findings"
status=0
for h in "${harnesses[@]}"; do
    mkdir -p "$dir/corpus/$h" "$dir/seeds/$h"
    echo "=== fuzz_$h: ${seconds}s, inputs up to ${max_len[$h]} bytes ==="
    if ! "$dir/fuzz/fuzz_$h" -max_total_time="$seconds" -max_len="${max_len[$h]}" \
            -print_final_stats=1 -rss_limit_mb=1024 -artifact_prefix="$dir/findings/$h-" \
            "$dir/corpus/$h" "$dir/seeds/$h" "fuzz/corpus/$h" >"$dir/fuzz_$h.log" 2>&1; then
        status=1
        tail -n 40 "$dir/fuzz_$h.log"
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$dir/fuzz_$h.log" | tr '\n' ' '
    echo
done

echo "=== line coverage of each parser over its corpus ==="
CXX=clang++-14 bash scripts/build.sh "$coverage" -DTQ470_FUZZ=ON -DTQ470_FUZZ_COVERAGE=ON
for h in "${harnesses[@]}"; do
    rm -f "$coverage/$h.profraw" "$coverage/$h.profdata"
    if ! LLVM_PROFILE_FILE="$coverage/$h.profraw" "$coverage/fuzz/fuzz_$h" -runs=0 \
            -max_len="${max_len[$h]}" "$dir/corpus/$h" "$dir/seeds/$h" "fuzz/corpus/$h" \
            >"$coverage/fuzz_$h.log" 2>&1; then
        status=1
        tail -n 20 "$coverage/fuzz_$h.log"
        continue
    fi
    llvm-profdata-14 merge -sparse "$coverage/$h.profraw" -o "$coverage/$h.profdata"
    # A report's total: regions (3 columns), functions (3), lines, missed lines, line cover.
    for f in ${parsers[$h]}; do
        llvm-cov-14 report "$coverage/fuzz/fuzz_$h" -instr-profile="$coverage/$h.profdata" \
            "$root/$f" | awk -v h="$h" -v f="$f" '$1 == "TOTAL" {
                printf "fuzz_%s: %s: lines %s covered (%d of %d)\n", h, f, $10, $8 - $9, $8 }'
    done
done
exit $status
