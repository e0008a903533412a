#!/usr/bin/env bash
# Installs the Debian packages Veltrace needs to build, test and run, and any more named as
# arguments (scripts/package.sh names what packaging needs). Skips apt when all are there.
set -euo pipefail
packages=(g++ cmake ninja-build qt6-base-dev libpng-dev zlib1g-dev libgtest-dev libbenchmark-dev
          fonts-liberation2 fontconfig xvfb xauth pngcheck imagemagick "$@")
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
