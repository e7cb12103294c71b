#!/bin/sh
# Makes a database with a People table of ROWS generated rows, shaped like the
# large Access-made benchmark tables: ID, First, Middle, Last, City, Age,
# Born, Notes, with accented and apostrophe names, about 30 % of Middle and
# 5 % of Born missing and a short note on every 20th row. The format follows
# the file name: .mdb gives Access 2002-2003, .accdb Access 2016.
#   bench/make_people.sh OUT.mdb|OUT.accdb ROWS [TESSALY]
set -eu
out=$1
rows=$2
tessaly=${3:-$(cd "$(dirname "$0")/.." && pwd)/build/src/tessaly}
case "$out" in
  *.mdb) format=mdb2003 ;;
  *.accdb) format=accdb2016 ;;
  *) echo "make_people.sh: OUT must end in .mdb or .accdb" >&2; exit 2 ;;
esac
csv=$(mktemp "${TMPDIR:-/tmp}/tessaly-people.XXXXXX")
trap 'rm -f "$csv"' EXIT INT TERM

awk -v rows="$rows" 'BEGIN {
  srand(1234);
  nf = split("James Mary Michael Patricia Robert Jennifer Ángel Zoë François Søren Łucja Chloé Jürgen Ana María Siobhán", first, " ");
  nm = split("A. B. C. D. E. J. M. R. S. T.", middle, " ");
  nl = split("Smith Johnson Williams O'\''Brien Müller García Nowak Dubois Rossi Kowalski Hernández Tanaka Øster D'\''Angelo Wilson", last, " ");
  nc = split("Athens Québec Kraków Łódź München Zürich São_Paulo Reykjavík Malmö Paris Lyon Oslo Dublin Sevilla Porto", city, " ");
  print "ID,First,Middle,Last,City,Age,Born,Notes";
  for (i = 1; i <= rows; i++) {
    m = rand() < 0.3 ? "" : middle[int(rand() * nm) + 1];
    c = city[int(rand() * nc) + 1];
    gsub("_", " ", c);
    born = rand() < 0.05 ? "" : sprintf("%04d-%02d-%02d %02d:%02d:%02d", 1930 + int(rand() * 80),
      1 + int(rand() * 12), 1 + int(rand() * 28), int(rand() * 24), int(rand() * 60), int(rand() * 60));
    note = (i % 20) ? "" : "\"Called on " (1 + i % 28) "/" (1 + i % 12) ", said \"\"later\"\"\"";
    printf "%d,%s,%s,%s,%s,%d,%s,%s\n", i, first[int(rand() * nf) + 1], m, last[int(rand() * nl) + 1],
      c, int(rand() * 90) + 1, born, note;
  }
}' > "$csv"
rm -f "$out"
"$tessaly" create "$out" --format "$format"
"$tessaly" import "$out" People "$csv" --type ID=long --type "First=text(50)" --type "Middle=text(50)" \
  --type "Last=text(50)" --type "City=text(50)" --type Age=long --type Born=datetime --type Notes=memo \
  > /dev/null
