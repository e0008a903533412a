#!/usr/bin/env bash
# Checks the Debian package that scripts/package.sh made, as a user's machine would meet it:
#   - its control fields (name, version of the project, maintainer, description, dependencies
#     worked out from the binaries) and that apt could resolve those dependencies;
#   - its contents: every file of build-package/installed-files.txt, nothing outside /usr;
#   - lintian, as Debian checks a package: no error and no warning (the informational tags are
#     listed);
#   - the copyright file (machine-readable, with the licence text of LICENSE) and the changelog
#     (Debian's format, this version, compressed without a name or time in it);
#   - every program hardened as Debian builds them (hardening-check);
#   - the AppStream metadata (appstreamcli validate --pedantic, screenshots on https that are the
#     README's pictures);
#   - the desktop entry (desktop-file-validate) and the manual pages (man --warnings, 80 columns);
#   - the package unpacked into a fresh root: `veltrace --version` runs, and the desktop entry,
#     launched from / by GLib's launcher as a menu would, runs Veltrace in the home folder, where
#     it reads Veltrace.ini and takes frames from the unpacked veltrace-sim.
# Fails on the first group of faults. Usage: scripts/check-package.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
# lintian; hardening-check comes with devscripts, appstreamcli with appstream,
# dpkg-parsechangelog with dpkg-dev.
scripts/install-deps.sh desktop-file-utils man-db libglib2.0-bin lintian devscripts appstream \
    dpkg-dev
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
maintainer=$(field Maintainer)
[ -n "$maintainer" ] || fail "no Maintainer field"
# A placeholder address (or one left behind in an old build folder's cache) never ships.
if [[ "$maintainer" =~ @(example\.(org|com|net)|localhost) ]]; then
    fail "the Maintainer is a placeholder: '$maintainer'"
fi
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

# ---- lintian: the package as a distribution would judge it. Errors and warnings fail; the
# informational and pedantic tags are listed for the reader.
if ! lintian --display-info --pedantic --fail-on error,warning --tag-display-limit 0 \
        "$deb" >"$work/lintian.log" 2>"$work/lintian.err"; then
    cat "$work/lintian.log" "$work/lintian.err" >&2
    fail "lintian finds errors or warnings in the package"
fi
stop_if_failed
echo "lintian: no errors, no warnings; $(grep -c '^[IP]: ' "$work/lintian.log" || true) informational tag(s):"
sed 's/^/  /' "$work/lintian.log"

# ---- Unpacked into a fresh root
root="$work/root"
dpkg-deb -x "$deb" "$root"
doc="$root/usr/share/doc/veltrace"

# The copyright file is machine-readable (lintian parses it as such only with this first line)
# and carries the licence of LICENSE word for word, so the two cannot drift apart.
copyright="$doc/copyright"
if [ "$(head -n 1 "$copyright")" != \
        "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ]; then
    fail "the copyright file is not in the machine-readable format"
fi
# The stand-alone "License: Expat" paragraph is the one whose next lines are indented text.
awk '/^License: Expat$/ {inside = 1; next}
     inside && /^ / {sub(/^ /, ""); if ($0 == ".") $0 = ""; print; found = 1; next}
     found {exit} {inside = 0}' "$copyright" >"$work/expat.txt"
sed -n '/^Permission/,$p' LICENSE >"$work/licence.txt"
if ! [ -s "$work/expat.txt" ] || ! diff -u "$work/licence.txt" "$work/expat.txt" >&2; then
    fail "the copyright file's Expat licence is not the text of LICENSE"
fi
grep -q "^Copyright: .*$(sed -n 's/^Copyright (c) //p' LICENSE)" "$copyright" ||
    fail "the copyright file does not name LICENSE's holder"

# The changelog is read by dpkg-parsechangelog as Debian's tools read it; its newest entry is
# this version, by this package's maintainer. gzip's header holds no file name and no time
# (flags byte 0, time 0), or two builds of the same sources would differ.
changelog="$doc/changelog.gz"
if ! gzip -t "$changelog" 2>"$work/gzip.log"; then
    fail "changelog.gz is not a gzip file: $(cat "$work/gzip.log")"
else
    zcat "$changelog" >"$work/changelog"
    logged=$(dpkg-parsechangelog -l "$work/changelog" -S Version 2>&1) ||
        fail "dpkg-parsechangelog cannot read the changelog: $logged"
    [ "$logged" = "$version" ] || fail "the changelog's newest entry is '$logged', not $version"
    logged_by=$(dpkg-parsechangelog -l "$work/changelog" -S Maintainer 2>&1)
    [ "$logged_by" = "$maintainer" ] ||
        fail "the changelog is signed by '$logged_by', the Maintainer is '$maintainer'"
    header=$(od -An -tx1 -j3 -N5 "$changelog" | tr -d ' \n')
    [ "$header" = 0000000000 ] || fail "changelog.gz holds a file name or a time (header $header)"
fi
stop_if_failed
echo "copyright: machine-readable, LICENSE's text; changelog: $version, reproducible gzip"

# Every installed program as Debian hardens them: fortified functions, stack protector, read-only
# relocations bound at start, position-independent. Control-flow protection (IBT/SHSTK) is asked
# for only where dpkg-buildflags offers it ("branch", Debian 13 on): on Debian 12 glibc's own
# start files carry no such note, so the linker leaves it out of every program, Debian's too.
cf_option=(--nocfprotection)
if DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --query-features hardening |
        grep -qx 'Feature: branch'; then
    cf_option=()
fi
for program in "$root"/usr/bin/*; do
    if ! hardening-check "${cf_option[@]}" "$program" >"$work/hardening.log" 2>&1; then
        cat "$work/hardening.log" >&2
        fail "$(basename "$program") is not hardened"
    fi
    sed "s|$root||" "$work/hardening.log"
done
stop_if_failed

# AppStream: valid with nothing to remark, even pedantically; each screenshot on https and one
# of the README's pictures in docs/ (which the homepage publishes under the same name).
metainfo=("$root"/usr/share/metainfo/*.metainfo.xml)
if [ ${#metainfo[@]} -ne 1 ] || [ ! -f "${metainfo[0]}" ]; then
    fail "no single AppStream file in /usr/share/metainfo"
    stop_if_failed
fi
if ! appstreamcli validate --no-net --pedantic --no-color "${metainfo[0]}" \
        >"$work/appstream.log" 2>&1 || grep -qE '^[EWIP]: ' "$work/appstream.log"; then
    cat "$work/appstream.log" >&2
    fail "appstreamcli does not accept $(basename "${metainfo[0]}") without remarks"
fi
shots=$(sed -n 's|.*<image[^>]*>\([^<]*\)</image>.*|\1|p' "${metainfo[0]}")
[ -n "$shots" ] || fail "the AppStream metadata shows no screenshot"
for url in $shots; do
    [[ "$url" == https://* ]] || fail "screenshot not on https: $url"
    [ -f "docs/$(basename "$url")" ] || fail "screenshot $url is none of the README's pictures"
done
stop_if_failed
echo "AppStream: $(basename "${metainfo[0]}") valid (pedantic), $(wc -w <<<"$shots") screenshots"

app_id=$(basename "${metainfo[0]}" .metainfo.xml)
entry="$root/usr/share/applications/$app_id.desktop"
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
