#!/usr/bin/env bash
# Installs, builds and runs every test: the normal build (g++, warnings as
# errors), then every test but the window tests again under AddressSanitizer
# and UndefinedBehaviorSanitizer (clang, warnings as errors), then each fuzz
# target for a minute. The cross-checks with the independent readers
# (mdbtools, mdb-reader) run in both test passes. Each stage says how long it
# took.
set -euo pipefail
cd "$(dirname "$0")/.."

TIMEFORMAT='   stage took %0R s'
stage() { echo "== $1"; }

stage "setup and build (g++)"
time ./scripts/setup.sh -DTESSALY_WERROR=ON
# The independent reader used by the interoperability tests.
if [ ! -d tests/oracle/node_modules/mdb-reader ]; then
  (cd tests/oracle && npm install --no-audit --no-fund --loglevel=error)
fi

stage "tests"
export QT_QPA_PLATFORM=offscreen
time ctest --test-dir build --output-on-failure -j "$(nproc)"

# The sanitizers stop at the first report, so a finding fails its test.
stage "sanitizer build (clang)"
time {
  cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++-14 \
        -DTESSALY_SANITIZE=ON -DTESSALY_WERROR=ON -DTESSALY_GUI=OFF -DTESSALY_BENCH=OFF
  cmake --build build-asan -j "$(nproc)"
}
stage "tests under the sanitizers"
time ctest --test-dir build-asan --output-on-failure -j "$(nproc)"

stage "fuzzing"
time ./scripts/fuzz.sh 60

stage "package"
time ./scripts/check_package.sh
