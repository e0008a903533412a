#!/usr/bin/env bash
# Builds the Debian package: installs what is needed, makes a release build without tests and
# benchmarks in build-package/ and has CPack pack what `cmake --install` installs under /usr.
# The last line printed is the package's path; install it with `sudo apt install ./<that path>`.
#   scripts/package.sh
#   BUILD_DIR=build-x scripts/package.sh
set -euo pipefail
cd "$(dirname "$0")/.."
# dpkg-shlibdeps (dpkg-dev) works out the dependencies from the binaries, which CPack picks out
# with file.
scripts/install-deps.sh dpkg-dev file
build_dir=${BUILD_DIR:-build-package}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRACE_SANITIZE= \
      -DVELTRACE_BUILD_TESTS=OFF -DVELTRACE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir"
rm -f "$build_dir"/veltrace_*.deb
(cd "$build_dir" && cpack -G DEB)
packages=("$build_dir"/veltrace_*.deb)
if [ ${#packages[@]} -ne 1 ] || [ ! -f "${packages[0]}" ]; then
    echo "package.sh: CPack made no single veltrace_*.deb in $build_dir" >&2
    exit 1
fi
echo "${packages[0]}"
