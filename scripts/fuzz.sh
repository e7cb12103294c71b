#!/usr/bin/env bash
# Builds the libFuzzer targets into build-fuzz/ and runs each for SECONDS
# (default 60), starting from the databases under tests/data. Fails on the
# first finding; the input that caused it is left in build-fuzz/findings/.
# The corpus grows in build-fuzz/corpus/ from run to run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}

# clang 14 with its runtime libraries (libFuzzer and the sanitizers).
missing=()
for p in clang-14 libclang-rt-14-dev; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++-14 -DTESSALY_FUZZ=ON \
      -DTESSALY_GUI=OFF -DTESSALY_TESTS=OFF -DTESSALY_BENCH=OFF
cmake --build build-fuzz -j "$(nproc)" --target fuzz_open fuzz_write

# The seeds: every database below tests/data, named after its path.
seeds=build-fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds" build-fuzz/findings
find tests/data -type f \( -iname '*.mdb' -o -iname '*.accdb' \) -print0 |
  while IFS= read -r -d '' f; do
    rel=${f#tests/data/}
    cp "$f" "$seeds/${rel//\//_}"
  done

status=0
for target in fuzz_open fuzz_write; do
  mkdir -p "build-fuzz/corpus/$target"
  echo "== $target for ${seconds}s"
  # Inputs as big as the biggest seed. A hang is an input that takes more
  # than 30 s; runaway memory is a single request over 64 MB. The process
  # limit leaves room for the corpus, which libFuzzer keeps in memory (remove
  # build-fuzz/corpus to start afresh).
  rc=0
  "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=30 \
      -max_len=4194304 -malloc_limit_mb=64 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/findings/$target-" \
      "build-fuzz/corpus/$target" "$seeds" >"build-fuzz/$target.log" 2>&1 || rc=$?
  grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' \
      "build-fuzz/$target.log" || true
  if [ "$rc" -ne 0 ]; then
    grep -E -A40 '^==[0-9]+==|fuzz finding|deadly signal' "build-fuzz/$target.log" | head -60 >&2 || true
    echo "$target: finding (exit $rc), see build-fuzz/$target.log and build-fuzz/findings/" >&2
    status=1
  fi
done
exit $status
