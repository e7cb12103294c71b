#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

using Row = std::map<std::string, Value>;

std::vector<Row> ReadAll(const std::string& rel, const std::string& table) {
  auto db = Database::Open(testing_support::DataPath(rel), {});
  auto t = db->Table(table);
  TableScan scan(*db, t);
  std::vector<Row> rows;
  while (scan.Next()) {
    Row r;
    for (const auto& c : t->columns) r[c.name] = scan.Get(c);
    rows.push_back(std::move(r));
  }
  return rows;
}

std::string Exact(const Value& v) {
  if (v.kind() == Value::Kind::kDecimal) {
    return FormatScaled(v.negative(), DecimalMagnitude(v), v.scale(), false);
  }
  return TextForm(v);
}

// The expected values are those Jackcess's own tests give for this file.
TEST(CalculatedColumns, DecodeAsTheirResultType) {
  std::vector<Row> rows = ReadAll("jackcess/calcFieldTestV2010.accdb", "Table1");
  ASSERT_EQ(rows.size(), 4u);
  const Row& bruce = rows[0];
  EXPECT_EQ(bruce.at("LastFirst"), Value::Text("Wayne, Bruce"));
  EXPECT_EQ(bruce.at("LastFirstLen"), Value::Int(12));
  // A Double column holding a Currency result, an Integer column holding a
  // Boolean one, a Text column holding a Memo (stored as a long value).
  EXPECT_EQ(bruce.at("MonthlySalary"), Value::Currency(833333333));
  EXPECT_EQ(bruce.at("IsRich"), Value::Bool(true));
  EXPECT_EQ(bruce.at("AllNames"), Value::Text("Wayne, Bruce=Wayne, Bruce"));
  EXPECT_EQ(bruce.at("FloatTest"), Value::Float(2583.2092f));
  // Decimals carry their scale in the wrapper, with 12- and 16-byte magnitudes.
  EXPECT_EQ(Exact(bruce.at("WeeklySalary")), "19230.7692307692");
  EXPECT_EQ(Exact(bruce.at("DecimalTest")), "50.325000");
  EXPECT_EQ(Exact(bruce.at("BigNumTest")), "56505085819.424791296572280180");

  const Row& bart = rows[1];
  EXPECT_EQ(bart.at("MonthlySalary"), Value::Currency(-833));
  EXPECT_EQ(bart.at("IsRich"), Value::Bool(false));
  EXPECT_EQ(bart.at("BoolTest"), Value::Bool(true));
  EXPECT_EQ(Exact(bart.at("WeeklySalary")), "-0.0192307692307692");
  EXPECT_EQ(Exact(bart.at("DecimalTest")), "-36.222200");
  EXPECT_EQ(Exact(bart.at("BigNumTest")), "-0.0784734499180612994241100748");

  EXPECT_EQ(Exact(rows[2].at("BigNumTest")), "0.00000000");
  EXPECT_EQ(Exact(rows[2].at("WeeklySalary")), "0");
  EXPECT_EQ(Exact(rows[3].at("BigNumTest")), "0.0000002787019289824216980830");
  EXPECT_EQ(rows[3].at("LastFirst"), Value::Text("User, Test"));
}

// DateNormalCalc is "=[DateNormal]"; where DateNormal is null Access wrote an
// empty result.
TEST(CalculatedColumns, EmptyResultIsNull) {
  std::vector<Row> rows = ReadAll("jackcess/extDateTestV2019.accdb", "Table1");
  ASSERT_EQ(rows.size(), 9u);
  int nulls = 0;
  for (const Row& r : rows) {
    EXPECT_EQ(r.at("DateNormalCalc"), r.at("DateNormal")) << TextForm(r.at("Field1"));
    nulls += r.at("DateNormalCalc").is_null();
  }
  EXPECT_EQ(nulls, 1);
}

}  // namespace
}  // namespace jet
