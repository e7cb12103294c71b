// Decoding rows against a table definition, and reading long values.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/storage/bytes.h"
#include "jet/storage/format.h"
#include "jet/storage/pager.h"
#include "jet/record/tdef.h"
#include "jet/record/text.h"
#include "jet/record/value.h"

namespace jet {

// Reads the bytes of a memo or OLE value from its 12-byte header (and the
// inline data that may follow it).
std::string ReadLongValue(Pager& pager, const Layout& layout, Bytes field);
// The same bytes without a copy where they lie in one place: inline data is
// a part of `field`, data in one row of another page a part of that page,
// which `hold` keeps alive. Only a chain of rows is gathered, into `chain`.
// The result is valid while `field`, `hold` and `chain` are.
Bytes LongValueBytes(Pager& pager, const Layout& layout, Bytes field, PagePtr& hold,
                     std::string& chain);

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
  // var_count_ + 1 entries (last: end of data); kept from row to row, which
  // mostly have as many.
  mutable std::vector<uint16_t> var_offsets_;
};

// Inline: a scan asks for every column of every row.
inline bool RowView::NullBit(uint16_t number) const {
  if (number >= col_count_) return false;
  return (row_[row_.size() - mask_size_ + number / 8] >> (number % 8)) & 1;
}

inline std::optional<Bytes> RowView::Raw(const Column& c) const {
  if (c.number >= col_count_) return std::nullopt;
  bool bit = NullBit(c.number);
  if (c.type == ColumnType::kBoolean && !c.calculated()) {
    return bit ? std::optional<Bytes>(Bytes()) : std::nullopt;
  }
  if (!bit) return std::nullopt;
  if (c.fixed()) {
    size_t start = layout_->row_count_size + c.fixed_offset;
    if (start + c.length > row_.size()) ThrowDamaged("a fixed column lies outside its row");
    return row_.subspan(start, c.length);
  }
  ParseVariable();
  if (c.var_index >= var_count_) return std::nullopt;
  uint16_t a = var_offsets_[c.var_index];
  uint16_t b = var_offsets_[c.var_index + 1];
  if (b < a) ThrowDamaged("a variable column has a negative length");
  return row_.subspan(a, b - a);
}

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
// The same text written at `dst`, which needs room for
// kMaxUtf8PerStoredByte bytes a stored byte; returns the end.
inline char* WriteDecodedText(char* dst, Bytes stored, const Layout& layout, uint16_t code_page) {
  if (layout.jet3) return WriteCodePageAsUtf8(dst, stored, code_page);
  return WriteUcs2TextAsUtf8(dst, stored);
}

}  // namespace jet
