// Table definitions: the header, column descriptors and names, index
// sections and long-value column maps, read from one or more TDEF pages into
// a single logical buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/storage/bytes.h"
#include "jet/storage/format.h"
#include "jet/record/column_descriptor.h"
#include "jet/record/value.h"

namespace jet {

class Pager;

struct Column {
  std::string name;
  uint8_t type_code = 0;
  ColumnType type = ColumnType::kBinary;
  uint16_t number = 0;
  uint16_t var_index = 0;
  uint16_t fixed_offset = 0;
  uint16_t length = 0;
  uint8_t flags = 0;
  uint8_t ext_flags = 0;
  uint8_t precision = 0;
  uint8_t scale = 0;
  uint16_t lcid = 0;
  uint16_t code_page = 0;  // Jet 3 text columns
  uint8_t sort_version = 0;
  int32_t complex_id = 0;
  // Calculated columns: the type code of the stored result (the ResultType
  // property), 0 when unknown. The result can differ from the descriptor's
  // type, e.g. a Boolean result in an Integer column.
  uint8_t result_type = 0;

  bool fixed() const { return flags & 0x01; }
  bool autonumber() const { return flags & 0x04; }
  bool hyperlink() const { return flags & 0x80; }
  bool calculated() const { return (ext_flags & 0xC0) != 0; }
  bool compressible() const { return ext_flags & 0x01; }
  // The type the column's values have: the result type of a calculated column
  // when known, otherwise the descriptor's.
  ColumnType value_type() const {
    if (calculated() && IsKnownType(result_type)) return static_cast<ColumnType>(result_type);
    return type;
  }
};

struct RealIndex {
  std::vector<std::pair<uint16_t, uint8_t>> columns;  // column number, order flag
  uint32_t usage_map = 0;                             // row pointer
  uint32_t first_page = 0;
  uint8_t flags = 0;
};

struct LogicalIndex {
  std::string name;
  uint32_t number = 0;
  uint32_t real_index = 0;
  uint8_t kind = 0;  // 0 normal, 1 primary key, 2 foreign key
  // Relationships: 1 on the side whose key is referred to, 2 on the side
  // that refers (foreign key), with the other side's index and table.
  uint8_t related_type = 0;
  int32_t related_index = -1;
  uint32_t related_table = 0;
};

struct ColumnMap {
  uint16_t column_number = 0;
  uint32_t owned_map = 0;  // row pointers
  uint32_t free_map = 0;
};

struct TableDef {
  uint32_t tdef_page = 0;
  std::vector<uint32_t> pages;  // the TDEF chain
  std::vector<uint8_t> buffer;  // logical buffer (first page whole, then each page after 8 bytes)

  uint32_t row_count = 0;
  uint32_t autonumber = 0;
  uint8_t table_type = 0;
  uint16_t max_cols = 0;
  uint16_t var_cols = 0;
  uint32_t num_logical_idx = 0;
  uint32_t num_real_idx = 0;
  uint32_t owned_map = 0;  // row pointers
  uint32_t free_map = 0;

  std::vector<Column> columns;  // in descriptor (display) order
  std::vector<RealIndex> real_indexes;
  std::vector<LogicalIndex> logical_indexes;
  std::vector<ColumnMap> column_maps;

  // Offsets into `buffer` of each section, for rewriting.
  size_t columns_offset = 0;
  size_t names_offset = 0;
  size_t real_idx_offset = 0;
  size_t column_maps_offset = 0;
  size_t terminator_offset = 0;

  // Fixed-area size needed to hold every live fixed column.
  uint16_t fixed_area = 0;

  const Column* FindColumn(std::string_view name) const;  // case-insensitive
  const ColumnMap* MapFor(uint16_t column_number) const;
  bool ColumnIsIndexed(uint16_t column_number) const;
};

// Reads the definition starting at `page`. Throws "damaged" on anything that
// does not add up, and a clear error when `page` is not a TDEF page.
TableDef ReadTableDef(Pager& pager, const Layout& layout, uint32_t page, uint16_t code_page);

// Case-insensitive comparison of names the way Access matches object and
// column names (simple case folding of Latin letters and other scripts).
bool NamesEqual(std::string_view a, std::string_view b);
std::string FoldName(std::string_view s);

}  // namespace jet
