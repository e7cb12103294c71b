#include "jet/table/database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "jet/storage/journal.h"

#include "jet/crypto/jet_rc4.h"
#include "jet/crypto/office_codec.h"
#include "jet/page/page_type.h"
#include "jet/record/text.h"

namespace jet {

namespace {

std::recursive_mutex g_registry_mu;  // recursive: a failed open destroys the object under it
std::map<std::pair<dev_t, ino_t>, std::weak_ptr<Database>> g_registry;

}  // namespace

std::shared_ptr<Database> Database::Open(const std::string& path, const OpenOptions& options) {
  if (path.empty()) throw Error(errnum::kGeneric, "Could not find file ''.");
  // Prefer read-write so that the same object can serve later writers; a
  // read-only file is fine for reading.
  // The real file, links resolved: its journal lies beside it, not beside a link.
  const std::string real = ResolvedPath(path);
  PageFile file;
  try {
    file = PageFile(real, true, *options.file_system);
  } catch (const Error& e) {
    if (e.number() != errnum::kReadOnly) throw;
    file = PageFile(real, false, *options.file_system);
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
  // Closing never commits: what was not committed is dropped, and the file
  // stays as of its last commit (the pager removes an unused journal).
  if (pager_) pager_->Rollback();
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
  if (options.writable && !file.writable()) {
    throw Error(errnum::kReadOnly,
                "The database file '" + path + "' is read-only; it cannot be changed.");
  }
  busy_timeout_ms_ = options.busy_timeout_ms;
  if (LockAtOpen(path, file, options.writable)) file.ReadAt(0, raw);
  writable_ = options.writable;
  CheckPassword(options.password, raw);
  pager_ = std::make_unique<Pager>(std::move(file), header_.page_size);
  pager_->SetSpillBytes(options.spill_bytes);
  pager_->SetBusyTimeout(options.busy_timeout_ms);
  allocator_ = std::make_unique<PageAllocator>(*pager_, layout_);
  catalog_ = std::make_unique<SystemCatalog>(*this, *pager_, layout_, header_);
  long_values_ = std::make_unique<LongValueStore>(*pager_, *allocator_, layout_);
  rows_ = std::make_unique<RowStore>(*this, *pager_, *allocator_, layout_, *long_values_);
  mutator_ = std::make_unique<TableMutator>(*this, *pager_, *allocator_, layout_);
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
  if (!IsType(p2->bytes(), PageType::kTableDefinition) || p2->data[1] != kPageTag) {
    ThrowDamaged("the catalogue's definition (page 2) is missing");
  }
}

namespace {

// A journal whose header says the file was being written. Nobody writes
// pages while another opening holds the shared lock, so when this opening
// holds it such a journal is one of a writer that died.
bool JournalShowsWrites(FileSystem& fs, const std::string& journal) {
  try {
    PageFile j(journal, false, fs);
    JournalHeader h;
    return JournalHeader::Read(j, h) && h.complete;
  } catch (const Error&) {
    return false;  // gone meanwhile
  }
}

}  // namespace

bool Database::LockAtOpen(const std::string& path, PageFile& file, bool writable) {
  using Level = PageFile::LockLevel;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(busy_timeout_ms_);
  auto left = [&] {
    return static_cast<int>(std::max<int64_t>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now())
               .count()));
  };
  const std::string journal = Pager::JournalPath(file.path());
  FileSystem& fs = file.file_system();
  for (;;) {
    // Readers hold the shared lock for as long as the database is open, so
    // no page changes under them and nothing they cache goes stale.
    if (!file.WaitLock(Level::kShared, left())) {
      throw Error(errnum::kGeneric,
                  "The database '" + path + "' is in use: another program is writing to it.");
    }
    if (writable && !file.WaitLock(Level::kReserved, left())) {
      throw Error(errnum::kGeneric, "The database '" + path +
                                        "' is in use: another program has it open for writing.");
    }
    if (!fs.Exists(journal)) return false;
    // A journal beside a file another program may change is that program's,
    // and the file holds what it committed, unless the journal shows that
    // the file was being written: then its writer died, and whoever holds
    // the writer's lock now is repairing the file.
    if (!file.OtherWriter()) {
      if (!file.writable()) {
        throw Error(errnum::kGeneric,
                    "The database '" + path +
                        "' has the journal of an interrupted change beside it ('" + journal +
                        "'), and the file is read-only, so the journal can be neither checked nor "
                        "played back. Nothing was changed.");
      }
      if (file.TryLock(Level::kReserved)) return RecoverAtOpen(path, file, writable, left());
    } else if (!JournalShowsWrites(fs, journal)) {
      return false;
    }
    file.Release(Level::kNone);
    if (left() == 0) {
      throw Error(errnum::kGeneric, "The database '" + path +
                                        "' is in use: another program is repairing it after an "
                                        "interrupted change.");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool Database::RecoverAtOpen(const std::string& path, PageFile& file, bool writable,
                             int timeout_ms) {
  const PageFile::LockLevel after =
      writable ? PageFile::LockLevel::kReserved : PageFile::LockLevel::kShared;
  if (!file.WaitLock(PageFile::LockLevel::kExclusive, timeout_ms)) {
    file.Release(after);
    throw Error(errnum::kGeneric, "The database '" + path +
                                      "' must be repaired after an interrupted change, but other "
                                      "programs are reading it; try again when they are done.");
  }
  JournalRecovery r;
  try {
    r = Pager::RecoverJournal(file.path(), file);
  } catch (...) {
    file.Release(after);
    throw;
  }
  file.Release(after);
  if (!r.moved_to.empty()) {
    notice_ = "A journal beside the database '" + path +
              "' was not made for it (or is damaged), so it was not applied; it was moved to '" +
              r.moved_to + "'.";
  }
  return true;
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
  if (!pager_->file().WaitLock(PageFile::LockLevel::kReserved, busy_timeout_ms_)) {
    throw Error(errnum::kGeneric,
                "The database '" + path_ + "' is in use: another program has it open for writing.");
  }
  writable_ = true;
}

void Database::RequireWritable() {
  if (!writable_) throw Error(errnum::kReadOnly, "The database is open for reading only.");
  if (header_.office_encrypted && !pager_) {
    throw Error(errnum::kGeneric, "The database cannot be changed.");
  }
}

void Database::Commit() {
  try {
    pager_->Commit();
  } catch (...) {
    // The file is back at the last commit; so must every cached definition be.
    ForgetCaches();
    throw;
  }
}

void Database::Rollback() {
  pager_->Rollback();
  ForgetCaches();
}

void Database::RollbackToSavepoint(size_t depth) {
  pager_->RollbackTo(depth);
  ForgetCaches();
}

void Database::ForgetCaches() {
  catalog_->Forget();
  long_values_->Forget();
  rows_->Forget();
}

RowId Database::InsertRow(const std::string& table,
                          const std::vector<std::pair<std::string, Value>>& values) {
  std::shared_ptr<const TableDef> t = Table(table);
  std::vector<std::pair<const Column*, Value>> cells;
  for (const auto& [name, v] : values) {
    const Column* c = t->FindColumn(name);
    if (!c) {
      throw Error(errnum::kNoSuchColumn,
                  "The field '" + name + "' does not exist in table '" + table + "'.");
    }
    cells.emplace_back(c, v);
  }
  return InsertRow(*t, cells);
}

}  // namespace jet
