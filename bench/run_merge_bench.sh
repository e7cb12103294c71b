#!/usr/bin/env bash
# Times `tessaly merge` end to end (process start to exit) on fresh copies of
# the 100,000-row fixtures, with few and many distinct combinations, and
# reports wall time and peak memory (from /usr/bin/time -v).
#
#   bench/run_merge_bench.sh [REPEATS]        (default 3; the best time is kept)
#
# TESSALY (default build/src/tessaly) and LARGE (default
# ../shared/fixtures/large beside the repository) may be overridden from the
# environment. With ROWS set, or without the large fixtures, the tables are
# generated on the spot (bench/make_people.sh), e.g. ROWS=1000000.
set -euo pipefail
cd "$(dirname "$0")/.."
tessaly=${TESSALY:-build/src/tessaly}
large=${LARGE:-$(cd "$(dirname "$0")/.." && pwd)/../shared/fixtures/large}
repeats=${1:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

field_sets=("First" "Last" "First Last" "First Middle Last" "First Middle Last City Age Born")

printf '%-28s %-34s %12s %10s %9s %9s\n' database fields combinations rows seconds peak_MB
if [ -n "${ROWS:-}" ] || [ ! -f "$large/people_V2003_100000.mdb" ]; then
  large=$work/generated
  mkdir -p "$large"
  dbs=("people_${ROWS:-100000}.mdb" "people_${ROWS:-100000}.accdb")
  for db in "${dbs[@]}"; do bench/make_people.sh "$large/$db" "${ROWS:-100000}" "$tessaly"; done
else
  dbs=(people_V2003_100000.mdb people_V2010_100000.accdb)
fi
for db in "${dbs[@]}"; do
  for fields in "${field_sets[@]}"; do
    args=()
    for f in $fields; do args+=(--field "$f"); done
    best=""
    peak=0
    for ((i = 0; i < repeats; i++)); do
      cp "$large/$db" "$work/$db"
      chmod u+w "$work/$db"
      sync "$work/$db"
      start=$(date +%s%N)
      /usr/bin/time -v -o "$work/time.txt" "$tessaly" merge "$work/$db" People "${args[@]}" \
        > "$work/out.txt" 2> "$work/err.txt" || { cat "$work/err.txt" >&2; exit 1; }
      end=$(date +%s%N)
      ns=$((end - start))
      if [ -z "$best" ] || [ "$ns" -lt "$best" ]; then best=$ns; fi
      kb=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/time.txt")
      if [ "$kb" -gt "$peak" ]; then peak=$kb; fi
    done
    read -r combos _ rows _ < <(tr -d ',' < "$work/out.txt")
    printf '%-28s %-34s %12s %10s %9.3f %9.1f\n' "$db" "$fields" "$combos" "$rows" \
      "$(echo "$best / 1000000000" | bc -l)" "$(echo "$peak / 1024" | bc -l)"
  done
done
