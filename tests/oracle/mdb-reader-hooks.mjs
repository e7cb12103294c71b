// Module-load hooks that instrument mdb-reader (pinned to 3.2.0 in package.json) for dump.mjs.
//
// mdb-reader is used as an independent reader, but a few of its behaviours would make the
// expected outputs wrong or unusable; each patch below is small, named, and fails loudly if the
// text it expects is not there (e.g. after a version bump), so that nothing changes silently.
//
//  date-raw         keep the stored double next to mdb-reader's Date, so that dates can be
//                   printed with Access's rule for values before 1899-12-30.
//  copy-first       readCurrency (negative values) and readRepID swap or negate a *view* of the
//                   page in place, which corrupts the file buffer for any later read of the same
//                   row (the second read of a GUID comes out byte-swapped).
//  column-extras    expose the extended-flags byte (calculated columns) and the complex id
//                   read from descriptor offset 0x0B.
//  overflow         optionally follow 0x4000 forwarding slots and skip 0x8000 moved copies
//                   (Jackcess/Access order) instead of skipping the forwarders and returning the
//                   copies in place (mdb-reader's own order). Switched by
//                   globalThis.__oracleFollowOverflow; counters per table in globalThis.__oracleStats.
//  raw-values       calculated and complex columns come back as raw material (wrapped bytes,
//                   the complex key) for dump.mjs to decode, with mdb-reader's own result for
//                   complex columns kept for comparison.

const PATCHES = {
  "data/datetime.js": [
    {
      name: "date-raw",
      find: "return new Date(Math.round((td - daysDiff) * 86400 * 1000));",
      replace:
        "const date = new Date(Math.round((td - daysDiff) * 86400 * 1000));\n" +
        "    date.oracleRawDouble = td;\n" +
        "    return date;",
    },
  ],
  "data/currency.js": [
    {
      name: "copy-first (currency)",
      find: "export function readCurrency(buffer) {",
      replace: "export function readCurrency(buffer) {\n    buffer = Buffer.from(buffer);",
    },
  ],
  "data/repid.js": [
    {
      name: "copy-first (repid)",
      find: "export function readRepID(buffer) {",
      replace: "export function readRepID(buffer) {\n    buffer = Buffer.from(buffer);",
    },
  ],
  "Table.js": [
    {
      name: "column-extras",
      find: "...parseColumnFlags(columnBuffer.readUInt8(this.#database.format.tableDefinitionPage.columnsDefinition.flagsOffset)),",
      replace:
        "...parseColumnFlags(columnBuffer.readUInt8(this.#database.format.tableDefinitionPage.columnsDefinition.flagsOffset)),\n" +
        "                extFlags: this.#database.format.tableDefinitionPage.columnsDefinition.entrySize >= 25\n" +
        "                    ? columnBuffer.readUInt8(this.#database.format.tableDefinitionPage.columnsDefinition.flagsOffset + 1)\n" +
        "                    : 0,\n" +
        "                complexId: type === ColumnTypes.Complex ? columnBuffer.readInt32LE(11) : undefined,",
    },
    {
      name: "overflow (scan)",
      find:
        "            if (recordStart & 0x4000) {\n" +
        "                // deleted record\n" +
        "                continue;\n" +
        "            }",
      replace:
        "            const oracleStats = ((globalThis.__oracleStats ??= {})[this.#name] ??= { forwarded: 0, movedCopiesSkipped: 0 });\n" +
        "            if (globalThis.__oracleFollowOverflow) {\n" +
        "                const flags = recordStart & 0xc000;\n" +
        "                if (flags === 0xc000) {\n" +
        "                    continue;\n" +
        "                }\n" +
        "                if (flags === 0x8000) {\n" +
        "                    ++oracleStats.movedCopiesSkipped;\n" +
        "                    continue;\n" +
        "                }\n" +
        "                if (flags === 0x4000) {\n" +
        "                    ++oracleStats.forwarded;\n" +
        "                    recordOffsets.push(this.#oracleFollow(pageBuffer, recordStart & offsetMask));\n" +
        "                    continue;\n" +
        "                }\n" +
        "            }\n" +
        "            else if (recordStart & 0x4000) {\n" +
        "                // deleted record\n" +
        "                continue;\n" +
        "            }",
    },
    {
      name: "overflow (follow)",
      find: "    #getDataFromPage(pageBuffer, recordOffsets, columns) {",
      replace:
        "    #oracleFollow(pageBuffer, start) {\n" +
        "        const countOffset = this.#database.format.dataPage.record.countOffset;\n" +
        "        for (let hop = 0; hop < 8; ++hop) {\n" +
        "            const pointer = pageBuffer.readUInt32LE(start);\n" +
        "            const page = pointer >>> 8;\n" +
        "            const row = pointer & 0xff;\n" +
        "            const target = this.#getDataPage(page);\n" +
        "            if (row >= target.readUInt16LE(this.#database.format.dataPage.recordCountOffset)) {\n" +
        "                throw new Error(`Overflow pointer to missing row ${row} on page ${page}`);\n" +
        "            }\n" +
        "            const entry = target.readUInt16LE(countOffset + 2 + row * 2);\n" +
        "            const targetStart = entry & 0x1fff;\n" +
        "            if ((entry & 0xc000) === 0x4000) {\n" +
        "                pageBuffer = target;\n" +
        "                start = targetStart;\n" +
        "                continue;\n" +
        "            }\n" +
        "            if ((entry & 0xc000) === 0xc000) {\n" +
        "                throw new Error(`Overflow pointer to deleted row ${row} on page ${page}`);\n" +
        "            }\n" +
        "            const nextStart = row === 0\n" +
        "                ? this.#database.format.pageSize\n" +
        "                : target.readUInt16LE(countOffset + row * 2) & 0x1fff;\n" +
        "            return [targetStart, nextStart - 1, target];\n" +
        "        }\n" +
        "        throw new Error(\"Overflow pointer chain too long\");\n" +
        "    }\n" +
        "    #getDataFromPage(scanPageBuffer, recordOffsets, columns) {",
    },
    {
      name: "overflow (read)",
      find: "        for (const [recordStart, recordEnd] of recordOffsets) {",
      replace:
        "        for (const [recordStart, recordEnd, forwardedPage] of recordOffsets) {\n" +
        "            const pageBuffer = forwardedPage ?? scanPageBuffer;",
    },
  ],
  "data/index.js": [
    {
      name: "raw-values",
      find:
        "export function readFieldValue(buffer, column, database) {\n" +
        "    if (column.type === ColumnTypes.Boolean) {",
      replace:
        "export function readFieldValue(buffer, column, database) {\n" +
        "    if (column.extFlags & 0xc0) {\n" +
        "        const slot = Buffer.from(buffer);\n" +
        "        return {\n" +
        "            oracleCalculated: {\n" +
        "                slot,\n" +
        "                readAs: (type, bytes, extra = {}) => readFnByColType[type](Buffer.from(bytes), { ...column, ...extra, type, extFlags: 0 }, database),\n" +
        "                readLongValue: () => Buffer.from(readOLE(slot, column, database)),\n" +
        "            },\n" +
        "        };\n" +
        "    }\n" +
        "    if (column.type === ColumnTypes.Complex) {\n" +
        "        let native;\n" +
        "        try {\n" +
        "            native = { value: readComplex(buffer, column, database) };\n" +
        "        }\n" +
        "        catch (error) {\n" +
        "            native = { error };\n" +
        "        }\n" +
        "        return { oracleComplex: { key: buffer.readInt32LE(0), native } };\n" +
        "    }\n" +
        "    if (column.type === ColumnTypes.Boolean) {",
    },
  ],
};

const PREFIX = "/node_modules/mdb-reader/lib/node/";

export async function load(url, context, nextLoad) {
  const result = await nextLoad(url, context);
  const at = url.indexOf(PREFIX);
  if (at < 0) return result;
  const patches = PATCHES[url.slice(at + PREFIX.length)];
  if (!patches) return result;
  let source = String(result.source);
  for (const patch of patches) {
    const first = source.indexOf(patch.find);
    if (first < 0 || source.indexOf(patch.find, first + 1) >= 0) {
      throw new Error(`mdb-reader patch "${patch.name}" does not apply to ${url}`);
    }
    source = source.replace(patch.find, () => patch.replace);
  }
  return { ...result, source, shortCircuit: true };
}
