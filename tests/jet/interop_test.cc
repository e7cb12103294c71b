// What the engine writes, the independent readers read: mdbtools
// (mdb-export) and mdb-reader (through tests/oracle/dump.mjs).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>

#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::Capture;
using testing_support::ScratchDir;

bool Have(const std::string& tool) {
  return !Capture("command -v " + tool + " 2>/dev/null").empty();
}

std::string OracleDir() { return std::string(TESSALY_TEST_DATA) + "/../oracle"; }

// Values with every storage class of a memo, no empty text (mdbtools prints
// empty text as null) and no line breaks (mdb-export is line-based).
std::string ValueFor(uint32_t key) {
  static const size_t sizes[] = {1, 30, 64, 65, 900, 4072, 4073, 12000};
  std::string v = "k" + std::to_string(key) + "-Zoë-O'Hara-";
  v.append(sizes[key % 8], static_cast<char>('a' + key % 26));
  return v;
}

struct Case {
  const char* file;
  const char* table;
  const char* key;  // a column with unique values to match rows by
  const char* password;
};

class Interop : public ::testing::TestWithParam<Case> {};

TEST_P(Interop, IndependentReadersSeeWhatWasWritten) {
  const Case c = GetParam();
  ScratchDir dir;
  std::string path = dir.Copy(c.file);
  std::set<std::string> expected;  // "key|value"
  {
    auto db = Database::Open(path, OpenOptions{c.password, true});
    db->AddColumn(c.table, "Merged", ColumnType::kMemo);
    auto t = db->Table(c.table);
    std::vector<std::pair<RowId, std::string>> rows;
    {
      TableScan scan(*db, t);
      while (scan.Next()) rows.emplace_back(scan.id(), TextForm(scan.Get(*t->FindColumn(c.key))));
    }
    uint32_t k = 0;
    for (auto& [id, key] : rows) {
      std::string v = ValueFor(k++);
      db->UpdateRow(*t, id, {{t->FindColumn("Merged"), Value::Text(v)}});
      expected.insert(key + "|" + v);
    }
    db->Commit();
  }
  bool any = false;
  if (Have("mdb-export") && std::string(c.password).empty()) {
    any = true;
    // Unit and record separators: the data holds neither, but it does hold
    // line breaks and commas.
    std::string out =
        Capture("mdb-export -Q -d '\x1f' -R '\x1e' '" + path + "' '" + c.table + "' 2>/dev/null");
    std::set<std::string> got;
    size_t start = out.find('\x1e') + 1;  // header
    std::string header = out.substr(0, start);
    size_t key_col = 0, merged_col = 0, col = 0;
    for (size_t p = 0, q; p < header.size(); p = q + 1, ++col) {
      q = header.find_first_of("\x1f\x1e", p);
      std::string name = header.substr(p, q - p);
      if (name == c.key) key_col = col;
      if (name == "Merged") merged_col = col;
      if (q == std::string::npos) break;
    }
    for (size_t p = start, q; p < out.size(); p = q + 1) {
      q = out.find('\x1e', p);
      std::string line = out.substr(p, q - p);
      std::vector<std::string> fields;
      for (size_t a = 0, b;; a = b + 1) {
        b = line.find('\x1f', a);
        fields.push_back(line.substr(a, b == std::string::npos ? std::string::npos : b - a));
        if (b == std::string::npos) break;
      }
      if (fields.size() > std::max(key_col, merged_col))
        got.insert(fields[key_col] + "|" + fields[merged_col]);
      if (q == std::string::npos) break;
    }
    EXPECT_EQ(got, expected) << "mdb-export";
  }
  if (Have("node") && std::filesystem::exists(OracleDir() + "/node_modules/mdb-reader")) {
    any = true;
    // One line per row: the key's and the new column's values as JSON.
    std::string script =
        "import MDBReader from 'mdb-reader'; import {readFileSync} from 'fs';"
        "const r = new MDBReader(readFileSync(process.argv[1]), {password: process.argv[4] || "
        "undefined});"
        "for (const row of r.getTable(process.argv[2]).getData()) "
        "console.log(String(row[process.argv[3]]) + '|' + row.Merged);";
    std::string js = dir.path().string() + "/read.mjs";
    testing_support::WriteFile(js, script);
    std::string out = Capture(
        "cd '" + OracleDir() + "' && NODE_PATH=node_modules node --input-type=module -e \"$(cat '" +
        js + "')\" '" + path + "' '" + c.table + "' '" + c.key + "' '" + c.password + "' 2>&1");
    std::set<std::string> got;
    for (size_t p = 0, q; p < out.size(); p = q + 1) {
      q = out.find('\n', p);
      if (q == std::string::npos) q = out.size();
      if (q > p) got.insert(out.substr(p, q - p));
    }
    EXPECT_EQ(got.size(), expected.size());
    EXPECT_TRUE(got == expected) << "mdb-reader: " << out.substr(0, 300);
  }
  if (!any) GTEST_SKIP() << "neither mdb-export nor mdb-reader is installed";
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Interop,
    ::testing::Values(Case{"generated/people_V2000_200.mdb", "People", "ID", ""},
                      Case{"generated/people_V2007_300.accdb", "People", "ID", ""},
                      Case{"jackcess/testV1997.mdb", "Table1", "A", ""},
                      Case{"mdbtestdata/nwind.mdb", "Order Details", "OrderID", ""},
                      Case{"efcore-jet/Northwind.accdb", "Order Details", "OrderID", ""},
                      Case{"jackcess-encrypt/db-enc.mdb", "Table1", "ID", ""},
                      Case{"mdb-reader/office-agile-4.4.accdb", "Table1", "ID", "password"}),
    [](const auto& info) { return std::to_string(info.index); });

}  // namespace
}  // namespace jet
