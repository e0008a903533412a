#!/usr/bin/env bash
# Measures what recording and logging cost at the scope's line rate (19200 baud 7N1, about 15.5
# frames/s from veltrace-sim), each against plain veltrace measured in the same run:
#   1. veltrace, then veltrace --record, then veltrace again: CPU (whole process, per cent of one
#      core) and peak resident memory over a window, and the recording's size per second;
#   2. veltrace-log --port to a CSV file, and with --captures of every frame: CPU and peak memory;
#   3. veltrace-log --replay of the recording made in 1, and veltrace --replay --speed max: how
#      many seconds of the stream one second of CPU handles, and frames drawn per second.
# Usage: scripts/measure-record.sh [build-dir]   (default build/, configured already)
#   WINDOW_SECONDS=20 scripts/measure-record.sh build-stream
# Without a display it runs under Xvfb. The machine is shared: read the ratios, not the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -n "${MEASURE_UNDER_XVFB:-}" ] || scripts/install-deps.sh >/dev/null

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${MEASURE_UNDER_XVFB:-}" ]; then
    exec env MEASURE_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi

build_dir=$(cd "${1:-build}" && pwd)
cmake --build "$build_dir" --target veltrace veltrace-sim veltrace-log >/dev/null
veltrace="$build_dir/veltrace"
sim="$build_dir/tools/veltrace-sim"
log="$build_dir/tools/veltrace-log"
window=${WINDOW_SECONDS:-15}

work=$(mktemp -d)
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$work/xdg"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi
printf '[COM]\nCOMPort=COM1\n' >"$work/Veltrace.ini"
export VELTRACE_COM1="$work/scope" VELTRACE_STATS=1

sim_pid=""
pid=""
cleanup() {
    for p in $pid $sim_pid; do
        kill "$p" 2>/dev/null || true
        wait "$p" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

hz=$(getconf CLK_TCK)
cpu_ticks() { sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
peak_kib() { awk '/^VmHWM:/ { print $2 }' "/proc/$1/status"; }
now() { date +%s.%N; }

start_sim() {
    rm -f "$work/scope"
    "$sim" --link "$work/scope" "$@" >/dev/null 2>"$work/sim.log" &
    sim_pid=$!
    for _ in $(seq 100); do
        [ -e "$work/scope" ] && return 0
        sleep 0.05
    done
    echo "measure-record.sh: the simulator did not start" >&2
    exit 1
}
stop_sim() {
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
}

# Runs the command (in $work) beside a fresh simulator for 2 s of warm-up and a window; prints
# "<label> <cpu per cent> <peak KiB>" and leaves the figures in $cpu and $peak.
measure() {
    local label=$1
    shift
    start_sim
    (cd "$work" && exec "$@" >/dev/null 2>>"$work/run.log") &
    pid=$!
    sleep 2
    local c0 t0 c1 t1
    c0=$(cpu_ticks "$pid")
    t0=$(now)
    sleep "$window"
    c1=$(cpu_ticks "$pid")
    t1=$(now)
    peak=$(peak_kib "$pid")
    kill -INT "$pid"
    wait "$pid" 2>/dev/null || true
    pid=""
    stop_sim
    cpu=$(awk -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$hz" \
        'BEGIN { printf "%.2f", 100 * (c1 - c0) / hz / (t1 - t0) }')
    printf '%-44s CPU %6.2f %% of a core   peak RSS %7d KiB\n' "$label" "$cpu" "$peak"
}

echo "== At the line rate, ${window} s windows after 2 s of warm-up"
measure "veltrace" "$veltrace"
base_cpu=$cpu base_peak=$peak
measure "veltrace --record" "$veltrace" --record "$work/session.vtrec"
rec_cpu=$cpu rec_peak=$peak
measure "veltrace (again)" "$veltrace"
base2_cpu=$cpu
measure "veltrace-log --port COM1 --output" "$log" --port COM1 --output "$work/live.csv"
log_cpu=$cpu log_peak=$peak
mkdir -p "$work/pictures"
measure "veltrace-log ... --captures (every frame)" "$log" --port COM1 --output "$work/caps.csv" \
    --captures "$work/pictures"
caps_cpu=$cpu caps_peak=$peak

seconds=$(( window + 2 ))
size=$(stat -c %s "$work/session.vtrec")
rows=$(($(wc -l <"$work/live.csv") - 1))
caps_rows=$(($(wc -l <"$work/caps.csv") - 1))
pictures=$(find "$work/pictures" -name '*.png' | wc -l)
awk -v b="$base_cpu" -v b2="$base2_cpu" -v r="$rec_cpu" -v l="$log_cpu" -v c="$caps_cpu" \
    -v bp="$base_peak" -v rp="$rec_peak" -v lp="$log_peak" -v cp="$caps_peak" \
    -v size="$size" -v s="$seconds" -v rows="$rows" -v pics="$pictures" -v crows="$caps_rows" 'BEGIN {
    mean = (b + b2) / 2;
    printf "\nveltrace --record against veltrace: CPU x %.3f (plain runs %.2f and %.2f %%), ", r / mean, b, b2;
    printf "peak RSS x %.3f (%+d KiB)\n", rp / bp, rp - bp;
    printf "recording: %d bytes for about %d s = %.0f bytes/s (the line delivers 2133)\n", size, s, size / s;
    printf "veltrace-log against veltrace: CPU x %.3f, peak RSS x %.3f\n", l / mean, lp / bp;
    printf "veltrace-log with captures against veltrace: CPU x %.3f, peak RSS x %.3f\n", c / mean, cp / bp;
    printf "rows logged: %d; with captures: %d rows, %d captures written\n", rows, crows, pics;
}'

echo
echo "== Replays of the recording made above"
recorded=$seconds
t0=$(now)
"$log" --replay "$work/session.vtrec" --output "$work/replayed.csv" 2>/dev/null
t1=$(now)
replay_rows=$(($(wc -l <"$work/replayed.csv") - 1))
awk -v t0="$t0" -v t1="$t1" -v rec="$recorded" -v rows="$replay_rows" 'BEGIN {
    printf "veltrace-log --replay: %d rows from about %s s of stream in %.3f s of wall time (%.0f x the line)\n",
           rows, rec, t1 - t0, rec / (t1 - t0);
}'
(cd "$work" && exec "$veltrace" --replay "$work/session.vtrec" --speed max 2>"$work/replay.log") &
pid=$!
t0=$(now)
c0=$(cpu_ticks "$pid")
sleep 5
c1=$(cpu_ticks "$pid")
t1=$(now)
kill -TERM "$pid"
wait "$pid" 2>/dev/null || true
pid=""
drawn=$(sed -n 's/^veltrace: \([0-9]*\) frames drawn.*/\1/p' "$work/replay.log")
awk -v drawn="$drawn" -v c0="$c0" -v c1="$c1" -v t0="$t0" -v t1="$t1" -v hz="$hz" \
    -v rows="$replay_rows" 'BEGIN {
    printf "veltrace --replay --speed max: %d of %d frames drawn within %.1f s (%.2f s of CPU)\n",
           drawn, rows, t1 - t0, (c1 - c0) / hz;
}'
