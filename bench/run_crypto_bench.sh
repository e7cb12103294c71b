#!/bin/sh
# What decryption costs a reader: dumps a table of a plain .accdb and of an
# encrypted copy of it (made with `tessaly encrypt`) and compares the best of
# several runs of each.
#   bench/run_crypto_bench.sh [BUILD_DIR] [DB] [TABLE] [RUNS]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
db=${2:-$(cd "$(dirname "$0")/.." && pwd)/../shared/fixtures/large/people_V2010_100000.accdb}
table=${3:-People}
runs=${4:-5}
tessaly=$build/src/tessaly
password='bench-Passw0rd'

[ -x "$tessaly" ] || { echo "no $tessaly: build the tessaly target first" >&2; exit 2; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM
if [ ! -f "$db" ]; then
  # Without the large fixture, a table of the same shape made on the spot.
  echo "no database $db: generating 100,000 rows" >&2
  db=$tmp/generated.accdb
  "$here/make_people.sh" "$db" 100000 "$tessaly"
fi
cp "$db" "$tmp/plain.accdb"
cp "$db" "$tmp/encrypted.accdb"
chmod u+w "$tmp/plain.accdb" "$tmp/encrypted.accdb"

start=$(date +%s%N)
"$tessaly" encrypt "$tmp/encrypted.accdb" --password "$password"
end=$(date +%s%N)
encrypt_ms=$(( (end - start) / 1000000 ))

# Both must give the same rows, or the figures compare different work.
"$tessaly" dump "$tmp/plain.accdb" "$table" --format csv > "$tmp/plain.csv"
"$tessaly" dump "$tmp/encrypted.accdb" "$table" --format csv --password "$password" > "$tmp/encrypted.csv"
cmp -s "$tmp/plain.csv" "$tmp/encrypted.csv" || { echo "the dumps differ" >&2; exit 1; }
rm -f "$tmp/plain.csv" "$tmp/encrypted.csv"

# Best wall time and best CPU time (user + system) in milliseconds of `runs`
# dumps: dump FILE TABLE [--password PW]. On a shared machine the CPU time
# is the steadier figure.
best_ms() {
  best=
  best_cpu=
  i=0
  while [ "$i" -lt "$runs" ]; do
    start=$(date +%s%N)
    if [ -x /usr/bin/time ]; then
      /usr/bin/time -f "%U %S" -o "$tmp/cpu" "$tessaly" dump "$@" --format csv > /dev/null
    else
      echo "0 0" > "$tmp/cpu"  # CPU time needs the Debian package "time"
      "$tessaly" dump "$@" --format csv > /dev/null
    fi
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    cpu=$(awk '{ printf "%d", ($1 + $2) * 1000 }' "$tmp/cpu")
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    if [ -z "$best_cpu" ] || [ "$cpu" -lt "$best_cpu" ]; then best_cpu=$cpu; fi
    i=$((i + 1))
  done
  echo "$best $best_cpu"
}

set -- $(best_ms "$tmp/plain.accdb" "$table")
plain_ms=$1 plain_cpu=$2
set -- $(best_ms "$tmp/encrypted.accdb" "$table" --password "$password")
encrypted_ms=$1 encrypted_cpu=$2

pages=$(( $(wc -c < "$db") / 4096 ))
echo "database:  $db ($pages pages), table $table, best of $runs"
echo "encrypt:   ${encrypt_ms} ms wall (tessaly encrypt, whole file)"
echo "plain:     ${plain_ms} ms wall, ${plain_cpu} ms CPU"
echo "encrypted: ${encrypted_ms} ms wall, ${encrypted_cpu} ms CPU"
awk -v p="$plain_ms" -v e="$encrypted_ms" -v pc="$plain_cpu" -v ec="$encrypted_cpu" 'BEGIN {
  printf "ratio:     %.2f wall, %.2f CPU (encrypted / plain; target at most 2)\n",
         (p > 0 ? e / p : 0), (pc > 0 ? ec / pc : 0) }'
