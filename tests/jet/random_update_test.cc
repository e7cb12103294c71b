// Thousands of random updates against a model of the table, checked after
// every reopen: long values of every size, nulls, unicode, and the other
// column kinds a column can be added with.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "jet/table/check.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::ScratchDir;

std::string RandomText(std::mt19937& rng, size_t max_bytes) {
  static const char* pieces[] = {"a", "Z", " ",  "'", "\"", "é",  "ß",
                                 "Ω", "Ж", "中", "😀", "\t", "\n", "x"};
  size_t target = max_bytes ? rng() % (max_bytes + 1) : 0;
  std::string s;
  while (s.size() < target) s += pieces[rng() % 14];
  return s;
}

struct Case {
  const char* file;
  const char* table;
  const char* password = "";
};

class RandomUpdates : public ::testing::TestWithParam<Case> {};

TEST_P(RandomUpdates, MatchModelAfterEveryReopen) {
  ScratchDir dir;
  std::string path = dir.Copy(GetParam().file);
  const std::string table = GetParam().table;
  std::mt19937 rng(7);
  {
    auto db = Database::Open(path, OpenOptions{GetParam().password, true});
    db->AddColumn(table, "Note", ColumnType::kMemo);
    db->AddColumn(table, "Label", ColumnType::kText, 40);
    db->AddColumn(table, "Count", ColumnType::kLong);
    db->AddColumn(table, "Ratio", ColumnType::kDouble);
    db->AddColumn(table, "When", ColumnType::kDateTime);
    db->AddColumn(table, "Flag", ColumnType::kBoolean);
    db->Commit();
  }
  const std::vector<std::string> names = {"Note", "Label", "Count", "Ratio", "When", "Flag"};
  std::map<uint32_t, std::map<std::string, Value>> model;
  std::vector<RowId> ids;
  for (int round = 0; round < 6; ++round) {
    {
      auto db = Database::Open(path, OpenOptions{GetParam().password, true});
      auto t = db->Table(table);
      if (ids.empty()) {
        TableScan scan(*db, t);
        while (scan.Next()) ids.push_back(scan.id());
        for (RowId id : ids) {
          for (const auto& n : names)
            model[id.Packed()][n] = n == "Flag" ? Value::Bool(false) : Value::Null();
        }
      }
      for (int i = 0; i < 500; ++i) {
        RowId id = ids[rng() % ids.size()];
        const std::string& n = names[rng() % names.size()];
        const Column* c = t->FindColumn(n);
        Value v;
        int pick = rng() % 10;
        if (n == "Flag") {
          v = Value::Bool(rng() % 2);
        } else if (pick == 0) {
          v = Value::Null();
        } else if (n == "Note") {
          static const size_t sizes[] = {0, 30, 64, 200, 4000, 9000, 30000};
          v = Value::Text(RandomText(rng, sizes[rng() % 7]));
        } else if (n == "Label") {
          std::string s = RandomText(rng, 20);
          v = Value::Text(s);
        } else if (n == "Count") {
          v = Value::Int(static_cast<int32_t>(rng()));
        } else if (n == "Ratio") {
          v = Value::Double(std::ldexp(static_cast<double>(rng()), -static_cast<int>(rng() % 40)));
        } else {
          v = Value::DateTime(static_cast<double>(rng() % 80000) - 20000 +
                              (rng() % 86400) / 86400.0);
        }
        db->UpdateRow(*t, id, {{c, v}});
        model[id.Packed()][n] = v;
        if (i % 97 == 0) db->Commit();
      }
      db->Commit();
    }
    auto db = Database::Open(path, OpenOptions{GetParam().password, false});
    CheckReport r = CheckDatabase(*db);
    ASSERT_TRUE(r.ok()) << r.problems[0];
    auto t = db->Table(table);
    TableScan scan(*db, t);
    size_t rows = 0;
    while (scan.Next()) {
      auto& want = model.at(scan.id().Packed());
      for (const auto& n : names) {
        Value got = scan.Get(*t->FindColumn(n));
        ASSERT_TRUE(got == want.at(n))
            << "round " << round << " column " << n << ": got '" << TextForm(got).substr(0, 40)
            << "' want '" << TextForm(want.at(n)).substr(0, 40) << "'";
      }
      ++rows;
    }
    ASSERT_EQ(rows, ids.size());
  }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, RandomUpdates,
    ::testing::Values(Case{"generated/people_V2000_200.mdb", "People"},
                      Case{"generated/people_V2007_300.accdb", "Order Details"},
                      Case{"mdb-reader/office-agile-4.4.accdb", "Table1", "password"}),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace
}  // namespace jet
