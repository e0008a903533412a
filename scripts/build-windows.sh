#!/usr/bin/env bash
# Builds the native Windows program, veltrace.exe, with MinGW-w64 and runs its tests under Wine.
#   scripts/build-windows.sh              build in build-windows/, test, make the zip
#   BUILD_DIR=... SKIP_TESTS=1 scripts/build-windows.sh
# Everything it fetches or builds besides Debian packages (libpng's source, GoogleTest, the Wine
# prefixes) stays inside the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
source scripts/apt-lib.sh
build_dir=${BUILD_DIR:-build-windows}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)
deps=$build_dir/deps
mkdir -p "$deps"

step() { printf '== %s (%ss)\n' "$1" "$SECONDS"; }

step "packages"
packages=(g++ g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 dpkg-dev cmake ninja-build
          googletest xvfb xauth zip unzip nsis icoutils)
install_packages "${packages[@]}"

# libpng has no MinGW package: its Debian source package is fetched through a source list of
# our own, so the machine's apt configuration stays as it is. The archive is the one the
# machine's own binary packages come from.
step "libpng source"
png_src=$(find "$deps" -maxdepth 2 -name png.c -path '*libpng1.6-*' -printf '%h\n' 2>/dev/null | head -n 1)
if [ -z "$png_src" ]; then
    apt_dir=$deps/apt
    mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
    mirror=$(bookworm_archive)
    if [ -z "$mirror" ]; then
        echo "build-windows: no Debian archive configured for bookworm" >&2
        exit 1
    fi
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] ${mirror%/} bookworm main" \
        > "$apt_dir/sources.list"
    apt_options=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o Dir::Etc::SourceParts=/dev/null
                 -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
                 -o APT::Sandbox::User=root)
    apt-get "${apt_options[@]}" -qq update
    (cd "$deps" && apt-get "${apt_options[@]}" -qq source libpng1.6 >/dev/null)
    png_src=$(find "$deps" -maxdepth 2 -name png.c -path '*libpng1.6-*' -printf '%h\n' | head -n 1)
fi

# The serial line test's far end is a Linux program: it makes the pseudo-terminal Wine's COM5
# is mapped to.
step "host helpers"
far_side=$build_dir/host/pty-far-side
mkdir -p "$build_dir/host"
if [ ! -x "$far_side" ] || [ tests/windows/pty_far_side.cpp -nt "$far_side" ]; then
    nice -n 10 g++ -std=c++20 -O1 -Wall -Wextra -o "$far_side" tests/windows/pty_far_side.cpp
fi
# The program's icon for its resources, drawn by the window's own drawing code: the few sources
# that code needs, built for this machine.
make_ico=$build_dir/host/veltrace-make-ico
ico_sources=(tools/make_icon/ico_main.cpp tools/make_icon/ico_file.cpp app/program_icon.cpp
             toolkit/image_registry.cpp toolkit/lines.cpp toolkit/bmp.cpp)
if [ ! -x "$make_ico" ] || [ -n "$(find "${ico_sources[@]}" app/program_icon.h toolkit/toolkit.h \
                                     tools/make_icon/ico_file.h -newer "$make_ico")" ]; then
    nice -n 10 g++ -std=c++20 -O1 -Wall -Wextra -I. -Itools -o "$make_ico" "${ico_sources[@]}"
fi

step "configure"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Release} -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
      -DVELTRACE_LIBPNG_SOURCE="$png_src" -DVELTRACE_BUILD_BENCH=OFF \
      -DVELTRACE_BUILD_TESTS=${VELTRACE_BUILD_TESTS:-ON} \
      -DVELTRACE_WINE="$root/scripts/wine-run.sh" -DVELTRACE_PTY_FAR_SIDE="$far_side" \
      -DVELTRACE_MAKE_ICO="$make_ico" >/dev/null
step "build"
nice -n 10 cmake --build "$build_dir"
step "package"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build_dir/CMakeCache.txt")
zip_file=$build_dir/veltrace-$version-windows-x64.zip
rm -f "$zip_file"
(cd "$build_dir" && cpack -G ZIP >/dev/null)
# A user unpacks it into a folder of their choice: the program, its guide, its licence and the
# notices of the libraries built into it at the top, nothing else; the texts with Windows line
# ends, so every editor shows their lines.
expected="LICENSE.txt readme.txt third-party-notices.txt veltrace.exe "
zip_entries=$(unzip -Z1 "$zip_file" | sort | tr '\n' ' ')
if [ "$zip_entries" != "$expected" ]; then
    echo "build-windows: $zip_file holds: $zip_entries(expected $expected)" >&2
    exit 1
fi
for text in LICENSE.txt readme.txt third-party-notices.txt; do
    lines=$(unzip -p "$zip_file" "$text" | wc -l)
    crlf_lines=$(unzip -p "$zip_file" "$text" | grep -c $'\r$' || true)
    if [ "$lines" -lt 3 ] || [ "$crlf_lines" != "$lines" ]; then
        echo "build-windows: $text in the zip has $crlf_lines of $lines lines ending in CR LF" >&2
        exit 1
    fi
done
for library in libpng zlib MinGW-w64 winpthreads "GCC RUNTIME LIBRARY EXCEPTION"; do
    if ! unzip -p "$zip_file" third-party-notices.txt | grep -q "$library"; then
        echo "build-windows: third-party-notices.txt says nothing of $library" >&2
        exit 1
    fi
done
# The installer (packaging/windows/NSIS.template.in), tried under Wine with the tests.
setup_file=$build_dir/veltrace-$version-setup-x64.exe
rm -f "$setup_file"
(cd "$build_dir" && cpack -G NSIS >/dev/null)
ls "$build_dir"/veltrace.exe "$zip_file" "$setup_file"

if [ "${SKIP_TESTS:-0}" != 1 ] && [ "${VELTRACE_BUILD_TESTS:-ON}" = ON ]; then
    step "tests under Wine"
    export VELTRACE_WINE_PREFIX_ROOT=$build_dir/wine
    status=0
    ctest --test-dir "$build_dir" --output-on-failure --timeout 600 ${TEST_FILTER:+-R "$TEST_FILTER"} || status=$?
    scripts/wine-run.sh --stop
    # The installer, tried in a Wine prefix of its own.
    step "installer under Wine"
    scripts/check-installer.sh "$build_dir" || status=$?
    # The test cases inside those programs, as GoogleTest reported them.
    log=$build_dir/Testing/Temporary/LastTest.log
    passed=$(grep -c '^\[       OK \]' "$log" || true)
    failed=$(grep -cE '^\[  FAILED  \] .* \([0-9]+ ms\)$' "$log" || true)
    skipped=$(grep -cE '^\[  SKIPPED \] .* \([0-9]+ ms\)$' "$log" || true)
    echo "Test cases under Wine: $passed passed, $failed failed, $skipped skipped"
    step "done"
    exit $status
fi
step "done"
