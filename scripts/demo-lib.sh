# Shared by the scripts that start Veltrace on the simulated scope; sourced, not run.

# Prints PATH made absolute against the repository's top folder ($top).
absolute_path() {
    case "$1" in
    /*) printf '%s\n' "$1" ;;
    *) printf '%s\n' "$top/$1" ;;
    esac
}

# Waits up to 5 s for the simulator (PID) to link its device at DEVICE; on failure prints LOG
# and ends the script.
wait_for_device() {
    local device=$1 pid=$2 log=$3
    for _ in $(seq 100); do
        [ -e "$device" ] && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    [ -e "$device" ] && return 0
    echo "$(basename "$0"): the simulator did not start:" >&2
    cat "$log" >&2
    exit 1
}
