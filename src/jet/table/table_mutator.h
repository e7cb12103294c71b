// Changing what tables are: new tables and their catalogue rows, added and
// dropped columns, and the table definition pages that carry them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/page/allocator.h"
#include "jet/record/schema.h"
#include "jet/record/tdef.h"
#include "jet/storage/format.h"
#include "jet/storage/pager.h"

namespace jet {

class Database;
struct NewColumn;
struct CatalogRow;

class TableMutator {
 public:
  TableMutator(Database& db, Pager& pager, PageAllocator& allocator, const Layout& layout)
      : db_(db), pager_(pager), allocator_(allocator), layout_(layout) {}

  void AddColumn(const std::string& table, const std::string& column, ColumnType type,
                 uint16_t text_chars);
  void DropColumn(const std::string& table, const std::string& column);
  void CreateTable(const std::string& name, const std::vector<NewColumn>& columns,
                   const std::vector<std::string>& primary_key);
  uint32_t WriteNewTable(const TableDesign& design);
  void AddCatalogRow(const CatalogRow& row);

 private:
  // Writes a definition over its pages, taking or freeing pages as it grows
  // or shrinks.
  void WriteTableDef(TableDef& t);
  uint32_t NewMapRow(const TableDef& t);
  // The descriptor, name and map entry of a column added to `t`.
  void InsertColumn(TableDef& t, const std::string& column, ColumnType type, uint16_t text_chars);
  // Refuses to drop a column that a relationship names.
  void CheckNoRelationship(const std::string& table, const std::string& column);
  void RemoveColumn(TableDef& t, const Column& c);
  // Removes a dropped column's block from its table's properties.
  void DropColumnProperties(uint32_t tdef_page, const std::string& column);
  // The parent of new tables; refuses a name the catalogue already holds.
  int32_t CheckNewTableName(const std::string& name);
  static TableDesign DesignColumns(const std::vector<NewColumn>& columns);
  static IndexDesign DesignPrimaryKey(const std::vector<NewColumn>& columns,
                                      const std::vector<std::string>& primary_key);

  Database& db_;
  Pager& pager_;
  PageAllocator& allocator_;
  const Layout& layout_;
};

}  // namespace jet
