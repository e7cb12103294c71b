// Savepoints against a model: random inserts and updates over every column
// kind, savepoints, rollbacks to them, releases, commits, whole rollbacks and
// reopenings. After each step the table holds exactly what the model says,
// and after each reopening exactly what was last committed.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "jet/table/check.h"
#include "jet/table/create.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::ScratchDir;

using Row = std::vector<Value>;         // by column, in NewColumns order
using Table = std::map<uint32_t, Row>;  // by packed row id

const std::vector<NewColumn>& Columns() {
  static const std::vector<NewColumn> columns = {
      {"Name", ColumnType::kText, 60}, {"Notes", ColumnType::kMemo},
      {"Small", ColumnType::kByte},    {"Medium", ColumnType::kInteger},
      {"Large", ColumnType::kLong},    {"Price", ColumnType::kCurrency},
      {"Ratio", ColumnType::kFloat},   {"Exact", ColumnType::kDouble},
      {"Born", ColumnType::kDateTime}, {"Active", ColumnType::kBoolean},
  };
  return columns;
}

class Model {
 public:
  explicit Model(uint32_t seed) : rng_(seed) {}

  Value RandomValue(ColumnType type) {
    if (type != ColumnType::kBoolean && Pick(6) == 0) return Value::Null();
    switch (type) {
      case ColumnType::kText:
        return Value::Text(Word(Pick(50)));
      case ColumnType::kMemo: {
        // Inline, one long-value row, and chains over several pages.
        static const size_t kSizes[] = {0, 10, 63, 200, 3000, 4100, 9000, 20000};
        return Value::Text(Word(kSizes[Pick(8)]));
      }
      case ColumnType::kByte:
        return Value::Int(Pick(256));
      case ColumnType::kInteger:
        return Value::Int(static_cast<int64_t>(Pick(60000)) - 30000);
      case ColumnType::kLong:
        return Value::Int(static_cast<int64_t>(rng_()) - (1ll << 31));
      case ColumnType::kCurrency:
        return Value::Currency(static_cast<int64_t>(rng_() % 100000000) - 50000000);
      case ColumnType::kFloat:
        return Value::Float(static_cast<float>(Pick(10000)) / 8.0f);
      case ColumnType::kDouble:
        return Value::Double(static_cast<double>(Pick(1000000)) / 64.0);
      case ColumnType::kDateTime:
        return Value::DateTime(36526.0 + Pick(20000) + Pick(86400) / 86400.0);
      case ColumnType::kBoolean:
        return Value::Bool(Pick(2) == 1);
      default:
        return Value::Null();
    }
  }
  std::string Word(size_t len) {
    std::string s;
    for (size_t i = 0; i < len; ++i) s.push_back(static_cast<char>('a' + Pick(26)));
    return s;
  }
  uint32_t Pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }

 private:
  std::mt19937 rng_;
};

Table Read(Database& db) {
  auto t = db.Table("T");
  std::vector<const Column*> cols;
  for (const NewColumn& c : Columns()) cols.push_back(t->FindColumn(c.name));
  Table out;
  TableScan scan(db, t);
  while (scan.Next()) {
    Row row;
    for (const Column* c : cols) row.push_back(scan.Get(*c));
    out[scan.id().Packed()] = std::move(row);
  }
  return out;
}

std::string Describe(const Table& want, const Table& got) {
  if (want.size() != got.size()) {
    return "rows: want " + std::to_string(want.size()) + ", got " + std::to_string(got.size());
  }
  for (const auto& [id, row] : want) {
    auto it = got.find(id);
    if (it == got.end()) return "row " + std::to_string(id) + " is missing";
    for (size_t i = 0; i < row.size(); ++i) {
      if (!(row[i] == it->second[i])) {
        return "row " + std::to_string(id) + " column " + Columns()[i].name + " differs";
      }
    }
  }
  return "";
}

// With a small spill bound the changed pages go into the file long before
// the commit, so every rollback and reopening must undo them from the journal.
void Walk(FileFormat format, size_t spill_bytes) {
  {
    SCOPED_TRACE(FileFormatName(format) + (spill_bytes < 1000000 ? ", spilling" : ""));
    ScratchDir dir;
    const std::string path = (dir.path() / (FileFormatName(format) + ".db")).string();
    CreateDatabase(path, format);
    {
      auto db = Database::Open(path, OpenOptions{"", true});
      db->CreateTable("T", Columns());
      db->Commit();
    }
    Model model(format == FileFormat::kMdb2003 ? 7 : 8);
    Table committed;
    Table now;
    std::vector<Table> marks;  // the table at each open savepoint
    const OpenOptions options{"", true, &FileSystem::Default(), spill_bytes};
    auto db = Database::Open(path, options);
    int rolled_back_to = 0, reopened = 0, spilled_steps = 0;
    for (int step = 0; step < 1000; ++step) {
      const uint32_t op = model.Pick(100);
      auto t = db->Table("T");
      if (op < 30 || now.empty()) {  // insert
        Row row;
        std::vector<std::pair<const Column*, Value>> cells;
        for (const NewColumn& c : Columns()) {
          row.push_back(model.RandomValue(c.type));
          cells.emplace_back(t->FindColumn(c.name), row.back());
        }
        const RowId id = db->InsertRow(*t, cells);
        now[id.Packed()] = std::move(row);
      } else if (op < 65) {  // update one to four columns of a row
        auto it = now.begin();
        std::advance(it, model.Pick(static_cast<uint32_t>(now.size())));
        std::vector<std::pair<const Column*, Value>> cells;
        for (uint32_t k = 0, n = 1 + model.Pick(4); k < n; ++k) {
          const size_t i = model.Pick(static_cast<uint32_t>(Columns().size()));
          Value v = model.RandomValue(Columns()[i].type);
          it->second[i] = v;
          cells.emplace_back(t->FindColumn(Columns()[i].name), std::move(v));
        }
        db->UpdateRow(*t, RowId::Unpack(it->first), cells);
      } else if (op < 75) {
        marks.push_back(now);
        ASSERT_EQ(db->Savepoint(), marks.size());
      } else if (op < 83 && !marks.empty()) {  // back to a random open mark
        const size_t depth = 1 + model.Pick(static_cast<uint32_t>(marks.size()));
        db->RollbackToSavepoint(depth);
        marks.resize(depth);
        now = marks.back();
        ++rolled_back_to;
      } else if (op < 88 && !marks.empty()) {
        const size_t depth = 1 + model.Pick(static_cast<uint32_t>(marks.size()));
        db->ReleaseSavepoint(depth);
        marks.resize(depth - 1);
      } else if (op < 93) {
        db->Commit();
        committed = now;
        marks.clear();
      } else if (op < 96) {
        db->Rollback();
        now = committed;
        marks.clear();
      } else {  // reopen: what was not committed is gone
        db.reset();
        db = Database::Open(path, options);
        now = committed;
        marks.clear();
        ++reopened;
        const CheckReport r = CheckDatabase(*db);
        ASSERT_TRUE(r.ok()) << r.problems[0];
      }
      if (db->pager().spills() > 0) ++spilled_steps;
      const std::string diff = Describe(now, Read(*db));
      ASSERT_EQ(diff, "") << "after step " << step << " (op " << op << ")";
    }
    if (spill_bytes < 1000000) {
      EXPECT_GT(spilled_steps, 100);
    }
    // The walk did what it is for.
    EXPECT_GT(rolled_back_to, 20);
    EXPECT_GT(reopened, 10);
    EXPECT_GT(committed.size(), 20u);
    db->Commit();
    const CheckReport r = CheckDatabase(*db);
    ASSERT_TRUE(r.ok()) << r.problems[0];
  }
}

TEST(SavepointModel, RandomChangesSavepointsRollbacksAndReopens) {
  for (FileFormat format : {FileFormat::kMdb2003, FileFormat::kAccdb2016}) {
    Walk(format, OpenOptions{}.spill_bytes);
  }
}

TEST(SavepointModel, TheSameWhileChangedPagesSpillIntoTheFile) {
  for (FileFormat format : {FileFormat::kMdb2003, FileFormat::kAccdb2016}) {
    Walk(format, 16 * 4096);
  }
}

}  // namespace
}  // namespace jet
