// Decoding rows against a table definition, and reading long values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/tdef.h"
#include "jet/value.h"

namespace jet {

class Pager;

// Reads the bytes of a memo or OLE value from its 12-byte header (and the
// inline data that may follow it).
std::string ReadLongValue(Pager& pager, const Layout& layout, Bytes field);

// A decoded view of one row's bytes. The row bytes must outlive the view.
class RowView {
 public:
  RowView(const TableDef& table, const Layout& layout) : table_(&table), layout_(&layout) {}
  // Parses the row's bookkeeping (column count, variable offsets, null mask).
  void Load(Bytes row);

  uint16_t column_count() const { return col_count_; }
  // Number of variable slots; parses the variable section on first use.
  uint16_t var_count() const;
  bool HasColumn(uint16_t number) const { return number < col_count_; }
  bool NullBit(uint16_t number) const;
  // The stored bytes of a column, or nullopt when it is null (booleans: their
  // value is the null bit; they give an empty span when true).
  std::optional<Bytes> Raw(const Column& c) const;
  Bytes row() const { return row_; }
  Bytes null_mask() const;

 private:
  const TableDef* table_;
  const Layout* layout_;
  // Rows written while the table had no variable columns have no variable
  // section at all, so it is only parsed when a variable column the row
  // already had is asked for.
  void ParseVariable() const;

  Bytes row_;
  uint16_t col_count_ = 0;
  uint32_t mask_size_ = 0;
  mutable bool var_parsed_ = false;
  mutable uint16_t var_count_ = 0;
  mutable std::vector<uint16_t> var_offsets_;  // var_count_ + 1 entries (last: end of data)
};

// Decodes a value of a type stored in place (numbers, dates, GUIDs, Date/Time
// Extended; other types give their bytes as binary). `scale` is a decimal's.
Value DecodeFixedValue(ColumnType type, Bytes raw, uint8_t scale);
// Turns a column's stored bytes into a value. Long values are fetched
// through `pager`.
Value DecodeValue(const Column& c, Bytes raw, Pager& pager, const Layout& layout,
                  uint16_t code_page);
// The value of column `c` in `row` (null-aware, booleans from the mask).
Value ReadColumn(const RowView& row, const Column& c, Pager& pager, const Layout& layout,
                 uint16_t code_page);

// Decodes stored text of a text or memo column.
std::string DecodeText(Bytes stored, const Layout& layout, uint16_t code_page);

}  // namespace jet
