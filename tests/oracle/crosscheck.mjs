#!/usr/bin/env node
// Compares every <file>.json under tests/data/expected with the mdbtools export next to it and
// prints a Markdown report: for each table whether the rows agree, in which order, and for each
// column what kind of difference there is, with a count and the first example.
//
//   node crosscheck.mjs tests/data/expected > tests/data/expected/CROSSCHECK.md

import { existsSync, readFileSync, readdirSync, statSync } from "node:fs";
import { join, relative } from "node:path";

const NULL = Symbol("null");

// mdb-export CSV: "..." with doubled quotes, unquoted fields, \N for NULL, newlines inside quotes.
function parseCsv(text) {
  const rows = [];
  let row = [];
  let i = 0;
  while (i < text.length) {
    let value;
    if (text[i] === '"') {
      let s = "";
      ++i;
      for (;;) {
        if (i >= text.length) throw new Error("unterminated quoted field");
        if (text[i] === '"') {
          if (text[i + 1] === '"') {
            s += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        s += text[i++];
      }
      value = s;
    } else {
      let j = i;
      while (j < text.length && text[j] !== "," && text[j] !== "\n") ++j;
      value = text.slice(i, j);
      if (value === "\\N") value = NULL;
      i = j;
    }
    row.push(value);
    if (text[i] === ",") {
      ++i;
    } else if (text[i] === "\n" || i >= text.length) {
      ++i;
      rows.push(row);
      row = [];
    } else {
      throw new Error(`unexpected character ${JSON.stringify(text[i])} after a field`);
    }
  }
  return rows;
}

function readJsonDump(path) {
  return JSON.parse(readFileSync(path, "utf8"));
}

// mdbtools prints date/times to the second, rounding the milliseconds.
function roundToSecond(text) {
  const m = /^(\d{4})-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d)(?:\.(\d{3}))?$/.exec(text);
  if (!m) return text;
  if (!m[7] || Number(m[7]) < 500) return text.slice(0, 19);
  const t = new Date(Date.UTC(Number(m[1]), Number(m[2]) - 1, Number(m[3]), Number(m[4]), Number(m[5]), Number(m[6])) + 1000);
  const p = (n, w = 2) => String(n).padStart(w, "0");
  return `${p(t.getUTCFullYear(), 4)}-${p(t.getUTCMonth() + 1)}-${p(t.getUTCDate())} ` +
         `${p(t.getUTCHours())}:${p(t.getUTCMinutes())}:${p(t.getUTCSeconds())}`;
}

// Kinds of difference that say the two rows are different rows (not a known reader limitation).
const HARD = new Set(["value", "null in JSON only", "null in mdbtools only", "unknown type"]);

const stripZeros = (d) => (d.includes(".") ? d.replace(/0+$/, "").replace(/\.$/, "") : d);

// Returns null when the two readers agree, otherwise a short name for the kind of difference.
function compareCell(type, json, csv, calculated) {
  if (calculated) return json === null && csv === NULL ? null : "calculated column (mdbtools reads the raw wrapper)";
  if (type === "complex") return "complex column (mdbtools prints the key)";
  if (type === "datetimextended") return json === null && csv === NULL ? null : "extended date (mdbtools cannot decode it)";
  if (json === null) return csv === NULL ? null : "null in JSON only";
  if (csv === NULL) {
    if (json === "" && (type === "text" || type === "memo")) return "empty string exported as NULL by mdbtools";
    if (json === "0x" && (type === "binary" || type === "ole")) return null;
    if (type === "bigint") return "bigint (mdbtools 1.0 prints NULL)";
    return "null in mdbtools only";
  }
  switch (type) {
    case "boolean":
      return (json ? "1" : "0") === csv ? null : "value";
    case "byte":
    case "integer":
    case "long":
      return String(json) === csv ? null : "value";
    case "float":
      return Math.fround(Number(csv)) === json ? null : "value";
    case "double":
      if (Number(csv) === json) return null;
      return Math.abs(Number(csv) - json) <= Math.abs(json) * 1e-15
        ? "double printed with 16 significant digits by mdbtools" : "value";
    case "currency":
    case "numeric":
    case "bigint":
      return stripZeros(json) === stripZeros(csv) ? null : "value";
    case "datetime": {
      if (csv === roundToSecond(json)) return null;
      if (csv === "1900-01-00 00:00:00") return "date out of mdbtools' range (it prints 1900-01-00)";
      return "value";
    }
    case "text":
    case "memo":
      if (json === csv) return null;
      return json.replace(/[\ud800-\udbff][\udc00-\udfff]/g, "??") === csv
        ? "characters outside the BMP printed as ?? by mdbtools" : "value";
    case "binary":
    case "ole":
      return json.slice(2) === csv.toLowerCase() ? null : "value";
    case "repid": {
      const text = Buffer.from(csv, "hex").toString("latin1").toUpperCase();
      if (text === json) return null;
      return text.replaceAll("-", "") === json.replaceAll("-", "")
        ? "GUID printed without its fourth dash by mdbtools" : "value";
    }
    default:
      return "unknown type";
  }
}

function show(v) {
  if (v === NULL) return "NULL";
  const s = typeof v === "string" ? JSON.stringify(v) : JSON.stringify(v);
  return s.length > 60 ? s.slice(0, 57) + "..." : s;
}

function compareTable(dump, csvRows, calculated) {
  const lines = [];
  const [header, ...records] = csvRows;
  const names = dump.columns.map((c) => c.name);
  if (header.join("\u0000") !== names.join("\u0000")) {
    lines.push(`  - column names differ: mdbtools ${JSON.stringify(header)}`);
    return { lines, clean: false };
  }
  const differs = (row, rec) =>
    dump.columns.map((c, k) => compareCell(c.type, row[c.name], rec[k], calculated.has(c.name)));
  const strictKey = (row, rec) => differs(row, rec).every((d) => !HARD.has(d));

  // Pair rows in order; if that fails for some, try to pair them regardless of order.
  let pairs = dump.rows.map((row, i) => [row, records[i]]);
  let orderNote = "same order";
  const inOrder = dump.rows.length === records.length && pairs.every(([r, c]) => strictKey(r, c));
  if (!inOrder && dump.rows.length === records.length) {
    const used = new Set();
    const matched = dump.rows.map((row) => {
      const k = records.findIndex((rec, j) => !used.has(j) && strictKey(row, rec));
      if (k >= 0) used.add(k);
      return k;
    });
    if (matched.every((k) => k >= 0)) {
      pairs = dump.rows.map((row, i) => [row, records[matched[i]]]);
      orderNote = `different order (mdbtools position of JSON rows 1..n: ${matched.map((k) => k + 1).join(", ")})`;
    }
  }
  if (dump.rows.length !== records.length) orderNote = "different row counts";

  const kinds = new Map();
  pairs.forEach(([row, rec], i) => {
    if (!rec) return;
    dump.columns.forEach((c, k) => {
      const kind = compareCell(c.type, row[c.name], rec[k], calculated.has(c.name));
      if (kind === null) return;
      const key = `${c.name}\u0000${kind}`;
      const entry = kinds.get(key) ?? { column: c.name, kind, count: 0, example: null };
      ++entry.count;
      entry.example ??= `row ${i + 1}: JSON ${show(row[c.name])}, mdbtools ${show(rec[k])}`;
      kinds.set(key, entry);
    });
  });
  lines.push(`  - rows: JSON ${dump.rows.length}, mdbtools ${records.length}; ${orderNote}`);
  for (const e of kinds.values()) {
    lines.push(`  - \`${e.column}\`: ${e.kind}, ${e.count} row(s); e.g. ${e.example}`);
  }
  return { lines, clean: kinds.size === 0 && orderNote === "same order" };
}

function databases(root) {
  const found = [];
  const walk = (dir) => {
    for (const name of readdirSync(dir).sort()) {
      const path = join(dir, name);
      if (!statSync(path).isDirectory()) continue;
      if (existsSync(join(path, "index.tsv"))) found.push(path);
      else walk(path);
    }
  };
  walk(root);
  return found;
}

function main(root) {
  const log = existsSync(join(root, "decisions.log")) ? readFileSync(join(root, "decisions.log"), "utf8") : "";
  const out = [
    "# mdb-reader against mdbtools",
    "",
    "Generated by tests/oracle/crosscheck.mjs (run from generate.sh); do not edit. For every table the",
    "JSON dump (mdb-reader, with the corrections listed in decisions.log) is compared with",
    "`<file>.mdb-export.csv`. Tables where both agree in every value and in row order are listed",
    "under \"Agree\". Explanations: NOTES.md.",
    "",
  ];
  const agree = [];
  const disagree = [];
  for (const dir of databases(root)) {
    const rel = relative(root, dir);
    const index = readFileSync(join(dir, "index.tsv"), "utf8").split("\n").filter(Boolean)
      .map((l) => l.split("\t"));
    const mdbTables = existsSync(join(dir, "mdbtools-tables.txt"))
      ? readFileSync(join(dir, "mdbtools-tables.txt"), "utf8") : null;
    const readerTables = readFileSync(join(dir, "tables.txt"), "utf8");
    const header = [];
    if (mdbTables === null) header.push("  - mdbtools cannot open this file");
    else if (mdbTables !== readerTables) {
      header.push(`  - table lists differ: mdbtools ${JSON.stringify(mdbTables.split("\n").filter(Boolean))}`);
    }
    if (index.length === 0) header.push("  - no user tables");
    if (header.length) disagree.push(`- \`${rel}\``, ...header);
    for (const [table, file] of index) {
      const csvPath = join(dir, file.replace(/\.json$/, ".mdb-export.csv"));
      if (!existsSync(csvPath)) {
        if (mdbTables !== null) disagree.push(`- \`${rel}\` / \`${table}\``, "  - no mdbtools export");
        continue;
      }
      const calculated = new Set();
      const prefix = `${rel}: ${table}.`;
      for (const line of log.split("\n")) {
        if (line.startsWith(prefix) && line.includes(": calculated column,")) {
          calculated.add(line.slice(prefix.length, line.indexOf(": calculated column,")));
        }
      }
      const { lines, clean } = compareTable(readJsonDump(join(dir, file)),
                                            parseCsv(readFileSync(csvPath, "utf8")), calculated);
      if (clean) agree.push(`\`${rel}\` / \`${table}\``);
      else disagree.push(`- \`${rel}\` / \`${table}\``, ...lines);
    }
  }
  out.push("## Differ", "", ...disagree, "", "## Agree", "", ...agree.map((a) => `- ${a}`), "");
  process.stdout.write(out.join("\n"));
}

main(process.argv[2] ?? "tests/data/expected");
