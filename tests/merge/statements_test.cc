// The texts the merge builds: field list, column list, the name check and
// the condition literals, which must read back through our own SQL parser
// as exactly the value they came from.
#include "merge/statements.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "db/sql.h"
#include "jet/storage/error.h"

namespace merge {
namespace {

TEST(FieldListTest, RemovesGraveAccentsAndSplitsAtCommaBlank) {
  EXPECT_EQ(SplitFieldList("`First`, `Middle`, `Last`"),
            (std::vector<std::string>{"First", "Middle", "Last"}));
  EXPECT_EQ(SplitFieldList("`Order ID`"), (std::vector<std::string>{"Order ID"}));
  EXPECT_TRUE(SplitFieldList("").empty());
  // Known limits of the hand-over format: a grave accent inside a name is
  // lost, and ", " inside a name splits it.
  EXPECT_EQ(SplitFieldList("`a``b`"), (std::vector<std::string>{"ab"}));
  EXPECT_EQ(SplitFieldList("`x, y`"), (std::vector<std::string>{"x", "y"}));
  // A comma without the blank is part of the name.
  EXPECT_EQ(SplitFieldList("`a,b`, `c`"), (std::vector<std::string>{"a,b", "c"}));
}

TEST(FieldListTest, ColumnListBracketsEachName) {
  EXPECT_EQ(ColumnList({"First", "Middle", "Last"}), "[First],[Middle],[Last]");
  EXPECT_EQ(ColumnList({"Order ID"}), "[Order ID]");
  EXPECT_EQ(ColumnList({}), "");
}

TEST(NameCheckTest, AcceptsOrdinaryNamesAndTrimsTrailingBlanks) {
  EXPECT_FALSE(NameProblem("Result_Column", {"First"}));
  EXPECT_FALSE(NameProblem("Full name", {"First"}));
  EXPECT_FALSE(NameProblem("Größe ümlaut 名前", {"First"}));
  EXPECT_FALSE(NameProblem("Result ", {"First"}));
  EXPECT_EQ(TrimBlanks("Result  "), "Result");
  EXPECT_EQ(TrimBlanks("  "), "");
  // Only blanks are trimmed; a tab is refused below, not trimmed away.
  EXPECT_EQ(TrimBlanks("a\t"), "a\t");
  EXPECT_FALSE(NameProblem(std::string(64, 'x'), {}));
  EXPECT_FALSE(NameProblem(std::string(64, 'x') + "   ", {}));
}

TEST(NameCheckTest, RefusesEachKindOfBadName) {
  struct Case {
    std::string name;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"", "Please type a name"},
      {"   ", "Please type a name"},
      {" Result", "cannot start with a blank"},
      {std::string(65, 'x'), "at most 64 characters"},
      // 63 letters and one character outside the first plane: 65 units.
      {std::string(63, 'x') + "\xF0\x9F\x98\x80", "at most 64 characters"},
      {"a.b", "cannot contain"},
      {"a!b", "cannot contain"},
      {"a`b", "cannot contain"},
      {"a[b", "cannot contain"},
      {"a]b", "cannot contain"},
      {"a\tb", "cannot contain"},
      {"a\nb", "cannot contain"},
      {std::string("a\x7f"), "cannot contain"},
  };
  for (const auto& c : cases) {
    std::optional<std::string> problem = NameProblem(c.name, {"First"});
    ASSERT_TRUE(problem) << "accepted: " << c.name;
    EXPECT_NE(problem->find(c.says), std::string::npos) << c.name << " -> " << *problem;
  }
}

TEST(NameCheckTest, RefusesAChosenFieldWhateverItsCase) {
  const std::vector<std::string> fields = {"Middle", "First", "Élan"};
  for (const char* name : {"First", "first", "FIRST", "First  ", "élan", "ÉLAN"}) {
    std::optional<std::string> problem = NameProblem(name, fields);
    ASSERT_TRUE(problem) << name;
    EXPECT_NE(problem->find("one of the fields to merge"), std::string::npos) << *problem;
  }
  EXPECT_FALSE(NameProblem("Firsts", fields));
  EXPECT_FALSE(NameProblem("Elan", fields));
}

// Parses "... where [c]=<literal>" and returns the literal as the layer sees it.
db::sql::Literal ReadBack(const std::string& literal) {
  auto statement = db::sql::Parse("update [T] set [R]='x' where [c]=" + literal);
  const auto& update = std::get<db::sql::Update>(statement);
  EXPECT_EQ(update.where.size(), 1u);
  return update.where.at(0).value;
}

bool SameDouble(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(ConditionLiteralTest, TextIsQuotedWithQuotesDoubled) {
  for (const std::string text : {"", "Anna", "O'Hara", "''", "a\"b", "Zoë 北京 😀", " x "}) {
    std::string literal = ConditionLiteral(jet::Value::Text(text));
    db::sql::Literal back = ReadBack(literal);
    EXPECT_EQ(back.kind, db::sql::Literal::Kind::kText) << literal;
    EXPECT_EQ(back.text, text) << literal;
  }
  EXPECT_EQ(ConditionLiteral(jet::Value::Text("O'Hara")), "'O''Hara'");
}

TEST(ConditionLiteralTest, WholeNumbersAndBooleans) {
  for (int64_t v : {int64_t{0}, int64_t{42}, int64_t{-32768}, int64_t{2147483647},
                    std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max()}) {
    db::sql::Literal back = ReadBack(ConditionLiteral(jet::Value::Int(v)));
    ASSERT_EQ(back.kind, db::sql::Literal::Kind::kNumber);
    EXPECT_TRUE(back.is_integer);
    EXPECT_EQ(back.int_value, v);
  }
  EXPECT_EQ(ConditionLiteral(jet::Value::Bool(true)), "True");
  EXPECT_EQ(ConditionLiteral(jet::Value::Bool(false)), "False");
  EXPECT_TRUE(ReadBack("True").bool_value);
}

TEST(ConditionLiteralTest, DoublesAndSinglesReadBackBitForBit) {
  const double values[] = {0.1 + 0.2, 0.3,    3.141592653589793,       1e300,
                           -2.5e-310, 5e-324, -1.7976931348623157e308, 123456789012345678.0,
                           -0.0};
  for (double d : values) {
    std::string literal = ConditionLiteral(jet::Value::Double(d));
    db::sql::Literal back = ReadBack(literal);
    ASSERT_EQ(back.kind, db::sql::Literal::Kind::kNumber) << literal;
    EXPECT_TRUE(SameDouble(back.double_value, d) || (d == 0 && back.double_value == 0)) << literal;
  }
  // 0.1 + 0.2 shows as 0.3 but must not match 0.3.
  EXPECT_NE(ConditionLiteral(jet::Value::Double(0.1 + 0.2)),
            ConditionLiteral(jet::Value::Double(0.3)));
  for (float f : {3.25f, -0.001f, 3.4028234663852886e38f, 1e-45f, 0.1f}) {
    std::string literal = ConditionLiteral(jet::Value::Float(f));
    db::sql::Literal back = ReadBack(literal);
    EXPECT_TRUE(SameDouble(back.double_value, static_cast<double>(f))) << literal;
  }
}

TEST(ConditionLiteralTest, CurrencyAndDecimalKeepEveryDigit) {
  EXPECT_EQ(ConditionLiteral(jet::Value::Currency(12345678)), "1234.5678");
  EXPECT_EQ(ConditionLiteral(jet::Value::Currency(-50000)), "-5");
  EXPECT_EQ(ConditionLiteral(jet::Value::Currency(std::numeric_limits<int64_t>::min())),
            "-922337203685477.5808");
  EXPECT_EQ(ConditionLiteral(jet::Value::Currency(std::numeric_limits<int64_t>::max())),
            "922337203685477.5807");
  std::string magnitude(16, '\0');
  // 123456789012345678 with scale 4: 12345678901234.5678
  unsigned __int128 m = 123456789012345678ULL;
  for (int i = 15; i >= 0; --i, m >>= 8) magnitude[i] = static_cast<char>(m & 0xFF);
  EXPECT_EQ(ConditionLiteral(jet::Value::Decimal(false, magnitude, 4)), "12345678901234.5678");
  EXPECT_EQ(ConditionLiteral(jet::Value::Decimal(true, magnitude, 4)), "-12345678901234.5678");
  EXPECT_EQ(ReadBack("-922337203685477.5808").source, "-922337203685477.5808");
}

TEST(ConditionLiteralTest, DatesReadBackExactly) {
  const double dates[] = {
      0.0,   37623.170208333335,   2958465.999988426, -657434.0, 1.5, 45000.123456789,
      -1.25, 36526.0 + 0.5 / 86400};
  for (double d : dates) {
    std::string literal = ConditionLiteral(jet::Value::DateTime(d));
    ASSERT_EQ(literal.front(), '#') << literal;
    db::sql::Literal back = ReadBack(literal);
    ASSERT_EQ(back.kind, db::sql::Literal::Kind::kDate) << literal;
    EXPECT_TRUE(SameDouble(back.date_value, d)) << literal << " " << back.date_value;
  }
}

TEST(ConditionLiteralTest, ValuesNoLiteralCanMatchAreATypeMismatch) {
  const jet::Value values[] = {
      jet::Value::Binary("\x01\x02"),
      jet::Value::Guid(std::string(16, '\x11')),
      jet::Value::DateTimeExt(10'000'000),
      jet::Value::Complex(3),
      jet::Value::Double(std::numeric_limits<double>::infinity()),
      jet::Value::Double(std::nan("")),
      jet::Value::DateTime(1e9),
  };
  for (const auto& v : values) {
    try {
      ConditionLiteral(v);
      ADD_FAILURE() << "no failure for " << jet::TextForm(v);
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.number(), jet::errnum::kTypeMismatch) << jet::TextForm(v);
    }
  }
}

}  // namespace
}  // namespace merge
