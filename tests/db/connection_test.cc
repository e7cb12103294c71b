// Connections and recordsets: the connection string, opening and its
// failures, sharing one file between connections and processes, the
// recordset walk, row sources for grids, and durability of what UPDATE
// writes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>

#include "db/access.h"
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

// ---------------------------------------------------------------------------
// Connection string

TEST(ConnectionString, ProviderFollowsTheLastFiveCharacters) {
  EXPECT_EQ(db::BuildConnectionString("C:\\Data\\Shop.ACCDB", ""),
            "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=C:\\Data\\Shop.ACCDB;JET "
            "OLEDB:Database Password=");
  EXPECT_EQ(db::BuildConnectionString("C:\\Data\\Shop.mdb", "p w;'x"),
            "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Data\\Shop.mdb;JET OLEDB:Database "
            "Password=p w;'x");
  EXPECT_EQ(db::BuildConnectionString("/tmp/xaccdb", "").rfind("Provider=", 0), 0u);
  EXPECT_EQ(db::BuildConnectionString("/tmp/a.accde", "").rfind("PROVIDER=", 0), 0u);
  EXPECT_EQ(db::BuildConnectionString("/tmp/a.accdb ", "").rfind("PROVIDER=", 0), 0u);
  EXPECT_EQ(db::BuildConnectionString("", ""),
            "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=;JET OLEDB:Database Password=");
}

TEST(ConnectionString, ParsesBackPathsHoldingSeparators) {
  for (const std::string path :
       {"/d/a;b=c.mdb", "/d/x.accdb", "/d/;JET OLEDB:Database Password=.mdb", "",
        "/d/Provider=y;Data Source=z.ACCDB"}) {
    for (const std::string password : {"", "secret", "a;b=c", "x'y\""}) {
      SCOPED_TRACE(path + " / " + password);
      db::ConnectionTarget t = db::ParseConnectionString(db::BuildConnectionString(path, password));
      EXPECT_EQ(t.data_source, path);
      EXPECT_EQ(t.password, password);
    }
  }
  EXPECT_EQ(db::ParseConnectionString(db::BuildConnectionString("/d/x.accdb", "")).provider,
            db::kAceProvider);
  EXPECT_EQ(db::ParseConnectionString(db::BuildConnectionString("/d/x.mdb", "")).provider,
            db::kJetProvider);
}

TEST(ConnectionString, UnknownProviderAndMalformedStrings) {
  std::string text;
  EXPECT_EQ(ErrorOf([] { db::ParseConnectionString("Provider=SQLOLEDB;Data Source=x"); }, &text),
            3706);
  EXPECT_EQ(text, "Provider cannot be found. It may not be properly installed.");
  db::Connection c;
  EXPECT_EQ(ErrorOf([&] { c.Open("Provider=Microsoft.Jet.OLEDB.3.51;Data Source=/x.mdb"); }), 3706);
  EXPECT_FALSE(c.IsOpen());
  EXPECT_EQ(ErrorOf([] { db::ParseConnectionString("Data Source=/x.mdb"); }),
            db::kErrBadConnectionString);
  EXPECT_EQ(ErrorOf([] { db::ParseConnectionString("Provider=Microsoft.ACE.OLEDB.12.0"); }),
            db::kErrBadConnectionString);
}

TEST(Connection, OpensAPathHoldingSemicolonAndEquals) {
  ScratchDir scratch;
  std::string copy = scratch.Copy(db_testing::kPeople2000);
  std::string odd = (scratch.path() / "a;b=c;JET OLEDB:x.mdb").string();
  std::filesystem::rename(copy, odd);
  db::Connection c;
  OpenRw(c, odd, "whatever");  // the file has no password: any is accepted
  EXPECT_EQ(Query(c, "SELECT [ID] FROM [People]").size(), 200u);
}

// ---------------------------------------------------------------------------
// Failures to open

TEST(Connection, OpenFailuresHaveClearTexts) {
  ScratchDir scratch;
  db::Connection c;
  std::string text;
  std::string missing = (scratch.path() / "missing.mdb").string();
  EXPECT_EQ(ErrorOf([&] { c.Open(db::BuildConnectionString(missing, "")); }, &text),
            jet::errnum::kGeneric);
  EXPECT_NE(text.find("Could not find file"), std::string::npos) << text;

  std::string junk = (scratch.path() / "junk.mdb").string();
  testing_support::WriteFile(junk, std::string(8192, 'x'));
  EXPECT_EQ(ErrorOf([&] { c.Open(db::BuildConnectionString(junk, "")); }, &text),
            jet::errnum::kGeneric);
  EXPECT_NE(text.find("not an Access database"), std::string::npos) << text;

  std::string locked = scratch.Copy("mdb-reader/V2000_with-password.mdb");
  EXPECT_EQ(ErrorOf([&] { c.Open(db::BuildConnectionString(locked, "wrong")); }, &text),
            jet::errnum::kWrongPassword);
  EXPECT_EQ(text, "Not a valid password.");
  EXPECT_FALSE(c.IsOpen());
  c.Open(db::BuildConnectionString(locked, "password"));
  EXPECT_TRUE(c.IsOpen());
  EXPECT_EQ(ErrorOf([&] { c.Open(db::BuildConnectionString(locked, "password")); }),
            db::kErrObjectOpen);
}

// Going back to the database page and typing another password opens a second
// connection to the file the first still holds: it must be checked like the
// first, for Office-encrypted .accdb files and database passwords of .mdb files.
TEST(Connection, ASecondConnectionToAnOpenFileChecksItsPassword) {
  ScratchDir scratch;
  for (const char* fixture :
       {"mdb-reader/office-agile-4.4.accdb", "mdb-reader/V2000_with-password.mdb"}) {
    SCOPED_TRACE(fixture);
    const std::string path = scratch.Copy(fixture);
    db::Connection first_try;
    std::string alone;
    ASSERT_EQ(ErrorOf([&] { OpenRw(first_try, path, "wrong"); }, &alone),
              jet::errnum::kWrongPassword);

    db::Connection holder;
    OpenRw(holder, path, "password");
    db::Connection second;
    std::string shared;
    EXPECT_EQ(ErrorOf([&] { OpenRw(second, path, "wrong"); }, &shared),
              jet::errnum::kWrongPassword);
    EXPECT_EQ(shared, alone);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(ErrorOf([&] { OpenRw(second, path, ""); }), jet::errnum::kWrongPassword);
    EXPECT_FALSE(second.IsOpen());

    OpenRw(second, path, "password");
    ASSERT_TRUE(second.IsOpen());
    EXPECT_EQ(second.database(), holder.database());
  }
}

TEST(Connection, ASecondProcessCannotWriteWhileOneDoes) {
  ScratchDir scratch;
  std::string path = scratch.Copy(db_testing::kPeople2000);
  int ready[2], verdict[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(verdict), 0);
  // The child is made before this process opens the file, so it holds no
  // copy of the open database and must open the file itself.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char go;
    if (read(ready[0], &go, 1) != 1) _exit(3);
    char answer = 'n';
    try {
      db::Connection c;
      c.ConnectionTimeout = 0;
      OpenRw(c, path);
      answer = 'o';  // opened: the lock did not hold
    } catch (const jet::Error& e) {
      if (e.description().find("in use") != std::string::npos) answer = 'r';
    }
    if (write(verdict[1], &answer, 1) != 1) _exit(4);
    _exit(0);
  }
  {
    db::Connection writer;
    OpenRw(writer, path);
    writer.Execute("update [People] set [Notes]='mine' where [ID]=1");
    ASSERT_EQ(write(ready[1], "g", 1), 1);
    char answer = 0;
    ASSERT_EQ(read(verdict[0], &answer, 1), 1);
    EXPECT_EQ(answer, 'r') << "o: a second writer got in; n: refused with another error";
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  for (int fd : {ready[0], ready[1], verdict[0], verdict[1]}) close(fd);
}

TEST(Connection, ReadOnlyModeRefusesChanges) {
  ScratchDir scratch;
  std::string path = scratch.Copy(db_testing::kPeople2000);
  db::Connection c;
  c.Open(db::BuildConnectionString(path, ""));
  EXPECT_EQ(ErrorOf([&] { c.Execute("update [People] set [Notes]='x'"); }), jet::errnum::kReadOnly);
  EXPECT_EQ(ErrorOf([&] { c.Execute("ALTER TABLE [People] DROP [Notes]"); }),
            jet::errnum::kReadOnly);
  EXPECT_EQ(c.Execute("SELECT [Notes] FROM [People]"), -1);
}

TEST(Connection, ClosedObjectsRefuseWork) {
  db::Connection c;
  db::Recordset rs;
  EXPECT_EQ(ErrorOf([&] { c.Execute("SELECT * FROM [t]"); }), db::kErrConnectionClosed);
  EXPECT_EQ(ErrorOf([&] { rs.Open("SELECT * FROM [t]", c, 3, 3); }), db::kErrConnectionClosed);
  EXPECT_EQ(ErrorOf([&] { c.Close(); }), db::kErrObjectClosed);
  EXPECT_EQ(ErrorOf([&] { rs.Eof(); }), db::kErrObjectClosed);
  EXPECT_EQ(ErrorOf([&] { rs.DataSource(); }), db::kErrObjectClosed);
  EXPECT_EQ(ErrorOf([&] { c.OpenSchema(db::kSchemaTables); }), db::kErrObjectClosed);
}

// ---------------------------------------------------------------------------
// Schema and recordset walk

TEST(Recordset, TablesSchemaListsEveryKindWithItsType) {
  db::Connection c;
  c.Open(db::BuildConnectionString(testing_support::DataPath(db_testing::kPeople2007), ""));
  db::Recordset rs = c.OpenSchema(db::kSchemaTables);
  std::map<std::string, std::string> types;
  for (; !rs.Eof(); rs.MoveNext()) {
    types[rs.Fields("TABLE_NAME").Value().bytes()] = rs.Fields("table_type").Value().bytes();
  }
  EXPECT_EQ(types["People"], "TABLE");
  EXPECT_EQ(types["Order Details"], "TABLE");
  EXPECT_EQ(types["MSysObjects"], "SYSTEM TABLE");
  EXPECT_EQ(ErrorOf([&] { c.OpenSchema(4); }), db::kErrNotCapable);
}

TEST(Recordset, FieldsByNameAndPositionAndTheEnd) {
  db::Connection c;
  c.Open(db::BuildConnectionString(testing_support::DataPath(db_testing::kPeople2000), ""));
  db::Recordset rs;
  rs.Open("SELECT [ID], [First] FROM [People] WHERE [ID]=9", c, db::kOpenStatic,
          db::kLockOptimistic);
  EXPECT_EQ(rs.RecordCount(), 1);
  EXPECT_EQ(rs.Fields("first").Name(), "First");
  EXPECT_EQ(rs.Fields("FIRST").Value().bytes(), "D'Arcy");
  EXPECT_EQ(rs.Fields(0).Value().as_int(), 9);
  EXPECT_EQ(ErrorOf([&] { rs.Fields("Last"); }), db::kErrItemNotFound);
  EXPECT_EQ(ErrorOf([&] { rs.Fields(2); }), db::kErrItemNotFound);
  EXPECT_EQ(ErrorOf([&] { rs.Fields(-1); }), db::kErrItemNotFound);
  rs.MoveNext();
  EXPECT_TRUE(rs.Eof());
  EXPECT_EQ(rs.Fields(1).Name(), "First");
  EXPECT_EQ(ErrorOf([&] { rs.Fields(1).Value(); }), db::kErrNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { rs.MoveNext(); }), db::kErrNoCurrentRecord);
  rs.Close();
  EXPECT_FALSE(rs.IsOpen());
  EXPECT_EQ(ErrorOf([&] { rs.RecordCount(); }), db::kErrObjectClosed);
}

TEST(Recordset, EmptyTableStillNamesItsFields) {
  db::Connection c;
  c.Open(db::BuildConnectionString(testing_support::DataPath(db_testing::kPeople2000), ""));
  db::Recordset rs;
  rs.Open("SELECT * FROM [Empty];", c, db::kOpenDynamic, db::kLockUnspecified);
  EXPECT_TRUE(rs.Eof());
  EXPECT_EQ(rs.RecordCount(), 0);
  ASSERT_EQ(rs.FieldCount(), 4);
  EXPECT_EQ(rs.Fields(1).Name(), "Name");
  EXPECT_EQ(rs.DataSource()->RowCount(), 0);
}

TEST(Recordset, OpeningAChangeRunsItAndStaysClosed) {
  ScratchDir scratch;
  db::Connection c;
  OpenRw(c, scratch.Copy(db_testing::kPeople2000));
  db::Recordset rs;
  rs.Open("update [People] set [Notes]='via recordset' where [ID]=5", c, 3, 3);
  EXPECT_FALSE(rs.IsOpen());
  EXPECT_EQ(Query(c, "SELECT [ID] FROM [People] WHERE [Notes]='via recordset'").size(), 1u);
}

// ---------------------------------------------------------------------------
// Row sources

TEST(RowSource, ReadsAnyRowAndOutlivesItsRecordsetAndConnection) {
  ScratchDir scratch;
  std::string path = scratch.Copy(db_testing::kPeople2007);
  std::vector<Row> expected;
  std::shared_ptr<db::RowSource> source;
  {
    db::Connection c;
    OpenRw(c, path);
    c.CursorLocation = db::kUseClient;
    expected = Query(c, "SELECT * FROM [People]");
    db::Recordset rs;
    rs.Open("SELECT * FROM [People];", c, db::kOpenKeyset, db::kLockReadOnly);
    source = rs.DataSource();
    rs.Close();
    c.Close();
  }
  ASSERT_EQ(source->RowCount(), 300);
  ASSERT_EQ(source->ColumnCount(), 8);
  EXPECT_EQ(source->ColumnName(3), "Last");
  EXPECT_EQ(source->ColumnType(6), jet::ColumnType::kDateTime);
  std::mt19937 rng(11);
  for (int k = 0; k < 500; ++k) {
    int row = static_cast<int>(rng() % 300), col = static_cast<int>(rng() % 8);
    ASSERT_EQ(db_testing::CellOf(source->Cell(row, col)), expected[row][col])
        << "row " << row << " column " << col;
  }
  EXPECT_EQ(ErrorOf([&] { source->Cell(300, 0); }), db::kErrNoCurrentRecord);
  EXPECT_EQ(ErrorOf([&] { source->Cell(0, 8); }), db::kErrItemNotFound);
}

TEST(RowSource, ShowsLaterChangesAndSurvivesADroppedColumn) {
  ScratchDir scratch;
  db::Connection c;
  OpenRw(c, scratch.Copy(db_testing::kPeople2000));
  db::Recordset rs;
  rs.Open("SELECT * FROM [People]", c, db::kOpenDynamic, db::kLockUnspecified);
  auto grid = rs.DataSource();
  EXPECT_EQ(db_testing::CellOf(grid->Cell(0, 7)), Cell("100% sure"));
  c.Execute("update [People] set [Notes]='changed' where [ID]=1");
  EXPECT_EQ(db_testing::CellOf(grid->Cell(0, 7)), Cell("changed"));
  c.Execute("ALTER TABLE [People] DROP [Notes]");
  c.Execute("update [People] set [City]='Reykjavík' where [ID]=1");
  EXPECT_TRUE(grid->Cell(0, 7).is_null());
  EXPECT_EQ(db_testing::CellOf(grid->Cell(0, 4)), Cell("Reykjavík"));
  EXPECT_EQ(db_testing::CellOf(grid->Cell(1, 1)), Cell("Łukasz"));
  EXPECT_EQ(grid->ColumnCount(), 8);
}

// ---------------------------------------------------------------------------
// Sharing and durability

TEST(Connection, TwoConnectionsSeeEachOthersChangesAtOnce) {
  ScratchDir scratch;
  std::string path = scratch.Copy(db_testing::kPeople2000);
  db::Connection a, b;
  OpenRw(a, path);
  OpenRw(b, path);
  EXPECT_EQ(a.database(), b.database());
  // a files the rows by First; b changes First values; a must still find
  // every row by its new value and none by its old one.
  EXPECT_EQ(Query(a, "select distinct [First] from [People]").size(), 38u);
  EXPECT_EQ(b.Execute("update [People] set [First]='Pete' where [First]='Peter'"), 3);
  EXPECT_EQ(Query(a, "SELECT [ID] FROM [People] WHERE [First]='Pete'").size(), 3u);
  EXPECT_EQ(Query(a, "SELECT [ID] FROM [People] WHERE [First]='Peter'").size(), 0u);
  EXPECT_EQ(a.Execute("update [People] set [First]='Peter' where [First]='Pete'"), 3);
  EXPECT_EQ(Query(b, "SELECT [ID] FROM [People] WHERE [First]='Peter'").size(), 3u);
  // A reader opened without Mode shares the same uncommitted state.
  db::Connection reader;
  reader.Open(db::BuildConnectionString(path, ""));
  b.Execute("update [People] set [Notes]='seen' where [ID]=7");
  EXPECT_EQ(Query(reader, "SELECT [ID] FROM [People] WHERE [Notes]='seen'").size(), 1u);
}

// Every field's value and how the result column must read after the merge:
// the fields' text forms joined, nulls adding nothing.
TEST(Merge, EachRowGetsItsOwnCombinationExactly) {
  for (const char* fixture : {db_testing::kPeople2000, db_testing::kPeople2007}) {
    SCOPED_TRACE(fixture);
    ScratchDir scratch;
    std::string path = scratch.Copy(fixture);
    std::vector<Row> before;
    long combos = 0;
    {
      db::Connection c;
      OpenRw(c, path);
      before = Query(c, "SELECT [First],[Middle],[Last] FROM [People]");
      combos = db_testing::RunMerge(c, "People", {"First", "Middle", "Last"}, "Result_Column");
    }
    EXPECT_EQ(combos, std::string(fixture).find("accdb") != std::string::npos ? 221 : 155);
    db::Connection c;
    c.Open(db::BuildConnectionString(path, ""));
    auto after = Query(c, "SELECT [First],[Middle],[Last],[Result_Column] FROM [People]");
    ASSERT_EQ(after.size(), before.size());
    for (size_t i = 0; i < after.size(); ++i) {
      std::string joined;
      for (int k = 0; k < 3; ++k) joined += before[i][k].value_or("");
      EXPECT_EQ(after[i][3], Cell(joined)) << "row " << i;
      EXPECT_EQ(Row(after[i].begin(), after[i].begin() + 3), before[i]);
    }
  }
}

// Random updates of a filed column, checked against a plain model of the
// table: the hash filing must follow every change.
TEST(Merge, FilingFollowsChangesOfTheFiledColumns) {
  ScratchDir scratch;
  db::Connection c;
  OpenRw(c, scratch.Copy(db_testing::kPeople2007));
  std::vector<Row> model = Query(c, "SELECT [ID],[City],[Middle] FROM [People]");
  const std::vector<Cell> values = {Cell("Oslo"), Cell("oslo"),  Cell("Oslo "), Cell(""),
                                    std::nullopt, Cell("Paris"), Cell("Zürich")};
  auto literal = [](const Cell& v, const std::string& column) {
    return v ? "[" + column + "]='" + *v + "'" : "[" + column + "] is null";
  };
  auto set_literal = [](const Cell& v) { return v ? "'" + *v + "'" : std::string("Null"); };
  std::mt19937 rng(5);
  for (int step = 0; step < 150; ++step) {
    const Cell& from = values[rng() % values.size()];
    const Cell& to = values[rng() % values.size()];
    const Cell& middle = values[rng() % values.size()];
    bool two = rng() % 2;
    std::string where = literal(from, "City") + (two ? " and " + literal(middle, "Middle") : "");
    long expected = 0;
    for (auto& r : model) {
      if (r[1] == from && (!two || r[2] == middle)) {
        r[1] = to;
        ++expected;
      }
    }
    ASSERT_EQ(c.Execute("update [People] set [City]=" + set_literal(to) + " where " + where),
              expected)
        << where;
    if (step % 10 == 0) {
      for (const Cell& v : values) {
        long n = 0;
        for (const auto& r : model) n += r[1] == v;
        ASSERT_EQ(static_cast<long>(
                      Query(c, "SELECT [ID] FROM [People] WHERE " + literal(v, "City")).size()),
                  n);
      }
    }
  }
  EXPECT_EQ(Query(c, "SELECT [ID],[City],[Middle] FROM [People]"), model);
}

// What mdb-export reads back from a file, or nullopt when it is not installed.
std::optional<std::map<std::string, std::string>> ExportNotes(const std::string& path) {
  if (system("command -v mdb-export >/dev/null 2>&1") != 0) return std::nullopt;
  std::string cmd = "mdb-export -H -Q -d '|' -R '^' '" + path + "' People";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return std::nullopt;
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  std::map<std::string, std::string> notes;
  size_t at = 0;
  while (at < out.size()) {
    size_t end = out.find('^', at);
    if (end == std::string::npos) end = out.size();
    std::string line = out.substr(at, end - at);
    at = end + 1;
    std::vector<std::string> fields;
    size_t f = 0;
    for (;;) {
      size_t bar = line.find('|', f);
      fields.push_back(line.substr(f, bar == std::string::npos ? std::string::npos : bar - f));
      if (bar == std::string::npos) break;
      f = bar + 1;
    }
    if (fields.size() >= 8) notes[fields[0]] = fields[7];
  }
  return notes;
}

TEST(Memo, EverySizeIsWrittenAndReadBack) {
  for (const char* fixture : {db_testing::kPeople2000, db_testing::kPeople2007}) {
    SCOPED_TRACE(fixture);
    ScratchDir scratch;
    std::string path = scratch.Copy(fixture);
    // Inline in the row, on one long-value page, and chained over several;
    // with one-byte and wider characters.
    const std::vector<size_t> sizes = {1, 40, 64, 65, 300, 2000, 4076, 4077, 5000, 9000, 70000};
    std::map<std::string, std::string> written;
    {
      db::Connection c;
      OpenRw(c, path);
      int id = 1;
      for (size_t size : sizes) {
        for (const std::string unit : {"ab'c", "Ω中"}) {
          std::string text;
          while (text.size() < size) text += unit;
          text += std::to_string(id);
          written[std::to_string(id)] = text;
          ASSERT_EQ(c.Execute("update [People] set [Notes]='" + db_testing::Escape(text) +
                              "' where [ID]=" + std::to_string(id)),
                    1);
          ++id;
        }
      }
      // Rewriting a value frees the old one; the new one must read whole.
      written["3"] = std::string(6000, 'z');
      c.Execute("update [People] set [Notes]='" + written["3"] + "' where [ID]=3");
      for (const auto& [id_text, text] : written) {
        auto rows = Query(c, "SELECT [Notes] FROM [People] WHERE [ID]=" + id_text);
        ASSERT_EQ(rows.size(), 1u);
        ASSERT_EQ(rows[0][0], Cell(text)) << "id " << id_text << " before closing";
      }
    }
    db::Connection again;
    again.Open(db::BuildConnectionString(path, ""));
    for (const auto& [id_text, text] : written) {
      auto rows = Query(
          again, "SELECT [Notes] FROM [People] WHERE [Notes]='" + db_testing::Escape(text) + "'");
      ASSERT_EQ(rows.size(), 1u) << "id " << id_text << " after reopening";
    }
    again.Close();
    if (auto exported = ExportNotes(path)) {
      for (const auto& [id_text, text] : written) {
        EXPECT_EQ((*exported)[id_text], text) << "mdb-export, id " << id_text;
      }
    }
  }
}

// Runs a command and returns what it printed, or nullopt when it failed.
std::optional<std::string> Output(const std::string& command) {
  FILE* p = popen(command.c_str(), "r");
  if (!p) return std::nullopt;
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  if (pclose(p) != 0) return std::nullopt;
  return out;
}

struct MergeCase {
  const char* fixture;
  const char* table;
  std::vector<std::string> fields;
  const char* password;
  bool plain;  // unencrypted: mdb-export can read it back
};

void PrintTo(const MergeCase& mc, std::ostream* os) { *os << mc.fixture << " " << mc.table; }

class MergeAcrossFormats : public ::testing::TestWithParam<MergeCase> {};

// The whole merge on tables of every format the engine writes: Jet 3, Jet 4,
// ACE, encrypted files. The result column must read back as the joined
// fields, through this layer and through mdb-export.
TEST_P(MergeAcrossFormats, ResultColumnHoldsTheJoinedFields) {
  const MergeCase& mc = GetParam();
  ScratchDir scratch;
  std::string path = scratch.Copy(mc.fixture);
  std::string list;
  for (const auto& f : mc.fields) list += (list.empty() ? "[" : ",[") + f + "]";
  std::vector<std::string> expected;
  {
    db::Connection c;
    OpenRw(c, path, mc.password);
    for (const auto& r : Query(c, "SELECT " + list + " FROM [" + mc.table + "]")) {
      std::string joined;
      for (const auto& v : r) joined += v.value_or("");
      expected.push_back(joined);
    }
    db_testing::RunMerge(c, mc.table, mc.fields, "Merged");
  }
  ASSERT_FALSE(expected.empty());
  db::Connection c;
  c.Open(db::BuildConnectionString(path, mc.password));
  std::vector<std::string> got;
  for (const auto& r : Query(c, std::string("SELECT [Merged] FROM [") + mc.table + "]")) {
    ASSERT_TRUE(r[0].has_value());
    got.push_back(*r[0]);
  }
  EXPECT_EQ(got, expected);
  c.Close();
  if (!mc.plain || system("command -v mdb-export >/dev/null 2>&1") != 0) return;
  auto out = Output("mdb-export -H -Q -d '\x1f' -R '\x1e' '" + path + "' '" + mc.table + "'");
  ASSERT_TRUE(out.has_value());
  std::vector<std::string> exported;
  for (size_t at = 0; at < out->size();) {
    size_t end = std::min(out->find('\x1e', at), out->size());
    std::string line = out->substr(at, end - at);
    exported.push_back(line.substr(line.rfind('\x1f') + 1));
    at = end + 1;
  }
  std::sort(exported.begin(), exported.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(exported, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, MergeAcrossFormats,
    ::testing::Values(
        MergeCase{"jackcess/testV1997.mdb", "Table1", {"A", "B"}, "", true},
        MergeCase{
            "mdbtestdata/nwind.mdb", "Orders", {"ShipCountry", "ShipCity", "ShipRegion"}, "", true},
        // Its text holds every control character, the export's separators too.
        MergeCase{"jackcess/testUnicodeCompV2003.mdb", "Table", {"Unicode"}, "", false},
        MergeCase{"jackcess-encrypt/db-enc.mdb", "Table1", {"col1"}, "", false},
        MergeCase{"mdb-reader/V2000_with-password.mdb", "Table1", {"Data"}, "password", false},
        MergeCase{
            "efcore-jet/Northwind.accdb", "Customers", {"Country", "City", "Region"}, "", true},
        // mdb-export turns characters beyond U+FFFF into "??".
        MergeCase{"jackcess/testEmoticonsV2010.accdb", "data", {"data"}, "", false},
        MergeCase{"mdb-reader/office-agile-4.4.accdb", "Table1", {"Data"}, "password", false}),
    [](const auto& info) {
      std::string name = std::filesystem::path(info.param.fixture).stem().string();
      name.erase(std::remove_if(name.begin(), name.end(), [](char ch) { return !isalnum(ch); }),
                 name.end());
      return name;
    });

TEST(Connection, ChangesLastWithoutAnExplicitClose) {
  ScratchDir scratch;
  std::string path = scratch.Copy(db_testing::kPeople2000);
  {
    db::Connection c;
    OpenRw(c, path);
    c.Execute("update [People] set [Notes]='kept' where [ID]=10");
  }
  db::Connection c;
  c.Open(db::BuildConnectionString(path, ""));
  EXPECT_EQ(Query(c, "SELECT [ID] FROM [People] WHERE [Notes]='kept'").size(), 1u);
}

}  // namespace
