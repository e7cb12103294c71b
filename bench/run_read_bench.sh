#!/usr/bin/env bash
# Reading speed and memory: every column of every row of the People table of
# the large databases, by (a) the engine alone, (b) `tessaly dump --format
# csv` (and json) to /dev/null and (c) mdbtools' mdb-export to /dev/null; then
# the same on the small generated databases, to show that memory does not
# grow with the table. Figures are the best of RUNS runs (default 5); rows/s
# is reckoned on CPU time (user + system), which a busy machine disturbs
# less than wall time. There are no large encrypted databases to measure.
#
#   bench/run_read_bench.sh [BUILD_DIR]     (default: build; RUNS=n, LARGE=dir)
#
# With ROWS set, or without the large fixtures, the two large tables are
# generated on the spot (bench/make_people.sh), e.g. ROWS=1000000.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${1:-build}
RUNS=${RUNS:-5}
# The large databases sit beside the repository (one level further up from a
# worktree under wt/); LARGE overrides.
LARGE=${LARGE:-../shared/fixtures/large}
[ -d "$LARGE" ] || LARGE=../../shared/fixtures/large
TABLE=People

cmake --build "$BUILD" -j2 --target read_bench tessaly >/dev/null
command -v mdb-export >/dev/null || { echo "mdb-export is missing (apt-get install mdbtools)" >&2; exit 1; }
BENCH=$BUILD/bench/read_bench
TOOL=$BUILD/src/tessaly

field() { sed -E "s/.*$1=([0-9.]+).*/\\1/" <<<"$2"; }

# case rows measurement [reference rows/s]
line() {
  local wall cpu kb
  wall=$(field wall "$3")
  cpu=$(field cpu "$3")
  kb=$(field peak_rss_kb "$3")
  awk -v c="$1" -v n="$2" -v w="$wall" -v s="$cpu" -v m="$kb" -v ref="${4:-}" 'BEGIN {
    r = (s > 0) ? n / s : 0
    x = (ref == "") ? "" : sprintf("%.1fx", r / ref)
    printf "%-54s %7d %8.4f %8.4f %10.0f %8.1f %7s\n", c, n, w, s, r, m / 1024, x
  }'
}

printf "%-54s %7s %8s %8s %10s %8s %7s\n" case rows "wall s" "cpu s" "rows/s" "peak MB" "vs mdbx"
large_dbs=("$LARGE/people_V2003_100000.mdb" "$LARGE/people_V2010_100000.accdb")
if [ -n "${ROWS:-}" ] || [ ! -f "${large_dbs[0]}" ]; then
  generated=$(mktemp -d)
  trap 'rm -rf "$generated"' EXIT
  large_dbs=("$generated/people_${ROWS:-100000}.mdb" "$generated/people_${ROWS:-100000}.accdb")
  for db in "${large_dbs[@]}"; do bench/make_people.sh "$db" "${ROWS:-100000}" "$TOOL"; done
fi
for db in "${large_dbs[@]}" \
          tests/data/generated/people_V2000_200.mdb tests/data/generated/people_V2007_300.accdb; do
  name=$(basename "$db")
  engine=$("$BENCH" "$db" "$TABLE" --repeat "$RUNS")
  rows=$(field rows "$engine")
  mdbx=$("$BENCH" --run "$RUNS" -- mdb-export "$db" "$TABLE")
  ref=$(awk -v n="$rows" -v s="$(field cpu "$mdbx")" 'BEGIN { print (s > 0) ? n / s : 0 }')
  line "$name engine scan (in process)" "$rows" "$engine" "$ref"
  line "$name tessaly dump --format csv" "$rows" \
    "$("$BENCH" --run "$RUNS" -- "$TOOL" dump "$db" "$TABLE" --format csv)" "$ref"
  line "$name tessaly dump --format json" "$rows" \
    "$("$BENCH" --run "$RUNS" -- "$TOOL" dump "$db" "$TABLE" --format json)" "$ref"
  line "$name mdb-export" "$rows" "$mdbx" "$ref"
done
