#!/usr/bin/env bash
# Takes a screenshot of the four-channel view with cursors and readouts, driving the real program
# on a virtual display: four simulated scopes (COM1..COM4), each channel switched to its own port
# through File/COM-Port..., both cursor pairs on every channel.
#   scripts/screenshot-four.sh              docs/screenshot-four-channel.png
#   scripts/screenshot-four.sh out.png
# Installs what it runs (xvfb, xauth, imagemagick, xdotool) through scripts/install-deps.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
. scripts/demo-lib.sh

shot=${1:-docs/screenshot-four-channel.png}
shot=$(absolute_path "$shot")
scripts/install-deps.sh xdotool >/dev/null

build_dir=$(absolute_path "${BUILD_DIR:-build}")
if [ ! -f "$build_dir/build.ninja" ]; then
    cmake -S . -B "$build_dir" -G Ninja -DVELTRACE_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build_dir" --target veltrace veltrace-sim >/dev/null

work=$(mktemp -d)
sim_pids=()
cleanup() {
    for pid in "${sim_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_sim() { # n, simulator options...
    local n=$1
    shift
    "$build_dir/tools/veltrace-sim" --link "$work/scope$n" "$@" >/dev/null 2>"$work/sim$n.log" &
    sim_pids+=($!)
    wait_for_device "$work/scope$n" "$!" "$work/sim$n.log"
    export "VELTRACE_COM$n=$work/scope$n"
}
start_sim 1 --wave sine --freq 500 --amplitude 24
start_sim 2 --wave square --freq 300 --amplitude 12 --coupling ac --range 1 --timebase 6
start_sim 3 --wave triangle --freq 1600 --amplitude 20 --timebase 5 --trigger -int
start_sim 4 --wave noise --amplitude 6 --range 100 --trigger auto

printf '[COM]\r\nCOMPort=COM1\r\n' >"$work/Veltrace.ini"
export veltrace="$build_dir/veltrace" work shot
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR="$work/xdg"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
fi
mkdir -p "$(dirname "$shot")"
rm -f "$shot"
# Without a window manager the main window's area starts at (100, 150) and its controls 19 rows
# lower, below the menu bar; the port dialog's at (400, 350).
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c '
    cd "$work"
    unset WAYLAND_DISPLAY
    QT_QPA_PLATFORM=xcb "$veltrace" &
    pid=$!
    sleep 2
    click() { xdotool mousemove "$1" "$2" click 1; sleep 0.3; }
    control() { click $((100 + $1)) $((169 + $2)); }   # a point in the control area
    control 742 92                                     # 1CH<->4CH
    for c in 0 1 2 3; do
        control 565 $((20 + 133 * c))                  # CHn
        if [ "$c" -gt 0 ]; then
            click 115 159                              # File
            click 140 178                              # COM-Port...
            sleep 0.5
            click 500 360                              # the port list
            xdotool key Down Return; sleep 0.3
            click 500 402                              # Ok
            sleep 2
        fi
        control 772 22                                 # #: both cursor pairs
    done
    sleep 1.5
    status=0
    import -window "Veltrace V1.11" "$shot" || status=$?
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    exit "$status"
'
echo "Screenshot: $shot"
