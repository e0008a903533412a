#!/usr/bin/env bash
# Shows that scripts/check-package.sh rejects what it is there to reject. It makes copies of the
# package scripts/package.sh built, each with one fault a release could carry (no copyright file,
# a licence text that differs from LICENSE, a changelog of another version or one compressed with
# its name in it, a program built without Debian's hardening, AppStream metadata that is invalid
# or shows a screenshot that is not one of ours, a placeholder maintainer, a broken desktop
# entry, a file only lintian objects to), and fails unless check-package.sh fails on every copy
# with that fault's message. The package repacked without a change must pass, so each failure is
# the fault's own.
#   scripts/check-package-faults.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-deb (dpkg) repacks, g++ builds the program without hardening, binutils strips it.
scripts/install-deps.sh dpkg g++ binutils
build_dir=${1:-build-package}
packages=("$build_dir"/veltrace_*.deb)
deb=${packages[0]}
if [ ${#packages[@]} -ne 1 ] || [ ! -f "$deb" ]; then
    echo "check-package-faults: no single veltrace_*.deb in $build_dir (run scripts/package.sh)" >&2
    exit 1
fi
work=$(realpath "$(mktemp -d)")
trap 'rm -rf "$work"' EXIT
dpkg-deb -R "$deb" "$work/pristine"

# A program built without Debian's flags: no stack protector, no fortified functions, relocations
# bound lazily (position-independent and RELRO, which lintian would warn about, it keeps). lintian
# at most mentions these; hardening-check must fail on it.
printf '#include <cstdio>\nint main(int, char** argv) { std::printf("%%s\\n", argv[0]); }\n' \
    >"$work/plain.cpp"
g++ -O2 -U_FORTIFY_SOURCE -Wl,-z,relro -Wl,-z,lazy "$work/plain.cpp" -o "$work/plain"
strip --remove-section=.comment "$work/plain"

missed=0
# trial NAME EXPECTED-MESSAGE: copies the unpacked package, runs the function change_NAME in the
# copy, packs it again (with its md5sums redone, as dpkg-deb does not) and runs check-package.sh.
trial() {
    local name=$1 expected=$2
    local tree="$work/tree-$name" dir="$work/build-$name"
    cp -a "$work/pristine" "$tree"
    mkdir "$dir"
    (cd "$tree" && "change_$name")
    (cd "$tree" && find usr -type f -print0 | sort -z | xargs -0 md5sum >DEBIAN/md5sums)
    dpkg-deb --root-owner-group -b "$tree" "$dir/$(basename "$deb")" >/dev/null
    cp "$build_dir/installed-files.txt" "$dir/"
    if bash scripts/check-package.sh "$dir" >"$dir/out" 2>&1; then
        if [ -z "$expected" ]; then
            echo "passes as it should: $name"
            return
        fi
        echo "check-package-faults: NOT CAUGHT: $name" >&2
        missed=$((missed + 1))
    elif [ -z "$expected" ]; then
        cat "$dir/out" >&2
        echo "check-package-faults: the package repacked without a change fails" >&2
        missed=$((missed + 1))
    elif ! grep -qF -- "$expected" "$dir/out"; then
        cat "$dir/out" >&2
        echo "check-package-faults: $name fails, but not with '$expected'" >&2
        missed=$((missed + 1))
    else
        echo "caught: $name: $(grep -F -m1 -- "$expected" "$dir/out")"
    fi
}

doc=usr/share/doc/veltrace
metainfo=usr/share/metainfo/org.veltrace.veltrace.metainfo.xml
change_unchanged() { :; }
change_no_copyright() { rm "$doc/copyright"; }
change_licence_text() { sed -i 's/free of charge/for a small fee/' "$doc/copyright"; }
change_changelog_version() {
    zcat "$doc/changelog.gz" | sed '1s/(\([0-9.]*\))/(\1.1)/' | gzip -9n >"$doc/changelog.tmp"
    mv "$doc/changelog.tmp" "$doc/changelog.gz"
}
# gzip without -n keeps the file's name and its time; lintian reports the time, so the copy
# keeps time 0 and holds only the name: the header's FNAME flag and the name before the data.
change_changelog_named() {
    {
        printf '\x1f\x8b\x08\x08\x00\x00\x00\x00\x02\x03changelog\x00'
        tail -c +11 "$doc/changelog.gz"
    } >"$doc/changelog.tmp"
    gzip -t "$doc/changelog.tmp"
    mv "$doc/changelog.tmp" "$doc/changelog.gz"
}
change_unhardened() { cp "$work/plain" usr/bin/veltrace-sim; }
change_metainfo_invalid() { sed -i '/<summary>/d' "$metainfo"; }
change_screenshot_elsewhere() { sed -i 's|screenshot-one-channel|screenshot-of-another|' "$metainfo"; }
change_placeholder_maintainer() {
    sed -i 's/^Maintainer: .*/Maintainer: Veltrace developers <veltrace@example.org>/' DEBIAN/control
}
change_desktop_entry() {
    sed -i '/^Type=/d' usr/share/applications/org.veltrace.veltrace.desktop
}
change_executable_guide() { chmod +x "$doc/readme.txt"; }

trial unchanged ""
trial no_copyright "the package lacks /usr/share/doc/veltrace/copyright"
trial licence_text "the copyright file's Expat licence is not the text of LICENSE"
trial changelog_version "the changelog's newest entry is"
trial changelog_named "changelog.gz holds a file name or a time"
trial unhardened "veltrace-sim is not hardened"
trial metainfo_invalid "appstreamcli does not accept"
trial screenshot_elsewhere "is none of the README's pictures"
trial placeholder_maintainer "the Maintainer is a placeholder"
trial desktop_entry "desktop-file-validate does not accept the desktop entry"
trial executable_guide "executable-not-elf-or-script"

if [ "$missed" -gt 0 ]; then
    echo "check-package-faults: $missed trial(s) went wrong" >&2
    exit 1
fi
echo "check-package-faults: every fault is caught"
