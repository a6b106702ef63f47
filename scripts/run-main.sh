#!/usr/bin/env bash
# Installs what the tool needs, builds it, and runs the main job: against a Tq470 on USB when one
# answers, otherwise against the simulated device (its memory kept in build-normal/sim-state).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/install-deps.sh
bash scripts/build.sh build-normal

flash=$root/build-normal/src/cli/tq470-flash
sim=$root/build-normal/src/sim/tq470-sim
window=$root/build-normal/src/app/tq470-bootloader
state=$root/build-normal/sim-state

if "$flash" info >/dev/null 2>&1; then
    echo "=== A Tq470 answers on USB ==="
    prefix=()
else
    echo "=== No Tq470 on USB: using the simulated device (state in $state) ==="
    prefix=("$sim" --state "$state" --)
fi

echo "=== tq470-flash info ==="
"${prefix[@]}" "$flash" info

if [ -n "${DISPLAY:-}" ]; then
    echo "=== Starting the main window (close it to end) ==="
    "${prefix[@]}" "$window"
else
    picture=$root/build-normal/main-window.png
    echo "=== No display: showing the main window on a private X server ==="
    TQ470_BUILD_DIR=$root/build-normal bash scripts/screenshot-window.sh "$picture" "${prefix[@]}"
    echo "A picture of the window is in $picture."
    echo "On a desktop, start it against the same simulated device with:"
    echo "  $sim --state $state -- $window"
fi
