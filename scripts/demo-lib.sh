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

# PID...: SIGTERM, then wait for each (empty ones are skipped).
stop() {
    for pid in "$@"; do
        [ -n "$pid" ] || continue
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
}

# Starts an Xvfb on a free display (-displayfd picks the number) with its log in $work/xvfb.log,
# sets xvfb_pid and exports DISPLAY; further Xvfb options as arguments. Ends the script with the
# log when no display comes up.
start_xvfb() {
    exec 3>"$work/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp "$@" >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    exec 3>&-
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        sleep 0.05
    done
    if [ ! -s "$work/display" ]; then
        echo "$(basename "$0"): Xvfb did not start:" >&2
        cat "$work/xvfb.log" >&2
        exit 1
    fi
    export DISPLAY=":$(head -n 1 "$work/display")"
}

# Wire to window: pairs each hand-over Veltrace logged with the last frame end the simulator
# wrote before it (frames are 65 ms apart at the line rate, the latencies far shorter), and each
# repaint with the frame end of the picture it painted. The first few frames are left out: the
# stream starts in the middle of a frame. Prints median and p99 of both.
wire_latency() { # SIM_TIMES APP_TIMES
    awk '
        FNR == NR { sim[++ns] = $1; next }
        $1 == "handover" { if (++h > 3) hand[++nh] = $2; next }
        $1 == "paint" { pnt[++np] = $2 " " $3 }
        function quantiles(v, n, label,   i, j, t) {
            for (i = 2; i <= n; ++i) { t = v[i]; for (j = i - 1; j >= 1 && v[j] > t; --j) v[j + 1] = v[j]; v[j + 1] = t }
            if (n == 0) { printf "    %s: no frames\n", label; return }
            printf "    %s: %.3f ms median, %.3f ms p99, %.3f ms max (%d frames)\n", label,
                   v[int((n + 1) / 2)] / 1e6, v[int(0.99 * n + 0.999999)] / 1e6, v[n] / 1e6, n
        }
        END {
            k = 1; unpaired = 0
            for (i = 1; i <= nh; ++i) {
                while (k < ns && sim[k + 1] <= hand[i]) ++k
                d = hand[i] - sim[k]
                if (sim[k] > hand[i] || d > 65e6) { ++unpaired; continue }
                lat[++nl] = d; wire[hand[i]] = sim[k]
            }
            for (i = 1; i <= np; ++i) {
                split(pnt[i], f, " ")
                if (f[2] in wire) plat[++npl] = f[1] - wire[f[2]]
            }
            quantiles(lat, nl, "last byte written -> picture handed to the window")
            quantiles(plat, npl, "last byte written -> window repainted")
            if (unpaired) printf "    %d hand-overs without a frame end written in the 65 ms before\n", unpaired
        }' "$1" "$2"
}
