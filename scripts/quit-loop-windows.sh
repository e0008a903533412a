#!/usr/bin/env bash
# Starts veltrace.exe under Wine again and again on a simulated scope (frames arriving, so Quit
# meets a running acquisition thread) and ends each run through File / Quit, with two compile
# jobs running beside it, as on a loaded machine. Prints one line per run and a summary of the
# exit statuses and of how long each start and each end took; exits 1 unless every run opened
# its window and ended with status 0.
#   scripts/quit-loop-windows.sh                 100 runs of build-windows/veltrace.exe
#   RUNS=20 LOAD=0 scripts/quit-loop-windows.sh  fewer runs, no compile jobs
#   PROGRAM=/path/to/veltrace.exe ...            another build of the program (to compare)
#   BUILD_DIR=... WINDOWS_BUILD_DIR=...          the build folders (build/, build-windows/)
#   SKIP_BUILD=1 ...                             use both builds as they are
#   DRIVER=x11 ...                               Wine's X11 driver on a virtual display
#                                                instead of its null driver
# By default the runs use Wine's null graphics driver (no display needed); DRIVER=x11 runs them
# on a virtual display through Wine's X11 driver, as a desktop user's program runs.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
. scripts/demo-lib.sh
packages=(g++ wine wine64 xvfb xauth)
scripts/install-deps.sh "${packages[@]}" >/dev/null
linux_build=$(absolute_path "${BUILD_DIR:-build}")
windows_build=$(absolute_path "${WINDOWS_BUILD_DIR:-build-windows}")
runs=${RUNS:-100}
load=${LOAD:-1}

if [ "${SKIP_BUILD:-0}" != 1 ]; then
    if [ ! -f "$linux_build/build.ninja" ]; then
        cmake -S "$top" -B "$linux_build" -G Ninja -DVELTRACE_BUILD_BENCH=OFF >/dev/null
    fi
    nice -n 10 cmake --build "$linux_build" --target veltrace-sim >/dev/null
    BUILD_DIR=$windows_build SKIP_TESTS=1 scripts/build-windows.sh >/dev/null
fi
program=$(absolute_path "${PROGRAM:-$windows_build/veltrace.exe}")
looper=$windows_build/tests/veltrace-quit-loop.exe

work=$(mktemp -d)
sim_pid=""
load_pids=()
cleanup() {
    for pid in "${load_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The program runs in a folder of its own whose settings file names COM3; COM3 is the
# simulator's pseudo-terminal.
mkdir -p "$work/run" "$windows_build/wine"
printf '[COM]\r\nCOMPort=COM3\r\n' >"$work/run/Veltrace.ini"
cp "$program" "$work/run/veltrace.exe"
link=$windows_build/wine/com3
"$linux_build/tools/veltrace-sim" --link "$link" --wave sine --freq 300 >/dev/null \
    2>"$work/sim.log" &
sim_pid=$!
wait_for_device "$link" "$sim_pid" "$work/sim.log"

# Two compile jobs in a loop beside the runs, each compiling a source that keeps a core busy
# for several seconds.
if [ "$load" != 0 ]; then
    cat >"$work/load.cpp" <<'EOF'
#include <bits/stdc++.h>
#include <regex>
int main() {
    std::map<std::string, std::vector<std::regex>> table;
    table["a"].emplace_back("(a|b)*c+[0-9]{2,5}");
    std::unordered_map<int, std::set<std::string>> other;
    other[1].insert("x");
    return static_cast<int>(table.size() + other.size());
}
EOF
    for _ in 1 2; do
        (while :; do nice g++ -O2 -std=c++20 -c "$work/load.cpp" -o /dev/null; done) &
        load_pids+=($!)
    done
fi

echo "quit-loop: $runs runs of $program (Wine's ${DRIVER:-null} driver); load: $([ "$load" != 0 ] && echo 'two compile jobs' || echo none)"
# Wine sees the whole Linux file system as drive Z:.
windows_program="Z:$(printf '%s' "$work/run/veltrace.exe" | tr / '\\')"
status=0
if [ "${DRIVER:-null}" = x11 ]; then
    (cd "$work/run" && VELTRACE_WINE_DISPLAY=1 VELTRACE_WINE_COM3=$link \
        VELTRACE_WINE_PREFIX_ROOT=$windows_build/wine \
        xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" \
        "$top/scripts/wine-run.sh" "$looper" "$windows_program" "$runs") \
        >"$work/loop.log" 2>&1 || status=$?
else
    (cd "$work/run" && VELTRACE_WINE_COM3=$link \
        VELTRACE_WINE_PREFIX_ROOT=$windows_build/wine \
        "$top/scripts/wine-run.sh" "$looper" "$windows_program" "$runs") \
        >"$work/loop.log" 2>&1 || status=$?
fi
cat "$work/loop.log"
exit $status
