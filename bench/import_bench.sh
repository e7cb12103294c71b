#!/bin/sh
# Imports a generated CSV of ROWS rows (1,000,000 by default) into a new
# database with `tessaly import` and reports rows per second, for a table
# with an autonumber-style primary key, for one keyed by a text code with
# accented letters, and for one without any index, with the import's peak
# memory (the whole import is one transaction, held until its commit). The
# last line imports the same rows from a pipe.
#   bench/import_bench.sh [TESSALY] [ROWS] [FORMAT]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
tessaly=${1:-$here/../build/src/tessaly}
rows=${2:-1000000}
format=${3:-accdb2016}
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaly-import-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM

# People with a key, names (some with apostrophes and accents), a city, a
# birth date, a score and an amount; every tenth middle name is missing.
awk -v rows="$rows" 'BEGIN {
  srand(7);
  split("Anna Brendan Chloé David Elena Farid Grace Hiroshi Ingrid Jamal", first, " ");
  split("O'\''Connor Müller Okafor García Tanaka Nowak Smith Araújo Chen Petrov", last, " ");
  print "ID,Code,First,Middle,Last,City,Born,Score,Amount";
  for (i = 1; i <= rows; i++) {
    l = last[int(rand() * 10) + 1];
    printf "%d,%s-%07d,%s,%s,%s,City %d,%04d-%02d-%02d,%.3f,%d\n", i, l, (i * 7919) % 10000019,
      first[int(rand() * 10) + 1], (i % 10 ? first[int(rand() * 10) + 1] : ""), l,
      int(rand() * 500), 1930 + int(rand() * 80), 1 + int(rand() * 12), 1 + int(rand() * 28),
      rand() * 1000, int(rand() * 200000) - 100000;
  }
}' > "$work/people.csv"
size=$(wc -c < "$work/people.csv")

run() {
  name=$1
  shift
  db="$work/$name.db"
  "$tessaly" create "$db" --format "$format"
  source=$1
  shift
  start=$(date +%s.%N)
  # Peak resident memory in kB, from the kernel's account of the child.
  peak=$(python3 -c '
import resource, subprocess, sys
# "-" reads the CSV through a pipe, as from another program.
cat = subprocess.Popen(["cat", sys.argv[1]], stdout=subprocess.PIPE)
subprocess.run(sys.argv[2:], stdin=cat.stdout, stdout=subprocess.DEVNULL, check=True)
cat.stdout.close()
cat.wait()
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' \
    "$work/people.csv" "$tessaly" import "$db" People "$source" "$@")
  end=$(date +%s.%N)
  "$tessaly" check "$db" > /dev/null
  awk -v n="$rows" -v s="$start" -v e="$end" -v name="$name" -v bytes="$(wc -c < "$db")" -v peak="$peak" \
    'BEGIN { t = e - s; printf "%-12s %d rows in %.2f s: %.0f rows/s, file %.1f MB, peak memory %.0f MB\n", name, n, t, n / t, bytes / 1e6, peak / 1024 }'
}

echo "tessaly import, $format, CSV of $rows rows ($(awk -v b="$size" 'BEGIN { printf "%.1f", b / 1e6 }') MB)"
run primary-key "$work/people.csv" --type ID=counter --key ID
run text-key "$work/people.csv" --type ID=counter --key Code
run no-index "$work/people.csv"
run from-a-pipe - --type ID=counter --key ID
