// The statements the program issues, run on copies of the fixtures: ALTER
// TABLE, SELECT [DISTINCT], UPDATE, their errors, and the exact-match rules
// of WHERE and DISTINCT.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "db/ado.h"
#include "db/db_test_helpers.h"
#include "jet/storage/error.h"
#include "support/test_support.h"

namespace {

using db_testing::Cell;
using db_testing::ErrorOf;
using db_testing::OpenRw;
using db_testing::Query;
using db_testing::Row;
using testing_support::ScratchDir;

class Statements : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    path_ = scratch_.Copy(GetParam());
    OpenRw(conn_, path_);
  }
  size_t Count(const std::string& sql) { return Query(conn_, sql).size(); }

  ScratchDir scratch_;
  std::string path_;
  db::Connection conn_;
};

INSTANTIATE_TEST_SUITE_P(BothFormats, Statements,
                         ::testing::Values(db_testing::kPeople2000, db_testing::kPeople2007),
                         [](const auto& info) {
                           return std::string(info.param).find("accdb") != std::string::npos
                                      ? std::string("Accdb")
                                      : std::string("Mdb");
                         });

// ---------------------------------------------------------------------------
// SELECT

TEST_P(Statements, SelectStarGivesEveryColumnAndRow) {
  db::Recordset rs;
  rs.Open("SELECT * FROM [People];", conn_, db::kOpenDynamic, db::kLockUnspecified);
  ASSERT_EQ(rs.FieldCount(), 8);
  EXPECT_EQ(rs.Fields(0).Name(), "ID");
  EXPECT_EQ(rs.Fields(7).Name(), "Notes");
  long expected = std::string(GetParam()).find("accdb") != std::string::npos ? 300 : 200;
  EXPECT_EQ(rs.RecordCount(), expected);
  EXPECT_EQ(rs.Fields("ID").Value().as_int(), 1);
  EXPECT_EQ(rs.Fields("First").Value().bytes(), "Zoë");
  EXPECT_TRUE(rs.Fields("Middle").Value().is_null());
}

TEST_P(Statements, SelectNamedColumnsInTheOrderWritten) {
  auto rows = Query(conn_, "select [Last], [first], [Last] from [people] where [ID]=4");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0], (Row{"D'Angelo", "Thomas", "D'Angelo"}));
}

TEST_P(Statements, UnknownTableAndColumnHaveTheirOwnErrors) {
  std::string text;
  EXPECT_EQ(ErrorOf([&] { Query(conn_, "SELECT [First] FROM [Nobody]"); }, &text),
            jet::errnum::kNoSuchTable);
  EXPECT_NE(text.find("Nobody"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([&] { Query(conn_, "SELECT [Nickname] FROM [People]"); }, &text),
            jet::errnum::kNoSuchColumn);
  EXPECT_NE(text.find("Nickname"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([&] { Query(conn_, "SELECT * FROM [People] WHERE [Nickname]='x'"); }),
            jet::errnum::kNoSuchColumn);
  EXPECT_EQ(ErrorOf([&] { conn_.Execute("update [People] set [Nickname]='x'"); }),
            jet::errnum::kNoSuchColumn);
  EXPECT_EQ(ErrorOf([&] { conn_.Execute("ALTER TABLE [Nobody] ADD COLUMN [x] memo"); }),
            jet::errnum::kNoSuchTable);
  EXPECT_EQ(ErrorOf([&] { conn_.Execute("ALTER TABLE [People] DROP [Nickname]"); }),
            jet::errnum::kNoSuchColumn);
}

TEST_P(Statements, SyntaxErrorsNameThePosition) {
  std::string text;
  EXPECT_EQ(ErrorOf([&] { conn_.Execute("update [People] set [Notes] 'x'"); }, &text),
            jet::errnum::kSyntax);
  EXPECT_NE(text.find("position 29"), std::string::npos) << text;
  EXPECT_EQ(ErrorOf([&] { Query(conn_, "SELECT [First] FROM"); }), jet::errnum::kSyntax);
  EXPECT_EQ(ErrorOf([&] { conn_.Execute("DELETE FROM [People]"); }), jet::errnum::kSyntax);
}

TEST_P(Statements, CreateTableAndInsertRows) {
  conn_.Execute(
      "CREATE TABLE [Visits] ([Id] counter PRIMARY KEY, [Who] text(40), [When] datetime, "
      "[Paid] currency, [Note] memo, [Ok] yesno)");
  EXPECT_EQ(conn_.Execute("INSERT INTO [Visits] ([Who], [When], [Paid], [Note], [Ok]) VALUES "
                          "('O''Hara', #12/8/2026 3:04:05 PM#, 12.5, 'first', True)"),
            1);
  conn_.Execute("INSERT INTO [Visits] ([Who]) VALUES ('Zoë')");
  std::vector<Row> rows = Query(conn_, "SELECT * FROM [Visits]");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], (Row{"1", "O'Hara", "12/8/2026 3:04:05 PM", "12.5", "first", "True"}));
  EXPECT_EQ(rows[1], (Row{"2", "Zoë", std::nullopt, std::nullopt, std::nullopt, "False"}));
  // The key refuses a duplicate and nothing changes.
  std::string text;
  EXPECT_NE(
      ErrorOf([&] { conn_.Execute("INSERT INTO [Visits] ([Id], [Who]) VALUES (1, 'again')"); },
              &text),
      0);
  EXPECT_EQ(Count("SELECT [Id] FROM [Visits]"), 2u);
  // Rows of an existing table with indexes.
  conn_.Execute("INSERT INTO [People] ([ID], [First]) VALUES (100000, 'New')");
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [First]='New'"), 1u);
  EXPECT_EQ(ErrorOf([&] { conn_.Execute("CREATE TABLE [People] ([a] long)"); }),
            jet::errnum::kGeneric);
}

// ---------------------------------------------------------------------------
// Exact matching

TEST_P(Statements, TextEqualityIsExact) {
  bool accdb = std::string(GetParam()).find("accdb") != std::string::npos;
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [First]='Peter'"), accdb ? 5u : 3u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [First]='Peter '"), 1u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [First]='peter'"), 0u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [First]='PETER'"), 0u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [First]='美咲 '"), 1u);
  if (accdb) {
    EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [First]='anna'"), 1u);
    EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [First]='Anna'"), 12u);
  }
}

TEST_P(Statements, DistinctKeepsCaseAndBlankVariantsApart) {
  bool accdb = std::string(GetParam()).find("accdb") != std::string::npos;
  auto rows = Query(conn_, "select distinct [First] from [People]");
  std::set<Cell> firsts;
  for (const auto& r : rows) firsts.insert(r[0]);
  EXPECT_EQ(firsts.size(), rows.size()) << "a combination came back twice";
  EXPECT_EQ(rows.size(), accdb ? 41u : 38u);
  EXPECT_TRUE(firsts.count(Cell("Peter")) && firsts.count(Cell("Peter ")));
  EXPECT_TRUE(firsts.count(Cell("美咲")) && firsts.count(Cell("美咲 ")));
  if (accdb) {
    EXPECT_TRUE(firsts.count(Cell("Anna")) && firsts.count(Cell("anna")));
    EXPECT_TRUE(firsts.count(Cell("Michael")) && firsts.count(Cell("michael")));
  }
  EXPECT_TRUE(firsts.count(std::nullopt)) << "Null is one value of its own";
  EXPECT_EQ(Query(conn_, "select distinct [First],[Middle],[Last] from [People]").size(),
            accdb ? 221u : 155u);
}

TEST_P(Statements, DistinctReturnsCombinationsInFirstSeenOrder) {
  auto all = Query(conn_, "SELECT [Middle], [Last] FROM [People]");
  std::vector<Row> expected;
  for (const auto& r : all) {
    if (std::find(expected.begin(), expected.end(), r) == expected.end()) expected.push_back(r);
  }
  EXPECT_EQ(Query(conn_, "select distinct [Middle],[Last] from [People]"), expected);
}

TEST_P(Statements, DistinctKeepsValuesOfEveryTypeIntact) {
  db::Recordset plain, distinct;
  plain.Open("SELECT * FROM [Types]", conn_, db::kOpenStatic, db::kLockReadOnly);
  distinct.Open("select distinct * from [Types]", conn_, db::kOpenStatic, db::kLockReadOnly);
  ASSERT_EQ(distinct.RecordCount(), plain.RecordCount());
  ASSERT_EQ(distinct.FieldCount(), 16);
  auto a = plain.DataSource(), b = distinct.DataSource();
  for (int row = 0; row < a->RowCount(); ++row) {
    for (int col = 0; col < a->ColumnCount(); ++col) {
      jet::Value x = a->Cell(row, col), y = b->Cell(row, col);
      EXPECT_TRUE(x == y) << a->ColumnName(col) << " row " << row << ": " << jet::TextForm(x)
                          << " became " << jet::TextForm(y);
    }
  }
}

TEST_P(Statements, NullsMatchOnlyIsNull) {
  bool accdb = std::string(GetParam()).find("accdb") != std::string::npos;
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Middle] is null"), accdb ? 124u : 77u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Middle]=''"), accdb ? 22u : 17u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Middle]=NULL"), 0u);
  size_t all = Count("SELECT [ID] FROM [People]");
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Middle] IS NOT NULL"),
            all - (accdb ? 124u : 77u));
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [First] is null and [Middle] is null and "
                  "[Last] is not null"),
            Count("SELECT [ID] FROM [People] WHERE ([Last] is not null) AND [Middle] is null "
                  "AND [First] IS NULL"));
}

TEST_P(Statements, QuotesInValues) {
  bool accdb = std::string(GetParam()).find("accdb") != std::string::npos;
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Last]='D''Angelo'"), accdb ? 10u : 8u);
  EXPECT_EQ(conn_.Execute("update [People] set [Notes]='It''s \"quoted\"' where [ID]=2"), 1);
  auto rows = Query(conn_, "SELECT [Notes] FROM [People] WHERE [Notes]='It''s \"quoted\"'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], Cell("It's \"quoted\""));
}

TEST_P(Statements, NumbersDatesAndYesNoCompareWithTheirOwnLiterals) {
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Age]=34"), 4u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Age]=34.0"), 4u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Age]=34.5"), 0u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Born]=#2/1/2014#"), 1u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Born]=#2014-02-01 00:00:00#"), 1u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [YesNo]=True"), 2u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [YesNo]=False"), 2u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [YesNo]=-1"), 2u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [MoneyVal]=1234.5678"), 1u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [MoneyVal]=1234.56789"), 0u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [SingleVal]=3.25"), 1u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [DoubleVal]=1e300"), 1u);
}

TEST_P(Statements, TextAgainstOtherKindsIsATypeMismatch) {
  const int32_t mismatch = jet::errnum::kTypeMismatch;
  ASSERT_EQ(mismatch, -2147217913);
  const size_t age5 = Count("SELECT [ID] FROM [People] WHERE [Age]=5");
  EXPECT_EQ(ErrorOf([&] { Query(conn_, "SELECT [ID] FROM [People] WHERE [Age]='34'"); }), mismatch);
  EXPECT_EQ(ErrorOf([&] { conn_.Execute("update [People] set [Notes]='x' where [Born]='1'"); }),
            mismatch);
  EXPECT_EQ(ErrorOf([&] { conn_.Execute("update [Types] set [TextVal]='x' where [YesNo]='1'"); }),
            mismatch);
  EXPECT_EQ(ErrorOf([&] { conn_.Execute("update [People] set [Age]='5' where [ID]=1"); }),
            mismatch);
  EXPECT_EQ(ErrorOf([&] { Query(conn_, "SELECT [ID] FROM [People] WHERE [First]=5"); }), mismatch);
  EXPECT_EQ(ErrorOf([&] { Query(conn_, "SELECT [ID] FROM [People] WHERE [First]=#1/1/2000#"); }),
            mismatch);
  // The merge's own condition on a numeric field.
  std::string text;
  EXPECT_EQ(
      ErrorOf([&] { conn_.Execute("update [People] set [Notes]='34' where [Age]='34'"); }, &text),
      mismatch);
  EXPECT_NE(text.find("Age"), std::string::npos) << text;
  // Nothing was changed by the refused statements.
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Notes]='34'"), 0u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Age]=5"), age5);
}

// ---------------------------------------------------------------------------
// ALTER TABLE

TEST_P(Statements, AddColumnOfEachType) {
  conn_.Execute("ALTER TABLE [People] ADD COLUMN [Result_Column] memo");
  conn_.Execute("alter table [People] add [Code] text(10)");
  conn_.Execute("ALTER TABLE [People] ADD [Count] long");
  conn_.Execute("ALTER TABLE [People] ADD COLUMN [Ratio] double");
  conn_.Execute("ALTER TABLE [People] ADD COLUMN [When] datetime");
  conn_.Execute("ALTER TABLE [People] ADD COLUMN [Flag] yesno;");
  db::Recordset rs;
  rs.Open("SELECT * FROM [People]", conn_, db::kOpenKeyset, db::kLockReadOnly);
  ASSERT_EQ(rs.FieldCount(), 14);
  auto source = rs.DataSource();
  EXPECT_EQ(source->ColumnName(8), "Result_Column");
  EXPECT_EQ(source->ColumnType(8), jet::ColumnType::kMemo);
  EXPECT_EQ(source->ColumnType(9), jet::ColumnType::kText);
  EXPECT_EQ(source->ColumnType(10), jet::ColumnType::kLong);
  EXPECT_EQ(source->ColumnType(11), jet::ColumnType::kDouble);
  EXPECT_EQ(source->ColumnType(12), jet::ColumnType::kDateTime);
  EXPECT_EQ(source->ColumnType(13), jet::ColumnType::kBoolean);
  EXPECT_TRUE(rs.Fields("Result_Column").Value().is_null());

  EXPECT_EQ(conn_.Execute("update [People] set [Code]='abc', [Count]=7, [Ratio]=0.5, "
                          "[When]=#3/4/2021 5:06:07#, [Flag]=True where [ID]=3"),
            1);
  auto rows = Query(conn_,
                    "SELECT [Code],[Count],[Ratio],[When],[Flag] FROM [People] WHERE "
                    "[Count]=7 and [Flag]=True and [Code]='abc'");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], Cell("abc"));
  EXPECT_EQ(rows[0][1], Cell("7"));
  EXPECT_EQ(rows[0][2], Cell("0.5"));
  EXPECT_EQ(rows[0][3], Cell("3/4/2021 5:06:07 AM"));
  // Text longer than the column's size is refused before any row changes.
  EXPECT_NE(ErrorOf([&] { conn_.Execute("update [People] set [Code]='12345678901'"); }), 0);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Code] is null"),
            Count("SELECT [ID] FROM [People]") - 1);
}

TEST_P(Statements, AddExistingOrCounterColumnFails) {
  std::string text;
  EXPECT_NE(ErrorOf([&] { conn_.Execute("ALTER TABLE [People] ADD COLUMN [first] memo"); }, &text),
            0);
  EXPECT_NE(text.find("already exists"), std::string::npos) << text;
  EXPECT_NE(ErrorOf([&] { conn_.Execute("ALTER TABLE [People] ADD COLUMN [n] counter"); }, &text),
            0);
  EXPECT_NE(text.find("not supported"), std::string::npos) << text;
}

TEST_P(Statements, DropColumnWithOrWithoutKeyword) {
  conn_.Execute("ALTER TABLE [People] DROP [Notes]");
  conn_.Execute("ALTER TABLE [People] DROP COLUMN [City]");
  EXPECT_EQ(ErrorOf([&] { Query(conn_, "SELECT [Notes] FROM [People]"); }),
            jet::errnum::kNoSuchColumn);
  EXPECT_EQ(ErrorOf([&] { Query(conn_, "SELECT [City] FROM [People]"); }),
            jet::errnum::kNoSuchColumn);
  db::Recordset rs;
  rs.Open("SELECT * FROM [People]", conn_, db::kOpenDynamic, db::kLockUnspecified);
  EXPECT_EQ(rs.FieldCount(), 6);
  EXPECT_EQ(rs.Fields(5).Name(), "Born");
}

TEST_P(Statements, DropAndAddAgainAsTheMergeDoes) {
  conn_.Execute("ALTER TABLE [People] ADD COLUMN [Result_Column] memo");
  conn_.Execute("update [People] set [Result_Column]='old' where [ID]=1");
  conn_.Execute("ALTER TABLE [People] DROP [Result_Column]");
  conn_.Execute("ALTER TABLE [People] ADD COLUMN [Result_Column] memo");
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Result_Column]='old'"), 0u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Result_Column] is null"),
            Count("SELECT [ID] FROM [People]"));
}

// ---------------------------------------------------------------------------
// UPDATE

TEST_P(Statements, UpdateChangesExactlyTheMatchingRows) {
  bool accdb = std::string(GetParam()).find("accdb") != std::string::npos;
  EXPECT_EQ(conn_.Execute("update [People] set [Notes]='exact' where [First]='Peter'"),
            accdb ? 5 : 3);
  EXPECT_EQ(conn_.Execute("update [People] set [Notes]='blank' where [First]='Peter '"), 1);
  EXPECT_EQ(conn_.Execute("update [People] set [Notes]='lower' where [First]='peter'"), 0);
  for (const auto& r : Query(conn_, "SELECT [First], [Notes] FROM [People]")) {
    if (r[0] == Cell("Peter")) {
      EXPECT_EQ(r[1], Cell("exact"));
    } else if (r[0] == Cell("Peter ")) {
      EXPECT_EQ(r[1], Cell("blank"));
    } else {
      EXPECT_NE(r[1], Cell("exact"));
      EXPECT_NE(r[1], Cell("blank"));
    }
  }
}

TEST_P(Statements, UpdateWithNullTermsAndSeveralAssignments) {
  bool accdb = std::string(GetParam()).find("accdb") != std::string::npos;
  long n = conn_.Execute(
      "UPDATE [People] SET [Notes]='no middle', [City]=Null WHERE [Middle] IS "
      "NULL AND [First] IS NOT NULL");
  EXPECT_EQ(static_cast<size_t>(n),
            Count("SELECT [ID] FROM [People] WHERE [Middle] is null and [First] is not null"));
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Notes]='no middle' and [City] is null"),
            static_cast<size_t>(n));
  // Rows with an empty (not null) middle name were left alone.
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Middle]='' and [Notes]='no middle'"), 0u);
  EXPECT_EQ(Count("SELECT [ID] FROM [People] WHERE [Middle]=''"), accdb ? 22u : 17u);
  EXPECT_NE(ErrorOf([&] { conn_.Execute("update [People] set [Notes]='a', [notes]='b'"); }), 0);
}

}  // namespace

namespace {

// Decimal and currency fields compare with number literals exactly, at
// the field's scale, down to the smallest currency value.
TEST_P(Statements, DecimalAndCurrencyCompareExactly) {
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [DecimalVal]=12345678901234.5678"), 1u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [DecimalVal]=-0.0001"), 1u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [DecimalVal]=-0.00010"), 1u);
  // More digits than the scale holds match nothing.
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [DecimalVal]=-0.00011"), 0u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [MoneyVal]=-922337203685477.5808"), 1u);
  EXPECT_EQ(Count("SELECT [ID] FROM [Types] WHERE [MoneyVal]=922337203685477.5807"), 1u);
  EXPECT_EQ(ErrorOf([&] { Count("SELECT [ID] FROM [Types] WHERE [DecimalVal]='1'"); }),
            jet::errnum::kTypeMismatch);
  EXPECT_EQ(conn_.Execute("UPDATE [Types] SET [DecimalVal]=1.5 WHERE [ID]=4"), 1);
  EXPECT_EQ(Query(conn_, "SELECT [DecimalVal] FROM [Types] WHERE [ID]=4").at(0).at(0), "1.5");
}

}  // namespace
