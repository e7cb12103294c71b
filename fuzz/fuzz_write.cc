// libFuzzer target: the input is a database file. On a copy, a memo column is
// added to the first user table that has rows and set on every row, in every
// size class (empty, short enough for the row, one long-value page, several
// pages); the change is committed, the file reopened and read in full.
//
// The input may already be damaged, so what is demanded depends on the
// integrity check of the input: when it passed, the written file must pass
// too, every other column must read as before and the new one exactly as
// written; and a write refused with jet::Error must leave the file sound.
// When the input did not pass, only the usual promise holds: jet::Error or
// success, never a crash, a sanitizer report or another exception.
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "jet/table/check.h"
#include "jet/storage/error.h"

namespace {

using Snapshot = std::map<uint32_t, std::vector<std::string>>;  // row id -> column values

// A value's kind and content, exactly: binary as bytes, the rest as text.
std::string Fingerprint(const jet::Value& v) {
  return std::to_string(static_cast<int>(v.kind())) + ":" +
         (v.kind() == jet::Value::Kind::kBinary ? v.bytes() : jet::TextForm(v));
}

Snapshot TakeSnapshot(jet::Database& db, const std::string& table, const std::string& skip) {
  Snapshot out;
  auto t = db.Table(table);
  jet::TableScan scan(db, t);
  while (scan.Next()) {
    std::vector<std::string>& row = out[scan.id().Packed()];
    for (const jet::Column& c : t->columns) {
      if (!jet::NamesEqual(c.name, skip)) row.push_back(Fingerprint(scan.Get(c)));
    }
  }
  return out;
}

// The text row `k` gets: the size classes in turn, ASCII so that it reads
// back the same in every code page.
std::string MemoFor(size_t k) {
  static const size_t kSizes[] = {0, 17, 3000, 11000};
  std::string s(kSizes[k % 4], ' ');
  for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>('a' + (i * 7 + k) % 26);
  return s;
}

bool Sound(jet::Database& db) {
  try {
    return jet::CheckDatabase(db).ok();
  } catch (const jet::Error&) {
    return false;
  }
}

std::string FirstProblem(jet::Database& db) {
  jet::CheckReport r = jet::CheckDatabase(db);
  return r.ok() ? std::string("none") : r.problems.front();
}

struct Plan {
  bool input_sound = false;
  std::string table;
  std::string column;
  Snapshot before;
};

// Reads the input: whether it is sound, the table to change and its rows.
std::optional<Plan> MakePlan(const std::string& path) {
  auto db = fuzz::OpenEither(path, false);
  if (!db) return std::nullopt;
  Plan plan;
  plan.input_sound = Sound(*db);
  try {
    for (const std::string& name : db->UserTables()) {
      auto t = db->Table(name);
      jet::TableScan scan(*db, t);
      if (!scan.Next()) continue;
      plan.table = name;
      plan.column = "FuzzMemo";
      for (int n = 2; t->FindColumn(plan.column); ++n) plan.column = "FuzzMemo" + std::to_string(n);
      plan.before = TakeSnapshot(*db, name, "");
      return plan;
    }
  } catch (const jet::Error&) {
    // A table that cannot be read cannot be checked after the write either.
  }
  return std::nullopt;
}

// Adds the column and fills it. Returns what each row was given, or nothing
// when the engine refused.
std::optional<std::map<uint32_t, std::string>> Write(const std::string& path, const Plan& plan) {
  // A bound of a few pages: the change goes into the file long before its
  // commit, and a refusal must take it out again.
  auto db = fuzz::OpenEither(path, true, 16384);
  if (!db) return std::nullopt;  // e.g. a format the engine only reads
  std::map<uint32_t, std::string> written;
  try {
    db->AddColumn(plan.table, plan.column, jet::ColumnType::kMemo);
    auto t = db->Table(plan.table);
    const jet::Column* m = t->FindColumn(plan.column);
    if (!m) fuzz::Fail("the added column is not in the table");
    std::vector<jet::RowId> ids;
    {
      jet::TableScan scan(*db, t);
      while (scan.Next()) ids.push_back(scan.id());
    }
    for (size_t k = 0; k < ids.size(); ++k) {
      std::string text = MemoFor(k);
      db->UpdateRow(*t, ids[k], {{m, jet::Value::Text(text)}});
      written[ids[k].Packed()] = std::move(text);
    }
    db->Commit();
  } catch (const jet::Error&) {
    try {
      db->Rollback();
    } catch (const jet::Error&) {
    }
    return std::nullopt;
  }
  return written;
}

void Verify(const std::string& path, const Plan& plan,
            const std::map<uint32_t, std::string>& written) {
  auto db = fuzz::OpenEither(path, false);
  if (!db) {
    if (plan.input_sound) fuzz::Fail("the written file no longer opens");
    return;
  }
  fuzz::ReadEverything(*db);
  if (!plan.input_sound) {
    Sound(*db);
    return;
  }
  if (!Sound(*db)) fuzz::Fail("the write left a sound file unsound: " + FirstProblem(*db));
  Snapshot after;
  std::map<uint32_t, std::string> memo;
  try {
    after = TakeSnapshot(*db, plan.table, plan.column);
    auto t = db->Table(plan.table);
    const jet::Column* m = t->FindColumn(plan.column);
    if (!m) fuzz::Fail("the added column is gone after reopening");
    jet::TableScan scan(*db, t);
    while (scan.Next()) {
      jet::Value v = scan.Get(*m);
      // Every row was given a text, the empty ones too.
      if (v.kind() != jet::Value::Kind::kText) {
        fuzz::Fail("the new column reads as kind " + std::to_string(static_cast<int>(v.kind())));
      }
      memo[scan.id().Packed()] = v.bytes();
    }
  } catch (const jet::Error& e) {
    fuzz::Fail(std::string("the written table cannot be read: ") + e.what());
  }
  if (after != plan.before) fuzz::Fail("the other columns changed");
  if (memo != written) fuzz::Fail("the new column does not hold what was written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Scratch& scratch = fuzz::Scratch::Get();
  const std::string path = scratch.Write("input.db", data, size);
  if (std::optional<Plan> plan = MakePlan(path)) {
    if (auto written = Write(path, *plan)) {
      Verify(path, *plan, *written);
    } else if (fuzz::ReadAll(path) != std::string(reinterpret_cast<const char*>(data), size)) {
      fuzz::Fail("a refused write changed the file");
    } else if (plan->input_sound) {
      // A refused change leaves the file as of the last commit.
      auto db = fuzz::OpenEither(path, false);
      if (!db) fuzz::Fail("a refused write left a file that no longer opens");
      if (!Sound(*db)) fuzz::Fail("a refused write left the file unsound: " + FirstProblem(*db));
    }
  }
  scratch.Remove(path);
  return 0;
}
