#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix, for ctest and the scripts.
#   scripts/wine-run.sh PROGRAM.exe [ARGS...]   run it (the prefix is made on first use)
#   scripts/wine-run.sh --stop                  end the prefix's Wine server
# The prefix lives in $VELTRACE_WINE_PREFIX_ROOT (default: build-windows/wine) and uses the null
# graphics driver, so windows open without any display. One wineserver is kept running between
# programs: starting Wine afresh for every test costs seconds each. With VELTRACE_WINE_DISPLAY=1
# a second prefix drives the real X display (for screenshots).
# COM ports: VELTRACE_WINE_COM<n>=/path maps COM<n> to that device (usually a link to a
# pseudo-terminal).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=${VELTRACE_WINE_PREFIX_ROOT:-$here/build-windows/wine}
if [ "${VELTRACE_WINE_DISPLAY:-0}" = 1 ]; then
    prefix=$root/display
else
    prefix=$root/null
fi
export WINEPREFIX=$prefix WINEDEBUG=${WINEDEBUG:--all} WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="

if [ "${1:-}" = --stop ]; then
    for p in "$root"/*/; do
        [ -d "$p" ] && WINEPREFIX=${p%/} wineserver -k 2>/dev/null || true
    done
    exit 0
fi

if [ ! -f "$prefix/.veltrace-ready" ]; then
    mkdir -p "$root"
    exec 9>"$root/.lock"
    flock 9
    if [ ! -f "$prefix/.veltrace-ready" ]; then
        wineserver -p >/dev/null 2>&1 || true
        wineboot --init >/dev/null 2>&1 || true
        if [ "${VELTRACE_WINE_DISPLAY:-0}" != 1 ]; then
            wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
        fi
        # The desktop process wineboot started still has the old driver: start afresh.
        wineserver -k >/dev/null 2>&1 || true
        touch "$prefix/.veltrace-ready"
    fi
    flock -u 9
fi

# Wine's mount manager makes dosdevices/com<n> from the registry when its services start, and
# puts back its own links over any made by hand: a new mapping takes a restart of the server.
remap=0
for n in $(seq 1 16); do
    variable=VELTRACE_WINE_COM$n
    if [ -n "${!variable:-}" ] && [ "$(readlink "$prefix/dosdevices/com$n" 2>/dev/null)" != "${!variable}" ]; then
        wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "${!variable}" /f >/dev/null 2>&1
        remap=1
    fi
done
if [ $remap = 1 ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
fi

# A persistent server: later programs start in a fraction of a second. Its background services
# are started here with nowhere to write: started by the program below they would inherit its
# output, and a caller reading that (ctest) would wait for them for ever.
wineserver -p >/dev/null 2>&1 || true
wineboot >/dev/null 2>&1 </dev/null || true
exec wine "$@"
