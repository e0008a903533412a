#!/usr/bin/env bash
# Holds veltrace.exe under Wine to the Linux build's pixels: both builds, one after the other on
# one virtual display, get the same still frame from their own simulated scope (veltrace-sim
# --still: every frame the same, so it does not matter when a picture is taken), and are driven
# with xdotool as a person would: the first screen, the cursor lines (#), a CAPTURE, the four
# strips (1CH<->4CH) and a CAPTURE there. Then:
#   - each capture file of the Windows build is the Linux build's, byte for byte;
#   - what each picture display shows (inside its edge) is the same pixels in both builds;
#   - in each build the screen shows the picture the capture holds, outside the capture text.
#   scripts/compare-windows.sh               prints one line per check, fails on a difference
#   KEEP=folder scripts/compare-windows.sh   keeps the screenshots and captures there
#   BUILD_DIR=... WINDOWS_BUILD_DIR=...      the build folders (build/, build-windows/)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
. scripts/demo-lib.sh
. scripts/windows-demo-lib.sh

linux_build=$(absolute_path "${BUILD_DIR:-build}")
windows_build=$(absolute_path "${WINDOWS_BUILD_DIR:-build-windows}")
windows_demo_prepare

work=$(mktemp -d)
sim_pid=""
app_pid=""
cleanup() {
    stop_program
    if [ -n "$sim_pid" ] && kill -0 "$sim_pid" 2>/dev/null; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
    fi
    if [ -n "${KEEP:-}" ]; then
        mkdir -p "$KEEP"
        cp "$work"/out/* "$KEEP"/ 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$work/linux" "$work/windows" "$work/out"
printf '[COM]\r\nCOMPort=COM1\r\n' >"$work/linux/Veltrace.ini"
printf '[COM]\r\nCOMPort=COM3\r\n' >"$work/windows/Veltrace.ini"
# A trace with steep edges and flat runs, so lines of every slope are drawn.
still=(--still --wave triangle --freq 700 --amplitude 45 --offset 60 --timebase 6)
start_simulator "$work/linux/scope" "$work/linux/sim.log" "${still[@]}"
linux_sim=$sim_pid
windows_link=$windows_build/wine/com3
mkdir -p "$windows_build/wine"
start_simulator "$windows_link" "$work/windows/sim.log" "${still[@]}"

export top linux_build windows_build work windows_link
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c '
    set -euo pipefail
    . "$top/scripts/windows-demo-lib.sh"
    # Controls in the area below the menu bar; the menu bar is about 20 rows on both, and a
    # click lands in the middle of a button, so a few rows either way do not matter.
    click() { xdotool mousemove --window "$window" "$1" $(($2 + 20)) click 1; sleep 1.5; }
    # Waits for the capture file the last CAPTURE wrote and moves it to NAME.
    take_capture() {
        for _ in $(seq 50); do
            found=$(find "$folder" -maxdepth 1 -iname "*.png" | head -n 1)
            if [ -n "$found" ]; then
                sleep 0.3
                mv "$found" "$work/out/$1"
                return 0
            fi
            sleep 0.1
        done
        echo "compare-windows.sh: $label: CAPTURE wrote no file" >&2
        exit 1
    }
    run() {
        label=$1
        folder=$work/$label
        if [ "$label" = linux ]; then
            start_linux_program "$folder" "$folder/scope"
        else
            start_windows_program "$folder" "$windows_link"
        fi
        window=$(main_window_id)
        if [ -z "$window" ]; then
            echo "compare-windows.sh: $label: no window" >&2
            cat "$folder"/*.log >&2
            exit 1
        fi
        sleep 3
        import -window "$window" "$work/out/$label-first.png"
        click 772 22        # # (both cursor pairs)
        import -window "$window" "$work/out/$label-cursors.png"
        click 742 212       # CAPTURE
        take_capture "$label-capture-one.png"
        click 742 92        # 1CH<->4CH
        import -window "$window" "$work/out/$label-strips.png"
        click 742 212       # CAPTURE
        take_capture "$label-capture-strip.png"
        stop_program
    }
    run linux
    run windows
'
kill "$linux_sim" 2>/dev/null || true

out=$work/out
failures=0
check() { # DESCRIPTION COMMAND...
    if "${@:2}" >/dev/null 2>&1; then
        echo "same: $1"
    else
        echo "DIFFERENT: $1"
        failures=$((failures + 1))
    fi
}
# Pixels that differ between two images (0 for the same pixels).
differing() { compare -metric AE "$1" "$2" null: 2>&1 || true; }
crop() { convert "$1" -crop "$2" +repage "$3"; }

# The menu bar's height in a screenshot: the offset at which the screen shows the capture's
# picture, compared over the rows the capture text leaves alone.
menu_height() {
    local shot=$1 capture=$2 m
    crop "$capture" 504x450+0+30 "$work/capture-band.png"
    for m in $(seq 10 40); do
        crop "$shot" "504x450+12+$((12 + 30 + m))" "$work/shot-band.png"
        if [ "$(differing "$work/shot-band.png" "$work/capture-band.png")" = 0 ]; then
            echo "$m"
            return 0
        fi
    done
    echo none
}

check "capture of the one-channel view with cursors (file bytes)" \
    cmp "$out/linux-capture-one.png" "$out/windows-capture-one.png"
check "capture of a strip in the four-channel view (file bytes)" \
    cmp "$out/linux-capture-strip.png" "$out/windows-capture-strip.png"
for label in linux windows; do
    menu=$(menu_height "$out/$label-cursors.png" "$out/$label-capture-one.png")
    if [ "$menu" = none ]; then
        echo "DIFFERENT: $label: the screen does not show the captured picture"
        failures=$((failures + 1))
        continue
    fi
    echo "same: $label: the screen shows the captured picture (menu bar $menu rows)"
    # What each picture display shows inside its 2-pixel edge.
    crop "$out/$label-first.png" "504x508+12+$((12 + menu))" "$work/$label-first-screen.png"
    crop "$out/$label-cursors.png" "504x508+12+$((12 + menu))" "$work/$label-cursors-screen.png"
    for c in 0 1 2 3; do
        crop "$out/$label-strips.png" "508x124+12+$((12 + menu + 133 * c))" \
            "$work/$label-strip-$c.png"
    done
done
same_pixels() { [ "$(differing "$1" "$2")" = 0 ]; }
check "first screen (one-channel picture)" \
    same_pixels "$work/linux-first-screen.png" "$work/windows-first-screen.png"
check "cursor lines (one-channel picture with both cursor pairs)" \
    same_pixels "$work/linux-cursors-screen.png" "$work/windows-cursors-screen.png"
for c in 0 1 2 3; do
    check "strip $((c + 1)) of the four-channel view" \
        same_pixels "$work/linux-strip-$c.png" "$work/windows-strip-$c.png"
done
# The pictures must show something: two black pictures would be the same pixels too.
trace_pixels=$(convert "$work/windows-first-screen.png" -fill black +opaque '#FFFF00' \
    -fill white -opaque '#FFFF00' -format '%[fx:round(mean*w*h)]' info:)
check "the first screen shows the trace ($trace_pixels trace pixels)" test "$trace_pixels" -gt 500
if [ "$failures" -ne 0 ]; then
    echo "compare-windows.sh: $failures difference(s) from the Linux build" >&2
    exit 1
fi
echo "compare-windows.sh: veltrace.exe draws the same pixels as the Linux build"
