#!/usr/bin/env node
// Prints a table of an Access database in the canonical JSON form of `tessaly dump --format json`,
// read with mdb-reader (an independent implementation), so that the engine's tests can compare
// against stored files without needing mdb-reader at run time.
//
//   node dump.mjs DB TABLE [--password PW]   the table, canonical JSON, on stdout
//   node dump.mjs --list DB [--password PW]  user tables as mdb-reader lists them, one per line
//
// Where mdb-reader is known to be wrong, the value is decoded from the raw material that the hooks
// in mdb-reader-hooks.mjs expose, and a line "note: ..." goes to stderr for every such decision.
// The canonical form and every rule below are described in tests/data/expected/NOTES.md.

process.env.TZ = "UTC"; // mdb-reader formats extended dates with local-time getters

import { register } from "node:module";
import { createHash } from "node:crypto";
import { readFileSync } from "node:fs";

register("./mdb-reader-hooks.mjs", import.meta.url);
const { default: MDBReader } = await import("mdb-reader");
const { decodeAttachmentFileData } = await import(
  new URL("./node_modules/mdb-reader/lib/node/data/complex/attachment.js", import.meta.url).href
);

const TYPE_NAMES = {
  0x01: "boolean", 0x02: "byte", 0x03: "integer", 0x04: "long", 0x05: "currency", 0x06: "float",
  0x07: "double", 0x08: "datetime", 0x09: "binary", 0x0a: "text", 0x0b: "ole", 0x0c: "memo",
  0x0f: "repid", 0x10: "numeric", 0x12: "complex", 0x13: "bigint", 0x14: "datetimextended",
};

// ---------------------------------------------------------------------------------------------
// JSON text

function jsonString(s) {
  let out = '"';
  for (let i = 0; i < s.length; ++i) {
    const c = s.charCodeAt(i);
    if (c === 0x22) out += '\\"';
    else if (c === 0x5c) out += "\\\\";
    else if (c === 0x0a) out += "\\n";
    else if (c === 0x0d) out += "\\r";
    else if (c === 0x09) out += "\\t";
    else if (c === 0x08) out += "\\b";
    else if (c === 0x0c) out += "\\f";
    else if (c < 0x20) out += "\\u" + c.toString(16).padStart(4, "0");
    else if (c >= 0xd800 && c <= 0xdbff && i + 1 < s.length &&
             s.charCodeAt(i + 1) >= 0xdc00 && s.charCodeAt(i + 1) <= 0xdfff) {
      out += s[i] + s[i + 1];
      ++i;
    } else if (c >= 0xd800 && c <= 0xdfff) {
      out += "\\u" + c.toString(16).padStart(4, "0"); // a lone surrogate has no UTF-8 form
    } else out += s[i];
  }
  return out + '"';
}

function jsonNumber(n) {
  if (Number.isFinite(n)) return String(n);
  return jsonString(String(n)); // "NaN", "Infinity", "-Infinity"
}

function hex(buffer) {
  return "0x" + Buffer.from(buffer).toString("hex");
}

// ---------------------------------------------------------------------------------------------
// Values

const DAY_MS = 86400000;
const EPOCH_MS = Date.UTC(1899, 11, 30);

// Access's rule: the integer part counts days from 1899-12-30, the fraction is a positive time of
// day even for negative values (-1.25 is 1899-12-29 06:00), rounded to the millisecond.
function formatDate(v) {
  if (!Number.isFinite(v)) throw new Error(`date value ${v} is not a number`);
  let day = Math.trunc(v);
  let ms = Math.round(Math.abs(v - day) * DAY_MS);
  if (ms >= DAY_MS) {
    ms -= DAY_MS;
    day += 1;
  }
  const t = new Date(EPOCH_MS + day * DAY_MS + ms);
  const p = (n, w = 2) => String(n).padStart(w, "0");
  let s = `${p(t.getUTCFullYear(), 4)}-${p(t.getUTCMonth() + 1)}-${p(t.getUTCDate())} ` +
          `${p(t.getUTCHours())}:${p(t.getUTCMinutes())}:${p(t.getUTCSeconds())}`;
  if (t.getUTCMilliseconds() !== 0) s += "." + p(t.getUTCMilliseconds(), 3);
  return s;
}

// mdb-reader gives "YYYY.MM.DD HH:MM:SS.nnnnnnnnn"; the stored precision is 100 ns (7 digits).
function formatExtendedDate(s) {
  const m = /^(\d{4})\.(\d{2})\.(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{7})00$/.exec(s);
  if (!m) throw new Error(`unexpected extended date text ${JSON.stringify(s)}`);
  return `${m[1]}-${m[2]}-${m[3]} ${m[4]}:${m[5]}:${m[6]}.${m[7]}`;
}

function checkDecimal(s, scale) {
  const re = scale > 0 ? new RegExp(`^-?\\d+\\.\\d{${scale}}$`) : /^-?\d+$/;
  if (!re.test(s)) throw new Error(`decimal ${JSON.stringify(s)} does not have scale ${scale}`);
  return /^-0(\.0*)?$/.test(s) ? s.slice(1) : s; // a sign on zero carries no value
}

function formatValue(type, value, column) {
  if (value === null || value === undefined) return "null";
  switch (type) {
    case "boolean":
      return value ? "true" : "false";
    case "byte":
    case "integer":
    case "long":
    case "float":
    case "double":
      return jsonNumber(value);
    case "currency":
      return jsonString(checkDecimal(value, 4));
    case "numeric":
      return jsonString(checkDecimal(value, column.scale));
    case "bigint":
      return jsonString(value.toString());
    case "datetime":
      return jsonString(formatDate(value.oracleRawDouble));
    case "datetimextended":
      return jsonString(formatExtendedDate(value));
    case "binary":
    case "ole":
      return jsonString(hex(value));
    case "text":
    case "memo":
      return jsonString(value);
    case "repid":
      return jsonString("{" + value.toUpperCase() + "}");
    default:
      throw new Error(`no format for type ${type}`);
  }
}

// ---------------------------------------------------------------------------------------------
// Catalogue helpers

function catalogue(reader) {
  if (!reader.oracleCatalogue) {
    reader.oracleCatalogue = reader.getTable("MSysObjects").getData({
      columns: ["Id", "Name", "Type", "LvProp"],
    });
  }
  return reader.oracleCatalogue;
}

// Property blob of a catalogue row: names chunk (0x80), then blocks of the object (0x00) and of
// its columns (0x01). Returns Map(column name -> Map(property -> {type, value})).
function parseProperties(blob) {
  const blocks = new Map();
  if (!blob || blob.length < 4) return blocks;
  const magic = blob.subarray(0, 4).toString("latin1");
  if (magic !== "MR2\0") throw new Error(`unexpected property blob ${JSON.stringify(magic)}`);
  const names = [];
  for (let pos = 4; pos + 6 <= blob.length;) {
    const length = blob.readUInt32LE(pos);
    const kind = blob.readUInt16LE(pos + 4);
    const chunk = blob.subarray(pos + 6, pos + length);
    if (kind === 0x80) {
      for (let p = 0; p + 2 <= chunk.length;) {
        const n = chunk.readUInt16LE(p);
        names.push(chunk.subarray(p + 2, p + 2 + n).toString("utf16le"));
        p += 2 + n;
      }
    } else if (kind === 0x00 || kind === 0x01) {
      const headLength = chunk.readUInt32LE(0);
      const nameLength = headLength > 6 ? chunk.readUInt16LE(4) : 0;
      const owner = chunk.subarray(6, 6 + nameLength).toString("utf16le");
      const props = new Map();
      for (let p = headLength; p + 8 <= chunk.length;) {
        const entryLength = chunk.readUInt16LE(p);
        const valueLength = chunk.readUInt16LE(p + 6);
        props.set(names[chunk.readUInt16LE(p + 4)], {
          type: chunk[p + 3],
          value: chunk.subarray(p + 8, p + 8 + valueLength),
        });
        if (entryLength < 8) break;
        p += entryLength;
      }
      blocks.set(owner, props);
    }
    if (length < 6) break;
    pos += length;
  }
  return blocks;
}

function tableProperties(reader, tableName) {
  const rows = catalogue(reader).filter((r) => r.Name === tableName && (r.Type & 0x7f) === 1);
  if (rows.length !== 1) throw new Error(`${rows.length} catalogue rows for table ${tableName}`);
  return parseProperties(rows[0].LvProp);
}

// ---------------------------------------------------------------------------------------------
// Calculated columns: the row holds the last computed value in a wrapper (16 bytes, a 4-byte
// length at 16, the data from 20); how to read the data is given by the ResultType property,
// which can differ from the type in the column descriptor.

function unwrapCalculated(bytes) {
  if (bytes.length < 20) throw new Error(`calculated value of ${bytes.length} bytes`);
  const length = bytes.readInt32LE(16);
  return bytes.subarray(20, 20 + Math.min(length, bytes.length - 20));
}

// Calculated decimals carry their own scale: 2-byte length, scale, sign, then the magnitude
// as 32-bit words, most significant first, each 8-byte group stored little-endian, with a
// leading odd word on its own.
function readCalculatedDecimal(data) {
  const total = data.readInt16LE(0);
  let length = (total > 0 ? total : data.length - 2) - 2;
  length = Math.min(Math.floor(length / 4) * 4, 16);
  const scale = data[2];
  const negative = data[3] !== 0;
  const bytes = Buffer.from(data.subarray(4, 4 + length));
  let pos = 0;
  if (bytes.length % 8 !== 0) {
    bytes.subarray(0, 4).reverse();
    pos = 4;
  }
  for (; pos < bytes.length; pos += 8) bytes.subarray(pos, pos + 8).reverse();
  let magnitude = 0n;
  for (const b of bytes) magnitude = magnitude * 256n + BigInt(b);
  let digits = magnitude.toString().padStart(scale + 1, "0");
  if (scale > 0) digits = digits.slice(0, -scale) + "." + digits.slice(-scale);
  return (negative && magnitude !== 0n ? "-" : "") + digits;
}

function formatCalculated(raw, resultType, column) {
  const type = TYPE_NAMES[resultType];
  if (!type) throw new Error(`unknown result type ${resultType} of ${column.name}`);
  const data = unwrapCalculated(type === "memo" || type === "ole" ? raw.readLongValue() : raw.slot);
  if (data.length === 0 && !["text", "memo", "binary", "ole"].includes(type)) {
    // Access leaves an empty wrapper (not a null-mask null) when the expression gave Null.
    note(`${column.name}: empty calculated ${type} value read as null`);
    return "null";
  }
  switch (type) {
    case "boolean":
      return data.length > 0 && data[0] !== 0 ? "true" : "false";
    case "numeric":
      return jsonString(readCalculatedDecimal(data));
    case "memo":
      return formatValue("text", raw.readAs("text", data), column);
    case "ole":
      return formatValue("ole", data, column);
    default:
      return formatValue(type, raw.readAs(type, data), column);
  }
}

// ---------------------------------------------------------------------------------------------
// Complex columns: the 32-bit value in the row is a key into a hidden flat table, found through
// MSysComplexColumns; the kind of column follows from its template table.

function complexInfo(reader, tableName, column) {
  const complexColumns = reader.getTable("MSysComplexColumns").getData();
  const matches = complexColumns.filter(
    (r) => (r.ConceptualTableID & 0xffffff) === column.complex.tableDefinitionPage &&
           r.ColumnName === column.name);
  if (matches.length !== 1) throw new Error(`${matches.length} complex entries for ${column.name}`);
  const entry = matches[0];
  if (entry.ComplexID !== column.complexId) {
    note(`${tableName}.${column.name}: complex id ${column.complexId} at descriptor 0x0B, ` +
         `MSysComplexColumns says ${entry.ComplexID}`);
  }
  const byId = (id) => {
    const rows = catalogue(reader).filter((r) => (r.Id & 0xffffff) === (id & 0xffffff));
    if (rows.length !== 1) throw new Error(`${rows.length} catalogue rows with id ${id}`);
    return rows[0].Name;
  };
  const templateName = byId(entry.ComplexTypeObjectID);
  const flat = reader.getTable(byId(entry.FlatTableID));
  const templateColumns = new Set(reader.getTable(templateName).getColumnNames());
  const own = flat.getColumns().filter((c) => !templateColumns.has(c.name));
  const keys = own.filter((c) => c.type === "long" && !c.autoLong);
  if (keys.length !== 1) throw new Error(`cannot tell the key column of ${flat.name}`);
  let kind;
  if (templateName === "MSysComplexType_Attachment") kind = "attachment";
  else if (templateName.startsWith("MSysComplexTypeVH_")) kind = "versionHistory";
  else if (templateName.startsWith("MSysComplexType_")) kind = "multiValue";
  else throw new Error(`unknown complex template ${templateName}`);
  return {
    kind,
    keyColumn: keys[0].name,
    valueColumns: flat.getColumns().filter((c) => templateColumns.has(c.name)),
    rows: flat.getData(),
  };
}

function formatComplex(tableName, column, info, cell) {
  const entries = info.rows.filter((r) => r[info.keyColumn] === cell.key);
  let items;
  if (info.kind === "attachment") {
    const decoded = entries.map((r) => ({
      name: r.FileName,
      type: r.FileType,
      data: r.FileData === null ? Buffer.alloc(0) : decodeAttachmentFileData(r.FileData),
    }));
    if (cell.native.value) {
      const same = cell.native.value.length === decoded.length && cell.native.value.every(
        (a, i) => a.name === decoded[i].name && a.type === decoded[i].type &&
                  Buffer.compare(a.data, decoded[i].data) === 0);
      if (!same) note(`${tableName}.${column.name}: mdb-reader's attachments differ for key ${cell.key}`);
    }
    items = decoded.map((a) =>
      `{"name":${a.name === null ? "null" : jsonString(a.name)},` +
      `"type":${a.type === null ? "null" : jsonString(a.type)},` +
      `"size":${a.data.length},` +
      `"sha256":"${createHash("sha256").update(a.data).digest("hex")}"}`);
  } else if (info.kind === "multiValue") {
    const [valueColumn] = info.valueColumns;
    items = entries.map((r) => formatValue(valueColumn.type, r[valueColumn.name], valueColumn));
  } else {
    const text = info.valueColumns.find((c) => c.type === "memo" || c.type === "text");
    const modified = info.valueColumns.find((c) => c.type === "datetime");
    items = entries.map((r) =>
      `{"value":${formatValue(text.type, r[text.name], text)},` +
      `"modified":${formatValue("datetime", r[modified.name], modified)}}`);
  }
  return "[" + items.join(",") + "]";
}

// ---------------------------------------------------------------------------------------------

const notes = new Set();
function note(message) {
  if (!notes.has(message)) {
    notes.add(message);
    process.stderr.write(`note: ${message}\n`);
  }
}

function rowKey(row) {
  return JSON.stringify(row, (k, v) =>
    typeof v === "bigint" ? v.toString()
    : v instanceof Date ? v.oracleRawDouble
    : v && v.type === "Buffer" ? Buffer.from(v.data).toString("hex") : v);
}

function dumpTable(reader, tableName) {
  const table = reader.getTable(tableName);
  const columns = table.getColumns();

  // Rows in mdb-reader's own order, then in the order of a scan that follows forwarded rows.
  globalThis.__oracleFollowOverflow = false;
  const plainRows = table.getData();
  globalThis.__oracleFollowOverflow = true;
  globalThis.__oracleStats = {};
  const rows = table.getData();
  const stats = globalThis.__oracleStats[tableName] ?? { forwarded: 0, movedCopiesSkipped: 0 };
  if (stats.forwarded || stats.movedCopiesSkipped) {
    const a = plainRows.map(rowKey);
    const b = rows.map(rowKey);
    const sameSet = a.length === b.length && [...a].sort().every((k, i) => k === [...b].sort()[i]);
    const sameOrder = sameSet && a.every((k, i) => k === b[i]);
    note(`${tableName}: ${stats.forwarded} forwarded row(s) followed, ` +
         `${stats.movedCopiesSkipped} moved cop(ies) skipped; mdb-reader's own order ` +
         (sameOrder ? "is the same" : sameSet ? "differs (same rows)" :
           `has different rows (${a.length} vs ${b.length})`));
  }

  let properties = null;
  const complexInfos = new Map();
  for (const column of columns) {
    if (column.extFlags & 0xc0) {
      properties ??= tableProperties(reader, tableName);
      const resultType = properties.get(column.name)?.get("ResultType");
      if (!resultType) throw new Error(`calculated column ${column.name} has no ResultType`);
      column.resultType = resultType.value[0];
      note(`${tableName}.${column.name}: calculated column, descriptor type ${column.type}, ` +
           `value decoded as ResultType ${TYPE_NAMES[column.resultType]}`);
    }
    if (column.type === "complex") {
      complexInfos.set(column.name, complexInfo(reader, tableName, column));
      note(`${tableName}.${column.name}: complex column (${complexInfos.get(column.name).kind})`);
    }
  }

  const dateDifferences = new Map();
  const out = [];
  out.push(`{"table":${jsonString(tableName)},"columns":[` +
           columns.map((c) => `{"name":${jsonString(c.name)},"type":${jsonString(c.type)}}`).join(",") +
           `],"rowCount":${rows.length},"rows":[`);
  rows.forEach((row, i) => {
    const cells = columns.map((column) => {
      const value = row[column.name];
      let text;
      if (value === null || value === undefined) text = "null";
      else if (value.oracleCalculated) text = formatCalculated(value.oracleCalculated, column.resultType, column);
      else if (value.oracleComplex) {
        const cell = value.oracleComplex;
        if (cell.native.error && !notes.has(`complex-error ${column.name}`)) {
          notes.add(`complex-error ${column.name}`);
          note(`${tableName}.${column.name}: mdb-reader fails: ${cell.native.error.message}` +
               (cell.native.error.cause ? ` (${cell.native.error.cause.message})` : ""));
        }
        text = formatComplex(tableName, column, complexInfos.get(column.name), cell);
      } else {
        text = formatValue(column.type, value, column);
        if (column.type === "datetime") {
          const plain = value.toISOString().replace("T", " ").replace(/\.000Z$|Z$/, "");
          if (plain !== JSON.parse(text)) {
            const seen = dateDifferences.get(column.name);
            if (seen) ++seen.count;
            else dateDifferences.set(column.name, { count: 1, example:
              `${value.toISOString()} for ${JSON.parse(text)} (stored ${value.oracleRawDouble})` });
          }
        }
      }
      return `${jsonString(column.name)}:${text}`;
    });
    out.push("{" + cells.join(",") + "}" + (i + 1 < rows.length ? "," : ""));
  });
  out.push("]}");
  for (const [name, { count, example }] of dateDifferences) {
    note(`${tableName}.${name}: mdb-reader's Date differs from Access's reading in ${count} row(s), ` +
         `e.g. ${example}`);
  }
  return out.join("\n") + "\n";
}

function listTables(reader, followingReader) {
  const names = reader.getTableNames();
  const following = followingReader.getTableNames();
  if (names.join("\n") !== following.join("\n")) {
    note(`catalogue: a scan that follows forwarded rows lists the tables as ${JSON.stringify(following)}`);
  }
  return names.map((n) => n + "\n").join("");
}

function main(argv) {
  let password;
  const args = [];
  for (let i = 0; i < argv.length; ++i) {
    if (argv[i] === "--password") password = argv[++i];
    else args.push(argv[i]);
  }
  const list = args[0] === "--list";
  if (list) args.shift();
  if (args.length !== (list ? 1 : 2)) {
    process.stderr.write("usage: node dump.mjs DB TABLE [--password PW] | --list DB [--password PW]\n");
    return 2;
  }
  const file = readFileSync(args[0]);
  const open = (follow) => {
    globalThis.__oracleFollowOverflow = follow;
    return new MDBReader(Buffer.from(file), password === undefined ? {} : { password });
  };
  const reader = open(false); // the catalogue is read in mdb-reader's own order
  process.stdout.write(list ? listTables(reader, open(true)) : dumpTable(reader, args[1]));
  return 0;
}

process.exitCode = main(process.argv.slice(2));
