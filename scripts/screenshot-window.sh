#!/usr/bin/env bash
# Shows the main window on a private X server and saves a picture of the whole screen.
#
#   scripts/screenshot-window.sh OUT.png [PREFIX...]
#
# PREFIX goes in front of the program, e.g. "build-normal/src/sim/tq470-sim --".
# TQ470_BUILD_DIR names the build directory (default: build-normal in the project root, the tree
# scripts/run-main.sh and scripts/build.sh build);
# TQ470_WINDOW_TIMEOUT is how many seconds to wait for the window (default: 20).
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 OUT.png [PREFIX...]" >&2
    exit 2
fi
out=$1
shift

root=$(cd "$(dirname "$0")/.." && pwd)
program=${TQ470_BUILD_DIR:-$root/build-normal}/src/app/tq470-bootloader
if [ ! -x "$program" ]; then
    echo "no window program at $program: build it first (bash scripts/build.sh build-normal)," \
        "or name its build directory in TQ470_BUILD_DIR" >&2
    exit 1
fi
# The window by its class, which is the program's name: its title follows the locale.
class=tq470-bootloader
timeout=${TQ470_WINDOW_TIMEOUT:-20}
screen=800x600x24

display_number=99
while [ -e "/tmp/.X$display_number-lock" ]; do
    display_number=$((display_number + 1))
done
export DISPLAY=:$display_number
export QT_QPA_PLATFORM=xcb

work=$(mktemp -d)
pids=()
cleanup() {
    local i
    for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
        kill "${pids[i]}" 2>/dev/null || true
        wait "${pids[i]}" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 "$screen" -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    sleep 0.1
done

# Only a window manager draws the title bar. twm would otherwise wait for the user to place
# each new window by hand.
if command -v twm >/dev/null; then
    printf 'RandomPlacement\nUsePPosition "on"\n' >"$work/twmrc"
    twm -display "$DISPLAY" -f "$work/twmrc" >"$work/twm.log" 2>&1 &
    pids+=($!)
fi

"$@" "$program" &
pids+=($!)

if ! window=$(timeout "$timeout" xdotool search --sync --onlyvisible --class "^$class\$" | head -n 1); then
    echo "no window of class $class within ${timeout}s" >&2
    exit 1
fi
# Mapped is not yet painted.
sleep 1
import -display "$DISPLAY" -window root "$out"
echo "window $window: \"$(xdotool getwindowname "$window")\" -> $out"
