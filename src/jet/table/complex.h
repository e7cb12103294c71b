// Complex columns: attachments, multi-value fields and the version history of
// append-only memos. The row holds a 32-bit key; the values are the rows of a
// hidden "flat" table whose foreign-key column holds that key. The flat table
// and the template table that decides the kind are found through
// MSysComplexColumns by the complex id of the column's descriptor.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "jet/record/tdef.h"
#include "jet/record/value.h"
#include "jet/storage/bytes.h"

namespace jet {

class Database;

struct ComplexColumnInfo {
  ComplexKind kind = ComplexKind::kUnknown;
  int32_t complex_id = 0;
  std::string type_table;  // the template table, e.g. MSysComplexType_Attachment
  std::shared_ptr<const TableDef> flat;
  // Columns of the flat table (indexes into flat->columns, -1 when absent).
  int key = -1;       // the foreign key: the owning row's complex key
  int value = -1;     // multi-value: the value; version history: the text
  int modified = -1;  // version history: the date of the text
  int file_name = -1, file_type = -1, file_data = -1;  // attachments
};

// Looks up a complex column: its MSysComplexColumns row (by complex id, or by
// table and column name when the id is not listed), the template table and the
// flat table's columns. Throws jet::Error when any of them is missing.
ComplexColumnInfo DescribeComplexColumn(Database& db, const TableDef& table, const Column& c);

// The file content of an attachment's stored FileData: an 8-byte wrapper
// (kind 0 raw or 1 zlib-deflated, content length), then a header whose first
// dword is its own length, then the file. Throws "damaged" on anything else.
std::string DecodeAttachmentData(Bytes stored);

// Reads the items behind complex keys. Each flat table is scanned once, on
// first use, to index its rows by key; later changes to the flat table are
// not seen, so keep a reader for one pass over a table (TableScan does).
class ComplexReader {
 public:
  explicit ComplexReader(Database& db) : db_(&db) {}

  // The items behind `key` in flat-table order (no items: an empty list).
  std::shared_ptr<const ComplexList> Read(const TableDef& table, const Column& c, int32_t key);
  const ComplexColumnInfo& Info(const TableDef& table, const Column& c);

 private:
  struct Entry {
    ComplexColumnInfo info;
    std::unordered_map<int32_t, std::vector<RowId>> rows;  // key -> flat rows in order
  };
  Entry& Load(const TableDef& table, const Column& c);

  Database* db_;
  std::map<std::pair<uint32_t, uint16_t>, Entry> entries_;  // (table page, column number)
};

// The items behind one key, without keeping an index: scans the flat table
// each time. For many rows use a ComplexReader (or TableScan::Get).
std::vector<ComplexItem> ReadComplex(Database& db, const TableDef& table, const Column& c,
                                     int32_t key);

}  // namespace jet
