#!/usr/bin/env bash
# The Windows build under Wine at the line rate: how often its acquisition thread wakes, and how
# long a frame takes from the wire to the window. Beside scripts/measure-floor.sh, which measures
# the Linux build; this one runs build-windows/veltrace.exe under Wine (its X11 driver, on an Xvfb
# display this script starts) on veltrace-sim's line-rate stream through COM3, for SECONDS
# after a few seconds of warm-up, and prints:
#   1. the acquisition thread's wake-ups a second (voluntary context switches of its Linux
#      task: under Wine each Windows thread is one) and its CPU, beside every other thread of
#      the process; and the program's own count of returns from the system waits of its wait
#      for bytes (its statistics line), a second and a frame, so that the wake-ups Wine's own
#      machinery adds (each call into the Wine server is a wait for its answer) can be told
#      from those the program asks for;
#   2. the wire-to-window latency: from the simulator's write of each frame's last byte to the
#      hand-over of its picture to the window and to its repaint, median, p99 and max over every
#      frame of the run, paired as measure-floor.sh pairs them;
#   3. the port open and silent (veltrace-sim --silent) for SILENT_SECONDS (default 20): the
#      acquisition thread's wake-ups a second and the program's own wait returns and cycles.
#
# Finding the acquisition thread: the program names it "acquisition" (SetThreadDescription on
# Windows); Wine 8 passes a thread's description on to its Linux task, so /proc shows it as the
# task's comm. The script fails rather than guess when no task of the process carries the name.
#
# One clock for both ends: veltrace.exe stamps on std::chrono::steady_clock, which MinGW takes
# from QueryPerformanceCounter; Wine derives that counter (10 MHz) from a Linux monotonic clock,
# which on Debian 12's Wine 8 proved to be CLOCK_MONOTONIC_RAW. Which one is found out on every
# run, not assumed: veltrace-wine-helper.exe prints its steady clock ~300 times, a Linux program
# stamps each line on arrival with both host clocks, and the smallest stamp-minus-line difference
# is the pipe's delay (tens of microseconds) on the right clock, and that delay plus or minus
# the two clocks' distance (the NTP slewing since boot, often hundreds of ms) on the other. The
# simulator then stamps the frames on the clock found (veltrace-sim --frame-clock), so both
# ends are on one clock. The check runs before and after the measurements; the change of that
# smallest difference shows how far the two drifted apart (give or take the pipe's jitter, a
# few microseconds), and the script fails when no host clock is within 2 ms of the program's.
#
# Usage: scripts/measure-wait-windows.sh [linux-build-dir]   (default build/, for veltrace-sim)
#   SECONDS=20 scripts/measure-wait-windows.sh    measuring window of 20 s (default 60)
#   SILENT_SECONDS=10 ...                         silent window (default 20; 0 skips it)
#   WINDOWS_BUILD_DIR=...                         the Windows build (default build-windows/)
#   SKIP_BUILD=1 ...                              use both builds as they are
set -eEuo pipefail

# bash counts SECONDS up from the value it was given: take the one this process was started
# with from its environment as it came in.
window=$(tr '\0' '\n' <"/proc/$$/environ" | sed -n 's/^SECONDS=//p')
window=${window:-60}
silent_window=${SILENT_SECONDS:-20}
warm_up=3

cd "$(dirname "$0")/.."
top=$(pwd)
. scripts/demo-lib.sh
. scripts/windows-demo-lib.sh
packages=(g++ g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth xdotool git)
scripts/install-deps.sh "${packages[@]}" >/dev/null
linux_build=$(absolute_path "${1:-build}")
windows_build=$(absolute_path "${WINDOWS_BUILD_DIR:-build-windows}")
if [ "${SKIP_BUILD:-0}" != 1 ]; then
    windows_demo_prepare
fi

# The two helpers, built for their machines beside the build's own host helpers.
helper=$windows_build/host/veltrace-wine-helper.exe
stamper=$windows_build/host/veltrace-stamp-lines
mkdir -p "$windows_build/host"
if [ ! -x "$helper" ] || [ bench/wine/wine_helper.cpp -nt "$helper" ]; then
    nice -n 10 x86_64-w64-mingw32-g++-posix -std=c++20 -O1 -Wall -Wextra -static \
        -o "$helper" bench/wine/wine_helper.cpp
fi
if [ ! -x "$stamper" ] || [ bench/wine/stamp_lines.cpp -nt "$stamper" ]; then
    nice -n 10 g++ -std=c++20 -O1 -Wall -Wextra -o "$stamper" bench/wine/stamp_lines.cpp
fi

work=$(mktemp -d)
mkdir -p "$work/run" "$windows_build/wine"
printf '[COM]\r\nCOMPort=COM3\r\n' >"$work/run/Veltrace.ini"
link=$windows_build/wine/com3
export VELTRACE_WINE_PREFIX_ROOT=$windows_build/wine

xvfb_pid=""
sim_pid=""
app_pid=""
cleanup() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    "$top/scripts/wine-run.sh" --stop
    stop "$sim_pid" "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
trap 'echo "measure-wait-windows.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR

# A Wine server left running from another display would draw on that one.
"$top/scripts/wine-run.sh" --stop
start_xvfb -br
unset WAYLAND_DISPLAY

run_helper() { # ARGS...: veltrace-wine-helper.exe in the prefix that draws on the display
    (cd "$work/run" && VELTRACE_WINE_DISPLAY=1 "$top/scripts/wine-run.sh" "$helper" "$@")
}

# Finds the host clock under the program's steady clock (see the header). Prints the smallest
# stamp-minus-line difference on each host clock; sets clock_found (raw|monotonic) and
# clock_delay_ms (that smallest difference on the clock found).
clock_check() { # LABEL
    run_helper clock 300 2>>"$work/helper.log" | "$stamper" >"$work/clock-$1"
    local result
    result=$(awk '
        $3 ~ /^[0-9]+$/ {
            m = $1 - $3; r = $2 - $3;
            if (n == 0 || m < mono) mono = m;
            if (n == 0 || r < raw) raw = r;
            ++n;
        }
        END {
            if (n == 0) { print "none"; exit }
            found = "none";
            if (raw >= 0 && raw < 2e6) { found = "raw"; delay = raw }
            if (mono >= 0 && mono < 2e6 && (found == "none" || mono < delay)) { found = "monotonic"; delay = mono }
            printf "%s %.4f %.4f %.4f %d\n", found, (found == "none" ? 0 : delay / 1e6), raw / 1e6, mono / 1e6, n
        }' "$work/clock-$1")
    local raw mono lines
    read -r clock_found clock_delay_ms raw mono lines <<<"$result"
    if [ "$clock_found" = none ]; then
        echo "measure-wait-windows.sh: the program's steady clock is on no host clock within 2 ms:" >&2
        head -n 5 "$work/clock-$1" >&2
        cat "$work/helper.log" >&2
        exit 1
    fi
    echo "clock check $1 ($lines lines): smallest host stamp - program's steady clock:" \
        "CLOCK_MONOTONIC_RAW $raw ms, CLOCK_MONOTONIC $mono ms -> $clock_found"
}

# As measure-floor.sh: one line per thread with tid, name, ns on a CPU, voluntary and
# involuntary context switches. A thread that ends while it is read is left out.
tick_ns=$((1000000000 / $(getconf CLK_TCK)))
snapshot() { # PID
    local pid=$1 task tid ns name voluntary involuntary
    for task in /proc/"$pid"/task/*; do
        tid=${task##*/}
        if [ -r "$task/schedstat" ]; then
            ns=$(cut -d' ' -f1 "$task/schedstat" 2>/dev/null) || continue
        else
            ns=$(sed 's/.*) //' "$task/stat" 2>/dev/null | awk -v t="$tick_ns" '{ print ($12 + $13) * t }') || continue
        fi
        name=$(tr -c 'A-Za-z0-9_.:\n-' '_' <"$task/comm" 2>/dev/null) || continue
        voluntary=$(sed -n 's/^voluntary_ctxt_switches:\s*//p' "$task/status" 2>/dev/null) || continue
        involuntary=$(sed -n 's/^nonvoluntary_ctxt_switches:\s*//p' "$task/status" 2>/dev/null) || continue
        [ -n "$ns" ] && [ -n "$voluntary" ] || continue
        printf '%s %s %s %s %s\n' "$tid" "$name" "$ns" "$voluntary" "$involuntary"
    done
}
# CPU ticks of the whole process, threads that ended included.
process_ticks() { # PID
    sed 's/.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'
}
now() { date +%s.%N; }

# The Linux process that runs the program: the one started, which wine-run.sh and Wine's loader
# take over by exec, so that the program's Windows name becomes its comm.
windows_process() {
    if [ "$(tr -d '\n' <"/proc/$app_pid/comm" 2>/dev/null)" = veltrace.exe ]; then
        printf '%s\n' "$app_pid"
        return 0
    fi
    return 1
}

# Starts veltrace.exe on the simulator at $link, waits for its window and the warm-up, and sets
# pid to the Linux process that runs it; ends the script if either does not come.
start_program() {
    start_windows_program "$work/run" "$link"
    if [ -z "$(main_window_id)" ]; then
        echo "measure-wait-windows.sh: veltrace.exe showed no window; its output:" >&2
        cat "$work/run/wine.log" >&2
        exit 1
    fi
    sleep "$warm_up"
    pid=$(windows_process) || {
        echo "measure-wait-windows.sh: no Linux process runs $work/run/veltrace.exe" >&2
        exit 1
    }
}

# Ends the program through File / Quit and waits for it (30 s at most); sets ended.
quit_program() {
    run_helper quit >/dev/null 2>>"$work/helper.log" || true
    for _ in $(seq 300); do
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    ended=$(now)
    if kill -0 "$app_pid" 2>/dev/null; then
        echo "measure-wait-windows.sh: veltrace.exe did not end within 30 s of File / Quit" >&2
        exit 1
    fi
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

# Per thread over the window (those alive at both ends), the whole process, and the acquisition
# thread, from the snapshots app0 and app1.
threads_report() { # SECONDS
    awk -v s="$1" '
        FNR == NR { ns[$1] = $3; vol[$1] = $4; inv[$1] = $5; next }
        ($1 in ns) {
            d = $3 - ns[$1]; v = $4 - vol[$1]; n = $5 - inv[$1];
            T += d; V += v; N += n;
            rows[++r] = sprintf("    %-26s %6.3f %% CPU  %7.1f wake-ups/s  %6.1f preempted/s",
                                $2 " (" $1 ")", 100 * d / 1e9 / s, v / s, n / s);
            if ($2 == "acquisition") { ++acq; av = v; ad = d }
        }
        END {
            printf "veltrace.exe (%d threads alive throughout): %.3f %% of one core, %.1f wake-ups/s (%.1f preempted/s)\n",
                   r, 100 * T / 1e9 / s, V / s, N / s;
            for (i = 1; i <= r; ++i) print rows[i];
            if (acq == 1)
                printf "acquisition thread: %.1f wake-ups/s, %.3f %% of one core\n", av / s, 100 * ad / 1e9 / s;
            else
                printf "acquisition thread: not found (%d tasks named acquisition)\n", acq;
        }' "$work/app0" "$work/app1"
}

# The Wine server of the prefix the program runs in: it answers the program's calls into Wine, so
# its wake-ups are part of what the program costs.
wine_server_process() {
    local proc
    for proc in /proc/[0-9]*; do
        case "$(tr -d '\n' <"$proc/comm" 2>/dev/null || true)" in
        wineserver*)
            if tr '\0' '\n' <"$proc/environ" 2>/dev/null |
                grep -qxF "WINEPREFIX=$windows_build/wine/display"; then
                printf '%s\n' "${proc#/proc/}"
                return 0
            fi
            ;;
        esac
    done
    return 1
}

echo "veltrace.exe under $(wine --version 2>/dev/null) (X11 driver, Xvfb display $DISPLAY), $(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown), builds $windows_build and $linux_build (veltrace-sim)"
echo "Load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "== One clock: which host clock the program's steady clock (QueryPerformanceCounter) runs on"
clock_check before
clock=$clock_found
delay_before=$clock_delay_ms

echo
echo "== Line rate: veltrace-sim at 2133 bytes/s on COM3 (frames stamped on CLOCK_$(
    [ "$clock" = raw ] && echo MONOTONIC_RAW || echo MONOTONIC)),"
echo "==    ${window} s after the window is shown and ${warm_up} s of warm-up"
start_simulator "$link" "$work/sim.log" --frame-times "$work/sim-times" --frame-clock "$clock"
export VELTRACE_STATS=1 VELTRACE_FRAME_TIMES=app-times
started=$(now)
start_program
server=$(wine_server_process || true)
snapshot "$pid" >"$work/app0"
process_ticks0=$(process_ticks "$pid")
[ -z "$server" ] || snapshot "$server" >"$work/server0"
t0=$(now)
sleep "$window"
t1=$(now)
snapshot "$pid" >"$work/app1"
process_ticks1=$(process_ticks "$pid")
[ -z "$server" ] || snapshot "$server" >"$work/server1"
span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
quit_program
kill -TERM "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=""

threads_report "$span"
# The threads above are those alive at both ends of the window; the process's own count keeps the
# time of threads that ended too, so the two agreeing means no thread came and went unseen.
awk -v a="$process_ticks0" -v b="$process_ticks1" -v t="$(getconf CLK_TCK)" -v s="$span" 'BEGIN {
    printf "veltrace.exe by its /proc/PID/stat (threads that ended included): %.3f %% of one core\n", 100 * (b - a) / t / s;
}'
if [ -n "$server" ]; then
    awk -v s="$span" '
        FNR == NR { ns[$1] = $3; vol[$1] = $4; next }
        ($1 in ns) { T += $3 - ns[$1]; V += $4 - vol[$1] }
        END { printf "Wine server of the prefix: %.3f %% of one core, %.1f wake-ups/s\n", 100 * T / 1e9 / s, V / s }' \
        "$work/server0" "$work/server1"
else
    echo "Wine server of the prefix: not found"
fi
grep -h '^veltrace' "$work/run/wine.log" "$work/sim.log" || true
stats=$(grep -h '^veltrace: [0-9]* frames drawn' "$work/run/wine.log" || true)
if [ -z "$stats" ]; then
    echo "measure-wait-windows.sh: veltrace.exe printed no statistics; its output:" >&2
    cat "$work/run/wine.log" >&2
    exit 1
fi
# The program's own returns from its waits, over its whole run (start to Quit).
printf '%s\n' "$stats" | awk -v a="$started" -v b="$ended" '{
    frames = $2; cycles = 0; waits = 0;
    for (i = 1; i <= NF; ++i) {
        if ($(i + 1) == "acquisition" && $(i + 2) == "cycles,") cycles = $i;
        if ($(i + 1) == "returns" && $(i + 3) == "the" && $(i + 4) == "port\047s") waits = $i;
    }
    s = b - a;
    printf "the program'\''s own returns from its waits for bytes: %.1f a second over its run of %.1f s, %.2f a frame; %.2f acquisition cycles a frame\n",
           waits / s, s, (frames > 0 ? waits / frames : 0), (frames > 0 ? cycles / frames : 0);
}'
echo "wire-to-window latency, one clock (the simulator's write of a frame's last byte):"
if [ -s "$work/sim-times" ] && [ -s "$work/run/app-times" ]; then
    wire_latency "$work/sim-times" "$work/run/app-times"
else
    echo "    not measured: no frame times from $([ -s "$work/sim-times" ] && echo veltrace.exe || echo the simulator)"
fi

if [ "$silent_window" != 0 ]; then
    echo
    echo "== Port open and silent (veltrace-sim --silent), ${silent_window} s after the window and ${warm_up} s"
    start_simulator "$link" "$work/sim.log" --silent
    : >"$work/run/wine.log"
    started=$(now)
    start_program
    snapshot "$pid" >"$work/app0"
    process_ticks0=$(process_ticks "$pid")
    t0=$(now)
    sleep "$silent_window"
    t1=$(now)
    snapshot "$pid" >"$work/app1"
    process_ticks1=$(process_ticks "$pid")
    span=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    quit_program
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
    sim_pid=""
    awk -v a="$process_ticks0" -v b="$process_ticks1" -v t="$(getconf CLK_TCK)" -v s="$span" 'BEGIN {
        printf "veltrace.exe by its /proc/PID/stat, silent port: %.3f %% of one core\n", 100 * (b - a) / t / s;
    }'
    threads_report "$span"
    stats=$(grep -h '^veltrace: [0-9]* frames drawn' "$work/run/wine.log" || true)
    printf '%s\n' "$stats"
    printf '%s\n' "$stats" | awk -v a="$started" -v b="$ended" '{
        cycles = 0; waits = 0;
        for (i = 1; i <= NF; ++i) {
            if ($(i + 1) == "acquisition" && $(i + 2) == "cycles,") cycles = $i;
            if ($(i + 1) == "returns") waits = $i;
        }
        s = b - a;
        printf "the program'\''s own, silent port: %.1f returns from its waits and %.1f acquisition cycles a second over its run of %.1f s\n",
               waits / s, cycles / s, s;
    }'
fi

echo
clock_check after
if [ "$clock_found" != "$clock" ]; then
    echo "measure-wait-windows.sh: the program's clock moved from $clock to $clock_found during the run" >&2
    exit 1
fi
awk -v a="$delay_before" -v b="$clock_delay_ms" 'BEGIN {
    printf "the program'\''s clock and the host clock found moved apart by at most %.4f ms over the run (change of the smallest difference)\n", (b > a ? b - a : a - b);
}'
echo
echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
