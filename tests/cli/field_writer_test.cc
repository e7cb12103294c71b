// The dump writer formats values straight from the stored row bytes. It must
// give the text the Value path gives (TableScan::Get through AppendCsvField
// and AppendJsonValue): on every table of every fixture, and on a table of
// edge values written for the purpose. Then its output block and numbers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "cli/output.h"
#include "jet/table/create.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace cli {
namespace {

namespace fs = std::filesystem;
using jet::ColumnType;
using jet::Value;

std::string PasswordFor(const std::string& rel) {
  if (rel == "mdb-reader/V2000_with-password.mdb" || rel == "mdb-reader/office-agile-4.4.accdb") {
    return "password";
  }
  return "";
}

// Every database below tests/data, by its path relative to it.
std::vector<std::string> FixtureFiles() {
  std::vector<std::string> files;
  const fs::path root = testing_support::DataPath("");
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string ext = e.path().extension().string();
    if (!e.is_regular_file() || (ext != ".mdb" && ext != ".accdb")) continue;
    const std::string rel = fs::relative(e.path(), root).generic_string();
    if (rel.rfind("expected/", 0) == 0) continue;
    files.push_back(rel);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// The CSV record and the JSON object the Value path makes of the current row.
std::string CsvByValues(jet::TableScan& scan, const std::vector<const jet::Column*>& cols) {
  std::string line;
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i) line.push_back(',');
    AppendCsvField(line, *cols[i], scan.Get(*cols[i]));
  }
  return line + "\n";
}

std::string JsonByValues(jet::TableScan& scan, const std::vector<const jet::Column*>& cols) {
  std::string line = "{";
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i) line.push_back(',');
    line += JsonString(cols[i]->name) + ":";
    AppendJsonValue(line, *cols[i], scan.Get(*cols[i]));
  }
  return line + "}";
}

// Compares both forms of every row of `table`, adding the types of its
// columns to `types`; returns the number of rows.
size_t CompareTable(jet::Database& db, const std::string& table, std::set<ColumnType>& types) {
  auto t = db.Table(table);
  std::vector<const jet::Column*> cols;
  for (const auto& c : t->columns) {
    cols.push_back(&c);
    types.insert(c.type);
  }
  jet::TableScan scan(db, t);
  FieldWriter writer(db, scan, cols);
  OutBuffer csv, json;
  size_t rows = 0;
  int reported = 0;
  while (scan.Next() && reported < 3) {
    csv.Truncate(0);
    json.Truncate(0);
    writer.CsvRecord(csv);
    writer.JsonObject(json);
    std::string want_csv = CsvByValues(scan, cols);
    std::string want_json = JsonByValues(scan, cols);
    if (csv.view() != want_csv || json.view() != want_json) {
      ++reported;
      ADD_FAILURE() << table << " row " << rows << ":\n  csv  " << csv.view() << "  want "
                    << want_csv << "  json " << json.view() << "\n  want " << want_json;
    }
    ++rows;
  }
  return rows;
}

TEST(FieldWriter, EveryFixtureTableReadsAsThroughValues) {
  std::set<ColumnType> types;
  size_t tables = 0, rows = 0;
  for (const std::string& rel : FixtureFiles()) {
    SCOPED_TRACE(rel);
    std::shared_ptr<jet::Database> db;
    try {
      db = jet::Database::Open(testing_support::DataPath(rel), {PasswordFor(rel), false});
    } catch (const jet::Error& e) {
      ADD_FAILURE() << e.what();
      continue;
    }
    for (const std::string& table : db->UserTables()) {
      // Linked tables and the like have no rows of their own here.
      try {
        db->Table(table);
      } catch (const jet::Error&) {
        continue;
      }
      rows += CompareTable(*db, table, types);
      ++tables;
    }
  }
  EXPECT_GE(tables, 60u);
  EXPECT_GT(rows, 5000u);
  // Each form the writer reads itself, and some it leaves to Value.
  for (ColumnType t :
       {ColumnType::kBoolean, ColumnType::kByte, ColumnType::kInteger, ColumnType::kLong,
        ColumnType::kBigInt, ColumnType::kCurrency, ColumnType::kFloat, ColumnType::kDouble,
        ColumnType::kDateTime, ColumnType::kText, ColumnType::kMemo, ColumnType::kGuid,
        ColumnType::kComplex, ColumnType::kOle}) {
    EXPECT_TRUE(types.count(t)) << "no fixture has a column of type " << jet::TypeName(t);
  }
}

// A table of values at the edges of each type, in a Jet 4 and an ACE file:
// extreme numbers, NaN and infinities, dates outside the calendar's four
// digits and with milliseconds, texts that need quoting or escaping at every
// position of the eight-byte checks, and memos stored in the row, on one
// other page and across several.
TEST(FieldWriter, EdgeValuesReadAsThroughValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<jet::NewColumn, std::vector<Value>>> data = {
      {{"Flag", ColumnType::kBoolean}, {Value::Bool(true), Value::Bool(false)}},
      {{"Small", ColumnType::kByte}, {Value::Int(0), Value::Int(255), Value::Null()}},
      {{"Short", ColumnType::kInteger}, {Value::Int(-32768), Value::Int(32767), Value::Int(0)}},
      {{"Whole", ColumnType::kLong},
       {Value::Int(std::numeric_limits<int32_t>::min()),
        Value::Int(std::numeric_limits<int32_t>::max()), Value::Int(-1)}},
      {{"Money", ColumnType::kCurrency},
       {Value::Currency(std::numeric_limits<int64_t>::min()),
        Value::Currency(std::numeric_limits<int64_t>::max()), Value::Currency(-1),
        Value::Currency(0), Value::Currency(-10000), Value::Currency(123456789),
        Value::Currency(5)}},
      {{"Single", ColumnType::kFloat},
       {Value::Float(0), Value::Float(-0.0f), Value::Float(1.5f),
        Value::Float(std::numeric_limits<float>::max()),
        Value::Float(std::numeric_limits<float>::denorm_min()), Value::Float(0.1f),
        Value::Float(static_cast<float>(nan)), Value::Float(static_cast<float>(-inf))}},
      {{"Real", ColumnType::kDouble},
       {Value::Double(0.1), Value::Double(-1e21), Value::Double(1e21), Value::Double(1e-7),
        Value::Double(123456789012345680000.0), Value::Double(5e-324), Value::Double(nan),
        Value::Double(inf), Value::Double(-0.0), Value::Double(0.000001), Value::Double(-123.456)}},
      {{"When", ColumnType::kDateTime},
       {Value::DateTime(0), Value::DateTime(-1.25), Value::DateTime(43913.29209490740740744),
        Value::DateTime(43913 + (7 * 3600 + 37.595) / 86400), Value::DateTime(2958465.99999),
        Value::DateTime(-657434), Value::DateTime(-700000), Value::DateTime(1e7),
        Value::DateTime(43913.99999999999), Value::DateTime(nan)}},
      {{"Name", ColumnType::kText, 255},
       {Value::Text(""), Value::Text("a"), Value::Text("plain"), Value::Text("\""),
        Value::Text("with \"quotes\" inside"), Value::Text("ends with a quote\""),
        Value::Text("abcdefghijklmnop\"rstuvwxyz"), Value::Text("abcdefghijklmnopq\\"),
        Value::Text("line\nbreak"), Value::Text("tab\there"), Value::Text("cr\rlf"),
        Value::Text("back\\slash"), Value::Text(std::string("ctrl\x01\x1f", 6)),
        Value::Text("\xC3\x9Cn\xC3\xAF"
                    "c\xC3\xB6"
                    "d\xC3\xA9 \xC3\xB1\xC3\xB6t\xC3\xA9"),
        Value::Text("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"), Value::Text("\xF0\x9F\x98\x80!"),
        Value::Text("comma, separated"), Value::Null()}},
      {{"Notes", ColumnType::kMemo},
       {Value::Text(""), Value::Text("short \"memo\""), Value::Text(std::string(300, 'x')),
        Value::Text(std::string(4100, 'y') + "\""), Value::Text(std::string(9000, 'z')),
        Value::Text("\xC3\xA9" + std::string(70000, 'w') + "\n"), Value::Null()}},
  };
  size_t rows = 0;
  for (const auto& [name, values] : data) rows = std::max(rows, values.size());

  for (jet::FileFormat format : {jet::FileFormat::kMdb2003, jet::FileFormat::kAccdb2016}) {
    SCOPED_TRACE(jet::FileFormatName(format));
    testing_support::ScratchDir dir;
    const std::string path = (dir.path() / "edges.db").string();
    jet::CreateDatabase(path, format);
    {
      auto db = jet::Database::Open(path, {"", true});
      std::vector<jet::NewColumn> columns;
      for (const auto& [column, values] : data) columns.push_back(column);
      db->CreateTable("Edges", columns);
      for (size_t r = 0; r < rows; ++r) {
        std::vector<std::pair<std::string, Value>> row;
        for (const auto& [column, values] : data) {
          if (r < values.size()) row.emplace_back(column.name, values[r]);
        }
        db->InsertRow("Edges", row);
      }
      db->Commit();
    }
    auto db = jet::Database::Open(path, {"", false});
    std::set<ColumnType> types;
    EXPECT_EQ(CompareTable(*db, "Edges", types), rows);
  }
}

TEST(OutBuffer, WritesEverythingInOrderAcrossBlocks) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  std::string want;
  {
    OutBuffer out(file);
    for (int i = 0; i < 5000; ++i) {
      std::string piece = std::to_string(i) + std::string(i % 97, 'a' + i % 26) + "\n";
      out.Append(piece);
      want += piece;
      // A piece larger than a block goes out whole.
      if (i == 2500) {
        std::string big(300000, 'B');
        out.Append(big);
        want += big;
      }
      // What is cut off was never written.
      size_t keep = out.view().size();
      out.Append("dropped");
      out.Truncate(keep);
      out.FlushIfFull();
    }
    char* p = out.Room(3);
    p[0] = 'e', p[1] = 'n', p[2] = 'd';
    out.Advance(p + 3);
    want += "end";
  }  // flushed when it goes
  std::fflush(file);
  std::rewind(file);
  std::string got;
  char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, file)) > 0;) got.append(buf, n);
  std::fclose(file);
  EXPECT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want);
}

// JavaScript's Number#toString: plain digits from 1e-6 up to below 1e21,
// exponents outside, the shortest digits that read back.
TEST(JsNumber, PlacesDigitsAsJavaScriptDoes) {
  const std::pair<double, const char*> cases[] = {
      {0.0, "0"},
      {-0.0, "0"},
      {1, "1"},
      {-1.5, "-1.5"},
      {0.1, "0.1"},
      {0.000001, "0.000001"},
      {0.0000001, "1e-7"},
      {1.5e-7, "1.5e-7"},
      {123456789012345680000.0, "123456789012345680000"},
      {1e21, "1e+21"},
      {-1.25e22, "-1.25e+22"},
      {5e-324, "5e-324"},
      {1.7976931348623157e308, "1.7976931348623157e+308"},
      {100, "100"},
      {0.30000000000000004, "0.30000000000000004"},
      {static_cast<double>(1.1f), "1.100000023841858"},
      {std::numeric_limits<double>::quiet_NaN(), "null"},
      {std::numeric_limits<double>::infinity(), "null"},
  };
  for (const auto& [d, want] : cases) {
    EXPECT_EQ(JsNumber(d), want) << d;
    char buf[kMaxNumberText];
    EXPECT_EQ(std::string(buf, WriteJsNumber(buf, d)), want) << d;
  }
}

}  // namespace
}  // namespace cli
