#!/usr/bin/env bash
# Installs everything the project needs on a fresh Debian 12 machine (as root)
# and builds it into build/. Safe to run again.
#   scripts/setup.sh [CMAKE OPTIONS...]
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(build-essential cmake ninja-build pkg-config libssl-dev zlib1g-dev libgtest-dev libgmock-dev
          qt6-base-dev libgl-dev fonts-liberation xvfb xauth mdbtools
          # The sanitizer build and the fuzz targets: clang with its runtimes (libFuzzer).
          clang-14 libclang-rt-14-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js runs the independent reader the tests compare with; a machine that
# already has node and npm (from any source) keeps them.
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  missing+=(nodejs npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

# Options given to this script go to CMake (the tests add -DTESSALY_WERROR=ON).
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
cmake --build build -j "$(nproc)"
