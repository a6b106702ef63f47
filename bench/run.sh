#!/usr/bin/env bash
# Speed figures of the tool, measured in one run on this machine (not a test; CI does not run
# it). Builds a Release tree of its own when needed, then prints:
#   - hex2bin against objcopy: the time of each (best of 7, output to memory) on two generated
#     HEX files over a 16 MiB window, the output compared byte for byte, and the ratio of the
#     throughputs;
#   - create-upg's wall time on the sample firmware;
#   - an upgrade's wall time on the simulated device against its model, and tq470-flash's own
#     CPU time in it (the simulator's is not counted);
#   - upgrade --all on 8 simulated devices against 1 device, each run in turn 5 times: the wall
#     times and their ratio (the median, and the largest);
#   - the CPU time (user + sys) of tq470-flash in an upgrade on the simulated device with
#     --record against without, 15 runs of each, in turn and in alternating order, both on one
#     core: the medians and what recording adds (at most 10 % is the target);
#   - the largest window stall during an upgrade that ends with the two mismatch dumps, from the
#     tq470-window-stall probe when it is built ("n/a" otherwise).
#
#   bench/run.sh [BUILD_DIR]      (default: build-bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
dir=${1:-build-bench}

if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$dir" -j"$(nproc)" --target tq470-flash tq470-sim tq470-sample-firmware >/dev/null
probe=""
if cmake --build "$dir" -j"$(nproc)" --target tq470-window-stall >/dev/null 2>&1; then
    probe=$(find "$dir" -name tq470-window-stall -type f -perm -u+x | head -n 1)
fi

flash=$root/$dir/src/cli/tq470-flash
sim=$root/$dir/src/sim/tq470-sim
work=$(mktemp -d)
out=$work
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    out=$(mktemp -d /dev/shm/tq470-bench.XXXXXX)
fi
trap 'rm -rf "$work" "$out"' EXIT

# Seconds a conversion takes, the best of 7 runs, timed to the microsecond. Both converters
# work on one core, so this is their CPU time; their output goes to memory (/dev/shm when
# there is one), so that the disk's writeback and our tool's sync of its output file do not
# blur the conversion itself.
best_wall() {
    python3 - "$@" <<'PY'
import subprocess, sys, time
best = None
for _ in range(7):
    started = time.perf_counter()
    subprocess.run(sys.argv[1:], check=True, stdout=subprocess.DEVNULL)
    used = time.perf_counter() - started
    best = used if best is None else min(best, used)
print(best)
PY
}

# Seconds of wall time of a command, to the microsecond.
wall() {
    python3 - "$@" <<'PY'
import subprocess, sys, time
started = time.perf_counter()
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print("%.6f" % (time.perf_counter() - started))
PY
}

echo "== hex2bin against objcopy (16 MiB window 0x08000000..0x08FFFFFF, fill 0xFF) =="
window_start=0x08000000
window_end=0x08FFFFFF
pad_to=0x09000000
for record in 16 32; do
    hex=$work/r$record.hex
    python3 bench/make-hex.py "$hex" "$record" $((16 * 1024 * 1024)) "$window_start"
    ours=$(best_wall "$flash" hex2bin "$hex" "$out/ours.bin" "$window_start" "$window_end" --fill 0xFF)
    theirs=$(best_wall objcopy -I ihex -O binary --gap-fill 0xFF --pad-to "$pad_to" "$hex" "$out/objcopy.bin")
    same=identical
    cmp -s "$out/ours.bin" "$out/objcopy.bin" || same=DIFFERENT
    awk -v r="$record" -v mb="$(stat -c %s "$hex")" -v a="$ours" -v b="$theirs" -v s="$same" 'BEGIN {
        printf "%2d-byte records, %.1f MB HEX: hex2bin %.3f s, objcopy %.3f s; ratio %.1f x; output %s\n",
               r, mb / 1e6, a, b, (a > 0 ? b / a : 0), s }'
done

echo "== create-upg =="
"$root/$dir/src/sim/tq470-sample-firmware" "$work/firmware.hex" >/dev/null
printf 'create-upg of the sample firmware (%d bytes of HEX): %s s wall\n' \
    "$(stat -c %s "$work/firmware.hex")" "$(wall "$flash" create-upg "$work/firmware.hex" "$work/firmware.upg")"

echo "== upgrade on the simulated device =="
# The model: an upgrade's wall time is its mandated pauses plus its transfers. A device that
# waits in its bootloader takes the path without the reset, whose only fixed pause is the
# second after the start request that lets the application come up; the other pauses
# (connect retries, the reset and the bootloader poll) are not on that path. The transfers are
# counted from the debug output (one line per control transfer), and the time of one transfer
# is measured apart: the run time of reading external flash, less that of `info`, divided by
# the transfers it adds. Process start-up on both sides is left in the measured time.
application_start_ms=1000
transfers() { grep -cE '^USB Control [A-Za-z]+ bRequest=' "$1" || true; }
"$sim" --state "$work/state-info" -- "$flash" --debug info >/dev/null 2>"$work/info.log"
"$sim" --state "$work/state-read" -- "$flash" --debug save-ext 0 114688 "$work/ext.bin" \
    >/dev/null 2>"$work/read.log"
info_wall=$(wall "$sim" --state "$work/state-info" -- "$flash" info)
read_wall=$(wall "$sim" --state "$work/state-read" -- "$flash" save-ext 0 114688 "$work/ext.bin")
per_transfer_ms=$(awk -v a="$read_wall" -v b="$info_wall" -v n="$(transfers "$work/read.log")" \
    -v m="$(transfers "$work/info.log")" 'BEGIN { printf "%.3f", 1000 * (a - b) / (n - m) }')

"$sim" --state "$work/state-count" -- "$flash" --debug upgrade "$work/firmware.upg" \
    >/dev/null 2>"$work/upgrade.log"
count=$(transfers "$work/upgrade.log")
"$sim" --state "$work/state-upgrade" -- /usr/bin/time -f '%e %U %S' -o "$work/upgrade.time" \
    "$flash" upgrade "$work/firmware.upg" >/dev/null 2>&1
read -r upgrade_wall user sys <"$work/upgrade.time"
awk -v w="$upgrade_wall" -v p="$application_start_ms" -v n="$count" -v t="$per_transfer_ms" \
    -v u="$user" -v s="$sys" 'BEGIN {
    model = p / 1000 + n * t / 1000
    printf "upgrade wall time %.2f s; model %.2f s = pauses %.2f s + %d transfers x %.3f ms (%.0f %% of the model)\n",
           w, model, p / 1000, n, t, 100 * w / model
    printf "tq470-flash CPU time per upgrade: %.2f s (user %.2f + sys %.2f)\n", u + s, u, s }'

echo "== upgrade --all: 8 simulated devices against 1 =="
# One after the other, so that both meet the same machine load; fresh devices every time.
python3 - "$sim" "$flash" "$work" <<'PY'
import shutil, statistics, subprocess, sys, time
sim, flash, work = sys.argv[1:]
def run(devices):
    shutil.rmtree(work + "/state-all", ignore_errors=True)
    started = time.perf_counter()
    subprocess.run([sim, "--devices", str(devices), "--state", work + "/state-all", "--", flash,
                    "upgrade", "--all", work + "/firmware.upg"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - started
pairs = [(run(1), run(8)) for _ in range(5)]
ratios = [eight / one for one, eight in pairs]
print("1 device %.2f-%.2f s, 8 devices %.2f-%.2f s; ratio median %.2f, largest %.2f" % (
    min(p[0] for p in pairs), max(p[0] for p in pairs), min(p[1] for p in pairs),
    max(p[1] for p in pairs), statistics.median(ratios), max(ratios)))
PY

echo "== upgrade with --record against without =="
# tq470-flash's own CPU time, taken by a wrapper inside the simulator (the simulator's is not
# counted), to the microsecond; the trace goes to the disk, as a technician's would. The tool and
# the simulator share one core: a third of the tool's time goes into waking the simulator and
# being woken by it, which costs more and varies by tens of per cent from run to run when the
# scheduler puts the two on different cores.
python3 - "$sim" "$flash" "$work" <<'PY'
import os, shutil, statistics, subprocess, sys
sim, flash, work = sys.argv[1:]
os.sched_setaffinity(0, {max(os.sched_getaffinity(0))})
measure = ("import resource, subprocess, sys\n"
           "p = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)\n"
           "r = resource.getrusage(resource.RUSAGE_CHILDREN)\n"
           "print(r.ru_utime + r.ru_stime)\n"
           "sys.exit(p.returncode)\n")
def run(record):
    shutil.rmtree(work + "/state-record", ignore_errors=True)
    # A new file each time, as a technician's: the file system makes one that is cut back to
    # nothing and written again safe on its close, at a cost of its own.
    shutil.rmtree(work + "/trace", ignore_errors=True)
    os.mkdir(work + "/trace")
    options = ["--record", work + "/trace/upgrade.pcap"] if record else []
    done = subprocess.run([sim, "--state", work + "/state-record", "--", sys.executable, "-c",
                           measure, flash] + options + ["upgrade", work + "/firmware.upg"],
                          check=True, stdout=subprocess.PIPE, text=True)
    return float(done.stdout)
# The order alternates, so that what a run leaves behind for the next falls on both sides.
runs = 15
pairs = [(run(False), run(True)) if i % 2 else tuple(reversed([run(True), run(False)]))
         for i in range(runs)]
plain = statistics.median(p[0] for p in pairs)
recorded = statistics.median(p[1] for p in pairs)
print("tq470-flash CPU time per upgrade, tool and simulator on one core: %.4f s without "
      "--record, %.4f s with (medians of %d); recording adds %+.1f %% (target: at most 10 %%)" % (
          plain, recorded, runs, 100 * (recorded - plain) / plain))
PY

echo "== window stall during a mismatch run =="
if [ -n "$probe" ]; then
    QT_QPA_PLATFORM=offscreen "$probe" 2>/dev/null | grep 'largest window stall' || echo "largest window stall: n/a"
else
    echo "largest window stall: n/a (tq470-window-stall not built)"
fi
