// Table definitions built from a description: what creating a table writes,
// for user tables and for the system tables of a new database, laid out the
// way Access lays them out.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "jet/record/column_descriptor.h"
#include "jet/record/value.h"
#include "jet/storage/format.h"

namespace jet {

// Real-index flags.
inline constexpr uint8_t kIndexUnique = 0x01;
inline constexpr uint8_t kIndexIgnoreNulls = 0x02;
inline constexpr uint8_t kIndexRequired = 0x08;
inline constexpr uint8_t kIndexBase = 0x80;  // set on every index from Jet 4 on

struct ColumnDesign {
  std::string name;
  ColumnType type = ColumnType::kText;
  uint16_t length = 0;  // bytes (text: two per character; memo and OLE: 0)
  uint8_t flags = kColUpdatable;
  uint8_t ext_flags = 0;
  uint8_t precision = 0;  // numeric
  uint8_t scale = 0;
};

struct IndexDesign {
  std::string name;
  std::vector<uint16_t> columns;  // column numbers, all ascending
  uint8_t flags = kIndexBase;
  uint8_t kind = 0;     // 0 normal, 1 primary key
  uint32_t number = 0;  // the logical index's number
};

struct TableDesign {
  uint8_t table_type = 0x4E;  // 'N' user table, 'S' system table
  // System tables list their descriptors in name order and leave the
  // descriptors' second number 0; user tables keep the given order.
  bool system_layout = false;
  std::vector<ColumnDesign> columns;  // in column-number order
  std::vector<IndexDesign> indexes;   // one real index each, in real-index order
};

// Where the definition's maps and index roots are (row pointers, pages).
struct TablePlacement {
  uint32_t owned_map = 0;
  uint32_t free_map = 0;
  std::vector<uint32_t> index_maps;   // per index
  std::vector<uint32_t> index_roots;  // per index
  // Owned and free maps of each memo or OLE column, in column-number order.
  std::vector<std::pair<uint32_t, uint32_t>> long_value_maps;
};

// Number of memo and OLE columns (each needs two map rows).
size_t LongValueColumns(const TableDesign& design);

// The logical definition buffer (page header included, one page or more).
// `lcid` and `sort_version` go into every descriptor, as Access writes them.
std::vector<uint8_t> BuildTableDefinition(const TableDesign& design,
                                          const TablePlacement& placement, const Layout& layout,
                                          uint16_t lcid, uint8_t sort_version);

// Refuses names Access does not allow for fields and tables ("'x' is not a
// valid <what> name: ..."): empty, longer than 64 characters, starting with a
// blank, holding control characters or any of . ! ` [ ].
void CheckObjectName(const std::string& name, const std::string& what);

}  // namespace jet
