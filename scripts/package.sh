#!/usr/bin/env bash
# Builds the Debian package: installs what is needed, makes a release build without tests and
# benchmarks in build-package/ and has CPack pack what `cmake --install` installs under /usr.
# The last line printed is the package's path; install it with `sudo apt install ./<that path>`.
#   scripts/package.sh
#   BUILD_DIR=build-x scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-shlibdeps (dpkg-dev) works out the dependencies from the binaries, which CPack picks out
# with file; dpkg-buildflags (dpkg-dev too) gives Debian's hardening flags.
scripts/install-deps.sh dpkg-dev file
build_dir=${BUILD_DIR:-build-package}

# Compiled and linked as Debian builds its packages: fortified functions, stack protector,
# format strings checked, read-only relocations bound at start (BIND_NOW; "+all" asks for it on
# Debian 12, where it is not yet a default), position-independent executables (the compiler's
# default here), at Debian's -O2. The build type None adds no flags of its own (Release's -O3
# would override -O2, and GCC 12 gives false -Wrestrict warnings inside libstdc++ at -O3);
# -DNDEBUG keeps what Release meant besides. CMake reads no CPPFLAGS, so the preprocessor's flags
# go with the compiler's. The flags are handed over explicitly rather than through the
# environment, which CMake reads only when it first makes a build folder.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --export=sh)"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=None -DVELTRACE_SANITIZE= \
      -DVELTRACE_BUILD_TESTS=OFF -DVELTRACE_BUILD_BENCH=OFF \
      -DCMAKE_CXX_FLAGS="$CPPFLAGS -DNDEBUG $CXXFLAGS" \
      -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" -DCMAKE_SHARED_LINKER_FLAGS="$LDFLAGS" >/dev/null
# Our code builds without warnings under these flags too; a warning here is a fault.
cmake --build "$build_dir" | tee "$build_dir/build.log"
if grep -n 'warning:' "$build_dir/build.log" >&2; then
    echo "package.sh: the package build gives warnings (above)" >&2
    exit 1
fi
rm -f "$build_dir"/veltrace_*.deb
(cd "$build_dir" && cpack -G DEB)
packages=("$build_dir"/veltrace_*.deb)
if [ ${#packages[@]} -ne 1 ] || [ ! -f "${packages[0]}" ]; then
    echo "package.sh: CPack made no single veltrace_*.deb in $build_dir" >&2
    exit 1
fi
echo "${packages[0]}"
