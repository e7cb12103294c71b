// Writing table rows: updates in place or behind a forwarding pointer,
// inserts with their index entries, and the long values both need.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "jet/index/index.h"
#include "jet/page/allocator.h"
#include "jet/record/row_writer.h"
#include "jet/record/tdef.h"
#include "jet/record/value.h"
#include "jet/storage/format.h"
#include "jet/storage/pager.h"
#include "jet/table/long_value_store.h"

namespace jet {

class Database;

class RowStore {
 public:
  RowStore(Database& db, Pager& pager, PageAllocator& allocator, const Layout& layout,
           LongValueStore& long_values)
      : db_(db), pager_(pager), allocator_(allocator), layout_(layout), long_values_(long_values) {}

  void Update(const TableDef& t, RowId id,
              const std::vector<std::pair<const Column*, Value>>& values);
  RowId Insert(const TableDef& t, const std::vector<std::pair<const Column*, Value>>& values);

  void Forget() {
    move_page_.clear();
    insert_page_.clear();
    index_cache_.Clear();
  }

 private:
  // A pending index entry of a new row.
  struct PendingKey {
    size_t index;
    std::string key;
    bool existed;
  };
  using LongValues = std::vector<std::pair<const Column*, std::string>>;

  // Sets the stored form of a column's new value in `cell`; memo and OLE
  // data waits in `pending_long` until the row is laid out.
  void SetCell(const Column& c, const Value& v, RowCells::Cell& cell, LongValues& pending_long);
  // Lays out a row, storing its pending long values inline when they are
  // short and the row still fits, else out of line.
  std::string EncodeRowImage(const TableDef& t, RowCells& cells, const LongValues& pending_long);
  // Moves a row that outgrew its page behind a forwarding pointer.
  void MoveRow(const TableDef& t, RowId id, RowId data_id, std::string image);
  // A data page of the table with room for a new row of `len` bytes.
  PagePtr InsertPage(const TableDef& t, size_t len);
  PagePtr MovedRowPage(const TableDef& t, size_t len, uint32_t avoid1, uint32_t avoid2);

  // Insert's steps: the row's values with defaults and autonumbers, its
  // index keys (refusing duplicates), the rows it refers to, and the
  // counters of the definition.
  std::vector<Value> NewRowValues(const TableDef& t,
                                  const std::vector<std::pair<const Column*, Value>>& values,
                                  uint32_t& autonumber);
  std::vector<PendingKey> NewRowKeys(const TableDef& t, const std::vector<Value>& row);
  void CheckReferences(const TableDef& t, const std::vector<Value>& row);
  void CountNewRow(const TableDef& t, uint32_t row_count, uint32_t autonumber,
                   const std::vector<PendingKey>& keys);

  Database& db_;
  Pager& pager_;
  PageAllocator& allocator_;
  const Layout& layout_;
  LongValueStore& long_values_;
  // Pages that recently had room, so consecutive writes fill them up.
  std::map<uint32_t, uint32_t> move_page_;    // tdef page -> data page
  std::map<uint32_t, uint32_t> insert_page_;  // tdef page -> data page
  IndexCache index_cache_;
};

}  // namespace jet
