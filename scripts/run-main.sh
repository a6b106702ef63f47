#!/usr/bin/env bash
# Installs what the tool needs, builds it, and runs the main job: a firmware upgrade.
#
#   scripts/run-main.sh [FILE.upg]
#
# With no Tq470 on USB at all the upgrade runs on the simulated device, whose memory is kept in
# build-normal/sim-state, with FILE.upg or else a sample firmware the project generates.
# A real Tq470 is only ever upgraded with a FILE.upg that you name; one this user may not
# open stops the script with the fix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/build.sh build-normal

bin=$root/build-normal/src
flash=$bin/cli/tq470-flash
sim=$bin/sim/tq470-sim
window=$bin/app/tq470-bootloader
state=$root/build-normal/sim-state
upgrade_file=${1:-}

# tq470-flash's exit codes: 0 a Tq470 answered, 3 none is attached, 4 one refused access,
# 5 several are attached (see EXIT STATUS in its man page).
found=0 not_found=3 access_refused=4 several=5
probe=$found
diagnosis=$("$flash" info 2>&1 >/dev/null) || probe=$?
if [ "$probe" -eq "$access_refused" ] || [ "$probe" -eq "$several" ]; then
    echo "$diagnosis" >&2
    exit 1
fi
if [ "$probe" -eq "$found" ]; then
    if [ -z "$upgrade_file" ]; then
        echo "A Tq470 answers on USB. Name the upgrade file to put on it:" >&2
        echo "  bash scripts/run-main.sh FILE.upg" >&2
        exit 2
    fi
    echo "=== Upgrading the Tq470 on USB with $upgrade_file ==="
    exec "$flash" upgrade "$upgrade_file"
fi

if [ -z "$upgrade_file" ]; then
    sample=$root/build-normal/sample
    mkdir -p "$sample"
    echo "=== Sample firmware: $sample/firmware.hex -> $sample/firmware.upg ==="
    "$bin/sim/tq470-sample-firmware" "$sample/firmware.hex"
    "$flash" create-upg "$sample/firmware.hex" "$sample/firmware.upg"
    upgrade_file=$sample/firmware.upg
fi

if [ "$probe" -ne "$not_found" ]; then
    echo "$diagnosis" >&2
    echo "A Tq470 is attached but cannot be used now (see above); unplug it to try the simulated device." >&2
    exit 1
fi

echo "=== No Tq470 on USB: upgrading the simulated device (state in $state) ==="
"$sim" --state "$state" -- "$flash" upgrade "$upgrade_file"

echo
echo "=== Done ==="
echo "The simulated device's memory: $state/internal.bin (internal flash from 0x08000000),"
echo "$state/external.bin (external flash), $state/device.json (mode and serial)."
echo "Show it:            $sim --state $state -- $flash info"
echo "Start the window:   $sim --state $state -- $window"
echo "(the window needs a display; scripts/screenshot-window.sh shows it on a private X server)"
