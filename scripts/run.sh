#!/usr/bin/env bash
# Installs what is needed, builds Veltrace and starts it on the simulated scope, so the trace is
# live at once.
#   scripts/run.sh                       the demo (a sine wave)
#   scripts/run.sh --wave square --freq 300 --timebase 5     options go to veltrace-sim
#   DEMO_SECONDS=8 scripts/run.sh        how long the demo runs when there is no display
#   BUILD_DIR=build-x scripts/run.sh     another build folder (default build/)
# Without a display (DISPLAY and WAYLAND_DISPLAY unset) the same demo runs on a virtual display
# (Xvfb) for a few seconds and leaves a screenshot of it, whose path is printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
. scripts/demo-lib.sh

scripts/install-deps.sh

build_dir=$(absolute_path "${BUILD_DIR:-build}")
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} \
      -DVELTRACE_SANITIZE="${VELTRACE_SANITIZE:-}" \
      -DVELTRACE_BUILD_BENCH=${VELTRACE_BUILD_BENCH:-ON} >/dev/null
cmake --build "$build_dir" --target veltrace veltrace-sim

veltrace="$build_dir/veltrace"
sim="$build_dir/tools/veltrace-sim"

# The demo's working folder: Veltrace keeps its settings file in the current folder, and this one
# names COM1, which VELTRACE_COM1 points at the simulator.
demo="$build_dir/demo"
mkdir -p "$demo"
printf '[COM]\r\nCOMPort=COM1\r\n' >"$demo/Veltrace.ini"
device="$demo/scope"

sim_pid=""
stop_sim() {
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    sim_pid=""
}
trap stop_sim EXIT
trap 'exit 130' INT TERM

rm -f "$device"
"$sim" --link "$device" "$@" >"$demo/sim.out" 2>"$demo/sim.log" &
sim_pid=$!
wait_for_device "$device" "$sim_pid" "$demo/sim.log"
echo "Simulated scope on $(cat "$demo/sim.out") (linked as $device), known to Veltrace as COM1."
export VELTRACE_COM1="$device"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "Starting Veltrace in $demo (quit with File/Quit or the close box)."
    status=0
    (cd "$demo" && "$veltrace") || status=$?
    exit "$status"
fi

seconds=${DEMO_SECONDS:-5}
shot="$demo/screenshot.png"
echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset): running the demo on a virtual"
echo "display (Xvfb) for $seconds seconds and taking a screenshot of it."
if ! command -v import >/dev/null; then
    echo "run.sh: 'import' (package imagemagick) is missing; the demo runs without a screenshot." >&2
fi
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    XDG_RUNTIME_DIR=$(mktemp -d)
    export XDG_RUNTIME_DIR
fi
rm -f "$shot"
export demo veltrace seconds shot
export VELTRACE_STATS=1 # the count of frames drawn, printed when the demo ends
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c '
    cd "$demo"
    "$veltrace" &
    pid=$!
    sleep "$seconds"
    if command -v import >/dev/null; then
        import -window root "$shot" || true
    fi
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid"
        wait "$pid" || true
    else
        wait "$pid" || echo "run.sh: veltrace ended early (exit code $?)" >&2
    fi
'
if [ -s "$shot" ]; then
    echo "Screenshot: $shot"
fi
