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

#include "jet/page/allocator.h"
#include "jet/record/properties.h"
#include "jet/record/row.h"
#include "jet/record/schema.h"
#include "jet/record/tdef.h"
#include "jet/record/value.h"
#include "jet/storage/bytes.h"
#include "jet/storage/file_system.h"
#include "jet/storage/format.h"
#include "jet/storage/header.h"
#include "jet/storage/pager.h"
#include "jet/table/catalog.h"
#include "jet/table/long_value_store.h"
#include "jet/table/row_store.h"
#include "jet/table/table_mutator.h"
#include "jet/table/table_scan.h"

namespace jet {

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
  // Where the file's bytes come from and go; tests give one that fails on cue.
  FileSystem* file_system = &FileSystem::Default();
  // Changed pages kept in memory before a transaction writes them into the
  // file (it still rolls back completely).
  size_t spill_bytes = 32u << 20;
  // How long to wait for other processes' locks before "in use".
  int busy_timeout_ms = 10000;
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
  // What opening found that the user should hear of once (a journal of
  // another file moved aside), or empty.
  const std::string& notice() const { return notice_; }

  // Every catalogue object (MSysObjects), in scan order.
  const std::vector<CatalogEntry>& Catalog() { return catalog_->Entries(); }
  // The tables schema rowset, sorted by type, then by name.
  std::vector<SchemaRow> TablesRowset() { return catalog_->TablesRowset(); }
  // Names of user tables in rowset order.
  std::vector<std::string> UserTables() { return catalog_->UserTables(); }

  // A local table by name (Access matches names without regard to case).
  // Throws errnum::kNoSuchTable for unknown names and a clear error for
  // linked tables and queries.
  std::shared_ptr<const TableDef> Table(const std::string& name) { return catalog_->Table(name); }
  // A local table by its catalogue id (the id is also its definition's page).
  std::shared_ptr<const TableDef> TableById(int32_t object_id) {
    return catalog_->TableById(object_id);
  }
  // The catalogue entry with this id, or null.
  const CatalogEntry* FindObject(int32_t object_id) { return catalog_->FindObject(object_id); }

  // The properties stored with a catalogue object (its LvProp blob); empty
  // when it has none. Throws "damaged" when the blob does not parse.
  ObjectProperties Properties(int32_t object_id) { return catalog_->Properties(object_id); }
  // The properties of a table, found by name like Table().
  ObjectProperties TableProperties(const std::string& name) {
    return catalog_->TableProperties(name);
  }

  // Forgets cached definitions (after a definition was rewritten).
  void InvalidateTable(uint32_t tdef_page) { catalog_->InvalidateTable(tdef_page); }
  void InvalidateCatalog() { catalog_->Invalidate(); }

  // --- Changes. They need a writable open and become durable at Commit.
  // Adds a column at the end of a table. Existing rows are not rewritten:
  // they read the new column as null. `text_chars` sizes text columns.
  void AddColumn(const std::string& table, const std::string& column, ColumnType type,
                 uint16_t text_chars = 255) {
    mutator_->AddColumn(table, column, type, text_chars);
  }
  // Drops a column; refused for columns in an index or a relationship.
  void DropColumn(const std::string& table, const std::string& column) {
    mutator_->DropColumn(table, column);
  }
  // Sets values of the row whose identity is `id`.
  void UpdateRow(const TableDef& t, RowId id,
                 const std::vector<std::pair<const Column*, Value>>& values) {
    rows_->Update(t, id, values);
  }
  // Creates a user table with the columns in the order given and, when
  // `primary_key` names columns, a primary key over them. Refused in Jet 3
  // files, for an existing name, invalid names, and key columns whose index
  // keys cannot be written (memo, OLE).
  void CreateTable(const std::string& name, const std::vector<NewColumn>& columns,
                   const std::vector<std::string>& primary_key = {}) {
    mutator_->CreateTable(name, columns, primary_key);
  }
  // Appends a row. Columns not given are null; an autonumber column not
  // given (or given null) gets the table's next number. Every index of the
  // table gets its entry; a duplicate in a unique index, or a null in a
  // primary key, is refused before anything changes. Returns the new row.
  RowId InsertRow(const TableDef& t, const std::vector<std::pair<const Column*, Value>>& values) {
    return rows_->Insert(t, values);
  }
  RowId InsertRow(const std::string& table,
                  const std::vector<std::pair<std::string, Value>>& values);
  // The two halves of creating a table, for building a new database: the
  // definition with its maps and empty index roots (returns the definition's
  // page, which is the table's catalogue id), and a catalogue row.
  uint32_t WriteNewTable(const TableDesign& design) { return mutator_->WriteNewTable(design); }
  void AddCatalogRow(const CatalogRow& row) { mutator_->AddCatalogRow(row); }
  // Makes every change durable; on failure the file stays as of the last commit.
  void Commit();
  // Forgets every change since the last commit (as closing does).
  void Rollback();
  // Savepoints in the changes since the last commit: a statement that fails
  // is undone to its start alone (see Pager). Rolling back forgets every
  // cached definition, which may describe what was undone.
  size_t Savepoint() { return pager_->Savepoint(); }
  void RollbackToSavepoint(size_t depth);
  void ReleaseSavepoint(size_t depth) { pager_->Release(depth); }
  size_t pending_pages() const { return pager_->dirty_count(); }

  // Reads one value of a row (null-aware). A complex column gives its key
  // only; TableScan::Get also reads the items behind it.
  Value Read(const RowView& row, const Column& c) {
    return ReadColumn(row, c, *pager_, layout_, header_.code_page);
  }

  // The parts behind the facade, for one another.
  SystemCatalog& catalog() { return *catalog_; }
  LongValueStore& long_values() { return *long_values_; }
  PageAllocator& allocator() { return *allocator_; }
  // Throws unless the database is open for writing.
  void RequireWritable();

 private:
  Database() = default;
  void Load(const std::string& path, const OpenOptions& options, PageFile file);
  void CheckPassword(const std::string& password, std::span<const uint8_t> raw_page0);
  // Opens of a file already open here: the Office encryption password.
  void CheckOfficePassword(const std::string& password, std::span<const uint8_t> raw_page0);
  void UpgradeToWritable();
  // Takes the locks the opening needs, waiting for other programs up to the
  // busy timeout, and plays back or sets aside a journal left by one that
  // died. True when the file was changed by that.
  bool LockAtOpen(const std::string& path, PageFile& file, bool writable);
  bool RecoverAtOpen(const std::string& path, PageFile& file, bool writable, int timeout_ms);
  void ForgetCaches();

  std::string path_;
  HeaderInfo header_;
  Layout layout_;
  std::unique_ptr<Pager> pager_;
  bool writable_ = false;
  int busy_timeout_ms_ = 10000;
  std::string notice_;
  std::u16string password_;
  std::string office_password_;  // the Office encryption password this object was opened with
  std::unique_ptr<PageAllocator> allocator_;
  std::unique_ptr<SystemCatalog> catalog_;
  std::unique_ptr<LongValueStore> long_values_;
  std::unique_ptr<RowStore> rows_;
  std::unique_ptr<TableMutator> mutator_;
};

}  // namespace jet
