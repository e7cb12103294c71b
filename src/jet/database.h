// An open Access database: header, catalogue, table definitions and row
// scans. Opening the same file twice in one process gives the same object,
// so that every connection sees the others' changes at once.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "jet/allocator.h"
#include "jet/bytes.h"
#include "jet/format.h"
#include "jet/header.h"
#include "jet/index.h"
#include "jet/pager.h"
#include "jet/properties.h"
#include "jet/row.h"
#include "jet/row_writer.h"
#include "jet/schema.h"
#include "jet/tdef.h"
#include "jet/value.h"

namespace jet {

class ComplexReader;

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

// A column of a table being created.
struct NewColumn {
  std::string name;
  ColumnType type = ColumnType::kText;
  uint16_t text_chars = 255;  // text columns: 1 to 255 characters
  bool autonumber = false;    // long columns: numbered 1, 2, 3, ... on insert
};

// A row of the catalogue (MSysObjects) being added.
struct CatalogRow {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;
  int16_t type = 0;
  uint32_t flags = 0;
  double date = 0;      // DateCreate and DateUpdate (Access day numbering)
  std::string lv_prop;  // the LvProp blob, empty for none
};

// Catalogue ids of the containers every database has.
inline constexpr int32_t kContainersParent = 0x0F000000;
inline constexpr int32_t kTablesContainer = 0x0F000001;
inline constexpr int32_t kDatabasesContainer = 0x0F000002;
inline constexpr int32_t kRelationshipsContainer = 0x0F000003;

struct OpenOptions {
  std::string password;
  bool writable = false;
};

class Database {
 public:
  // Throws jet::Error: missing file, not a database, wrong password,
  // encrypted file that cannot be opened, in use by another writer.
  static std::shared_ptr<Database> Open(const std::string& path, const OpenOptions& options);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& path() const { return path_; }
  const HeaderInfo& header() const { return header_; }
  const Layout& layout() const { return layout_; }
  Version version() const { return header_.version; }
  uint16_t code_page() const { return header_.code_page; }
  Pager& pager() { return *pager_; }
  bool writable() const { return writable_; }

  // Every catalogue object (MSysObjects), in scan order.
  const std::vector<CatalogEntry>& Catalog();
  // The tables schema rowset, sorted by type, then by name.
  std::vector<SchemaRow> TablesRowset();
  // Names of user tables in rowset order.
  std::vector<std::string> UserTables();

  // A local table by name (Access matches names without regard to case).
  // Throws errnum::kNoSuchTable for unknown names and a clear error for
  // linked tables and queries.
  std::shared_ptr<const TableDef> Table(const std::string& name);
  // A local table by its catalogue id (the id is also its definition's page).
  std::shared_ptr<const TableDef> TableById(int32_t object_id);
  // The catalogue entry with this id, or null.
  const CatalogEntry* FindObject(int32_t object_id);

  // The properties stored with a catalogue object (its LvProp blob); empty
  // when it has none. Throws "damaged" when the blob does not parse.
  ObjectProperties Properties(int32_t object_id);
  // The properties of a table, found by name like Table().
  ObjectProperties TableProperties(const std::string& name);

  // Forgets cached definitions (after a definition was rewritten).
  void InvalidateTable(uint32_t tdef_page);
  void InvalidateCatalog();

  // --- Changes. They need a writable open and become durable at Commit.
  // Adds a column at the end of a table. Existing rows are not rewritten:
  // they read the new column as null. `text_chars` sizes text columns.
  void AddColumn(const std::string& table, const std::string& column, ColumnType type,
                 uint16_t text_chars = 255);
  // Drops a column; refused for columns in an index or a relationship.
  void DropColumn(const std::string& table, const std::string& column);
  // Sets values of the row whose identity is `id`.
  void UpdateRow(const TableDef& t, RowId id,
                 const std::vector<std::pair<const Column*, Value>>& values);
  // Makes every change durable; on failure the file stays as of the last commit.
  // Creates a user table with the columns in the order given and, when
  // `primary_key` names columns, a primary key over them. Refused in Jet 3
  // files, for an existing name, invalid names, and key columns whose index
  // keys cannot be written (memo, OLE).
  void CreateTable(const std::string& name, const std::vector<NewColumn>& columns,
                   const std::vector<std::string>& primary_key = {});
  // Appends a row. Columns not given are null; an autonumber column not
  // given (or given null) gets the table's next number. Every index of the
  // table gets its entry; a duplicate in a unique index, or a null in a
  // primary key, is refused before anything changes. Returns the new row.
  RowId InsertRow(const TableDef& t, const std::vector<std::pair<const Column*, Value>>& values);
  RowId InsertRow(const std::string& table,
                  const std::vector<std::pair<std::string, Value>>& values);
  // The two halves of creating a table, for building a new database: the
  // definition with its maps and empty index roots (returns the definition's
  // page, which is the table's catalogue id), and a catalogue row.
  uint32_t WriteNewTable(const TableDesign& design);
  void AddCatalogRow(const CatalogRow& row);
  void Commit();
  void Rollback();
  size_t pending_pages() const { return pager_->dirty_count(); }

  // Reads one value of a row (null-aware). A complex column gives its key
  // only; TableScan::Get also reads the items behind it.
  Value Read(const RowView& row, const Column& c) {
    return ReadColumn(row, c, *pager_, layout_, header_.code_page);
  }

 private:
  Database() = default;
  void Load(const std::string& path, const OpenOptions& options, PageFile file);
  void CheckPassword(const std::string& password, std::span<const uint8_t> raw_page0);
  // Opens of a file already open here: the Office encryption password.
  void CheckOfficePassword(const std::string& password, std::span<const uint8_t> raw_page0);
  void UpgradeToWritable();
  void RequireWritable();
  void ForgetCaches();
  void WriteTableDef(TableDef& t);
  // The LvProp blob of a catalogue row, empty when it has none.
  std::string ReadLvProp(const CatalogEntry& e);
  // Removes a dropped column's block from its table's properties.
  void DropColumnProperties(uint32_t tdef_page, const std::string& column);
  // Stores a long value for column `c` and returns the field (12-byte header,
  // plus the data when `inline_ok`).
  std::string StoreLongValue(const TableDef& t, const Column& c, const std::string& data,
                             bool inline_ok);
  void FreeLongValue(const TableDef& t, const Column& c, Bytes field);
  // A page with room for `len` more bytes of long values of column `c`.
  PagePtr LongValuePage(const TableDef& t, const Column& c, size_t len);
  PagePtr MovedRowPage(const TableDef& t, size_t len, uint32_t avoid1, uint32_t avoid2);
  // Sets the stored form of a column's new value in `cell`; memo and OLE
  // data waits in `pending_long` until the row is laid out.
  void SetCell(const Column& c, const Value& v, RowCells::Cell& cell,
               std::vector<std::pair<const Column*, std::string>>& pending_long);
  // Lays out a row, storing its pending long values inline when they are
  // short and the row still fits, else out of line.
  std::string EncodeRowImage(
      const TableDef& t, RowCells& cells,
      const std::vector<std::pair<const Column*, std::string>>& pending_long);
  // A data page of the table with room for a new row of `len` bytes.
  PagePtr InsertPage(const TableDef& t, size_t len);
  uint32_t NewMapRow(const TableDef& t);
  const CatalogEntry& FindTableEntry(const std::string& name);
  std::shared_ptr<const TableDef> LoadTable(const CatalogEntry& entry);

  std::string path_;
  HeaderInfo header_;
  Layout layout_;
  std::unique_ptr<Pager> pager_;
  bool writable_ = false;
  bool catalog_loaded_ = false;
  std::vector<CatalogEntry> catalog_;
  std::shared_ptr<const TableDef> catalog_def_;
  std::map<uint32_t, std::shared_ptr<const TableDef>> tables_;
  std::u16string password_;
  std::string office_password_;  // the Office encryption password this object was opened with
  std::unique_ptr<PageAllocator> allocator_;
  // Pages that recently had room, so consecutive writes fill them up.
  std::map<uint32_t, uint32_t> move_page_;    // tdef page -> data page
  std::map<uint32_t, uint32_t> insert_page_;  // tdef page -> data page
  IndexCache index_cache_;
  std::map<std::pair<uint32_t, uint16_t>, std::vector<uint32_t>> lval_pages_;  // column -> pages
};

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
