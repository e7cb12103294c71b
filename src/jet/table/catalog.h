// The catalogue (MSysObjects, whose definition is page 2): every object of
// the database, the tables schema rowset, and the table definitions, read
// once and kept until a change makes them stale.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/record/properties.h"
#include "jet/record/tdef.h"
#include "jet/storage/format.h"
#include "jet/storage/header.h"
#include "jet/storage/pager.h"

namespace jet {

class Database;

struct CatalogEntry {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;
  int16_t type = 0;
  uint32_t flags = 0;
  std::string database;      // linked tables: the source file
  std::string foreign_name;  // linked tables: the source table
  std::string connect;
  RowId row;  // its row in MSysObjects
};

// One row of the tables schema rowset: "TABLE", "SYSTEM TABLE",
// "ACCESS TABLE", "LINK", "PASS-THROUGH" or "VIEW".
struct SchemaRow {
  std::string table_name;
  std::string table_type;
};

class SystemCatalog {
 public:
  SystemCatalog(Database& db, Pager& pager, const Layout& layout, const HeaderInfo& header)
      : db_(db), pager_(pager), layout_(layout), header_(header) {}

  // Every catalogue object, in scan order.
  const std::vector<CatalogEntry>& Entries();
  // The catalogue's own definition (read with the entries).
  const std::shared_ptr<const TableDef>& definition() {
    Entries();
    return definition_;
  }
  std::vector<SchemaRow> TablesRowset();
  std::vector<std::string> UserTables();
  const CatalogEntry& FindTableEntry(const std::string& name);
  std::shared_ptr<const TableDef> Table(const std::string& name);
  std::shared_ptr<const TableDef> TableById(int32_t object_id);
  const CatalogEntry* FindObject(int32_t object_id);
  ObjectProperties Properties(int32_t object_id);
  ObjectProperties TableProperties(const std::string& name);
  // The LvProp blob of a catalogue row, empty when it has none.
  std::string ReadLvProp(const CatalogEntry& e);

  void InvalidateTable(uint32_t tdef_page);
  void Invalidate() { loaded_ = false; }
  void Forget() {
    tables_.clear();
    loaded_ = false;
  }

 private:
  std::shared_ptr<const TableDef> LoadTable(const CatalogEntry& entry);

  Database& db_;
  Pager& pager_;
  const Layout& layout_;
  const HeaderInfo& header_;
  bool loaded_ = false;
  std::vector<CatalogEntry> entries_;
  std::shared_ptr<const TableDef> definition_;
  std::map<uint32_t, std::shared_ptr<const TableDef>> tables_;
};

}  // namespace jet
