#!/usr/bin/env bash
# Instructions per frame of each Veltrace thread at the line rate, counted by callgrind: Veltrace
# runs under valgrind on a virtual display (an Xvfb this script starts) with veltrace-sim at
# 2133 bytes/s; instrumentation is switched on after the start-up and off again after the
# window, and each thread's instructions in that window are divided by the frames drawn in it
# (callgrind's count of calls of app::redrawCurrentView). User space only: the kernel's part of
# a wake-up or of an X round trip is not in these figures (scripts/measure-floor.sh has that).
# Usage: scripts/measure-callgrind.sh [build-dir]       (default build/, configured already)
#   SECONDS=20 ...          the window counted (default 20)
#   MEASUREMENTS=1 ...      with the Measurements window open
#   KEEP=DIR ...            keep callgrind's files (one per thread) in DIR for callgrind_annotate
set -euo pipefail

window=$(tr '\0' '\n' <"/proc/$$/environ" | sed -n 's/^SECONDS=//p')
window=${window:-20}
start_up=20 # valgrind's own start is slow (12 s was at times too short: nothing counted)

cd "$(dirname "$0")/.."
top=$(pwd)
scripts/install-deps.sh >/dev/null
. scripts/apt-lib.sh
packages=(valgrind)
install_packages "${packages[@]}"
. scripts/demo-lib.sh
build_dir=$(absolute_path "${1:-build}")
nice -n 10 cmake --build "$build_dir" --target veltrace veltrace-sim >/dev/null

work=$(mktemp -d)
export XDG_RUNTIME_DIR="$work/xdg"
mkdir -m 700 "$XDG_RUNTIME_DIR"
printf '[COM]\nCOMPort=COM1\n' >"$work/Veltrace.ini"
export VELTRACE_COM1="$work/scope" VELTRACE_STATS=1 QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY VELTRACE_MEASUREMENTS
if [ "${MEASUREMENTS:-0}" != 0 ]; then
    export VELTRACE_MEASUREMENTS=1
fi

xvfb_pid=""
sim_pid=""
app_pid=""
cleanup() {
    stop "$app_pid" "$sim_pid" "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT

start_xvfb

"$build_dir/tools/veltrace-sim" --link "$work/scope" >/dev/null 2>"$work/sim.log" &
sim_pid=$!
wait_for_device "$work/scope" "$sim_pid" "$work/sim.log"

(cd "$work" && exec valgrind --tool=callgrind --separate-threads=yes --instr-atstart=no \
    --callgrind-out-file="$work/cg.out" "$build_dir/veltrace" 2>"$work/valgrind.log") &
app_pid=$!
sleep "$start_up"
callgrind_control -i on "$app_pid" >/dev/null 2>&1
sleep "$window"
callgrind_control -i off "$app_pid" >/dev/null 2>&1
kill -TERM "$app_pid"
wait "$app_pid" || true
app_pid=""

echo "Veltrace under callgrind, ${window} s at the line rate, Measurements window" \
    "$([ -n "${VELTRACE_MEASUREMENTS:-}" ] && echo open || echo closed)," \
    "commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
# Each file: the instructions of one thread (its last "totals:" line) and the calls it
# made of redrawCurrentView (cfn= lines name a callee, the calls= line after them counts).
frames=0
for file in "$work"/cg.out-*; do
    n=$(awk '
        /^cfn=/ {
            id = $1; sub(/^cfn=/, "", id)
            name = $0; sub(/^cfn=\([0-9]+\) ?/, "", name)
            if (name != "") names[id] = name
            callee = (id in names) ? names[id] : ""
            next
        }
        /^calls=/ { if (callee ~ /veltrace::app::redrawCurrentView\(\)/) { split($1, c, "="); n += c[2] } callee = ""; next }
        END { print n + 0 }' "$file")
    frames=$((frames + n))
done
if [ "$frames" -eq 0 ]; then
    echo "measure-callgrind.sh: no frame drawn in the window; valgrind's log:" >&2
    cat "$work/valgrind.log" >&2
    exit 1
fi
echo "frames drawn in the window: $frames"
for file in "$work"/cg.out-*; do
    thread=${file##*-}
    total=$(awk '/^totals:/ { t = $2 } END { print (t == "" ? 0 : t) }' "$file")
    awk -v t="$thread" -v i="${total:-0}" -v f="$frames" 'BEGIN {
        printf "thread %s%s: %.0f instructions, %.0f per frame\n", t, (t == "01" ? " (GUI)" : ""), i, i / f }'
done
grep -h '^veltrace: ' "$work/valgrind.log" || true
if [ -n "${KEEP:-}" ]; then
    mkdir -p "$KEEP"
    cp "$work"/cg.out-* "$KEEP"/
fi
