// Damaged files: thousands of variants of real databases with flipped bytes,
// cut-off ends and pointers bent into loops, past the end or onto pages of
// another kind. Each is opened and read in full through the engine: the
// catalogue, the tables rowset and every column of every row of every user
// table. Only jet::Error may come out, with a description; nothing may crash
// (the ASan run of scripts/test.sh repeats these) or hang.
//
// Every case is derived from a fixed seed, so a failure names the fixture,
// the family, the case number and the bytes that were changed, and reruns
// the same way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "jet/crypto/jet_rc4.h"
#include "jet/crypto/office_codec.h"
#include "jet/table/database.h"
#include "jet/page/row_table.h"
#include "jet/page/usage_map.h"
#include "jet/storage/error.h"
#include "jet/storage/header.h"
#include "jet/page/usage_map.h"
#include "support/test_support.h"

// g++ and clang say differently that AddressSanitizer is on.
#if defined(__SANITIZE_ADDRESS__)
#define TESSALY_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSALY_ASAN 1
#endif
#endif
#if defined(TESSALY_ASAN)
#include <sanitizer/common_interface_defs.h>
#endif

namespace {

// While a damaged file is read, no single allocation may exceed this: the
// fixtures are at most 3 MB, so a bigger request means that the engine took a
// length or a count from the file without weighing it against what the file
// can hold (with less memory that would be a crash). Replacing operator new
// is the one place that sees every request.
constexpr size_t kAllocationCap = size_t{16} << 20;
std::atomic<bool> g_cap_allocations{false};
std::atomic<size_t> g_refused_allocation{0};

class AllocationCap {
 public:
  AllocationCap() {
    g_refused_allocation = 0;
    g_cap_allocations = true;
  }
  ~AllocationCap() { g_cap_allocations = false; }
};

void* Allocate(std::size_t n, bool may_throw) {
  if (n > kAllocationCap && g_cap_allocations) {
    g_refused_allocation = n;
    if (may_throw) throw std::bad_alloc();
    return nullptr;
  }
  void* p = std::malloc(n == 0 ? 1 : n);
  if (!p && may_throw) throw std::bad_alloc();
  return p;
}

}  // namespace

// Every plain form is replaced, so that each allocation meets its own kind of
// release (sanitizers check the pairs); the aligned forms are left alone.
void* operator new(std::size_t n) { return Allocate(n, true); }
void* operator new[](std::size_t n) { return Allocate(n, true); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, false); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n, false); }
// Kept out of line: inlined, the compiler would see free() meet a pointer
// from (its idea of) operator new and warn.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace jet {
namespace {

// ---------------------------------------------------------------------------
// A fixture as the engine sees it: page 0 as stored, every other page
// decoded. Damage is done to this plain image (so that it lands on the
// structures also in encoded files) and the touched pages are encoded again.

struct Field {
  size_t offset;  // in the plain image
  int width;      // 1, 2, 3 or 4 bytes
};

struct Image {
  std::string rel;
  std::string password;
  uint32_t page_size = 0;
  uint32_t page_count = 0;
  Layout layout;
  std::string disk;   // the file as stored
  std::string plain;  // decoded pages
  std::shared_ptr<PageCodec> codec;
  uint64_t intact_rows = 0;

  // Landmarks, found by reading the intact file.
  std::vector<uint32_t> pages_of_type[6];  // 0 header/other, 1 data, 2 tdef, 3/4 index, 5 map
  std::vector<uint32_t> tdef_pages;        // every page of every definition
  std::vector<Field> tdef_fields;          // counts, map pointers, descriptors, name lengths
  std::vector<Field> tdef_links;           // next-page links
  std::vector<Field> tdef_lengths;         // definition lengths (offset 8 of first pages)
  std::vector<Field> slot_entries;         // row offset tables of data pages
  std::vector<Field> map_rows;             // usage map rows: first byte, whole row in `map_spans`
  std::vector<std::pair<size_t, size_t>> map_spans;
  std::vector<Field> map_pointers;    // row pointers to usage maps (in definitions)
  std::vector<Field> bitmap_entries;  // page numbers in list-kind usage maps
  std::vector<Field> lv_headers;      // 12-byte long-value fields in rows
  std::vector<Field> lv_pointers;     // their row pointers
  std::vector<Field> lv_links;        // next pointers of chain rows
  struct DataRow {
    uint32_t page;
    uint8_t row;
    size_t slot;   // offset of its row offset entry
    size_t start;  // offset of its bytes
    size_t size;
  };
  std::vector<DataRow> rows;  // rows of user tables
};

uint8_t Byte(const std::string& s, size_t off) { return static_cast<uint8_t>(s[off]); }

uint32_t Read32(const std::string& s, size_t off) {
  return Byte(s, off) | (Byte(s, off + 1) << 8) | (static_cast<uint32_t>(Byte(s, off + 2)) << 16) |
         (static_cast<uint32_t>(Byte(s, off + 3)) << 24);
}

// One damaged variant: bytes to set in the plain image, bytes to set in the
// stored file after encoding, and where to cut the file.
struct Variant {
  std::vector<std::pair<size_t, uint8_t>> plain;
  std::vector<std::pair<size_t, uint8_t>> disk;
  size_t cut = std::string::npos;
  std::string note;  // for changes too long to list

  void Set(size_t off, int width, uint64_t value) {
    for (int i = 0; i < width; ++i) {
      plain.emplace_back(off + i, static_cast<uint8_t>(value >> (8 * i)));
    }
  }
  std::string Describe() const {
    std::ostringstream s;
    s << note << std::hex;
    if (plain.size() > 64) s << " and " << std::dec << plain.size() << " bytes set" << std::hex;
    for (size_t i = 0; i < plain.size() && plain.size() <= 64; ++i) {
      s << " [0x" << plain[i].first << "]=0x" << int(plain[i].second);
    }
    for (auto [off, v] : disk) s << " disk[0x" << off << "]=0x" << int(v);
    if (cut != std::string::npos) s << " cut at 0x" << cut;
    return s.str();
  }
};

std::string Materialize(const Image& im, const Variant& v) {
  std::map<uint32_t, std::vector<uint8_t>> pages;  // touched pages, decoded
  for (auto [off, value] : v.plain) {
    if (off >= im.plain.size()) continue;
    uint32_t p = static_cast<uint32_t>(off / im.page_size);
    auto [it, fresh] = pages.try_emplace(p);
    if (fresh) {
      auto from = im.plain.begin() + size_t{p} * im.page_size;
      it->second.assign(from, from + im.page_size);
    }
    it->second[off % im.page_size] = value;
  }
  std::string disk = im.disk;
  for (auto& [p, page] : pages) {
    if (p != 0 && im.codec) im.codec->Encode(p, page);
    std::copy(page.begin(), page.end(), disk.begin() + size_t{p} * im.page_size);
  }
  for (auto [off, value] : v.disk) {
    if (off < disk.size()) disk[off] = static_cast<char>(value);
  }
  if (v.cut < disk.size()) disk.resize(v.cut);
  return disk;
}

// ---------------------------------------------------------------------------
// Reading a file the way every caller does, keeping count of what happened.

struct Tally {
  int cases = 0;
  int refused_at_open = 0;
  int catalog_errors = 0;
  int table_errors = 0;
  uint64_t rows = 0;
};

// The case being read, for the last words of a run that crashes.
char g_current_case[4096];

void SayCurrentCase() {
  const char head[] = "\ncrashed while reading ";
  ssize_t ignored = write(2, head, sizeof head - 1);
  ignored = write(2, g_current_case, strnlen(g_current_case, sizeof g_current_case));
  ignored = write(2, "\n", 1);
  (void)ignored;
}

extern "C" void OnFatalSignal(int sig) {
  SayCurrentCase();
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

// A case that runs for a minute is caught in a loop; say which one it was
// before the test runner kills the process without a word. A case that
// crashes says so too.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) std::signal(sig, OnFatalSignal);
#if defined(TESSALY_ASAN)
    __sanitizer_set_death_callback(SayCurrentCase);
#endif
  }
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      done_ = true;
    }
    cv_.notify_all();
    thread_.join();
  }
  void Start(std::string label) {
    std::snprintf(g_current_case, sizeof g_current_case, "%s", label.c_str());
    std::lock_guard<std::mutex> lock(mu_);
    label_ = std::move(label);
    ++generation_;
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mu_);
    while (!done_) {
      uint64_t seen = generation_;
      if (cv_.wait_for(lock, std::chrono::seconds(60),
                       [&] { return done_ || generation_ != seen; })) {
        continue;
      }
      std::fprintf(stderr, "no progress in a minute, probably a loop: %s\n", label_.c_str());
      std::signal(SIGABRT, SIG_DFL);
      std::abort();
    }
  }
  std::mutex mu_;
  std::condition_variable cv_;
  std::string label_;
  uint64_t generation_ = 0;
  bool done_ = false;
  std::thread thread_;
};

void CheckError(const Error& e, const std::string& label) {
  EXPECT_FALSE(e.description().empty()) << label;
}

// Reads everything; returns the number of rows read.
uint64_t ReadEverything(const std::string& path, const std::string& password,
                        const std::string& label, Tally& tally) {
  ++tally.cases;
  uint64_t rows = 0;
  AllocationCap cap;
  try {
    std::shared_ptr<Database> db;
    try {
      db = Database::Open(path, OpenOptions{password, false});
    } catch (const Error& e) {
      CheckError(e, label);
      ++tally.refused_at_open;
      return 0;
    }
    std::vector<std::string> names;
    try {
      db->Catalog();
      db->TablesRowset();
      names = db->UserTables();
    } catch (const Error& e) {
      CheckError(e, label);
      ++tally.catalog_errors;
      return 0;
    }
    // A damaged table must not keep the others from being read.
    for (const auto& name : names) {
      try {
        auto table = db->Table(name);
        TableScan scan(*db, table);
        while (scan.Next()) {
          ++rows;
          for (const auto& c : table->columns) TextForm(scan.Get(c));
        }
      } catch (const Error& e) {
        CheckError(e, label);
        ++tally.table_errors;
      }
    }
  } catch (const std::bad_alloc&) {
    ADD_FAILURE() << label << ": the engine asked for " << g_refused_allocation << " bytes at once";
  } catch (const std::exception& e) {
    ADD_FAILURE() << label << ": " << typeid(e).name() << " escaped: " << e.what();
  } catch (...) {
    ADD_FAILURE() << label << ": a foreign exception escaped";
  }
  tally.rows += rows;
  return rows;
}

// ---------------------------------------------------------------------------
// Loading a fixture and finding its structures.

size_t BufferToPlain(const TableDef& t, uint32_t page_size, size_t off) {
  if (off < page_size) return static_cast<size_t>(t.pages[0]) * page_size + off;
  size_t rest = off - page_size;
  size_t index = 1 + rest / (page_size - 8);
  if (index >= t.pages.size()) return std::string::npos;
  return static_cast<size_t>(t.pages[index]) * page_size + 8 + rest % (page_size - 8);
}

void AddTdefField(Image& im, const TableDef& t, size_t buffer_off, int width) {
  if (buffer_off + width > t.buffer.size()) return;
  size_t at = BufferToPlain(t, im.page_size, buffer_off);
  size_t end = BufferToPlain(t, im.page_size, buffer_off + width - 1);
  if (at == std::string::npos || end != at + width - 1) return;  // split over two pages
  im.tdef_fields.push_back({at, width});
}

// Where a row's bytes are in the plain image.
bool RowSpan(Database& db, RowId id, size_t& start, size_t& size) {
  try {
    PagePtr page = db.pager().Get(id.page);
    Bytes row = RowTable::RowAt(page->bytes(), db.layout(), id.row);
    if (row.empty()) return false;
    start =
        static_cast<size_t>(id.page) * db.pager().page_size() + (row.data() - page->data.data());
    size = row.size();
    return true;
  } catch (const Error&) {
    return false;
  }
}

void FindTableLandmarks(Image& im, Database& db, const TableDef& t, bool user_table) {
  const Layout& L = im.layout;
  for (uint32_t p : t.pages) {
    im.tdef_pages.push_back(p);
    im.tdef_links.push_back({static_cast<size_t>(p) * im.page_size + 4, 4});
  }
  im.tdef_lengths.push_back({static_cast<size_t>(t.pages[0]) * im.page_size + 8, 4});
  for (auto [off, width] : std::vector<std::pair<size_t, int>>{{L.tdef_row_count, 4},
                                                               {L.tdef_table_type, 1},
                                                               {L.tdef_max_cols, 2},
                                                               {L.tdef_var_cols, 2},
                                                               {L.tdef_num_cols, 2},
                                                               {L.tdef_num_idx, 4},
                                                               {L.tdef_num_real_idx, 4},
                                                               {L.tdef_owned_map, 4},
                                                               {L.tdef_free_map, 4}}) {
    AddTdefField(im, t, off, width);
  }
  for (size_t i = 0; i < t.columns.size(); ++i) {
    size_t d = t.columns_offset + i * L.col_desc_size;
    AddTdefField(im, t, d + L.col_type, 1);
    AddTdefField(im, t, d + L.col_number, 2);
    AddTdefField(im, t, d + L.col_var_index, 2);
    AddTdefField(im, t, d + L.col_misc, 4);
    AddTdefField(im, t, d + L.col_flags, 1);
    AddTdefField(im, t, d + L.col_fixed_offset, 2);
    AddTdefField(im, t, d + L.col_length, 2);
  }
  size_t name = t.names_offset;
  for (size_t i = 0; i < t.columns.size() && name < t.buffer.size(); ++i) {
    AddTdefField(im, t, name, L.name_len_size);
    size_t n = L.jet3 ? t.buffer[name] : (t.buffer[name] | (t.buffer[name + 1] << 8));
    name += L.name_len_size + n;
  }
  for (size_t i = 0; i < t.real_indexes.size(); ++i) {
    size_t base = t.real_idx_offset + i * L.real_idx_def_size + (L.jet3 ? 0 : 4);
    AddTdefField(im, t, base, 2);
    AddTdefField(im, t, base + 30, 4);
    AddTdefField(im, t, base + 34, 4);
  }
  for (size_t i = 0; i < t.column_maps.size(); ++i) {
    AddTdefField(im, t, t.column_maps_offset + 10 * i, 2);
    AddTdefField(im, t, t.column_maps_offset + 10 * i + 2, 4);
    AddTdefField(im, t, t.column_maps_offset + 10 * i + 6, 4);
  }

  // Usage maps: the table's own, its long-value maps and its indexes'.
  std::vector<uint32_t> maps = {t.owned_map, t.free_map};
  for (const auto& m : t.column_maps) {
    maps.push_back(m.owned_map);
    maps.push_back(m.free_map);
  }
  for (const auto& r : t.real_indexes) maps.push_back(r.usage_map);
  if (size_t at = BufferToPlain(t, im.page_size, L.tdef_owned_map); at != std::string::npos) {
    im.map_pointers.push_back({at, 4});
    im.map_pointers.push_back({at + 4, 4});
  }
  for (uint32_t ptr : maps) {
    size_t start, size;
    if (ptr == 0 || !RowSpan(db, RowId::Unpack(ptr), start, size)) continue;
    im.map_rows.push_back({start, 1});
    im.map_spans.emplace_back(start, size);
    if (Byte(im.plain, start) == 1) {
      for (size_t k = 1; k + 4 <= size; k += 4) im.bitmap_entries.push_back({start + k, 4});
    } else if (size >= 5) {
      im.map_rows.push_back({start + 1, 4});  // the inline map's first page
    }
  }

  if (!user_table) return;
  TableScan scan(db, std::make_shared<TableDef>(t));
  while (scan.Next()) {
    Image::DataRow r;
    r.page = scan.data_id().page;
    r.row = scan.data_id().row;
    r.slot = static_cast<size_t>(r.page) * im.page_size + L.data_header + 2u * r.row;
    if (!RowSpan(db, scan.data_id(), r.start, r.size)) continue;
    im.rows.push_back(r);
    for (const auto& c : t.columns) {
      if (!IsLongValue(c.type)) continue;
      std::optional<Bytes> raw = scan.row().Raw(c);
      if (!raw || raw->size() < 12) continue;
      size_t at = r.start + (raw->data() - scan.row().row().data());
      im.lv_headers.push_back({at, 4});
      im.lv_pointers.push_back({at + 4, 4});
      uint8_t kind = Byte(im.plain, at + 3);
      if (kind & 0xC0) continue;
      // Follow a few links of the chain.
      RowId next = RowId::Unpack(Read32(im.plain, at + 4));
      for (int hop = 0; hop < 4 && next.page != 0; ++hop) {
        size_t start, size;
        if (!RowSpan(db, next, start, size) || size < 4) break;
        im.lv_links.push_back({start, 4});
        next = RowId::Unpack(Read32(im.plain, start));
      }
    }
  }
}

std::unique_ptr<Image> LoadImage(const std::string& rel, const std::string& password) {
  auto im = std::make_unique<Image>();
  im->rel = rel;
  im->password = password;
  im->disk = testing_support::ReadFile(testing_support::DataPath(rel));
  std::span<const uint8_t> raw(reinterpret_cast<const uint8_t*>(im->disk.data()), im->disk.size());
  HeaderInfo h = ParseHeader(raw);
  im->page_size = h.page_size;
  im->page_count = static_cast<uint32_t>(im->disk.size() / h.page_size);
  im->layout = Layout::For(h.version);
  if (h.database_key != 0) {
    if (h.version <= Version::kJet4) {
      im->codec = MakeJetRc4Codec(h.database_key);
    } else {
      im->codec = MakeOfficeCodec(raw.subspan(0, h.page_size), password);
    }
  }
  im->plain = im->disk;
  for (uint32_t p = 1; p < im->page_count && im->codec; ++p) {
    std::span<uint8_t> page(reinterpret_cast<uint8_t*>(im->plain.data()) + size_t{p} * h.page_size,
                            h.page_size);
    im->codec->Decode(p, page);
  }
  for (uint32_t p = 0; p < im->page_count; ++p) {
    uint8_t type = Byte(im->plain, size_t{p} * h.page_size);
    im->pages_of_type[p == 0 || type > 5 ? 0 : type].push_back(p);
  }
  for (uint32_t p : im->pages_of_type[1]) {
    size_t base = size_t{p} * h.page_size;
    uint16_t count = Byte(im->plain, base + im->layout.data_row_count) |
                     (Byte(im->plain, base + im->layout.data_row_count + 1) << 8);
    for (uint16_t i = 0; i < count && i < 256; ++i) {
      im->slot_entries.push_back({base + im->layout.data_header + 2u * i, 2});
    }
  }

  testing_support::ScratchDir dir;
  std::string path = (dir.path() / "intact").string();
  testing_support::WriteFile(path, im->disk);
  auto db = Database::Open(path, OpenOptions{password, false});
  std::set<uint32_t> user;
  for (const auto& name : db->UserTables()) user.insert(db->Table(name)->tdef_page);
  std::set<uint32_t> done;
  std::vector<uint32_t> tdefs = {2};
  for (const auto& e : db->Catalog()) {
    if (e.type == 1) tdefs.push_back(static_cast<uint32_t>(e.id) & 0x00FFFFFF);
  }
  for (uint32_t page : tdefs) {
    if (!done.insert(page).second) continue;
    TableDef t = ReadTableDef(db->pager(), im->layout, page, db->code_page());
    FindTableLandmarks(*im, *db, t, user.count(page) > 0);
  }
  Tally tally;
  im->intact_rows = ReadEverything(path, password, rel + " intact", tally);
  return im;
}

struct Source {
  const char* rel;
  const char* password;
  int cases;  // per family (a quarter of it for truncation)
};

// The counts keep the ASan run short: bigger files take longer to read, and
// the agile file derives its key with 100000 hash rounds at every open.
const Source kSources[] = {
    {"jackcess/testV1997.mdb", "", 300},                   // Jet 3
    {"mdbtestdata/nwind.mdb", "", 12},                     // Jet 3 with memos and pictures
    {"generated/people_V2000_200.mdb", "", 200},           // Jet 4
    {"jackcess/overflowTestV2003.mdb", "", 100},           // Jet 4 with moved rows
    {"generated/people_V2007_300.accdb", "", 150},         // ACE
    {"jackcess-encrypt/db-enc.mdb", "", 250},              // Jet RC4
    {"mdb-reader/office-agile-4.4.accdb", "password", 8},  // Office agile
};

const Image& GetImage(const Source& s) {
  static std::map<std::string, std::unique_ptr<Image>> cache;
  auto& slot = cache[s.rel];
  if (!slot) slot = LoadImage(s.rel, s.password);
  return *slot;
}

// ---------------------------------------------------------------------------
// Building variants.

class Damager {
 public:
  Damager(const Image& im, uint32_t seed) : im_(im), rng_(seed) {}

  size_t Below(size_t n) {
    return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(rng_);
  }
  template <typename T>
  const T& Pick(const std::vector<T>& v) {
    return v[Below(v.size())];
  }
  bool Chance(int percent) { return static_cast<int>(Below(100)) < percent; }

  uint32_t PageOfType(int type) {
    const auto& pages = im_.pages_of_type[type];
    return pages.empty() ? 0 : Pick(pages);
  }

  // A page number that is wrong for a pointer: itself, the header, past the
  // end, or a page of some kind.
  uint32_t BadPage(uint32_t self) {
    switch (Below(9)) {
      case 0:
        return self;
      case 1:
        return 0;
      case 2:
        return im_.page_count;
      case 3:
        return im_.page_count + static_cast<uint32_t>(Below(1000));
      case 4:
        return 0x00FFFFFF;
      default:
        return PageOfType(1 + static_cast<int>(Below(5)));
    }
  }
  // A row pointer (page << 8 | row) that is wrong in the same ways, or names
  // a row that does not exist.
  uint32_t BadRowPointer(uint32_t self_page) {
    uint32_t page = BadPage(self_page);
    uint8_t row = Chance(30) ? 255 : static_cast<uint8_t>(Below(4));
    return (page << 8) | row;
  }

  // A new value for a counter or offset: extremes, near misses or noise.
  uint64_t BadNumber(const Field& f) {
    uint64_t orig = 0;
    for (int i = 0; i < f.width; ++i) orig |= uint64_t{Byte(im_.plain, f.offset + i)} << (8 * i);
    uint64_t all = f.width >= 8 ? ~0ull : (1ull << (8 * f.width)) - 1;
    switch (Below(7)) {
      case 0:
        return 0;
      case 1:
        return all;
      case 2:
        return all >> 1;
      case 3:
        return (orig + 1 + Below(3)) & all;
      case 4:
        return (orig - 1 - Below(3)) & all;
      case 5:
        return orig ^ (1ull << Below(8 * f.width));
      default:
        return rng_() & all;
    }
  }

  void FlipRandom(Variant& v, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      size_t off = Below(im_.plain.size());
      v.plain.emplace_back(off, static_cast<uint8_t>(Byte(im_.plain, off) ^ (1 + Below(255))));
    }
  }

  void Number(Variant& v, const std::vector<Field>& fields) {
    if (fields.empty()) return;
    const Field& f = Pick(fields);
    v.Set(f.offset, f.width, BadNumber(f));
  }

  const Image& im_;
  std::mt19937 rng_;
};

using Family = Variant (*)(Damager&);

// Random bytes anywhere, in the decoded pages and (for encoded files) in the
// stored bytes.
Variant RandomFlips(Damager& d) {
  const Image& im = d.im_;
  Variant v;
  if (d.Chance(30)) {
    // A burst inside one page: rows and definitions damaged in several places.
    size_t base = d.Below(im.page_count) * size_t{im.page_size};
    for (size_t n = 4 + d.Below(29); n > 0; --n) {
      size_t off = base + d.Below(im.page_size);
      v.plain.emplace_back(off, static_cast<uint8_t>(Byte(im.plain, off) ^ (1 + d.Below(255))));
    }
  } else {
    d.FlipRandom(v, 1 + d.Below(d.Chance(20) ? 64 : 6));
  }
  if (d.im_.codec && d.Chance(30)) {
    size_t off = d.Below(d.im_.disk.size());
    v.disk.emplace_back(off, static_cast<uint8_t>(d.rng_()));
  }
  return v;
}

// Bytes of the structures the reader trusts most.
Variant TargetedFlips(Damager& d) {
  const Image& im = d.im_;
  Variant v;
  int changes = 1 + static_cast<int>(d.Below(3));
  for (int i = 0; i < changes; ++i) {
    switch (d.Below(9)) {
      case 8: {  // a whole page replaced by one of another kind (or the same kind)
        uint32_t from = static_cast<uint32_t>(d.Below(im.page_count));
        uint32_t to = 1 + static_cast<uint32_t>(d.Below(im.page_count - 1));
        v.note += " page " + std::to_string(from) + " copied over page " + std::to_string(to);
        for (size_t k = 0; k < im.page_size; ++k) {
          v.plain.emplace_back(size_t{to} * im.page_size + k,
                               Byte(im.plain, size_t{from} * im.page_size + k));
        }
        break;
      }
      case 0: {  // page headers: type, owner, free space, counts, and the file header
        uint32_t page = static_cast<uint32_t>(d.Below(im.page_count));
        size_t off = size_t{page} * im.page_size + d.Below(page == 0 ? 0x300 : 16);
        v.plain.emplace_back(off, static_cast<uint8_t>(d.rng_()));
        break;
      }
      case 1:
      case 2:
        d.Number(v, im.tdef_fields);
        break;
      case 3:
        d.Number(v, im.slot_entries);
        break;
      case 4:
        d.Number(v, im.map_rows);
        break;
      case 5: {  // bits and bytes inside a usage map row
        if (im.map_spans.empty()) break;
        auto [start, size] = d.Pick(im.map_spans);
        v.plain.emplace_back(start + d.Below(size), static_cast<uint8_t>(d.rng_()));
        break;
      }
      case 6:
        d.Number(v, im.lv_headers);
        break;
      default: {  // inside a table definition
        if (im.tdef_pages.empty()) break;
        size_t off = size_t{d.Pick(im.tdef_pages)} * im.page_size + d.Below(im.page_size);
        v.plain.emplace_back(off, static_cast<uint8_t>(d.rng_()));
      }
    }
  }
  return v;
}

// Files that end early: at a page boundary or inside a page.
Variant Truncated(Damager& d) {
  Variant v;
  uint32_t page = static_cast<uint32_t>(d.Below(d.im_.page_count));
  v.cut = size_t{page} * d.im_.page_size;
  if (d.Chance(50)) v.cut += 1 + d.Below(d.im_.page_size - 1);
  return v;
}

// Pointers that lead somewhere they must not: loops, past the end, pages of
// another kind, rows that do not exist.
Variant BentPointers(Damager& d) {
  const Image& im = d.im_;
  Variant v;
  auto self_page = [&](const Field& f) { return static_cast<uint32_t>(f.offset / im.page_size); };
  switch (d.Below(6)) {
    case 0: {  // definition chains: a link that loops back, with a length that needs it
      if (im.tdef_links.empty()) break;
      const Field& link = d.Pick(im.tdef_links);
      v.Set(link.offset, 4, d.BadPage(self_page(link)));
      if (d.Chance(70) && !im.tdef_lengths.empty()) {
        const Field& len = d.Pick(im.tdef_lengths);
        v.Set(len.offset, 4, Read32(im.plain, len.offset) + (1 + d.Below(4)) * im.page_size);
      }
      break;
    }
    case 1: {  // usage maps: the definition's pointers and list-kind bitmap pages
      if (d.Chance(50) && !im.bitmap_entries.empty()) {
        const Field& f = d.Pick(im.bitmap_entries);
        v.Set(f.offset, 4, d.BadPage(self_page(f)));
      } else if (!im.map_pointers.empty()) {
        const Field& f = d.Pick(im.map_pointers);
        v.Set(f.offset, 4, d.BadRowPointer(self_page(f)));
      }
      if (d.Chance(30) && !im.map_rows.empty()) {
        // An inline map turned into a list, or the other way round.
        const Field& f = d.Pick(im.map_rows);
        if (f.width == 1) v.Set(f.offset, 1, Byte(im.plain, f.offset) ^ 1);
      }
      break;
    }
    case 2: {  // long values: header pointers and chain links
      if (d.Chance(50) && !im.lv_links.empty()) {
        const Field& f = d.Pick(im.lv_links);
        // Back onto itself or onto another link of some chain.
        uint32_t target = d.Chance(50) ? d.BadRowPointer(self_page(f))
                                       : Read32(im.plain, d.Pick(im.lv_links).offset);
        v.Set(f.offset, 4, target);
      } else if (!im.lv_pointers.empty()) {
        const Field& f = d.Pick(im.lv_pointers);
        v.Set(f.offset, 4, d.BadRowPointer(self_page(f)));
        if (d.Chance(40)) {  // and claim another storage kind
          v.Set(f.offset - 4, 4,
                (Read32(im.plain, f.offset - 4) & 0x3FFFFFFF) ^ (uint32_t(d.Below(4)) << 30));
        }
      }
      if (d.Chance(30) && !im.lv_headers.empty()) {
        // A length far beyond the data, for any storage kind.
        const Field& f = d.Pick(im.lv_headers);
        uint32_t kind = static_cast<uint32_t>(d.Below(4)) << 30;
        v.Set(f.offset, 4, kind | (0x3FFFFFFF - static_cast<uint32_t>(d.Below(1u << 24))));
      }
      break;
    }
    case 3:
    case 4: {  // rows that say they moved: to themselves, in a ring, anywhere
      if (im.rows.empty()) break;
      int ring = 1 + static_cast<int>(d.Below(3));
      std::vector<const Image::DataRow*> members;
      for (int i = 0; i < ring; ++i) members.push_back(&d.Pick(im.rows));
      for (int i = 0; i < ring; ++i) {
        const auto& r = *members[i];
        if (r.size < 4) continue;
        const auto& next = *members[(i + 1) % ring];
        uint16_t entry = Byte(im.plain, r.slot) | (Byte(im.plain, r.slot + 1) << 8);
        v.Set(r.slot, 2, entry | 0x4000);
        uint32_t target = d.Chance(70) ? (next.page << 8 | next.row) : d.BadRowPointer(r.page);
        v.Set(r.start, 4, target);
      }
      break;
    }
    default: {  // the row offset table: rows overlapping, outside the page, flagged
      if (im.slot_entries.empty()) break;
      const Field& f = d.Pick(im.slot_entries);
      uint16_t entry = Byte(im.plain, f.offset) | (Byte(im.plain, f.offset + 1) << 8);
      uint16_t flags[] = {0x0000, 0x4000, 0x8000, 0xC000};
      uint16_t off = d.Chance(50) ? static_cast<uint16_t>(d.Below(im.page_size + 64))
                                  : static_cast<uint16_t>(entry & 0x1FFF);
      v.Set(f.offset, 2, (off & 0x1FFF) | flags[d.Below(4)]);
    }
  }
  return v;
}

void RunFamily(const char* family, Family make, int percent) {
  Watchdog watchdog;
  testing_support::ScratchDir dir;
  uint32_t family_seed = 0;
  for (const char* c = family; *c; ++c) family_seed = family_seed * 31 + static_cast<uint8_t>(*c);
  for (size_t s = 0; s < std::size(kSources); ++s) {
    const Source& src = kSources[s];
    const Image& im = GetImage(src);
    ASSERT_GT(im.intact_rows, 0u) << src.rel;
    std::string path = (dir.path() / ("damaged-" + std::to_string(s))).string();
    Tally tally;
    const int cases = std::max(1, src.cases * percent / 100);
    for (int i = 0; i < cases; ++i) {
      uint32_t seed = family_seed + 7919u * static_cast<uint32_t>(s) + static_cast<uint32_t>(i);
      Damager d(im, seed);
      Variant v = make(d);
      std::string label = std::string(src.rel) + " " + family + " case " + std::to_string(i) +
                          " (seed " + std::to_string(seed) + "):" + v.Describe();
      watchdog.Start(label);
      testing_support::WriteFile(path, Materialize(im, v));
      ReadEverything(path, src.password, label, tally);
      // One report is enough; the label says how to get there.
      if (testing::Test::HasFailure()) return;
    }
    std::printf(
        "%-36s %-14s %5d cases: %5d refused at open, %4d bad catalogues, %5d bad tables, "
        "%8llu rows read\n",
        src.rel, family, tally.cases, tally.refused_at_open, tally.catalog_errors,
        tally.table_errors, static_cast<unsigned long long>(tally.rows));
    // The damage must leave most files readable in part, or the cases test
    // little more than the header check.
    if (std::string(family) != "truncated") {
      EXPECT_GT(tally.rows, 0u) << src.rel << " " << family;
    }
  }
}

// The images are faithful: without damage they read cleanly and encode back
// to the stored bytes, so that the damage below is the only difference.
TEST(DamagedFiles, IntactImagesReadCleanly) {
  testing_support::ScratchDir dir;
  for (const Source& src : kSources) {
    const Image& im = GetImage(src);
    EXPECT_EQ(Materialize(im, Variant{}), im.disk) << src.rel;
    Variant all_pages;
    for (uint32_t p = 1; p < im.page_count; ++p) {
      size_t off = size_t{p} * im.page_size + 100;
      all_pages.plain.emplace_back(off, Byte(im.plain, off));
    }
    EXPECT_EQ(Materialize(im, all_pages), im.disk) << src.rel;
    std::string path = (dir.path() / "copy").string();
    testing_support::WriteFile(path, im.disk);
    Tally tally;
    EXPECT_EQ(ReadEverything(path, src.password, src.rel, tally), im.intact_rows);
    EXPECT_EQ(tally.refused_at_open + tally.catalog_errors + tally.table_errors, 0) << src.rel;
    // Every family has something to aim at.
    EXPECT_FALSE(im.tdef_fields.empty()) << src.rel;
    EXPECT_FALSE(im.slot_entries.empty()) << src.rel;
    EXPECT_FALSE(im.map_spans.empty()) << src.rel;
    EXPECT_FALSE(im.rows.empty()) << src.rel;
  }
}

TEST(DamagedFiles, RandomByteFlips) { RunFamily("random-flips", RandomFlips, 100); }
TEST(DamagedFiles, TargetedFlips) { RunFamily("targeted-flips", TargetedFlips, 100); }
TEST(DamagedFiles, Truncated) { RunFamily("truncated", Truncated, 25); }
TEST(DamagedFiles, BentPointers) { RunFamily("bent-pointers", BentPointers, 100); }

}  // namespace
}  // namespace jet
