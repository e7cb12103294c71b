#include "db/shared_state.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <string_view>

namespace db::internal {

namespace {

bool IsReal(jet::Value::Kind k) {
  using K = jet::Value::Kind;
  return k == K::kFloat || k == K::kDouble || k == K::kDateTime;
}

uint64_t Mix(uint64_t x) {
  x ^= x >> 30;
  x *= 0xbf58476d1ce4e5b9ull;
  x ^= x >> 27;
  x *= 0x94d049bb133111ebull;
  x ^= x >> 31;
  return x;
}

}  // namespace

bool SameValue(const jet::Value& a, const jet::Value& b) {
  if (IsReal(a.kind()) && IsReal(b.kind())) {
    double x = a.as_double(), y = b.as_double();
    return x == y || (std::isnan(x) && std::isnan(y));
  }
  return a == b;
}

uint64_t HashValue(const jet::Value& v, uint64_t h) {
  using K = jet::Value::Kind;
  K kind = IsReal(v.kind()) ? K::kDouble : v.kind();
  h = Mix(h + static_cast<uint64_t>(kind) + 1);
  switch (kind) {
    case K::kNull:
      return h;
    case K::kBool:
    case K::kInt:
    case K::kCurrency:
    case K::kDateTimeExt:
    case K::kComplex:
      // These keep their payload in the integer (ticks, the complex key).
      return Mix(h ^ static_cast<uint64_t>(v.as_int()));
    case K::kDouble: {
      double d = v.as_double();
      if (d == 0) d = 0;  // -0 is 0
      if (std::isnan(d)) d = std::numeric_limits<double>::quiet_NaN();
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      return Mix(h ^ bits);
    }
    case K::kDecimal:
      h = Mix(h ^ (static_cast<uint64_t>(v.negative()) << 8 | v.scale()));
      [[fallthrough]];
    default:
      return Mix(h ^ std::hash<std::string_view>{}(v.bytes()));
  }
}

bool RowReader::Load(uint32_t packed_id) {
  jet::Bytes bytes;
  jet::RowId data_id;
  if (!jet::ResolveRow(*db_, *table_, jet::RowId::Unpack(packed_id), page_, bytes, data_id)) {
    return false;
  }
  if (bytes.empty()) return false;
  view_.Load(bytes);
  return true;
}

void RowIndex::Build(jet::Database& db, const std::shared_ptr<const jet::TableDef>& table) {
  std::vector<const jet::Column*> cols;
  for (uint16_t n : columns_) {
    for (const auto& c : table->columns) {
      if (c.number == n) cols.push_back(&c);
    }
  }
  std::vector<uint64_t> filed;
  jet::TableScan scan(db, table);
  while (scan.Next()) {
    uint64_t h = kHashSeed;
    for (const jet::Column* c : cols) h = HashValue(scan.Get(*c), h);
    filed.push_back(Filing(h, scan.id().Packed()));
  }
  Adopt(std::move(filed));
}

void RowIndex::Adopt(std::vector<uint64_t> filed) {
  filed_ = std::move(filed);
  added_.clear();
  std::sort(filed_.begin(), filed_.end());
  int bits = 1;
  while (bits < 31 && (size_t{4} << bits) < filed_.size()) ++bits;
  shift_ = 64 - bits;
  directory_.assign((size_t{1} << bits) + 1, static_cast<uint32_t>(filed_.size()));
  for (size_t i = filed_.size(); i-- > 0;)
    directory_[filed_[i] >> shift_] = static_cast<uint32_t>(i);
  for (size_t p = directory_.size() - 1; p-- > 0;)
    directory_[p] = std::min(directory_[p], directory_[p + 1]);
}

void RowIndex::Candidates(uint64_t hash, std::vector<uint32_t>& out) const {
  out.clear();
  if (!directory_.empty()) {
    size_t prefix = hash >> shift_;
    for (size_t i = directory_[prefix], end = directory_[prefix + 1]; i < end; ++i) {
      if ((filed_[i] >> 32) == (hash >> 32)) out.push_back(static_cast<uint32_t>(filed_[i]));
    }
  }
  auto [from, to] = added_.equal_range(hash);
  if (from == to) return;
  for (; from != to; ++from) out.push_back(from->second);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
}

RowIndex& SharedState::Index(jet::Database& db, const std::shared_ptr<const jet::TableDef>& table,
                             const std::vector<uint16_t>& columns) {
  ++clock_;
  for (auto& index : indexes_) {
    if (index->tdef_page() == table->tdef_page && index->columns() == columns) {
      index->last_use = clock_;
      if (index->WornOut()) index->Build(db, table);
      return *index;
    }
  }
  auto index = std::make_unique<RowIndex>(table->tdef_page, columns);
  index->Build(db, table);
  return Add(std::move(index));
}

void SharedState::Offer(const jet::TableDef& table, const std::vector<uint16_t>& columns,
                        std::vector<uint64_t> filed) {
  ++clock_;
  for (auto& index : indexes_) {
    if (index->tdef_page() == table.tdef_page && index->columns() == columns) {
      index->last_use = clock_;
      index->Adopt(std::move(filed));
      return;
    }
  }
  auto index = std::make_unique<RowIndex>(table.tdef_page, columns);
  index->Adopt(std::move(filed));
  Add(std::move(index));
}

RowIndex& SharedState::Add(std::unique_ptr<RowIndex> index) {
  index->last_use = clock_;
  if (indexes_.size() >= kMaxIndexes) {
    auto oldest =
        std::min_element(indexes_.begin(), indexes_.end(),
                         [](const auto& a, const auto& b) { return a->last_use < b->last_use; });
    indexes_.erase(oldest);
  }
  indexes_.push_back(std::move(index));
  return *indexes_.back();
}

std::vector<RowIndex*> SharedState::IndexesTouching(uint32_t tdef_page,
                                                    const std::vector<uint16_t>& columns) {
  std::vector<RowIndex*> out;
  for (auto& index : indexes_) {
    if (index->tdef_page() != tdef_page) continue;
    const auto& mine = index->columns();
    bool touches = std::any_of(columns.begin(), columns.end(), [&](uint16_t n) {
      return std::find(mine.begin(), mine.end(), n) != mine.end();
    });
    if (touches) out.push_back(index.get());
  }
  return out;
}

void SharedState::ForgetTable(uint32_t tdef_page) {
  std::erase_if(indexes_, [&](const auto& index) { return index->tdef_page() == tdef_page; });
  Changed();
}

void SharedState::ForgetAll() {
  indexes_.clear();
  Changed();
}

std::shared_ptr<SharedState> StateOf(const std::shared_ptr<jet::Database>& db) {
  struct Entry {
    std::weak_ptr<jet::Database> db;
    std::shared_ptr<SharedState> state;
  };
  static std::mutex mu;
  static std::map<const jet::Database*, Entry> registry;
  std::lock_guard<std::mutex> lock(mu);
  // A database that was closed may have left its address to a new one.
  std::erase_if(registry, [](const auto& item) { return item.second.db.expired(); });
  Entry& e = registry[db.get()];
  if (!e.state) {
    e.db = db;
    e.state = std::make_shared<SharedState>();
  }
  return e.state;
}

}  // namespace db::internal
