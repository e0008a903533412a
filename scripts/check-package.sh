#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh made, as a user's machine would meet it:
#   - its control fields (name, version of the project, maintainer, description, dependencies
#     worked out from the binaries) and that apt could resolve those dependencies;
#   - its contents: every file of build-package/installed-files.txt, nothing outside /usr;
#   - the desktop entry (desktop-file-validate) and the manual pages (man --warnings, 80 columns);
#   - the package unpacked into a fresh root: `veltrace --version` runs, and the desktop entry,
#     launched from / by GLib's launcher as a menu would, runs Veltrace in the home folder, where
#     it reads Veltrace.ini and takes frames from the unpacked veltrace-sim.
# Fails on the first group of faults. Usage: scripts/check-package.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
scripts/install-deps.sh desktop-file-utils man-db libglib2.0-bin
build_dir=${1:-build-package}
packages=("$build_dir"/veltrace_*.deb)
deb=${packages[0]}
if [ ${#packages[@]} -ne 1 ] || [ ! -f "$deb" ]; then
    echo "check-package: no single veltrace_*.deb in $build_dir (run scripts/package.sh)" >&2
    exit 1
fi
expected_list="$build_dir/installed-files.txt"
work=$(realpath "$(mktemp -d)")
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
    echo "check-package: $*" >&2
    failures=$((failures + 1))
}
stop_if_failed() {
    if [ "$failures" -gt 0 ]; then
        echo "check-package: $deb: $failures fault(s)" >&2
        exit 1
    fi
}

echo "== $deb ($(du -k "$deb" | cut -f1) KiB)"

# ---- Control fields
version=$(sed -n 's/^project(Veltrace VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = veltrace ] || fail "Package is '$(field Package)', not veltrace"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', the project's is $version"
[ -n "$(field Maintainer)" ] || fail "no Maintainer field"
description=$(field Description)
[ "$(printf '%s\n' "$description" | wc -l)" -gt 2 ] || fail "no long Description: '$description'"
long_lines=$(printf '%s\n' "$description" | awk 'length > 79' | head -n 3)
[ -z "$long_lines" ] || fail "Description lines of 80 columns or more: $long_lines"
depends=$(field Depends)
for library in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libpng16-16; do
    [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library: '$depends'"
done
if ! apt-get install --simulate --no-install-recommends "$(realpath "$deb")" \
        >"$work/apt.log" 2>&1; then
    cat "$work/apt.log" >&2
    fail "apt cannot resolve the package's dependencies"
fi
dpkg-deb -f "$deb" Package Version Architecture Installed-Size Maintainer Depends Recommends
stop_if_failed

# ---- Contents
dpkg-deb -c "$deb" | awk '{print $6}' | sed 's|^\./|/|; s|/$||' | grep -v '^$' >"$work/contents"
outside=$(grep -v '^/usr\(/\|$\)' "$work/contents" || true)
[ -z "$outside" ] || fail "files outside /usr: $outside"
while IFS= read -r path; do
    [ -n "$path" ] || continue
    grep -qx "/usr/$path" "$work/contents" || fail "the package lacks /usr/$path"
done <"$expected_list"
stop_if_failed
echo "contents: all $(grep -c . "$expected_list") expected files, nothing outside /usr"

# ---- Unpacked into a fresh root
root="$work/root"
dpkg-deb -x "$deb" "$root"

entry="$root/usr/share/applications/veltrace.desktop"
if ! desktop-file-validate "$entry" >"$work/validate.log" 2>&1 || grep -qE 'error|warning' "$work/validate.log"; then
    cat "$work/validate.log" >&2
    fail "desktop-file-validate does not accept the desktop entry"
fi
stop_if_failed
echo "desktop entry: accepted by desktop-file-validate"

for program in "$root"/usr/bin/*; do
    name=$(basename "$program")
    page="$root/usr/share/man/man1/$name.1.gz"
    if [ ! -f "$page" ]; then
        fail "$name has no manual page"
        continue
    fi
    if ! MANWIDTH=80 man --warnings -l "$page" >"$work/page.txt" 2>"$work/man.log" ||
            [ -s "$work/man.log" ]; then
        cat "$work/man.log" >&2
        fail "man --warnings complains about $name.1"
    elif ! grep -q "^NAME" "$work/page.txt"; then
        fail "$name.1 renders without a NAME section"
    fi
done
stop_if_failed
echo "manual pages: $(ls "$root"/usr/share/man/man1 | tr '\n' ' ')render without warnings"

reported=$("$root/usr/bin/veltrace" --version) || fail "the unpacked veltrace --version failed"
[ "$reported" = "Veltrace V$version" ] || fail "the unpacked veltrace reports '$reported'"
"$root/usr/bin/veltrace-sim" --help >/dev/null || fail "the unpacked veltrace-sim --help failed"
stop_if_failed
echo "unpacked: $reported"

# ---- Started as the menu starts it: the desktop entry launched from /, with a home folder
# that holds a Veltrace.ini naming COM1, which points at the unpacked simulator.
home="$work/home"
mkdir -p "$home"
printf '[COM]\nCOMPort=COM1\n' >"$home/Veltrace.ini"
device="$work/scope"
"$root/usr/bin/veltrace-sim" --link "$device" >"$work/sim.out" 2>"$work/sim.log" &
pids+=($!)
sim_pid=$!
for _ in $(seq 100); do
    [ -e "$device" ] && break
    sleep 0.1
done
[ -e "$device" ] || fail "the unpacked veltrace-sim made no device"
stop_if_failed

# gio launches it as GLib's desktops do: TryExec, the Exec line's quoting, Path. The program
# it starts is found by its executable, which only this unpacked root holds.
(
    cd /
    export HOME="$home" PATH="$root/usr/bin:$PATH" QT_QPA_PLATFORM=offscreen
    export XDG_RUNTIME_DIR="$work" VELTRACE_COM1="$device"
    gio launch "$entry"
) >"$work/veltrace.log" 2>&1 || fail "gio cannot launch the desktop entry: $(cat "$work/veltrace.log")"
stop_if_failed
veltrace_pid=""
for _ in $(seq 100); do
    for exe in /proc/[0-9]*/exe; do
        if [ "$(readlink "$exe" 2>/dev/null)" = "$root/usr/bin/veltrace" ]; then
            veltrace_pid=${exe#/proc/}
            veltrace_pid=${veltrace_pid%/exe}
            break 2
        fi
    done
    sleep 0.1
done
if [ -z "$veltrace_pid" ]; then
    cat "$work/veltrace.log" >&2
    fail "the desktop entry did not start the unpacked veltrace"
    stop_if_failed
fi
pids+=("$veltrace_pid")
folder=$(readlink "/proc/$veltrace_pid/cwd")
[ "$folder" = "$home" ] || fail "started from the menu, Veltrace runs in $folder, not the home folder"
sleep 3
kill -0 "$veltrace_pid" 2>/dev/null || fail "Veltrace ended by itself: $(cat "$work/veltrace.log")"
kill "$veltrace_pid" 2>/dev/null || true
for _ in $(seq 50); do
    kill -0 "$veltrace_pid" 2>/dev/null || break
    sleep 0.1
done
kill "$sim_pid"
wait "$sim_pid" || true
pids=()
sent=$(sed -n 's/.*(\([0-9]*\) bytes written.*/\1/p' "$work/sim.log")
if [ -z "$sent" ] || [ "$sent" -eq 0 ]; then
    cat "$work/sim.log" "$work/veltrace.log" >&2
    fail "Veltrace, started in the home folder, did not read from COM1 of its Veltrace.ini"
fi
stop_if_failed
echo "menu start: runs in the home folder and reads its Veltrace.ini ($sent bytes from the simulator)"
echo "check-package: $deb passes"
