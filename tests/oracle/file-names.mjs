#!/usr/bin/env node
// Reads table names (one per line) on stdin and prints "name<TAB>file.json" lines: the name with
// every character outside [A-Za-z0-9_ .-] replaced by "_"; names that would then clash (ignoring
// case, so that the files also survive a case-insensitive file system) or that would be empty,
// "." or ".." get "-" and the first 8 hex digits of the SHA-256 of the UTF-8 name appended.

import { createHash } from "node:crypto";
import { readFileSync } from "node:fs";

const input = readFileSync(0, "utf8");
const names = input === "" ? [] : input.replace(/\n$/, "").split("\n");
const bases = names.map((n) => {
  if (/[\t\r]/.test(n)) throw new Error(`table name ${JSON.stringify(n)} cannot go in index.tsv`);
  return n.replace(/[^A-Za-z0-9_ .-]/gu, "_");
});
const counts = new Map();
for (const b of bases) counts.set(b.toLowerCase(), (counts.get(b.toLowerCase()) ?? 0) + 1);
const files = bases.map((b, i) => {
  const unique = counts.get(b.toLowerCase()) === 1 && b !== "" && b !== "." && b !== "..";
  const hash = createHash("sha256").update(names[i], "utf8").digest("hex").slice(0, 8);
  return (unique ? b : `${b}-${hash}`) + ".json";
});
if (new Set(files.map((f) => f.toLowerCase())).size !== files.length) {
  throw new Error("file names still clash");
}
process.stdout.write(names.map((n, i) => `${n}\t${files[i]}\n`).join(""));
