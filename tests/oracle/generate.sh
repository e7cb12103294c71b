#!/usr/bin/env bash
# Regenerates tests/data/expected/ from the databases under tests/data with two independent
# readers: mdb-reader (through dump.mjs, canonical JSON) and mdbtools (table list and CSV).
# The engine's tests compare against these files, so they need neither reader at run time.
#
#   tests/oracle/generate.sh        (from anywhere; needs node, npm and mdbtools)
#
# Per database <rel> (its path below tests/data), in tests/data/expected/<rel>/:
#   tables.txt              user tables as mdb-reader lists them
#   index.tsv               "table name<TAB>file.json" (see file-names.mjs)
#   <file>.json             canonical dump of the table (dump.mjs)
#   mdbtools-tables.txt     `mdb-tables -1` (absent when mdbtools cannot open the file)
#   <file>.mdb-export.csv   `mdb-export` with the options in MDB_EXPORT below
# and, for all databases, decisions.log (every correction dump.mjs made, and what mdbtools
# could not read) and CROSSCHECK.md (mdb-reader against mdbtools, value by value).
# NOTES.md is written by hand and explains the form and every known difference.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
data="$root/tests/data"
out="$data/expected"

export TZ=UTC LC_ALL=C.UTF-8

if [[ ! -f "$here/node_modules/mdb-reader/package.json" ]]; then
  (cd "$here" && npm install --no-audit --no-fund --silent)
fi
for tool in node mdb-tables mdb-export; do
  command -v "$tool" >/dev/null || { echo "generate.sh: $tool is missing" >&2; exit 1; }
done

# Dates as text without locale, binary columns as hex, NULL as \N so that it cannot be confused
# with an empty quoted string. mdbtools itself prints empty text as NULL.
MDB_EXPORT=(mdb-export -D '%Y-%m-%d %H:%M:%S' -T '%Y-%m-%d %H:%M:%S' -b hex -0 '\N')

password_for() {
  case "$1" in
    mdb-reader/office-agile-4.4.accdb | mdb-reader/V2000_with-password.mdb) echo password ;;
    *) echo "" ;;
  esac
}

# Start from scratch so that removed tables or databases leave nothing behind.
find "$out" -mindepth 1 -maxdepth 1 ! -name NOTES.md -exec rm -rf {} + 2>/dev/null || true
mkdir -p "$out"
log="$out/decisions.log"
: >"$log"

mapfile -t databases < <(cd "$data" && find . \( -path ./expected -o -path ./large \) -prune -o \
  -type f \( -name '*.mdb' -o -name '*.accdb' \) -print | sed 's|^\./||' | LC_ALL=C sort)

for rel in "${databases[@]}"; do
  db="$data/$rel"
  dir="$out/$rel"
  mkdir -p "$dir"
  pw="$(password_for "$rel")"
  pwargs=()
  [[ -n "$pw" ]] && pwargs=(--password "$pw")
  echo "$rel" >&2

  node "$here/dump.mjs" --list "$db" "${pwargs[@]}" >"$dir/tables.txt" 2>"$dir/.notes"
  sed "s|^note: |$rel: |" "$dir/.notes" >>"$log"
  node "$here/file-names.mjs" <"$dir/tables.txt" >"$dir/index.tsv"

  mdbtools_ok=1
  if ! mdb-tables -1 "$db" >"$dir/mdbtools-tables.txt" 2>/dev/null; then
    rm -f "$dir/mdbtools-tables.txt"
    echo "$rel: mdbtools cannot open the file; no mdbtools outputs" >>"$log"
    mdbtools_ok=0
  fi

  while IFS=$'\t' read -r table file; do
    node "$here/dump.mjs" "$db" "$table" "${pwargs[@]}" >"$dir/$file" 2>"$dir/.notes"
    sed "s|^note: |$rel: |" "$dir/.notes" >>"$log"
    if ((mdbtools_ok)); then
      csv="$dir/${file%.json}.mdb-export.csv"
      if ! "${MDB_EXPORT[@]}" "$db" "$table" >"$csv" 2>/dev/null; then
        rm -f "$csv"
        echo "$rel: mdbtools cannot export $table" >>"$log"
      fi
    fi
  done <"$dir/index.tsv"
  rm -f "$dir/.notes"
done

node "$here/crosscheck.mjs" "$out" >"$out/CROSSCHECK.md"
echo "generate.sh: wrote $out" >&2
