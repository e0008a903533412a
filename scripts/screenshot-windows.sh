#!/usr/bin/env bash
# Takes a screenshot of veltrace.exe under Wine on a virtual display (Xvfb), live from the
# simulated scope through COM3: veltrace-sim (the Linux build's) makes a pseudo-terminal, Wine's
# registry maps COM3 to a fixed link to it, and veltrace.exe starts in a folder whose
# Veltrace.ini names COM3.
#   scripts/screenshot-windows.sh                       docs/screenshot-windows.png
#   scripts/screenshot-windows.sh out.png --wave square options after the file go to veltrace-sim
#   SECONDS_LIVE=6 scripts/screenshot-windows.sh        how long the trace runs before the shot
#   BUILD_DIR=... WINDOWS_BUILD_DIR=...                 the build folders (build/, build-windows/)
# Builds what is missing and installs what it needs.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
. scripts/demo-lib.sh
. scripts/windows-demo-lib.sh

shot=$(absolute_path "${1:-docs/screenshot-windows.png}")
[ $# -gt 0 ] && shift
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
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

printf '[COM]\r\nCOMPort=COM3\r\n' >"$work/Veltrace.ini"
link=$windows_build/wine/com3
mkdir -p "$windows_build/wine"
start_simulator "$link" "$work/sim.log" "$@"
mkdir -p "$(dirname "$shot")"
rm -f "$shot"

export top linux_build windows_build work link shot seconds="${SECONDS_LIVE:-4}"
# No window manager: the shot is the window's own area (the menu bar and the controls).
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash -c '
    set -euo pipefail
    . "$top/scripts/windows-demo-lib.sh"
    start_windows_program "$work" "$link"
    trap stop_program EXIT
    window=$(main_window_id)
    if [ -z "$window" ]; then
        echo "screenshot-windows.sh: veltrace.exe showed no window:" >&2
        cat "$work/wine.log" >&2
        exit 1
    fi
    sleep "$seconds"
    import -window "$window" "$shot"
'
echo "Screenshot: $shot"
