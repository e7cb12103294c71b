// Reading a table's rows in storage order, and finding a row by its identity.
#pragma once

#include <memory>

#include "jet/page/row_table.h"
#include "jet/record/row.h"
#include "jet/record/tdef.h"
#include "jet/record/value.h"
#include "jet/storage/pager.h"

namespace jet {

class Database;
class ComplexReader;

// Walks the live rows of a table in storage order: the pages of its
// owned-pages map ascending, slots in order, following moved rows to their
// data and skipping deleted rows and moved copies.
class TableScan {
 public:
  TableScan(Database& db, std::shared_ptr<const TableDef> table);
  ~TableScan();
  // Advances to the next row; false at the end.
  bool Next();
  // Identity of the current row (the slot indexes point to).
  RowId id() const { return id_; }
  // Where the current row's bytes really are (differs for moved rows).
  RowId data_id() const { return data_id_; }
  const RowView& row() const { return row_; }
  // The value of a column in the current row; complex columns come with the
  // items behind their key (each flat table is read once per scan).
  Value Get(const Column& c);
  const TableDef& table() const { return *table_; }

 private:
  bool LoadSlot();
  Database* db_;
  std::shared_ptr<const TableDef> table_;
  std::vector<uint32_t> pages_;
  size_t page_index_ = 0;
  int slot_ = -1;
  PagePtr page_;
  RowTable slots_;  // of page_
  PagePtr data_page_;
  RowView row_;
  RowId id_, data_id_;
  std::unique_ptr<ComplexReader> complex_;
};

// Resolves a row identity to its data (following overflow pointers).
// Returns false when the row is deleted.
bool ResolveRow(Database& db, const TableDef& t, RowId id, PagePtr& page, Bytes& bytes,
                RowId& data_id);

}  // namespace jet
