#!/usr/bin/env bash
# Installs the Debian packages Veltrace needs to build, test and run, and any more named as
# arguments (scripts/package.sh names what packaging needs). Skips apt when all are there.
set -euo pipefail
packages=(g++ cmake ninja-build qt6-base-dev libpng-dev zlib1g-dev libgtest-dev libbenchmark-dev
          fonts-liberation2 fontconfig xvfb xauth pngcheck imagemagick "$@")
source "$(dirname "$0")/apt-lib.sh"
install_packages "${packages[@]}"
