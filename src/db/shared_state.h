// What the database layer keeps per open database file, shared by every
// connection to that file in this process: hash indexes of table rows by the
// values of some columns, and a counter of the changes made through this
// layer. Not thread-safe: one thread drives the layer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "jet/table/database.h"
#include "jet/record/value.h"

namespace db::internal {

// Exact equality of stored values: text byte for byte (case and trailing
// blanks count), numbers by value, Null equal only to Null.
bool SameValue(const jet::Value& a, const jet::Value& b);
// A hash that agrees with SameValue, folded into `h`.
uint64_t HashValue(const jet::Value& v, uint64_t h);
inline constexpr uint64_t kHashSeed = 0x6a09e667f3bcc908ull;

// One row filed in an index: the top half of its hash over the packed RowId,
// eight bytes a row. Half a hash is plenty, since every candidate's values are
// checked anyway.
inline uint64_t Filing(uint64_t hash, uint32_t packed_id) {
  return (hash & 0xFFFFFFFF00000000ull) | packed_id;
}

// The rows of one table filed by a hash of the values of some of its
// columns. Only hashes are kept, so a reader checks every candidate row's
// values; that check also drops rows whose values changed after they were
// filed. A row whose indexed values change is filed again under its new
// hash, so none is ever missed.
class RowIndex {
 public:
  RowIndex(uint32_t tdef_page, std::vector<uint16_t> columns)
      : tdef_page_(tdef_page), columns_(std::move(columns)) {}
  uint32_t tdef_page() const { return tdef_page_; }
  const std::vector<uint16_t>& columns() const { return columns_; }

  // Files every row of the table (one scan).
  void Build(jet::Database& db, const std::shared_ptr<const jet::TableDef>& table);
  // Takes the filing of every row of the table, from a scan made for
  // another purpose.
  void Adopt(std::vector<uint64_t> filed);
  // Rows filed under `hash`, ascending, possibly with stale ones and repeats.
  void Candidates(uint64_t hash, std::vector<uint32_t>& out) const;
  void Add(uint64_t hash, uint32_t packed_id) { added_.emplace(hash, packed_id); }
  // So many rows were filed again that a fresh build is cheaper to read.
  bool WornOut() const { return added_.size() > 1024 + filed_.size() / 2; }

  uint64_t last_use = 0;

 private:
  uint32_t tdef_page_;
  std::vector<uint16_t> columns_;                     // column numbers, ascending, no repeats
  std::vector<uint64_t> filed_;  // Filing() of every row, sorted
  // Where in filed_ the hashes with each value of their top bits begin, so a
  // lookup reads a few entries instead of searching.
  std::vector<uint32_t> directory_;
  int shift_ = 63;
  std::unordered_multimap<uint64_t, uint32_t> added_;
};

class SharedState {
 public:
  // The index of the table's rows by `columns` (ascending numbers), built by
  // one scan the first time it is asked for.
  RowIndex& Index(jet::Database& db, const std::shared_ptr<const jet::TableDef>& table,
                  const std::vector<uint16_t>& columns);
  // A complete filing of the table's rows by `columns`, made while scanning
  // for something else (select distinct over the same columns, which the
  // merge follows with one update per combination).
  void Offer(const jet::TableDef& table, const std::vector<uint16_t>& columns,
             std::vector<uint64_t> filed);
  // Indexes of the table that include any of `columns`.
  std::vector<RowIndex*> IndexesTouching(uint32_t tdef_page, const std::vector<uint16_t>& columns);
  // A table's definition changed: its indexes no longer apply.
  void ForgetTable(uint32_t tdef_page);
  // The database went back to its last commit: nothing here can be trusted.
  void ForgetAll();

  // Counts changes made through this layer, so cached rows know when to
  // read again.
  uint64_t generation() const { return generation_; }
  void Changed() { ++generation_; }

 private:
  RowIndex& Add(std::unique_ptr<RowIndex> index);
  static constexpr size_t kMaxIndexes = 8;
  std::vector<std::unique_ptr<RowIndex>> indexes_;
  uint64_t clock_ = 0;
  uint64_t generation_ = 0;
};

// The state of one open database; the same object for every caller while
// the database stays open.
std::shared_ptr<SharedState> StateOf(const std::shared_ptr<jet::Database>& db);

// One row read by its identity. Keeps the page it lies on alive while the
// view is in use.
class RowReader {
 public:
  RowReader(jet::Database& db, const jet::TableDef& table)
      : db_(&db), table_(&table), view_(table, db.layout()) {}
  // False when the row no longer exists.
  bool Load(uint32_t packed_id);
  jet::Value Get(const jet::Column& c) { return db_->Read(view_, c); }

 private:
  jet::Database* db_;
  const jet::TableDef* table_;
  jet::PagePtr page_;
  jet::RowView view_;
};

}  // namespace db::internal
