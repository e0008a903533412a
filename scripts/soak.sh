#!/usr/bin/env bash
# A soak run: the sanitizer build of Veltrace on a virtual display, fed by the simulated scope at
# its fastest with corrupted bytes, while seeded random clicks hit every control, drag the cursor
# lines, take captures and open the port dialog and the About window. It fails on any sanitizer
# report, a crash, a hang on exit, or resident memory that keeps growing over the run.
#   scripts/soak.sh                    5 minutes
#   SOAK_MINUTES=1 SOAK_SEED=7 scripts/soak.sh
# Needs xvfb-run (xvfb, xauth) and xdotool; builds build-asan/ (AddressSanitizer +
# UndefinedBehaviorSanitizer) when it is not there.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
. scripts/demo-lib.sh

minutes=${SOAK_MINUTES:-5}
seed=${SOAK_SEED:-1}
build_dir=$(absolute_path "${BUILD_DIR:-build-asan}")

if [ -z "${SOAK_UNDER_XVFB:-}" ]; then
    scripts/install-deps.sh xdotool
    for tool in xvfb-run xdotool; do
        if ! command -v "$tool" >/dev/null; then
            echo "soak.sh: '$tool' is missing (packages xvfb, xauth, xdotool)" >&2
            exit 1
        fi
    done
    if [ ! -f "$build_dir/build.ninja" ]; then
        cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DVELTRACE_SANITIZE=address,undefined -DVELTRACE_BUILD_BENCH=OFF \
            -DVELTRACE_BUILD_TESTS=OFF >/dev/null
    fi
    cmake --build "$build_dir" --target veltrace veltrace-sim >/dev/null
    exec env SOAK_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$@"
fi

work=$(mktemp -d)
sim_pid=""
app_pid=""
cleanup() {
    for pid in $app_pid $sim_pid; do
        kill -KILL "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    export XDG_RUNTIME_DIR="$work/xdg"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
fi

"$build_dir/tools/veltrace-sim" --link "$work/scope" --fast --corrupt 0.05 --seed "$seed" \
    >/dev/null 2>"$work/sim.log" &
sim_pid=$!
wait_for_device "$work/scope" "$sim_pid" "$work/sim.log"

printf '[COM]\r\nCOMPort=COM1\r\n' >"$work/Veltrace.ini"
mkdir "$work/reports"
# A small quarantine keeps AddressSanitizer's own memory flat, so growth is the program's.
export ASAN_OPTIONS="log_path=$work/reports/asan:quarantine_size_mb=16:detect_leaks=1"
export UBSAN_OPTIONS="log_path=$work/reports/ubsan:print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$top/.ci/lsan.supp"
export VELTRACE_COM1="$work/scope" VELTRACE_STATS=1 QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY
(cd "$work" && exec "$build_dir/veltrace" 2>"$work/veltrace.log") &
app_pid=$!
sleep 3
if ! kill -0 "$app_pid" 2>/dev/null; then
    echo "soak.sh: veltrace did not start:" >&2
    cat "$work/veltrace.log" >&2
    exit 1
fi

# Without a window manager the main window's area starts at (100, 150) and its controls 19 rows
# lower, below the menu bar; the port dialog's Ok button lies at (500, 402).
RANDOM=$seed
click() { xdotool mousemove "$1" "$2" click 1; }
control() { click $((100 + $1)) $((169 + $2)); }
rss_kb() { sed -n 's/^VmRSS:[[:space:]]*\([0-9]*\).*/\1/p' "/proc/$app_pid/status"; }

end=$((SECONDS + 60 * minutes))
actions=0
samples=()
next_sample=$SECONDS
while [ "$SECONDS" -lt "$end" ]; do
    if ! kill -0 "$app_pid" 2>/dev/null; then
        echo "soak.sh: veltrace ended during the run" >&2
        break
    fi
    case $((RANDOM % 20)) in
    0) control 742 132 ;;                                  # HOLD
    1) control 742 172 ;;                                  # SINGLE SHOT
    2) control 742 92 ;;                                   # 1CH<->4CH
    3) control 712 22 ;;                                   # =
    4) control 742 22 ;;                                   # ||
    5) control 772 22 ;;                                   # #
    6) control 720 52 ;;                                   # GR_H
    7) control 765 52 ;;                                   # GR_V
    8) control 742 212 ;;                                  # CAPTURE
    9) control 565 $((20 + 133 * (RANDOM % 4))) ;;         # CH1..CH4
    10 | 11 | 12) control $((2 + RANDOM % 520)) $((2 + RANDOM % 540)) ;; # grab or let go
    13 | 14 | 15 | 16) xdotool mousemove $((100 + RANDOM % 560)) $((169 + RANDOM % 560)) ;; # drag
    17) click 115 159; sleep 0.2; click 140 178; sleep 0.4; click 500 402 ;; # port dialog, Ok
    18) click 145 159; sleep 0.2; click 165 178 ;;         # ? / About
    19) rm -f "$work"/*.PNG ;;                             # captures pile up otherwise
    esac
    actions=$((actions + 1))
    sleep 0.0$((RANDOM % 9 + 1))
    if [ "$SECONDS" -ge "$next_sample" ]; then
        samples+=("$(rss_kb)")
        next_sample=$((SECONDS + 5))
    fi
done

status=0
if kill -0 "$app_pid" 2>/dev/null; then
    kill -TERM "$app_pid"
    for _ in $(seq 100); do
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$app_pid" 2>/dev/null; then
        echo "soak.sh: veltrace did not end within 10 s of SIGTERM (a hang on exit)" >&2
        status=1
    fi
fi
exit_code=0
wait "$app_pid" || exit_code=$?
app_pid=""
if [ "$exit_code" -ne 0 ]; then
    echo "soak.sh: veltrace ended with status $exit_code" >&2
    status=1
fi
if compgen -G "$work/reports/*" >/dev/null; then
    echo "soak.sh: sanitizer reports:" >&2
    cat "$work"/reports/* >&2
    status=1
fi

# Memory: the median of the last quarter of the samples against the median of the second one
# (the first quarter is warm-up: fonts, images, the port dialog's first opening).
count=${#samples[@]}
if [ "$count" -ge 8 ]; then
    median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }
    quarter=$((count / 4))
    early=$(median "${samples[@]:quarter:quarter}")
    late=$(median "${samples[@]:count-quarter:quarter}")
    echo "RSS (kB): samples ${samples[*]}"
    echo "RSS median: second quarter $early kB, last quarter $late kB"
    if [ "$late" -gt $((early + early / 10 + 4096)) ]; then
        echo "soak.sh: resident memory grew over the run" >&2
        status=1
    fi
else
    echo "soak.sh: too short a run to judge memory ($count samples)"
fi
echo "actions: $actions in $minutes min, seed $seed"
tail -n 1 "$work/veltrace.log"
cat "$work/sim.log"
[ "$status" -eq 0 ] && echo "soak.sh: passed"
exit "$status"
