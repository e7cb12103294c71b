#!/usr/bin/env bash
# Builds the Debian package tessaly-draviel_<version>_<arch>.deb from a fresh
# build in its own folder (build-package/, or $PACKAGE_BUILD_DIR) and prints
# its path on standard output; everything else goes to standard error.
# Installs what it needs with apt-get when run as root.
set -euo pipefail
cd "$(dirname "$0")/.."
exec 3>&1 1>&2

packages=(build-essential cmake ninja-build pkg-config libssl-dev zlib1g-dev qt6-base-dev libgl-dev
          dpkg-dev librsvg2-bin)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "package.sh: missing packages: ${missing[*]} (run as root to install them)"
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

dir=${PACKAGE_BUILD_DIR:-build-package}
rm -rf "$dir"
# Installed under /usr: the wizard looks for its data in /usr/share/tessaly-draviel.
# The build type the tests run; the package's files are stripped of their debug
# information.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
      -DTESSALY_TESTS=OFF -DTESSALY_BENCH=OFF
cmake --build "$dir" -j "$(nproc)"
(cd "$dir" && cpack -G DEB)

# The folder is fresh, so it holds this one package.
debs=("$dir"/tessaly-draviel_*_"$(dpkg --print-architecture)".deb)
if [ ! -f "${debs[0]}" ]; then
  echo "package.sh: cpack made no package in $dir"
  exit 1
fi
realpath "${debs[0]}" >&3
