#!/usr/bin/env bash
# Installs what is needed, builds Veltrace and runs every test.
#   scripts/test.sh                 plain build in build/
#   VELTRACE_SANITIZE=address,undefined BUILD_DIR=build-asan scripts/test.sh
#   VELTRACE_SANITIZE=thread BUILD_DIR=build-tsan TEST_FILTER=Threaded scripts/test.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build_dir=${BUILD_DIR:-build}
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} \
      -DVELTRACE_SANITIZE="${VELTRACE_SANITIZE:-}" \
      -DVELTRACE_BUILD_BENCH=${VELTRACE_BUILD_BENCH:-ON}
cmake --build "$build_dir"
ctest_args=(--test-dir "$build_dir" --output-on-failure --timeout 300)
if [ -n "${TEST_FILTER:-}" ]; then
    ctest_args+=(-R "$TEST_FILTER")
fi
ctest "${ctest_args[@]}"
