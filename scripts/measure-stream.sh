#!/usr/bin/env bash
# Measures the device link end to end with the simulated scope and the real program:
#   1. at the scope's line rate (19200 baud 7N1, about 15.5 frames/s): frames drawn per second
#      and the whole-process CPU time of veltrace over a 10 s window;
#   2. as fast as the pseudo-terminal takes the frames: the highest frame rate drawn, and
#      frames sent against frames drawn (none may be lost);
#   3. the far side gone (the simulator ends while Veltrace keeps the port open): the CPU time
#      of veltrace over the next 5 s, which shows whether the acquisition thread spins.
# Usage: scripts/measure-stream.sh [build-dir]   (default build/, must be configured already;
#        scripts/run.sh or scripts/test.sh do that). Without a display it runs under Xvfb.
#   WINDOW_SECONDS=10 FAST_FRAMES=3000 scripts/measure-stream.sh
set -euo pipefail
cd "$(dirname "$0")/.."
[ -n "${MEASURE_UNDER_XVFB:-}" ] || scripts/install-deps.sh >/dev/null

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${MEASURE_UNDER_XVFB:-}" ]; then
    exec env MEASURE_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi

build_dir=$(cd "${1:-build}" && pwd)
cmake --build "$build_dir" --target veltrace veltrace-sim >/dev/null
veltrace="$build_dir/veltrace"
sim="$build_dir/tools/veltrace-sim"
window=${WINDOW_SECONDS:-10}
fast_frames=${FAST_FRAMES:-3000}

work=$(mktemp -d)
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$work/xdg"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
printf '[COM]\nCOMPort=COM1\n' >"$work/Veltrace.ini"
export VELTRACE_COM1="$work/scope" VELTRACE_STATS=1

sim_pid=""
app_pid=""
cleanup() {
    for pid in $app_pid $sim_pid; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# utime + stime of every thread of the process, in clock ticks (fields 14 and 15 of stat; the
# command name in field 2 may hold blanks, so count from the closing parenthesis).
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
now() { date +%s.%N; }

start_sim() {
    rm -f "$work/scope"
    "$sim" --link "$work/scope" "$@" >/dev/null 2>"$work/sim.log" &
    sim_pid=$!
    for _ in $(seq 100); do
        [ -e "$work/scope" ] && return 0
        sleep 0.05
    done
    echo "measure-stream.sh: the simulator did not start" >&2
    cat "$work/sim.log" >&2
    exit 1
}

start_veltrace() {
    (cd "$work" && exec "$veltrace" 2>"$work/veltrace.log") &
    app_pid=$!
}

stop_veltrace() {
    kill -TERM "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

frames_drawn() { sed -n 's/^veltrace: \([0-9]*\) frames drawn.*/\1/p' "$work/veltrace.log"; }

ticks_per_second=$(getconf CLK_TCK)

echo "== Line rate (2133 bytes/s), ${window} s window after 2 s of warm-up"
start_sim
start_veltrace
started=$(now)
sleep 2
t0=$(now)
c0=$(cpu_ticks "$app_pid")
sleep "$window"
t1=$(now)
c1=$(cpu_ticks "$app_pid")
stop_veltrace
ended=$(now)
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
drawn=$(frames_drawn)
awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$ticks_per_second" \
    -v drawn="$drawn" -v s="$started" -v e="$ended" 'BEGIN {
    printf "frames drawn: %d in %.2f s = %.2f frames/s\n", drawn, e - s, drawn / (e - s);
    printf "veltrace CPU: %.3f s in %.2f s = %.2f %% of one core\n",
           (c1 - c0) / hz, t1 - t0, 100 * (c1 - c0) / hz / (t1 - t0);
}'
cat "$work/sim.log"

echo
echo "== As fast as the pseudo-terminal takes them: ${fast_frames} frames"
start_sim --fast --frames "$fast_frames" --linger 3
start_veltrace
c0=$(cpu_ticks "$app_pid")
t0=$(now)
wait "$sim_pid" 2>/dev/null || true # ends 3 s after its last frame was taken
sim_pid=""
t1=$(now)
c1=$(cpu_ticks "$app_pid")
stop_veltrace
sent=$(sed -n 's/^veltrace-sim: \([0-9]*\) frames sent.*/\1/p' "$work/sim.log")
drawn=$(frames_drawn)
cat "$work/sim.log"
echo "frames sent: $sent, frames drawn: $drawn, lost: $((sent - drawn))"
awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$ticks_per_second" 'BEGIN {
    printf "veltrace CPU: %.3f s in %.2f s (including the 3 s idle tail)\n", (c1 - c0) / hz, t1 - t0;
}'

echo
echo "== Far side gone: CPU of veltrace over 5 s after the simulator ended"
start_sim
start_veltrace
sleep 2
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
sleep 0.5
c0=$(cpu_ticks "$app_pid")
t0=$(now)
sleep 5
t1=$(now)
c1=$(cpu_ticks "$app_pid")
stop_veltrace
awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$ticks_per_second" 'BEGIN {
    printf "veltrace CPU: %.3f s in %.2f s = %.2f %% of one core\n",
           (c1 - c0) / hz, t1 - t0, 100 * (c1 - c0) / hz / (t1 - t0);
}'
