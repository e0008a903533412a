# Shared by the scripts that run veltrace.exe under Wine on a virtual display beside the Linux
# build; sourced, not run. The caller sets $top (the repository), $linux_build and
# $windows_build (absolute build folders) and runs these inside an X display (xvfb-run).

# Installs what the scripts use and brings both builds up to date: the Linux programs (veltrace
# and veltrace-sim) and veltrace.exe.
windows_demo_prepare() {
    "$top/scripts/install-deps.sh" xdotool >/dev/null
    if [ ! -f "$linux_build/build.ninja" ]; then
        cmake -S "$top" -B "$linux_build" -G Ninja -DVELTRACE_BUILD_BENCH=OFF >/dev/null
    fi
    nice -n 10 cmake --build "$linux_build" --target veltrace veltrace-sim >/dev/null
    BUILD_DIR=$windows_build SKIP_TESTS=1 "$top/scripts/build-windows.sh" >/dev/null
}

# Starts veltrace-sim with the given options on a pseudo-terminal linked at LINK; sets sim_pid.
#   start_simulator LINK LOG [OPTIONS...]
start_simulator() {
    local link=$1 log=$2
    shift 2
    "$linux_build/tools/veltrace-sim" --link "$link" "$@" >/dev/null 2>"$log" &
    sim_pid=$!
    wait_for_device "$link" "$sim_pid" "$log"
}

# Starts veltrace.exe under Wine, in the prefix that draws on the X display, in FOLDER (whose
# Veltrace.ini names COM3) with COM3 mapped to LINK; sets app_pid. Wine's mount manager keeps
# dosdevices/com3 pointing at the registry's entry, so the link's own path never changes and only
# what it points at does.
#   start_windows_program FOLDER LINK
start_windows_program() {
    local folder=$1 link=$2
    (cd "$folder" && VELTRACE_WINE_DISPLAY=1 VELTRACE_WINE_COM3=$link \
        VELTRACE_WINE_PREFIX_ROOT=$windows_build/wine \
        exec "$top/scripts/wine-run.sh" "$windows_build/veltrace.exe") >"$folder/wine.log" 2>&1 &
    app_pid=$!
}

# Starts the Linux program in FOLDER (whose Veltrace.ini names COM1) with COM1 at LINK; sets
# app_pid.
#   start_linux_program FOLDER LINK
start_linux_program() {
    local folder=$1 link=$2
    (cd "$folder" && VELTRACE_COM1=$link QT_QPA_PLATFORM=xcb exec "$linux_build/veltrace") \
        >"$folder/veltrace.log" 2>&1 &
    app_pid=$!
}

# Prints the X window of the main window once it is shown (120 s at most: a new Wine prefix is made
# first). While a new prefix starts, Wine's own processes make and destroy windows; xdotool ends
# with BadWindow when one goes away during its search, so each search is one try of many.
main_window_id() {
    local found=""
    for _ in $(seq 240); do
        found=$(xdotool search --onlyvisible --name '^Veltrace V1\.11$' 2>/dev/null | head -n 1) || true
        [ -n "$found" ] && break
        sleep 0.5
    done
    printf '%s\n' "$found"
}

# Ends the program started last (and, for the Windows one, its Wine server).
stop_program() {
    if [ -n "${app_pid:-}" ] && kill -0 "$app_pid" 2>/dev/null; then
        kill "$app_pid" 2>/dev/null || true
        wait "$app_pid" 2>/dev/null || true
    fi
    app_pid=""
    VELTRACE_WINE_PREFIX_ROOT=$windows_build/wine "$top/scripts/wine-run.sh" --stop
}
