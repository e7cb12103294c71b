// Adding columns to tables that lost columns before (their rows still carry
// the dropped columns' bytes and their pages have gaps): the new columns take
// values, the file checks clean, and mdbtools reads every old value as before.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "jet/table/check.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::Capture;
using testing_support::ScratchDir;
using testing_support::ShellQuote;

constexpr char kFixture[] = "mdb-reader/withdeletedcol.accdb";

bool HaveMdbExport() { return !Capture("command -v mdb-export 2>/dev/null").empty(); }

// mdb-export's records, unquoted, fields split by the unit separator; the
// header first, the rows sorted (a row that grew may have moved).
std::vector<std::string> Export(const std::string& path, const std::string& table) {
  std::string out = Capture("mdb-export -Q -d '\x1f' -R '\x1e' " + ShellQuote(path) + " " +
                            ShellQuote(table) + " 2>/dev/null");
  std::vector<std::string> records;
  for (size_t p = 0, q; p < out.size(); p = q + 1) {
    q = out.find('\x1e', p);
    if (q == std::string::npos) q = out.size();
    records.push_back(out.substr(p, q - p));
  }
  if (!records.empty()) std::sort(records.begin() + 1, records.end());
  return records;
}

// Every row's values in text form, in storage order.
std::vector<std::vector<std::string>> Rows(Database& db, const std::string& table,
                                           const std::vector<std::string>& columns) {
  auto t = db.Table(table);
  std::vector<std::vector<std::string>> rows;
  TableScan scan(db, t);
  while (scan.Next()) {
    std::vector<std::string> row;
    for (const std::string& c : columns) row.push_back(TextForm(scan.Get(*t->FindColumn(c))));
    rows.push_back(std::move(row));
  }
  return rows;
}

TEST(AddColumnAfterDroppedColumns, NewColumnsTakeValuesAndOldOnesReadAsBefore) {
  ScratchDir dir;
  const std::string path = dir.Copy(kFixture);
  const bool oracle = HaveMdbExport();

  struct Before {
    std::string table;
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> exported;
  };
  std::vector<Before> before;
  {
    auto db = Database::Open(path, OpenOptions{"", true});
    ASSERT_EQ(db->UserTables().size(), 3u);  // Table1 and two clipboard tables
    for (const std::string& name : db->UserTables()) {
      Before b{name, {}, {}, {}};
      for (const Column& c : db->Table(name)->columns) b.columns.push_back(c.name);
      b.rows = Rows(*db, name, b.columns);
      if (oracle) b.exported = Export(path, name);
      before.push_back(std::move(b));
    }
    for (const Before& b : before) {
      db->AddColumn(b.table, "Added", ColumnType::kLong);
      db->AddColumn(b.table, "AddedText", ColumnType::kText, 40);
      db->AddColumn(b.table, "AddedMemo", ColumnType::kMemo);
      db->Commit();
      auto t = db->Table(b.table);
      std::vector<RowId> ids;
      {
        TableScan scan(*db, t);
        while (scan.Next()) ids.push_back(scan.id());
      }
      ASSERT_EQ(ids.size(), b.rows.size()) << b.table;
      for (size_t k = 0; k < ids.size(); ++k) {
        db->UpdateRow(*t, ids[k],
                      {{t->FindColumn("Added"), Value::Int(100 + static_cast<int64_t>(k))},
                       {t->FindColumn("AddedText"), Value::Text("t" + std::to_string(k))},
                       {t->FindColumn("AddedMemo"), Value::Text(std::string(300 + k, 'm'))}});
      }
      db->Commit();
    }
  }

  auto db = Database::Open(path, OpenOptions{});
  CheckReport report = CheckDatabase(*db);
  EXPECT_TRUE(report.ok()) << report.problems.front();
  int status = -1;
  std::string out =
      Capture(std::string(TESSALY_CLI) + " check " + ShellQuote(path) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << out;

  for (const Before& b : before) {
    SCOPED_TRACE(b.table);
    std::vector<std::string> all = b.columns;
    all.insert(all.end(), {"Added", "AddedText", "AddedMemo"});
    std::vector<std::vector<std::string>> expected = b.rows;
    for (size_t k = 0; k < expected.size(); ++k) {
      expected[k].insert(expected[k].end(), {std::to_string(100 + k), "t" + std::to_string(k),
                                             std::string(300 + k, 'm')});
    }
    EXPECT_EQ(Rows(*db, b.table, all), expected);

    if (!oracle) continue;
    // mdb-export gives the old header and records, each record followed by
    // the new fields of exactly one row.
    const std::vector<std::string> now = Export(path, b.table);
    ASSERT_EQ(b.exported.size(), b.rows.size() + 1) << "mdb-export read the copy differently";
    ASSERT_EQ(now.size(), b.exported.size());
    const std::string us = "\x1f";
    EXPECT_EQ(now[0], b.exported[0] + us + "Added" + us + "AddedText" + us + "AddedMemo");
    std::vector<std::string> old_rows(b.exported.begin() + 1, b.exported.end());
    std::vector<bool> used(b.rows.size(), false);
    for (size_t r = 1; r < now.size(); ++r) {
      size_t k = 0;
      std::string tail;
      for (; k < b.rows.size(); ++k) {
        tail = us + std::to_string(100 + k) + us + "t" + std::to_string(k) + us +
               std::string(300 + k, 'm');
        if (now[r].size() >= tail.size() &&
            now[r].compare(now[r].size() - tail.size(), tail.size(), tail) == 0) {
          break;
        }
      }
      ASSERT_LT(k, b.rows.size()) << "no new fields in " << now[r];
      EXPECT_FALSE(used[k]) << now[r];
      used[k] = true;
      auto old = std::find(old_rows.begin(), old_rows.end(),
                           now[r].substr(0, now[r].size() - tail.size()));
      ASSERT_NE(old, old_rows.end()) << now[r];
      old_rows.erase(old);
    }
  }
}

}  // namespace
}  // namespace jet
