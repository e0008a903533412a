#!/usr/bin/env bash
# Holds Veltrace against the floor: what a bare Qt Widgets program (veltrace-floor) pays for
# showing the same number of new pictures a second. Both run side by side on one virtual display
# (an Xvfb this script starts), so they share the machine's load and the ratio between them
# means more than either figure alone. Prints:
#   1. line rate (veltrace-sim at 2133 bytes/s, a new waveform every frame) beside the floor
#      at 15.46 pictures/s: whole-process CPU of each as % of one core, the ratio, wake-ups per
#      second (context switches of all threads), peak RSS (VmHWM) of both,
#      and the wire-to-screen latency figures, where this build's statistics report has them;
#      the acquisition thread's own wake-ups per second; and, where the simulator and the build
#      can stamp frames (veltrace-sim --frame-times, VELTRACE_FRAME_TIMES), the latency from the
#      simulator's write of each frame's last byte to the hand-over of its picture to the window
#      and to its repaint, on the one monotonic clock, median and p99 over every frame;
#   2. the port open and silent (veltrace-sim --silent) beside the floor showing one picture
#      and then idling: CPU %, wake-ups per second per thread, and CPU time per wake-up;
#   3. start-up: median of 5 starts, from the fork to the window being mapped and to its first
#      paint, timed from outside by veltrace-winwait through the X server;
#   4. renderScreen against clearing a 508 x 512 24-bit picture (veltrace_bench, one run), and
#      the time a capture takes to write its PNG (the file half of a CAPTURE click).
# Usage: scripts/measure-floor.sh [build-dir]   (default build/, configured already;
#        scripts/run.sh or scripts/test.sh do that)
#   SECONDS=20 scripts/measure-floor.sh build-perf    measuring windows of 20 s (default 60)
#   SILENT_SECONDS=30 STARTS=5 BENCH=0 ...             silent window (default: as SECONDS),
#                                                      starts timed, skip the benchmark
#   MEASUREMENTS=1 ...                                 Veltrace with its Measurements window open
set -euo pipefail

# bash counts SECONDS up from the value it was given: take the one this process was started
# with from its environment as it came in.
window=$(tr '\0' '\n' <"/proc/$$/environ" | sed -n 's/^SECONDS=//p')
window=${window:-60}
silent_window=${SILENT_SECONDS:-$window}
starts=${STARTS:-5}
warm_up=3

cd "$(dirname "$0")/.."
top=$(pwd)
scripts/install-deps.sh >/dev/null
. scripts/demo-lib.sh
build_dir=$(absolute_path "${1:-build}")
nice -n 10 cmake --build "$build_dir" --target veltrace veltrace-sim veltrace-floor >/dev/null
veltrace="$build_dir/veltrace"
sim="$build_dir/tools/veltrace-sim"
floor="$build_dir/bench/veltrace-floor"
winwait="$build_dir/bench/veltrace-winwait"
bench="$build_dir/bench/veltrace_bench"
if [ -e "$build_dir/build.ninja" ] && grep -q 'veltrace-winwait' "$build_dir/build.ninja"; then
    nice -n 10 cmake --build "$build_dir" --target veltrace-winwait >/dev/null
fi
if [ "${BENCH:-1}" != 0 ]; then
    nice -n 10 cmake --build "$build_dir" --target veltrace_bench >/dev/null
fi

work=$(mktemp -d)
export XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[COM]\nCOMPort=COM1\n' >"$work/Veltrace.ini"
export VELTRACE_COM1="$work/scope" VELTRACE_STATS=1 QT_QPA_PLATFORM=xcb
if [ "${MEASUREMENTS:-0}" != 0 ]; then
    export VELTRACE_MEASUREMENTS=1
fi
unset WAYLAND_DISPLAY

xvfb_pid=""
sim_pid=""
app_pid=""
floor_pid=""
cleanup() {
    stop "$app_pid" "$floor_pid" "$sim_pid" "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT

# One display for everything, black root window (-br) so veltrace-winwait can tell an unpainted
# window from a painted one.
start_xvfb -br

start_sim() { # options...
    rm -f "$work/scope"
    "$sim" --link "$work/scope" "$@" >/dev/null 2>"$work/sim.log" &
    sim_pid=$!
    wait_for_device "$work/scope" "$sim_pid" "$work/sim.log"
}
start_veltrace() { # [FRAME_TIMES_FILE]
    (cd "$work" && VELTRACE_FRAME_TIMES="${1:-}" exec "$veltrace" 2>"$work/veltrace.log") &
    app_pid=$!
}
start_floor() { # options...
    "$floor" "$@" 2>"$work/floor.log" &
    floor_pid=$!
}

# One line per thread: tid, name, nanoseconds on a CPU, voluntary and involuntary context
# switches. Nanoseconds from schedstat where the kernel keeps it, else clock ticks from stat.
tick_ns=$((1000000000 / $(getconf CLK_TCK)))
snapshot() { # PID
    local pid=$1 task tid ns
    for task in /proc/"$pid"/task/*; do
        tid=${task##*/}
        if [ -r "$task/schedstat" ]; then
            ns=$(cut -d' ' -f1 "$task/schedstat")
        else
            ns=$(sed 's/.*) //' "$task/stat" | awk -v t="$tick_ns" '{ print ($12 + $13) * t }')
        fi
        printf '%s %s %s %s %s\n' "$tid" "$(tr -c 'A-Za-z0-9_.:\n-' '_' <"$task/comm")" "$ns" \
            "$(sed -n 's/^voluntary_ctxt_switches:\s*//p' "$task/status")" \
            "$(sed -n 's/^nonvoluntary_ctxt_switches:\s*//p' "$task/status")"
    done 2>/dev/null
}
now() { date +%s.%N; }
hwm_kb() { sed -n 's/^VmHWM:\s*\([0-9]*\) kB/\1/p' "/proc/$1/status"; }

# Wake-ups per second of Veltrace's acquisition thread: the thread that names itself
# "acquisition" (a build from before it did: the one thread that is not the main thread and
# carries the process's own name; Qt's threads name themselves). Sets acq_wakeups_s.
acquisition_wakeups() { # PID BEFORE AFTER SECONDS
    acq_wakeups_s=$(awk -v pid="$1" -v s="$4" '
        FNR == NR { vol[$1] = $4; seen[$1] = 1; next }
        $1 != pid && ($2 == "acquisition" || $2 == "veltrace") && ($1 in seen) { v += $4 - vol[$1]; n++ }
        END { if (n == 1) printf "%.1f", v / s; else print "n/a" }' "$2" "$3")
    echo "acquisition thread: $acq_wakeups_s wake-ups/s"
}

# Differences of two snapshots over SECONDS: per thread (with "main" for the thread whose tid is
# the process's) and in total. Sets cpu_pct, wakeups_s and us_per_wakeup of the whole process.
report() { # LABEL PID BEFORE AFTER SECONDS PER_THREAD(0|1)
    local out
    out=$(awk -v pid="$2" -v s="$5" -v per="$6" -v label="$1" '
        FNR == NR { ns[$1] = $3; vol[$1] = $4; inv[$1] = $5; next }
        {
            d = $3 - ns[$1]; v = $4 - vol[$1]; n = $5 - inv[$1];
            T += d; V += v; N += n;
            if (per) {
                name = ($1 == pid ? "main" : $2) " (" $1 ")";
                rows[++r] = sprintf("    %-26s %6.3f %% CPU  %7.1f wake-ups/s  %6.1f preempted/s",
                                    name, 100 * d / 1e9 / s, v / s, n / s);
            }
        }
        END {
            printf "%s: %.3f %% of one core, %.1f wake-ups/s (%.1f preempted/s), %.1f us CPU per wake-up\n",
                   label, 100 * T / 1e9 / s, V / s, N / s, (V > 0 ? T / 1e3 / V : 0);
            for (i = 1; i <= r; ++i) print rows[i];
            printf "=%.4f %.2f %.1f\n", 100 * T / 1e9 / s, V / s, (V > 0 ? T / 1e3 / V : 0);
        }' "$3" "$4")
    printf '%s\n' "$out" | grep -v '^='
    read -r cpu_pct wakeups_s us_per_wakeup <<<"$(printf '%s\n' "$out" | sed -n 's/^=//p')"
}

echo "Veltrace beside the floor, one Xvfb display ($DISPLAY), $(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown), build $build_dir"
echo "Measurements window: $([ -n "${VELTRACE_MEASUREMENTS:-}" ] && echo open || echo closed)"
echo "CPU: time on a CPU of all threads (schedstat), as % of one core over the window."
echo "Wake-ups: voluntary context switches of all threads; preempted: involuntary ones."
echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "== 1. Line rate: veltrace-sim at 2133 bytes/s (a new waveform every frame) and"
echo "==    veltrace-floor at 15.46 pictures/s, side by side, ${window} s after ${warm_up} s of warm-up"
frame_times=()
if "$sim" --help | grep -- '--frame-times' >/dev/null; then
    frame_times=(--frame-times "$work/sim-times")
fi
start_sim "${frame_times[@]}"
start_veltrace "$work/app-times"
start_floor --rate 15.46
sleep "$warm_up"
snapshot "$app_pid" >"$work/app0"
snapshot "$floor_pid" >"$work/floor0"
snapshot "$xvfb_pid" >"$work/x0"
t0=$(now)
sleep "$window"
t1=$(now)
snapshot "$app_pid" >"$work/app1"
snapshot "$floor_pid" >"$work/floor1"
snapshot "$xvfb_pid" >"$work/x1"
app_hwm=$(hwm_kb "$app_pid")
app_main=$app_pid
floor_hwm=$(hwm_kb "$floor_pid")
span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
stop "$app_pid" "$floor_pid"
app_pid=""
floor_pid=""
stop "$sim_pid"
sim_pid=""
report veltrace "$app_main" "$work/app0" "$work/app1" "$span" 1
app_cpu=$cpu_pct
acquisition_wakeups "$app_main" "$work/app0" "$work/app1" "$span"
report veltrace-floor 0 "$work/floor0" "$work/floor1" "$span" 0
floor_cpu=$cpu_pct
report "Xvfb (serving both)" 0 "$work/x0" "$work/x1" "$span" 0
awk -v a="$app_cpu" -v f="$floor_cpu" 'BEGIN {
    if (f > 0) printf "ratio veltrace / floor: %.2f\n", a / f; else print "ratio veltrace / floor: n/a";
}'
echo "peak RSS (VmHWM): veltrace $(awk -v k="$app_hwm" 'BEGIN { printf "%.1f", k / 1024 }') MB," \
    "veltrace-floor $(awk -v k="$floor_hwm" 'BEGIN { printf "%.1f", k / 1024 }') MB"
grep -h '^veltrace' "$work/veltrace.log" "$work/floor.log" "$work/sim.log" || true
if ! grep -q '^veltrace: [1-9][0-9]* frames drawn' "$work/veltrace.log"; then
    echo "measure-floor.sh: veltrace drew no frame; its log:" >&2
    cat "$work/veltrace.log" >&2
    exit 1
fi
echo "wire-to-screen latency:"
if grep -qi 'latency' "$work/veltrace.log"; then
    grep -i 'latency' "$work/veltrace.log" | sed 's/^/    /'
else
    echo "    not reported by this build"
fi
echo "wire-to-window latency, one monotonic clock (simulator's write of a frame's last byte):"
if [ -s "$work/sim-times" ] && [ -s "$work/app-times" ]; then
    wire_latency "$work/sim-times" "$work/app-times"
else
    echo "    not measured: this build's simulator or Veltrace does not stamp frames"
fi

echo
echo "== 2. Port open and silent (veltrace-sim --silent) beside veltrace-floor --rate 0"
echo "==    (one picture, then only its event loop), ${silent_window} s after ${warm_up} s"
start_sim --silent
start_veltrace
start_floor --rate 0
sleep "$warm_up"
snapshot "$app_pid" >"$work/app0"
snapshot "$floor_pid" >"$work/floor0"
t0=$(now)
sleep "$silent_window"
t1=$(now)
snapshot "$app_pid" >"$work/app1"
snapshot "$floor_pid" >"$work/floor1"
app_main=$app_pid
span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
stop "$app_pid" "$floor_pid"
app_pid=""
floor_pid=""
stop "$sim_pid"
sim_pid=""
report "veltrace, silent port" "$app_main" "$work/app0" "$work/app1" "$span" 1
acquisition_wakeups "$app_main" "$work/app0" "$work/app1" "$span"
report "veltrace-floor, idle" 0 "$work/floor0" "$work/floor1" "$span" 0
grep -h '^veltrace: ' "$work/veltrace.log" || true

echo
echo "== 3. Start-up, ${starts} starts each: from the fork to the window mapped (MapNotify of the"
echo "==    top-level window with that title) and to its first paint (first non-black pixel in"
echo "==    the window's middle row, polled every 1 ms); Veltrace with the line-rate stream"
if [ -x "$winwait" ]; then
    median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
    time_starts() { # LABEL TITLE PROGRAM...
        local label=$1 title=$2
        shift 2
        : >"$work/starts"
        for _ in $(seq "$starts"); do
            (cd "$work" && "$winwait" --title "$title" -- "$@" 2>>"$work/winwait.log") \
                >>"$work/starts" || true
            sleep 0.5
        done
        if [ ! -s "$work/starts" ]; then
            echo "$label: no start was timed:"
            sed 's/^/    /' "$work/winwait.log"
            return
        fi
        printf '%s: mapped %s ms, first paint %s ms (median); each: %s\n' "$label" \
            "$(cut -d' ' -f1 "$work/starts" | median)" "$(cut -d' ' -f2 "$work/starts" | median)" \
            "$(awk '{ printf "%s%s/%s", (NR > 1 ? ", " : ""), $1, $2 }' "$work/starts")"
    }
    start_sim
    time_starts veltrace "Veltrace V1.11" "$veltrace"
    stop "$sim_pid"
    sim_pid=""
    time_starts veltrace-floor veltrace-floor "$floor"
else
    echo "not measured: $winwait was not built (it needs xcb, libxcb1-dev)"
fi

if [ "${BENCH:-1}" != 0 ]; then
    echo
    echo "== 4. renderScreen against clearing a 508 x 512 24-bit picture (veltrace_bench, one run,"
    echo "==    medians of 10 repetitions, interleaved so a change in the machine's load hits all)"
    "$bench" --benchmark_filter='^BM_(renderScreen|ClearImageFill|ClearImageCreate|DrawScreenLines|CapturePngSave)$' \
        --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true \
        --benchmark_report_aggregates_only=true 2>/dev/null |
        awk '$1 ~ /_median$/ {
            name = $1; sub(/_median$/, "", name); t[name] = $2; u[name] = $3;
            printf "%-22s %10.1f %s\n", name, $2, $3;
        }
        END {
            if (t["BM_ClearImageFill"] > 0 && u["BM_renderScreen"] == u["BM_ClearImageFill"]) {
                printf "renderScreen / ClearImageFill:   %.2f\n", t["BM_renderScreen"] / t["BM_ClearImageFill"];
                printf "renderScreen / ClearImageCreate: %.2f\n", t["BM_renderScreen"] / t["BM_ClearImageCreate"];
            }
        }'
fi

echo
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
