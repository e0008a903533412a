#!/usr/bin/env bash
# Takes a screenshot of the real Veltrace main window showing a live trace from the simulated
# scope, on a virtual display (Xvfb), so it works on machines without a screen.
#   scripts/screenshot.sh                                  docs/screenshot-one-channel.png
#   scripts/screenshot.sh out.png --wave square --freq 300 options after the file go to veltrace-sim
#   SECONDS_LIVE=6 scripts/screenshot.sh                   how long the trace runs before the shot
#   BUILD_DIR=build-x scripts/screenshot.sh                another build folder (default build/)
#   MEASUREMENTS=1 scripts/screenshot.sh docs/screenshot-measurements.png
#                                                          the Measurements window instead
# Installs what it runs (xvfb, xauth, imagemagick) through scripts/install-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
. scripts/demo-lib.sh

shot=${1:-docs/screenshot-one-channel.png}
[ $# -gt 0 ] && shift
shot=$(absolute_path "$shot")

scripts/install-deps.sh >/dev/null

build_dir=$(absolute_path "${BUILD_DIR:-build}")
if [ ! -f "$build_dir/build.ninja" ]; then
    cmake -S . -B "$build_dir" -G Ninja -DVELTRACE_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build_dir" --target veltrace veltrace-sim >/dev/null

# A private working folder: Veltrace reads its settings file from the current folder, and this
# one names COM1, which VELTRACE_COM1 points at the simulator.
work=$(mktemp -d)
sim_pid=""
cleanup() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

printf '[COM]\r\nCOMPort=COM1\r\n' >"$work/Veltrace.ini"
device="$work/scope"
"$build_dir/tools/veltrace-sim" --link "$device" "$@" >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
wait_for_device "$device" "$sim_pid" "$work/sim.log"

export VELTRACE_COM1="$device"
export veltrace="$build_dir/veltrace" work shot seconds="${SECONDS_LIVE:-4}"
# The Measurements window opens beside the main window, so the display is wider then.
export title="Veltrace V1.11" screen="1024x768x24"
if [ "${MEASUREMENTS:-0}" != 0 ]; then
    export VELTRACE_MEASUREMENTS=1 title="Measurements" screen="1600x900x24"
fi
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR="$work/xdg"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
fi
mkdir -p "$(dirname "$shot")"
rm -f "$shot"
# The virtual display has no window manager, so the shot is the window's own area: the menu bar
# and the controls, without a title bar. import finds the window by its title.
xvfb-run -a -s "-screen 0 $screen -nolisten tcp" bash -c '
    cd "$work"
    unset WAYLAND_DISPLAY
    QT_QPA_PLATFORM=xcb "$veltrace" &
    pid=$!
    sleep "$seconds"
    status=0
    import -window "$title" "$shot" || status=$?
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        wait "$pid" || true
    else
        echo "screenshot.sh: veltrace ended early" >&2
        status=1
    fi
    exit "$status"
'
echo "Screenshot: $shot"
