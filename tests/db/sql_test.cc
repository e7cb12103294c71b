#include "db/sql.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>
#include <string>

#include "jet/storage/error.h"

namespace db::sql {
namespace {

template <typename T>
T ParseAs(std::string_view text) {
  Statement st = Parse(text);
  if (!std::holds_alternative<T>(st)) {
    ADD_FAILURE() << "parsed into another kind of statement: " << text;
    return T{};
  }
  return std::get<T>(std::move(st));
}

// The literal after "=" in a one-term WHERE clause.
Literal ValueOf(std::string_view literal) {
  Select s = ParseAs<Select>("SELECT * FROM t WHERE x = " + std::string(literal));
  if (s.where.size() != 1) {
    ADD_FAILURE() << "no single term for " << literal;
    return {};
  }
  return s.where[0].value;
}

// Parse must throw a syntax error naming this position and containing this
// piece of explanation.
void ExpectSyntaxError(std::string_view text, int position, std::string_view fragment) {
  SCOPED_TRACE(std::string(text));
  try {
    Parse(text);
    ADD_FAILURE() << "parsed without error";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), jet::errnum::kSyntax);
    std::string message = e.description();
    EXPECT_NE(message.find("at position " + std::to_string(position) + ":"), std::string::npos)
        << message;
    EXPECT_NE(message.find(fragment), std::string::npos) << message;
  }
}

// ---------------------------------------------------------------------------
// Statement forms

TEST(SqlAlter, DropWithOrWithoutColumnKeyword) {
  AlterDrop a = ParseAs<AlterDrop>("ALTER TABLE [My Table] DROP COLUMN [Old Field]");
  EXPECT_EQ(a.table, "My Table");
  EXPECT_EQ(a.column, "Old Field");
  AlterDrop b = ParseAs<AlterDrop>("alter table People drop Nick;");
  EXPECT_EQ(b.table, "People");
  EXPECT_EQ(b.column, "Nick");
}

TEST(SqlAlter, AddColumnWithTypeAndSize) {
  AlterAdd a = ParseAs<AlterAdd>("ALTER TABLE [t] ADD COLUMN [Full name] memo");
  EXPECT_EQ(a.table, "t");
  EXPECT_EQ(a.column.name, "Full name");
  EXPECT_EQ(a.column.type.type, ColumnType::kMemo);
  EXPECT_EQ(a.column.type.name, "memo");
  EXPECT_FALSE(a.column.not_null);

  AlterAdd b = ParseAs<AlterAdd>("Alter Table t Add c Text ( 40 ) Not Null");
  EXPECT_EQ(b.column.type.type, ColumnType::kText);
  EXPECT_EQ(b.column.type.size, 40);
  EXPECT_TRUE(b.column.not_null);

  AlterAdd c = ParseAs<AlterAdd>("ALTER TABLE t ADD [when] datetime");
  EXPECT_EQ(c.column.type.type, ColumnType::kDateTime);
  EXPECT_EQ(c.column.type.size, 0);
}

TEST(SqlSelect, ColumnListDistinctAndStar) {
  Select a = ParseAs<Select>("SELECT [a],[b] , c FROM [t]");
  EXPECT_FALSE(a.distinct);
  EXPECT_FALSE(a.star);
  EXPECT_EQ(a.columns, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(a.table, "t");
  EXPECT_TRUE(a.where.empty());

  Select b = ParseAs<Select>("select distinct [City] from Customers");
  EXPECT_TRUE(b.distinct);
  EXPECT_EQ(b.columns, std::vector<std::string>{"City"});

  Select c = ParseAs<Select>("SELECT * FROM [Order Details]");
  EXPECT_TRUE(c.star);
  EXPECT_TRUE(c.columns.empty());
  EXPECT_EQ(c.table, "Order Details");
}

TEST(SqlSelect, WhereTermsWithParentheses) {
  Select s = ParseAs<Select>(
      "SELECT * FROM t WHERE (([a] = 'x') AND (b IS NULL AND [c] is not null)) AND d=-2");
  ASSERT_EQ(s.where.size(), 4u);
  EXPECT_EQ(s.where[0].column, "a");
  EXPECT_EQ(s.where[0].kind, Term::Kind::kEquals);
  EXPECT_EQ(s.where[0].value.text, "x");
  EXPECT_EQ(s.where[1].column, "b");
  EXPECT_EQ(s.where[1].kind, Term::Kind::kIsNull);
  EXPECT_EQ(s.where[2].column, "c");
  EXPECT_EQ(s.where[2].kind, Term::Kind::kIsNotNull);
  EXPECT_EQ(s.where[3].value.int_value, -2);

  Select n = ParseAs<Select>("SELECT * FROM t WHERE a = NULL");
  ASSERT_EQ(n.where.size(), 1u);
  EXPECT_EQ(n.where[0].kind, Term::Kind::kEquals);
  EXPECT_EQ(n.where[0].value.kind, Literal::Kind::kNull);
}

TEST(SqlSelect, KeywordCaseWhitespaceAndFinalSemicolon) {
  const char* texts[] = {
      "SELECT DISTINCT a FROM t WHERE b IS NOT NULL",
      "sElEcT dIsTiNcT a fRoM t wHeRe b iS nOt NuLl",
      "\n\tSELECT\nDISTINCT\r\n a\tFROM t\n\nWHERE\tb\nIS NOT\n NULL\n",
      "SELECT DISTINCT a FROM t WHERE b IS NOT NULL;",
      "SELECT DISTINCT a FROM t WHERE b IS NOT NULL  \n ;",
      "SELECT DISTINCT a FROM t WHERE b IS NOT NULL ;  \n",
  };
  for (const char* text : texts) {
    SCOPED_TRACE(text);
    Select s = ParseAs<Select>(text);
    EXPECT_TRUE(s.distinct);
    EXPECT_EQ(s.columns, std::vector<std::string>{"a"});
    EXPECT_EQ(s.table, "t");
    ASSERT_EQ(s.where.size(), 1u);
    EXPECT_EQ(s.where[0].kind, Term::Kind::kIsNotNull);
  }
}

TEST(SqlUpdate, SeveralAssignmentsOfEachLiteralKind) {
  Update u = ParseAs<Update>(
      "UPDATE [People] SET [Name]='O''Brien', Age = 42, [Born]=#1/2/2020#, Active=Yes, "
      "[Note]=NULL WHERE [Id] = 7 AND [Gone] IS NULL");
  EXPECT_EQ(u.table, "People");
  ASSERT_EQ(u.assignments.size(), 5u);
  EXPECT_EQ(u.assignments[0].column, "Name");
  EXPECT_EQ(u.assignments[0].value.kind, Literal::Kind::kText);
  EXPECT_EQ(u.assignments[0].value.text, "O'Brien");
  EXPECT_EQ(u.assignments[1].value.kind, Literal::Kind::kNumber);
  EXPECT_EQ(u.assignments[1].value.int_value, 42);
  EXPECT_EQ(u.assignments[2].value.kind, Literal::Kind::kDate);
  EXPECT_EQ(u.assignments[2].value.date_value, 43832.0);
  EXPECT_EQ(u.assignments[3].value.kind, Literal::Kind::kBool);
  EXPECT_TRUE(u.assignments[3].value.bool_value);
  EXPECT_EQ(u.assignments[4].value.kind, Literal::Kind::kNull);
  ASSERT_EQ(u.where.size(), 2u);
  EXPECT_EQ(u.where[0].value.int_value, 7);
  EXPECT_EQ(u.where[1].kind, Term::Kind::kIsNull);

  Update v = ParseAs<Update>("update t set a = 'x';");
  EXPECT_EQ(v.assignments.size(), 1u);
  EXPECT_TRUE(v.where.empty());
}

TEST(SqlCreate, EveryTypeName) {
  struct Case {
    const char* name;
    ColumnType type;
  };
  const Case cases[] = {
      {"text", ColumnType::kText},         {"VarChar", ColumnType::kText},
      {"CHAR", ColumnType::kText},         {"memo", ColumnType::kMemo},
      {"LongText", ColumnType::kMemo},     {"byte", ColumnType::kByte},
      {"integer", ColumnType::kInteger},   {"short", ColumnType::kInteger},
      {"smallint", ColumnType::kInteger},  {"long", ColumnType::kLong},
      {"int", ColumnType::kLong},          {"integer4", ColumnType::kLong},
      {"counter", ColumnType::kCounter},   {"AutoIncrement", ColumnType::kCounter},
      {"currency", ColumnType::kCurrency}, {"money", ColumnType::kCurrency},
      {"single", ColumnType::kSingle},     {"real", ColumnType::kSingle},
      {"double", ColumnType::kDouble},     {"float", ColumnType::kDouble},
      {"datetime", ColumnType::kDateTime}, {"date", ColumnType::kDateTime},
      {"yesno", ColumnType::kYesNo},       {"bit", ColumnType::kYesNo},
      {"logical", ColumnType::kYesNo},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CreateTable t = ParseAs<CreateTable>(std::string("CREATE TABLE t ([c] ") + c.name + ")");
    ASSERT_EQ(t.columns.size(), 1u);
    EXPECT_EQ(t.columns[0].type.type, c.type);
    EXPECT_EQ(t.columns[0].type.name, c.name);
  }
}

TEST(SqlCreate, SizesAttributesAndConstraint) {
  CreateTable t = ParseAs<CreateTable>(
      "CREATE TABLE [New Table] (\n"
      "  [Id] counter PRIMARY KEY NOT NULL,\n"
      "  [Code] varchar(10) not null,\n"
      "  Label char (1),\n"
      "  [Body] text\n"
      ");");
  EXPECT_EQ(t.table, "New Table");
  ASSERT_EQ(t.columns.size(), 4u);
  EXPECT_TRUE(t.columns[0].primary_key);
  EXPECT_TRUE(t.columns[0].not_null);
  EXPECT_EQ(t.columns[1].type.size, 10);
  EXPECT_TRUE(t.columns[1].not_null);
  EXPECT_FALSE(t.columns[1].primary_key);
  EXPECT_EQ(t.columns[2].name, "Label");
  EXPECT_EQ(t.columns[2].type.size, 1);
  EXPECT_EQ(t.columns[3].type.size, 0);
  EXPECT_FALSE(t.primary_key.has_value());

  CreateTable k = ParseAs<CreateTable>(
      "create table t (a long, [b c] text(255), constraint [pk t] primary key (a, [b c]))");
  ASSERT_TRUE(k.primary_key.has_value());
  EXPECT_EQ(k.primary_key->name, "pk t");
  EXPECT_EQ(k.primary_key->columns, (std::vector<std::string>{"a", "b c"}));
  EXPECT_EQ(k.columns[1].type.size, 255);
  EXPECT_FALSE(k.columns[0].primary_key);
}

TEST(SqlInsert, ColumnsAndValues) {
  Insert ins = ParseAs<Insert>(
      "INSERT INTO [Log] ([When], [What], n, ok, gone) VALUES (#2020-01-02 03:04:05#, "
      "\"say \"\"hi\"\"\", -1.5e2, False, Null)");
  EXPECT_EQ(ins.table, "Log");
  EXPECT_EQ(ins.columns, (std::vector<std::string>{"When", "What", "n", "ok", "gone"}));
  ASSERT_EQ(ins.values.size(), 5u);
  EXPECT_DOUBLE_EQ(ins.values[0].date_value, 43832 + (3 * 3600 + 4 * 60 + 5) / 86400.0);
  EXPECT_EQ(ins.values[1].text, "say \"hi\"");
  EXPECT_EQ(ins.values[2].double_value, -150.0);
  EXPECT_EQ(ins.values[3].kind, Literal::Kind::kBool);
  EXPECT_FALSE(ins.values[3].bool_value);
  EXPECT_EQ(ins.values[4].kind, Literal::Kind::kNull);
  EXPECT_EQ(ins.values[4].source, "Null");
}

// ---------------------------------------------------------------------------
// Names and text

TEST(SqlNames, BracketedNamesAreKeptVerbatim) {
  const std::string names[] = {
      " leading and trailing ",
      "It's \"quoted\"",
      "Prénom",
      "Größe (kg)",
      "№ #1?",
      "a[b",
      "SELECT",
      "日本語",
      "tab\there",
  };
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    Select s =
        ParseAs<Select>("SELECT [" + name + "] FROM [" + name + "] WHERE [" + name + "] IS NULL");
    EXPECT_EQ(s.columns, std::vector<std::string>{name});
    EXPECT_EQ(s.table, name);
    EXPECT_EQ(s.where[0].column, name);
    EXPECT_EQ(ParseAs<Select>("SELECT " + QuoteName(name) + " FROM t").columns[0], name);
  }
}

TEST(SqlNames, BareIdentifiers) {
  Select s = ParseAs<Select>("SELECT _x, a1_b2, Prénom, Date, Yes FROM tbl_2");
  EXPECT_EQ(s.columns, (std::vector<std::string>{"_x", "a1_b2", "Prénom", "Date", "Yes"}));
  EXPECT_EQ(s.table, "tbl_2");
}

TEST(SqlNames, QuoteNameRejectsWhatBracketsCannotHold) {
  EXPECT_THROW(QuoteName("a]b"), jet::Error);
  EXPECT_THROW(QuoteName(""), jet::Error);
}

TEST(SqlText, DoubledQuotesAndUnicode) {
  EXPECT_EQ(ValueOf("'It''s'").text, "It's");
  EXPECT_EQ(ValueOf("''''").text, "'");
  EXPECT_EQ(ValueOf("''").text, "");
  EXPECT_EQ(ValueOf("\"a \"\"b\"\" 'c'\"").text, "a \"b\" 'c'");
  EXPECT_EQ(ValueOf("'Zoë, 東京\nline two'").text, "Zoë, 東京\nline two");
  EXPECT_EQ(ValueOf("'It''s'").source, "'It''s'");
  for (std::string text : {"", "'", "''", "It's", "a''b'", "\"quoted\" 'both'", "Ünïcødé"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ValueOf(QuoteText(text)).text, text);
  }
}

TEST(SqlLiterals, Booleans) {
  for (const char* word : {"True", "YES", "on"}) {
    Literal lit = ValueOf(word);
    EXPECT_EQ(lit.kind, Literal::Kind::kBool) << word;
    EXPECT_TRUE(lit.bool_value) << word;
  }
  for (const char* word : {"false", "No", "OFF"}) {
    Literal lit = ValueOf(word);
    EXPECT_EQ(lit.kind, Literal::Kind::kBool) << word;
    EXPECT_FALSE(lit.bool_value) << word;
  }
}

// ---------------------------------------------------------------------------
// Numbers

TEST(SqlNumbers, ExactTextIntegralityAndValue) {
  struct Case {
    const char* text;
    bool is_integer;
    int64_t int_value;
    double double_value;
  };
  const Case cases[] = {
      {"0", true, 0, 0.0},
      {"-0", true, 0, -0.0},
      {"42", true, 42, 42.0},
      {"-7", true, -7, -7.0},
      {"+3", true, 3, 3.0},
      {"007", true, 7, 7.0},
      {"1.5", false, 0, 1.5},
      {"-0.25", false, 0, -0.25},
      {".5", false, 0, 0.5},
      {"2.", true, 2, 2.0},
      {"1.000", true, 1, 1.0},
      {"1e3", true, 1000, 1000.0},
      {"2.5E1", true, 25, 25.0},
      {"25e-1", false, 0, 2.5},
      {"-1.25e-2", false, 0, -0.0125},
      {"1500e-2", true, 15, 15.0},
      {"0.0e99999", true, 0, 0.0},
      {"9223372036854775807", true, 9223372036854775807LL, 9223372036854775807.0},
      {"-9223372036854775808", true, std::numeric_limits<int64_t>::min(), -9223372036854775808.0},
      {"9223372036854775808", false, 0, 9223372036854775808.0},
      {"-9223372036854775809", false, 0, -9223372036854775809.0},
      {"92233720368547758.07e2", true, 9223372036854775807LL, 9223372036854775807.0},
      {"123456789012345678901234567890", false, 0, 1.2345678901234568e29},
      {"1e19", false, 0, 1e19},
      {"1.7976931348623157e308", false, 0, 1.7976931348623157e308},
      {"0.1", false, 0, 0.1},
      {"1e-400", false, 0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Literal lit = ValueOf(c.text);
    EXPECT_EQ(lit.kind, Literal::Kind::kNumber);
    EXPECT_EQ(lit.source, c.text);
    EXPECT_EQ(lit.is_integer, c.is_integer);
    if (c.is_integer) {
      EXPECT_EQ(lit.int_value, c.int_value);
    }
    EXPECT_EQ(lit.double_value, c.double_value);
    EXPECT_EQ(std::signbit(lit.double_value), std::signbit(c.double_value));
  }
}

// ---------------------------------------------------------------------------
// Dates

TEST(SqlDates, CalendarDays) {
  EXPECT_EQ(ValueOf("#12/30/1899#").date_value, 0.0);
  EXPECT_EQ(ValueOf("#12/31/1899#").date_value, 1.0);
  EXPECT_EQ(ValueOf("#1/1/1900#").date_value, 2.0);
  EXPECT_EQ(ValueOf("#3/1/1900#").date_value, 61.0);  // 1900 was not a leap year
  EXPECT_EQ(ValueOf("#2/29/2000#").date_value, 36585.0);
  EXPECT_EQ(ValueOf("#1/1/2020#").date_value, 43831.0);
  EXPECT_EQ(ValueOf("#1/1/100#").date_value, -657434.0);
  EXPECT_EQ(ValueOf("#12/31/9999#").date_value, 2958465.0);
  EXPECT_EQ(ValueOf("#1/1/1800#").date_value, -36522.0);
  EXPECT_EQ(ValueOf("#2020-01-02#").date_value, 43832.0);
  EXPECT_EQ(ValueOf("#2020/1/2#").date_value, 43832.0);
  EXPECT_EQ(ValueOf("# 1-2-2020 #").date_value, 43832.0);
  EXPECT_EQ(ValueOf("#1/2/2020#").source, "#1/2/2020#");
}

TEST(SqlDates, EachTimeForm) {
  struct Case {
    const char* literal;
    double value;
  };
  const Case cases[] = {
      {"#1/2/2020 6:00:00#", 43832.25},
      {"#1/2/2020 18:00#", 43832.75},
      {"#1/2/2020 6:00:00 PM#", 43832.75},
      {"#1/2/2020 6:00:00 am#", 43832.25},
      {"#1/2/2020 12:00:00 AM#", 43832.0},
      {"#1/2/2020 12:00:00 PM#", 43832.5},
      {"#1/2/2020 12:00:00PM#", 43832.5},
      {"#2020-01-02 06:00:00#", 43832.25},
      {"#2020-01-02 21:00:00#", 43832.875},
      {"#6:00:00#", 0.25},
      {"#18:00#", 0.75},
      {"#3:00:00 PM#", 0.625},
      {"#1/2/2020 0:00:00.500#", 43832 + 0.5 / 86400},
      {"#0:00:01.5#", 1.5 / 86400},
      // Before 12/30/1899 the time still runs forward from midnight.
      {"#12/29/1899 6:00:00#", -1.25},
      {"#12/29/1899 18:00:00#", -1.75},
      {"#1/1/1800 18:00#", -36522.75},
      {"#1/1/1800 6:00:00 PM#", -36522.75},
      {"#12/30/1899 6:00:00#", 0.25},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.literal);
    Literal lit = ValueOf(c.literal);
    EXPECT_EQ(lit.kind, Literal::Kind::kDate);
    EXPECT_DOUBLE_EQ(lit.date_value, c.value);
    EXPECT_EQ(ParseDate(c.literal), lit.date_value);
  }
}

// Values are the double nearest to the exact moment, not the result of a
// chain of rounded sums.
TEST(SqlDates, MillisecondValuesAreCorrectlyRounded) {
  if constexpr (std::numeric_limits<long double>::digits < 64) {
    GTEST_SKIP() << "needs an extended long double to judge the rounding";
  }
  std::mt19937_64 rng(20240229);
  std::uniform_int_distribution<int> year(100, 9999), month(1, 12), mday(1, 28);
  std::uniform_int_distribution<int> ms_of_day(0, 86399999);
  for (int i = 0; i < 3000; ++i) {
    int y = year(rng), m = month(rng), d = mday(rng);
    const int ms = ms_of_day(rng);
    if (i % 2 == 0) {  // small day numbers, where the time of day weighs most
      y = 1899 + (i / 2) % 2;
      m = y == 1899 ? 12 : 1;
      d = y == 1899 ? 20 + d % 12 : 1 + d % 10;
    }
    char lit[80];
    std::snprintf(lit, sizeof lit, "#%d/%d/%d %d:%02d:%02d.%03d#", m, d, y, ms / 3600000,
                  ms / 60000 % 60, ms / 1000 % 60, ms % 1000);
    SCOPED_TRACE(lit);
    const double day = ParseDate("#" + std::to_string(m) + "/" + std::to_string(d) + "/" +
                                 std::to_string(y) + "#");
    const double v = ParseDate(lit);
    const long double fraction = ms / 86400000.0L;
    const long double exact = day < 0 ? day - fraction : day + fraction;
    const long double half_ulp =
        (std::nextafter(std::fabs(v), std::numeric_limits<double>::infinity()) - std::fabs(v)) /
        2.0L;
    EXPECT_LE(std::fabs(static_cast<long double>(v) - exact), half_ulp * 1.0001L);
  }
}

TEST(SqlDates, FormatterWritesAccessLiterals) {
  EXPECT_EQ(FormatDate(43831), "#1/1/2020 0:00:00#");
  EXPECT_EQ(FormatDate(43832.75), "#1/2/2020 18:00:00#");
  EXPECT_EQ(FormatDate(0), "#12/30/1899 0:00:00#");
  EXPECT_EQ(FormatDate(0.25), "#12/30/1899 6:00:00#");
  EXPECT_EQ(FormatDate(-1.25), "#12/29/1899 6:00:00#");
  EXPECT_EQ(FormatDate(-657434), "#1/1/0100 0:00:00#");
  EXPECT_EQ(FormatDate(2958465.5), "#12/31/9999 12:00:00#");
  EXPECT_EQ(FormatDate(ParseDate("#1/2/2020 3:04:05.5#")), "#1/2/2020 3:04:05.500#");
  EXPECT_EQ(FormatDate(ParseDate("#1/2/2020 23:59:59.999#")), "#1/2/2020 23:59:59.999#");
  // The same moment as 0.5; no literal carries the sign.
  EXPECT_EQ(FormatDate(-0.5), "#12/30/1899 12:00:00#");
}

TEST(SqlDates, FormatterRejectsNonDates) {
  for (double v :
       {std::nan(""), std::numeric_limits<double>::infinity(), 2958466.0, -657435.0, 1e300}) {
    SCOPED_TRACE(v);
    try {
      FormatDate(v);
      ADD_FAILURE() << "formatted";
    } catch (const jet::Error& e) {
      EXPECT_EQ(e.number(), jet::errnum::kTypeMismatch);
    }
  }
}

// Every millisecond moment formats as m/d/yyyy h:mm:ss[.mmm] and reads back to
// the very same double, on both sides of 12/30/1899.
TEST(SqlDates, FormatterRoundTripsMillisecondMoments) {
  std::mt19937_64 rng(7);
  std::uniform_int_distribution<int> year(100, 9999), month(1, 12), mday(1, 28);
  std::uniform_int_distribution<int> ms_of_day(0, 86399999), whole(0, 3);
  for (int i = 0; i < 20000; ++i) {
    const int y = year(rng), m = month(rng), d = mday(rng);
    int ms = ms_of_day(rng);
    if (whole(rng) == 0) ms -= ms % 1000;  // whole seconds often enough
    const int h = ms / 3600000, mi = ms / 60000 % 60, s = ms / 1000 % 60, milli = ms % 1000;
    char iso[80], want[80];
    std::snprintf(iso, sizeof iso, "#%04d-%02d-%02d %02d:%02d:%02d.%03d#", y, m, d, h, mi, s,
                  milli);
    if (milli == 0) {
      std::snprintf(want, sizeof want, "#%d/%d/%04d %d:%02d:%02d#", m, d, y, h, mi, s);
    } else {
      std::snprintf(want, sizeof want, "#%d/%d/%04d %d:%02d:%02d.%03d#", m, d, y, h, mi, s, milli);
    }
    SCOPED_TRACE(iso);
    const double v = ParseDate(iso);
    const std::string text = FormatDate(v);
    EXPECT_EQ(text, want);
    EXPECT_EQ(ParseDate(text), v);
  }
}

// Doubles that no millisecond literal produces (as found in files written by
// other programs) still come back exactly, through more second digits.
TEST(SqlDates, FormatterRoundTripsArbitraryDoubles) {
  std::mt19937_64 rng(99);
  std::uniform_real_distribution<double> any(-657434.0, 2958465.999);
  std::uniform_real_distribution<double> time_only(0.0001, 1.0);
  for (int i = 0; i < 20000; ++i) {
    const double v = (i % 4 == 0) ? time_only(rng) : any(rng);
    const std::string text = FormatDate(v);
    ASSERT_EQ(ParseDate(text), v) << text << " from " << v;
  }
  // The neighbours of a clock value are distinct literals.
  const double noon = 43832.5;
  const double above = std::nextafter(noon, 1e9), below = std::nextafter(noon, 0.0);
  EXPECT_EQ(ParseDate(FormatDate(above)), above);
  EXPECT_EQ(ParseDate(FormatDate(below)), below);
  EXPECT_NE(FormatDate(above), FormatDate(noon));
}

TEST(SqlDates, InvalidDatesAreSyntaxErrors) {
  const char* bad[] = {
      "#2/30/2020#",
      "#2/29/1900#",
      "#13/1/2020#",
      "#0/1/2020#",
      "#1/0/2020#",
      "#1/1/99#",
      "#1/1/10000#",
      "#1/1/2020 24:00:00#",
      "#1/1/2020 13:00 PM#",
      "#1/1/2020 10:60#",
      "#1/1/2020 1:2:60#",
      "#1/1/2020 x#",
      "#1/1/2020 1:00 XM#",
      "#1/1/2020 1:00:00.#",
      "##",
      "#1/1#",
      "#1/1/2020 1#",
      "#1/1/20201:00:00#",
      "#1/1-2020#",
      "#5#",
      "#1/1/2020 1:00:00.123456789012345678#",
  };
  for (const char* lit : bad) {
    SCOPED_TRACE(lit);
    ExpectSyntaxError(std::string("SELECT * FROM t WHERE d = ") + lit, 27, "invalid date");
    EXPECT_THROW(ParseDate(lit), jet::Error);
  }
}

// ---------------------------------------------------------------------------
// Errors

TEST(SqlErrors, PositionsAndExpectations) {
  ExpectSyntaxError("", 1, "expected a statement");
  ExpectSyntaxError("DELETE FROM t", 1, "expected a statement (ALTER, CREATE, INSERT");
  ExpectSyntaxError("UPDATE [Customers] SET [City] 'Paris'", 31,
                    "in UPDATE statement at position 31: expected '=' after column name, found "
                    "the text 'Paris'");
  ExpectSyntaxError("SELECT [a] [b] FROM t", 12, "expected ',' or FROM");
  ExpectSyntaxError("SELECT a, FROM t", 11, "keyword 'FROM'");
  ExpectSyntaxError("SELECT * FROM t WHERE a = 1 OR b = 2", 29, "OR is not supported");
  ExpectSyntaxError("SELECT * FROM t WHERE a = b", 27, "expected a value");
  ExpectSyntaxError("SELECT * FROM t WHERE a > 1", 25, "expected '=' or IS");
  ExpectSyntaxError("SELECT * FROM t WHERE a IS 1", 28, "expected NULL or NOT after IS");
  ExpectSyntaxError("SELECT * FROM t WHERE (a = 1", 29, "expected AND or ')'");
  ExpectSyntaxError("SELECT * FROM t WHERE a = 1)", 28, "AND or the end of the statement");
  ExpectSyntaxError("SELECT * FROM t ORDER BY a", 17, "expected WHERE or the end");
  ExpectSyntaxError("SELECT * FROM t WHERE a = 'abc", 27, "unterminated text");
  ExpectSyntaxError("SELECT * FROM t WHERE a = \"abc''", 27, "unterminated text");
  ExpectSyntaxError("SELECT * FROM [t WHERE a = 1", 15, "unterminated name");
  ExpectSyntaxError("SELECT * FROM t WHERE d = #1/2/2020", 27, "unterminated date");
  ExpectSyntaxError("SELECT [] FROM t", 8, "cannot be empty");
  ExpectSyntaxError("SELECT * FROM t WHERE a = 12abc", 29, "after the number 12");
  ExpectSyntaxError("SELECT * FROM t WHERE a = 1.2.3", 30, "after the number 1.2");
  ExpectSyntaxError("SELECT * FROM t WHERE a = 1e", 28, "digits of an exponent");
  ExpectSyntaxError("SELECT * FROM t WHERE a = 1e999", 27, "too large");
  ExpectSyntaxError("SELECT * FROM t;;", 17, "nothing after ';'");
  ExpectSyntaxError("SELECT * FROM t; SELECT * FROM u", 18, "nothing after ';'");
  ExpectSyntaxError("SELECT * FROM t WHERE a = @x", 27, "found the character '@'");
  ExpectSyntaxError("SELECT * FROM t WHERE a\x01= 1", 24, "found the character U+0001");
  // Positions count characters, not UTF-8 bytes.
  ExpectSyntaxError("SELECT [Prénom], [Größe] FROM [Über] @", 38, "found the character '@'");
  ExpectSyntaxError("SELECT * FROM [\xFF]", 16, "not valid UTF-8");
  ExpectSyntaxError("SELECT * FROM t WHERE d = #1/1/2020 1:00 €#", 27, "found '€'");
  ExpectSyntaxError("INSERT INTO t (a, b) VALUES (1)", 29, "names 2 column(s) but VALUES gives 1");
  ExpectSyntaxError("INSERT INTO t VALUES (1)", 15, "'(' and a column list");
  ExpectSyntaxError("CREATE TABLE t (a FOO)", 19, "expected a column type");
  ExpectSyntaxError("CREATE TABLE t (a TEXT(300))", 24, "a text size from 1 to 255");
  ExpectSyntaxError("CREATE TABLE t (a LONG(4))", 23, "takes no size");
  ExpectSyntaxError("CREATE TABLE t (a LONG b TEXT)", 24, "',' or ')'");
  ExpectSyntaxError("CREATE TABLE t (a LONG PRIMARY KEY, b LONG PRIMARY KEY)", 44,
                    "primary key already");
  ExpectSyntaxError("CREATE TABLE t (CONSTRAINT pk PRIMARY KEY (a))", 46, "at least one column");
  ExpectSyntaxError("CREATE TABLE t (a LONG NOT)", 27, "expected NULL after NOT");
  ExpectSyntaxError("ALTER TABLE t RENAME a", 15, "expected ADD or DROP");
  ExpectSyntaxError("ALTER TABLE t DROP COLUMN", 26, "expected a column name after DROP");
  ExpectSyntaxError(std::string(200, '('), 1, "expected a statement");
  ExpectSyntaxError("SELECT * FROM t WHERE " + std::string(10000, '('), 23 + 64, "too deeply");
}

}  // namespace
}  // namespace db::sql
