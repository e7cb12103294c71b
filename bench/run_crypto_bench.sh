#!/bin/sh
# What decryption costs a reader: dumps a table of a plain .accdb and of an
# encrypted copy of it (made with `tessaly encrypt`) and compares the best of
# several runs of each.
#   bench/run_crypto_bench.sh [BUILD_DIR] [DB] [TABLE] [RUNS]
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
db=${2:-/work/shared/fixtures/large/people_V2010_100000.accdb}
table=${3:-People}
runs=${4:-5}
tessaly=$build/src/tessaly
password='bench-Passw0rd'

[ -x "$tessaly" ] || { echo "no $tessaly: build the tessaly target first" >&2; exit 2; }
[ -f "$db" ] || { echo "no database $db" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT INT TERM
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

# Best wall time in milliseconds of `runs` dumps: dump FILE [--password PW].
best_ms() {
  best=
  i=0
  while [ "$i" -lt "$runs" ]; do
    start=$(date +%s%N)
    "$tessaly" dump "$@" --format csv > /dev/null
    end=$(date +%s%N)
    ms=$(( (end - start) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    i=$((i + 1))
  done
  echo "$best"
}

plain_ms=$(best_ms "$tmp/plain.accdb" "$table")
encrypted_ms=$(best_ms "$tmp/encrypted.accdb" "$table" --password "$password")

pages=$(( $(wc -c < "$db") / 4096 ))
echo "database:  $db ($pages pages), table $table, best of $runs"
echo "encrypt:   ${encrypt_ms} ms (tessaly encrypt, whole file)"
echo "plain:     ${plain_ms} ms"
echo "encrypted: ${encrypted_ms} ms"
awk -v p="$plain_ms" -v e="$encrypted_ms" 'BEGIN { printf "ratio:     %.2f (encrypted / plain; target at most 2)\n", (p > 0 ? e / p : 0) }'
