#include "jet/database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "jet/codec.h"
#include "jet/complex.h"
#include "jet/text.h"
#include "jet/usage_map.h"

namespace jet {

namespace {

std::recursive_mutex g_registry_mu;  // recursive: a failed open destroys the object under it
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<Database>> g_registry;

constexpr int32_t kTablesContainerParent = 0x0F000000;

// Compares names as the catalogue sorts them: without regard to case, with
// the exact text as a tie-break so the order is total.
bool NameLess(const std::string& a, const std::string& b) {
  std::string fa = FoldName(a), fb = FoldName(b);
  if (fa != fb) return fa < fb;
  return a < b;
}

}  // namespace

std::shared_ptr<Database> Database::Open(const std::string& path, const OpenOptions& options) {
  if (path.empty()) throw Error(errnum::kGeneric, "Could not find file ''.");
  // Prefer read-write so that the same object can serve later writers; a
  // read-only file is fine for reading.
  PageFile file;
  try {
    file = PageFile(path, true);
  } catch (const Error& e) {
    if (e.number() != errnum::kReadOnly) throw;
    file = PageFile(path, false);
  }
  std::lock_guard<std::recursive_mutex> lock(g_registry_mu);
  auto key = file.Identity();
  if (auto it = g_registry.find(key); it != g_registry.end()) {
    if (auto db = it->second.lock()) {
      std::vector<uint8_t> page0(db->header_.page_size);
      db->pager_->file().ReadAt(0, page0);
      db->CheckPassword(options.password, page0);
      db->CheckOfficePassword(options.password, page0);
      if (options.writable) db->UpgradeToWritable();
      return db;
    }
  }
  std::shared_ptr<Database> db(new Database());
  db->Load(path, options, std::move(file));
  g_registry[key] = db;
  return db;
}

Database::~Database() {
  if (pager_) {
    try {
      pager_->Commit();
    } catch (...) {
      // Nothing more can be done here; the journal restores the last commit.
    }
  }
  std::lock_guard<std::recursive_mutex> lock(g_registry_mu);
  for (auto it = g_registry.begin(); it != g_registry.end();) {
    if (it->second.expired()) {
      it = g_registry.erase(it);
    } else {
      ++it;
    }
  }
}

void Database::Load(const std::string& path, const OpenOptions& options, PageFile file) {
  path_ = path;
  std::vector<uint8_t> raw(4096, 0);
  size_t got = file.ReadAt(0, raw);
  if (got < 2048) {
    throw Error(errnum::kGeneric,
                "The file '" + path + "' is not an Access database (it is too short).");
  }
  raw.resize(got);
  header_ = ParseHeader(raw);
  layout_ = Layout::For(header_.version);
  raw.resize(header_.page_size);
  uint64_t size = file.Size();
  if (size < 3ull * header_.page_size) {
    ThrowDamaged("the file is shorter than its first three pages");
  }
  if (options.writable) {
    if (!file.writable()) {
      throw Error(errnum::kReadOnly,
                  "The database file '" + path + "' is read-only; it cannot be changed.");
    }
    if (!file.TryLockWriter()) {
      throw Error(errnum::kGeneric, "The database '" + path +
                                        "' is in use: another program has it open for writing.");
    }
    writable_ = true;
  }
  // A journal left by an interrupted change is rolled back before anything is read.
  if (::access(Pager::JournalPath(path).c_str(), F_OK) == 0) {
    bool mine = file.writable() && file.TryLockWriter();
    if (!mine) {
      throw Error(errnum::kGeneric,
                  "The database '" + path + "' is in use: another program is changing it.");
    }
    Pager::RecoverJournal(path, file);
    if (!writable_) file.UnlockWriter();
    file.ReadAt(0, raw);
  }
  CheckPassword(options.password, raw);
  pager_ = std::make_unique<Pager>(std::move(file), header_.page_size);
  allocator_ = std::make_unique<PageAllocator>(*pager_, layout_);
  if (header_.database_key != 0) {
    if (header_.version <= Version::kJet4) {
      pager_->SetCodec(MakeJetRc4Codec(header_.database_key));
    } else {
      pager_->SetCodec(MakeOfficeCodec(raw, options.password));
      office_password_ = options.password;
    }
  }
  // Page 2 must be the catalogue's definition; anything else is not a
  // database we can read (or the encryption key is wrong).
  PagePtr p2 = pager_->Get(2);
  if (p2->data[0] != 0x02 || p2->data[1] != 0x01) {
    ThrowDamaged("the catalogue's definition (page 2) is missing");
  }
}

void Database::CheckPassword(const std::string& password, std::span<const uint8_t> raw) {
  if (header_.version > Version::kJet4) return;  // Office encryption checks its own
  if (header_.password.empty()) return;
  std::u16string given;
  if (header_.version == Version::kJet3) {
    std::string cp = Utf8ToCodePage(password, header_.code_page);
    for (unsigned char c : cp) given.push_back(c);
  } else {
    given = Utf8ToUtf16(password);
  }
  if (given != header_.password) {
    throw Error(errnum::kWrongPassword, "Not a valid password.");
  }
}

void Database::CheckOfficePassword(const std::string& password, std::span<const uint8_t> raw) {
  if (header_.version <= Version::kJet4 || header_.database_key == 0) return;
  if (password == office_password_) return;
  // The header holds no password to compare: a password is right when the
  // key it derives opens the file's verifier, so it is tried the way a first
  // open tries it, and a wrong one fails the same way.
  MakeOfficeCodec(raw, password);
}

void Database::UpgradeToWritable() {
  if (writable_) return;
  if (!pager_->file().writable()) {
    throw Error(errnum::kReadOnly,
                "The database file '" + path_ + "' is read-only; it cannot be changed.");
  }
  if (!pager_->file().TryLockWriter()) {
    throw Error(errnum::kGeneric,
                "The database '" + path_ + "' is in use: another program has it open for writing.");
  }
  writable_ = true;
}

const std::vector<CatalogEntry>& Database::Catalog() {
  if (catalog_loaded_) return catalog_;
  catalog_.clear();
  auto t = std::make_shared<TableDef>(ReadTableDef(*pager_, layout_, 2, header_.code_page));
  catalog_def_ = t;
  const Column* id = t->FindColumn("Id");
  const Column* parent = t->FindColumn("ParentId");
  const Column* name = t->FindColumn("Name");
  const Column* type = t->FindColumn("Type");
  const Column* flags = t->FindColumn("Flags");
  const Column* database = t->FindColumn("Database");
  const Column* foreign = t->FindColumn("ForeignName");
  const Column* connect = t->FindColumn("Connect");
  if (!id || !parent || !name || !type) ThrowDamaged("the catalogue lacks its basic columns");
  TableScan scan(*this, t);
  auto text = [&](const Column* c) {
    if (!c) return std::string();
    Value v = scan.Get(*c);
    return v.kind() == Value::Kind::kText ? v.bytes() : std::string();
  };
  auto integer = [&](const Column* c) -> int64_t {
    if (!c) return 0;
    Value v = scan.Get(*c);
    return v.kind() == Value::Kind::kInt ? v.as_int() : 0;
  };
  while (scan.Next()) {
    CatalogEntry e;
    e.id = static_cast<int32_t>(integer(id));
    e.parent_id = static_cast<int32_t>(integer(parent));
    e.name = text(name);
    e.type = static_cast<int16_t>(integer(type));
    e.flags = static_cast<uint32_t>(integer(flags));
    e.database = text(database);
    e.foreign_name = text(foreign);
    e.connect = text(connect);
    e.row = scan.id();
    catalog_.push_back(std::move(e));
  }
  catalog_loaded_ = true;
  return catalog_;
}

void Database::InvalidateCatalog() { catalog_loaded_ = false; }

std::vector<SchemaRow> Database::TablesRowset() {
  const auto& cat = Catalog();
  int32_t tables_id = 0;
  bool found = false;
  for (const auto& e : cat) {
    if (e.parent_id == kTablesContainerParent && e.name == "Tables") {
      tables_id = e.id;
      found = true;
    }
  }
  std::vector<SchemaRow> rows;
  for (const auto& e : cat) {
    if (e.name.empty()) continue;
    std::string kind;
    if (e.type == 1) {
      if (found && e.parent_id != tables_id) continue;
      if (e.flags & 0x80000000u) {
        kind = "SYSTEM TABLE";
      } else if (e.flags & 0x2u) {
        kind = "ACCESS TABLE";
      } else {
        kind = "TABLE";
      }
    } else if (e.type == 6) {
      kind = "LINK";
    } else if (e.type == 4) {
      kind = "PASS-THROUGH";
    } else if (e.type == 5) {
      if ((e.flags & 0xF0) != 0) continue;  // action queries are procedures, not views
      kind = "VIEW";
    } else {
      continue;
    }
    rows.push_back({e.name, kind});
  }
  std::stable_sort(rows.begin(), rows.end(), [](const SchemaRow& a, const SchemaRow& b) {
    if (a.table_type != b.table_type) return a.table_type < b.table_type;
    return NameLess(a.table_name, b.table_name);
  });
  return rows;
}

std::vector<std::string> Database::UserTables() {
  std::vector<std::string> out;
  for (auto& r : TablesRowset()) {
    if (r.table_type == "TABLE") out.push_back(r.table_name);
  }
  return out;
}

const CatalogEntry& Database::FindTableEntry(const std::string& name) {
  const CatalogEntry* hit = nullptr;
  for (int pass = 0; pass < 2 && !hit; ++pass) {
    for (const auto& e : Catalog()) {
      if (e.type != 1 && e.type != 4 && e.type != 6 && e.type != 5) continue;
      if (pass == 0 ? e.name == name : NamesEqual(e.name, name)) {
        hit = &e;
        break;
      }
    }
  }
  if (!hit) {
    throw Error(errnum::kNoSuchTable, "The table '" + name + "' does not exist in the database.");
  }
  if (hit->type == 4 || hit->type == 6) {
    throw Error(errnum::kGeneric,
                "'" + hit->name + "' is a linked table; its data lives in " +
                    (hit->database.empty() ? "another database" : "'" + hit->database + "'") +
                    ", which is not opened.");
  }
  if (hit->type == 5) {
    throw Error(errnum::kGeneric, "'" + hit->name + "' is a query, not a table.");
  }
  return *hit;
}

std::shared_ptr<const TableDef> Database::Table(const std::string& name) {
  return LoadTable(FindTableEntry(name));
}

const CatalogEntry* Database::FindObject(int32_t object_id) {
  for (const auto& e : Catalog()) {
    if (e.id == object_id) return &e;
  }
  return nullptr;
}

std::shared_ptr<const TableDef> Database::TableById(int32_t object_id) {
  const CatalogEntry* e = FindObject(object_id);
  if (!e || e->type != 1) {
    throw Error(errnum::kNoSuchTable,
                "The database has no table with id " + std::to_string(object_id) + ".");
  }
  return LoadTable(*e);
}

std::shared_ptr<const TableDef> Database::LoadTable(const CatalogEntry& entry) {
  uint32_t page = static_cast<uint32_t>(entry.id) & 0x00FFFFFF;
  auto it = tables_.find(page);
  if (it != tables_.end()) return it->second;
  auto t = std::make_shared<TableDef>(ReadTableDef(*pager_, layout_, page, header_.code_page));
  // A calculated column's stored result has the type its ResultType property
  // names. Without readable properties the descriptor's type is the best guess.
  bool calculated = false;
  for (const auto& c : t->columns) calculated = calculated || c.calculated();
  if (calculated && !layout_.jet3) {
    try {
      ObjectProperties props = Properties(entry.id);
      for (auto& c : t->columns) {
        const PropertyMap* m = c.calculated() ? props.Column(c.name) : nullptr;
        Value v = m ? m->Get("ResultType") : Value::Null();
        if (v.kind() == Value::Kind::kInt && v.as_int() > 0 && v.as_int() < 256) {
          c.result_type = static_cast<uint8_t>(v.as_int());
        }
      }
    } catch (const Error&) {
    }
  }
  tables_[page] = t;
  return t;
}

ObjectProperties Database::Properties(int32_t object_id) {
  const CatalogEntry* e = FindObject(object_id);
  if (!e) {
    throw Error(errnum::kGeneric,
                "The database has no object with id " + std::to_string(object_id) + ".");
  }
  const std::string b = ReadLvProp(*e);
  return ParseProperties(Bytes(reinterpret_cast<const uint8_t*>(b.data()), b.size()), layout_,
                         header_.code_page);
}

std::string Database::ReadLvProp(const CatalogEntry& e) {
  const Column* lv = catalog_def_->FindColumn("LvProp");
  if (!lv) return {};
  PagePtr page;
  Bytes bytes;
  RowId data_id;
  if (!ResolveRow(*this, *catalog_def_, e.row, page, bytes, data_id)) {
    ThrowDamaged("the catalogue row of '" + e.name + "' has gone");
  }
  RowView row(*catalog_def_, layout_);
  row.Load(bytes);
  Value blob = Read(row, *lv);
  return blob.kind() == Value::Kind::kBinary ? blob.bytes() : std::string();
}

ObjectProperties Database::TableProperties(const std::string& name) {
  return Properties(FindTableEntry(name).id);
}

void Database::InvalidateTable(uint32_t tdef_page) { tables_.erase(tdef_page); }

bool ResolveRow(Database& db, const TableDef& t, RowId id, PagePtr& page, Bytes& bytes,
                RowId& data_id) {
  const Layout& L = db.layout();
  Pager& pager = db.pager();
  for (int hop = 0; hop < 8; ++hop) {
    page = pager.Get(id.page);
    Bytes pb = page->bytes();
    if (pb[0] != 0x01) ThrowDamaged("a row pointer leads to a page that holds no rows");
    uint16_t count = U16(pb, L.data_row_count);
    if (id.row >= count) ThrowDamaged("a row pointer names a row that does not exist");
    uint16_t entry = U16(pb, L.data_header + 2u * id.row);
    if ((entry & 0xC000) == 0xC000) return false;
    bytes = RowBytes(pb, L, id.row, pager.page_size());
    if (entry & 0x4000) {
      if (bytes.size() < 4) ThrowDamaged("a moved row's pointer is cut short");
      id = RowId::Unpack(U32(bytes, 0));
      continue;
    }
    data_id = id;
    return true;
  }
  ThrowDamaged("moved rows point at each other in a loop");
}

TableScan::TableScan(Database& db, std::shared_ptr<const TableDef> table)
    : db_(&db), table_(std::move(table)), row_(*table_, db.layout()) {
  pages_ = ReadUsageMap(db.pager(), db.layout(), table_->owned_map);
}

TableScan::~TableScan() = default;

Value TableScan::Get(const Column& c) {
  Value v = db_->Read(row_, c);
  if (v.kind() != Value::Kind::kComplex) return v;
  if (!complex_) complex_ = std::make_unique<ComplexReader>(*db_);
  return Value::Complex(v.complex_key(), complex_->Read(*table_, c, v.complex_key()));
}

bool TableScan::Next() {
  const Layout& L = db_->layout();
  while (page_index_ < pages_.size()) {
    if (!page_) {
      uint32_t n = pages_[page_index_];
      if (n >= db_->pager().page_count()) {
        ++page_index_;
        continue;
      }
      page_ = db_->pager().Get(n);
      Bytes pb = page_->bytes();
      // Only data pages that this table owns hold its rows.
      if (pb[0] != 0x01 || U32(pb, L.data_owner) != table_->tdef_page) {
        page_.reset();
        ++page_index_;
        continue;
      }
      slot_ = -1;
    }
    Bytes pb = page_->bytes();
    uint16_t count = U16(pb, L.data_row_count);
    if (L.data_header + 2u * count > pb.size()) ThrowDamaged("a page's row table overflows it");
    while (++slot_ < count) {
      if (LoadSlot()) return true;
    }
    page_.reset();
    ++page_index_;
  }
  return false;
}

bool TableScan::LoadSlot() {
  const Layout& L = db_->layout();
  Bytes pb = page_->bytes();
  uint16_t entry = U16(pb, L.data_header + 2u * slot_);
  if (entry & 0x8000) return false;  // deleted, or the moved copy of another slot
  id_ = RowId{page_->number, static_cast<uint8_t>(slot_)};
  Bytes bytes;
  if (!(entry & 0x4000)) {
    // Most rows are where their slot is, on the page in hand.
    data_page_ = page_;
    data_id_ = id_;
    bytes = RowBytes(pb, L, static_cast<uint16_t>(slot_), db_->pager().page_size());
  } else if (!ResolveRow(*db_, *table_, id_, data_page_, bytes, data_id_)) {
    return false;
  }
  if (bytes.empty()) return false;
  row_.Load(bytes);
  return true;
}

}  // namespace jet
