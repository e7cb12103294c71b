#!/usr/bin/env bash
# Installs, builds and runs every test: the normal build, then the damaged-file
# tests again under AddressSanitizer, then the cross-checks with the
# independent readers (mdbtools, mdb-reader).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
# The independent reader used by the interoperability tests.
if [ ! -d tests/oracle/node_modules/mdb-reader ]; then
  (cd tests/oracle && npm install --no-audit --no-fund --loglevel=error)
fi

export QT_QPA_PLATFORM=offscreen
ctest --test-dir build --output-on-failure -j "$(nproc)"

# Damaged-file tests under AddressSanitizer (engine and tool only).
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSALY_SANITIZE=ON \
      -DTESSALY_GUI=OFF -DTESSALY_BENCH=OFF
cmake --build build-asan -j "$(nproc)" --target jet_tests
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" -R 'Fuzz|Damaged'
./scripts/check_package.sh
