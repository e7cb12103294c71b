// `tessaly create` and `tessaly import`, and the CSV reading behind them.
// Files the tool makes must read the same in the engine, in mdb-reader and in
// mdbtools: the same tables, columns and types, rows, and primary keys.
#include "cli/import.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "jet/table/check.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ScratchDir;

std::string Shell(const std::string& command, int& status) {
  return testing_support::Capture(command, &status);
}

std::string Tessaly(const std::string& args, int& status) {
  return Shell(std::string(TESSALY_CLI) + " " + args + " 2>&1", status);
}

bool Have(const std::string& tool) {
  int status = 0;
  return !Shell("command -v " + tool + " 2>/dev/null", status).empty();
}

std::string OracleDir() { return std::string(TESSALY_TEST_DATA) + "/../oracle"; }
bool HaveMdbReader() {
  return Have("node") && fs::exists(OracleDir() + "/node_modules/mdb-reader");
}

std::vector<std::vector<std::string>> ReadCsv(const std::string& text) {
  std::unique_ptr<FILE, int (*)(FILE*)> f(
      fmemopen(const_cast<char*>(text.data()), text.size(), "r"), &fclose);
  cli::CsvReader r(f.get());
  std::vector<std::vector<std::string>> out;
  std::vector<std::string> fields;
  while (r.Next(fields)) out.push_back(fields);
  return out;
}

TEST(Csv, QuotesLineBreaksAndEncodings) {
  using Rows = std::vector<std::vector<std::string>>;
  EXPECT_EQ(ReadCsv("a,b\r\n1,\"x, \"\"y\"\"\"\n\"multi\nline\",\n"),
            (Rows{{"a", "b"}, {"1", "x, \"y\""}, {"multi\nline", ""}}));
  EXPECT_EQ(ReadCsv("\xEF\xBB\xBFName\nZo\xC3\xAB"), (Rows{{"Name"}, {"Zoë"}}));
  // Not UTF-8: read as Windows-1252.
  EXPECT_EQ(ReadCsv("Zo\xEB,\x80"), (Rows{{"Zoë", "€"}}));
  EXPECT_THROW(ReadCsv("a\n\"open"), jet::Error);
}

// A first byte that could begin a UTF-16 mark but does not is data; the two
// marks themselves are refused with the whole reason.
TEST(Csv, OnlyARealUtf16MarkIsRefused) {
  using Rows = std::vector<std::vector<std::string>>;
  EXPECT_EQ(ReadCsv("\xFFn,b\n1,2\n"), (Rows{{"\xC3\xBFn", "b"}, {"1", "2"}}));
  EXPECT_EQ(ReadCsv("\xFE\nx\n"), (Rows{{"\xC3\xBE"}, {"x"}}));
  EXPECT_EQ(ReadCsv("\xFF"), (Rows{{"\xC3\xBF"}}));
  for (const char* mark : {"\xFF\xFE", "\xFE\xFF"}) {
    try {
      ReadCsv(std::string(mark) + "n\0a\0");
      ADD_FAILURE() << "a UTF-16 mark was read as data";
    } catch (const jet::Error& e) {
      EXPECT_NE(std::string(e.what()).find("is UTF-16 text"), std::string::npos) << e.what();
    }
  }
  // NUL bytes are refused in the header only; a value may hold one.
  EXPECT_THROW(ReadCsv(std::string("a\0b\n", 4)), jet::Error);
  EXPECT_EQ(ReadCsv(std::string("a\nx\0y\n", 6)), (Rows{{"a"}, {std::string("x\0y", 3)}}));
}

TEST(Csv, LinesCountFromTheStartOfEachRecord) {
  std::string text = "h\n\"two\nlines\"\nthird\n";
  std::unique_ptr<FILE, int (*)(FILE*)> f(fmemopen(text.data(), text.size(), "r"), &fclose);
  cli::CsvReader r(f.get());
  std::vector<std::string> fields;
  std::vector<size_t> lines;
  while (r.Next(fields)) lines.push_back(r.line());
  EXPECT_EQ(lines, (std::vector<size_t>{1, 2, 4}));
  EXPECT_EQ(r.offset(), text.size());
}

jet::ColumnType Guess(std::initializer_list<const char*> fields) {
  cli::TypeGuess g;
  for (const char* f : fields) g.Add(f);
  return g.Result().type;
}

TEST(Csv, TypesAreGuessedFromAllValues) {
  using jet::ColumnType;
  EXPECT_EQ(Guess({"1", "-42", "", "2147483647"}), ColumnType::kLong);
  EXPECT_EQ(Guess({"1", "2147483648"}), ColumnType::kDouble);
  EXPECT_EQ(Guess({"1", "2.5", "-1e3"}), ColumnType::kDouble);
  EXPECT_EQ(Guess({"2024-02-29", "12/31/1999 11:59 PM", "1990-01-01T08:30:00"}),
            ColumnType::kDateTime);
  EXPECT_EQ(Guess({"2023-02-29"}), ColumnType::kText);  // no such day
  EXPECT_EQ(Guess({"1", "one"}), ColumnType::kText);
  EXPECT_EQ(Guess({"0x10", "1,000", "nan"}), ColumnType::kText);
  EXPECT_EQ(Guess({""}), ColumnType::kText);
  EXPECT_EQ(Guess({std::string(256, 'z').c_str()}), ColumnType::kMemo);
}

TEST(Csv, FieldsBecomeValuesOfTheirType) {
  jet::NewColumn c;
  auto parse = [&](const char* type, const char* field) {
    EXPECT_TRUE(cli::ParseTypeName(type, c)) << type;
    return cli::ParseField(c, field);
  };
  EXPECT_EQ(parse("currency", "-12.5").as_int(), -125000);
  EXPECT_EQ(parse("currency", "0.0001").as_int(), 1);
  EXPECT_THROW(parse("currency", "1.00001"), jet::Error);
  EXPECT_EQ(parse("byte", "255").as_int(), 255);
  EXPECT_THROW(parse("byte", "256"), jet::Error);
  EXPECT_THROW(parse("integer", "1.5"), jet::Error);
  EXPECT_TRUE(parse("yesno", "Yes").as_bool());
  EXPECT_FALSE(parse("yesno", "0").as_bool());
  EXPECT_THROW(parse("yesno", "maybe"), jet::Error);
  EXPECT_EQ(jet::TextForm(parse("datetime", "1/2/2003 1:05:09 PM")), "1/2/2003 1:05:09 PM");
  EXPECT_EQ(jet::TextForm(parse("datetime", "2003-01-02 13:05")), "1/2/2003 1:05:00 PM");
  EXPECT_THROW(parse("text(3)", "four"), jet::Error);
  EXPECT_EQ(parse("text(4)", " pad").bytes(), " pad");
  EXPECT_TRUE(parse("long", "").is_null());
  EXPECT_TRUE(cli::ParseTypeName("COUNTER", c));
  EXPECT_TRUE(c.autonumber);
  EXPECT_EQ(cli::TypeNameOf(c), "counter");
  EXPECT_FALSE(cli::ParseTypeName("text(0)", c));
  EXPECT_FALSE(cli::ParseTypeName("text(256)", c));
  EXPECT_FALSE(cli::ParseTypeName("decimal", c));
}

// Lengths count UTF-16 units, as Access does: an emoji takes two of a text
// column's 255 characters.
TEST(Csv, LengthsCountUtf16Units) {
  const std::string emoji = "\xF0\x9F\x98\x80";
  std::string e127, e128, e200;
  for (int i = 0; i < 200; ++i) {
    if (i < 127) e127 += emoji;
    if (i < 128) e128 += emoji;
    e200 += emoji;
  }
  EXPECT_EQ(Guess({(e127 + "x").c_str()}), jet::ColumnType::kText);   // 255 units
  EXPECT_EQ(Guess({e128.c_str()}), jet::ColumnType::kMemo);           // 256 units
  EXPECT_EQ(Guess({"short", e200.c_str()}), jet::ColumnType::kMemo);  // 400 units

  jet::NewColumn c;
  ASSERT_TRUE(cli::ParseTypeName("text", c));
  EXPECT_THROW(cli::ParseField(c, e200), jet::Error);
  EXPECT_THROW(cli::ParseField(c, e128), jet::Error);
  EXPECT_EQ(cli::ParseField(c, e127 + "x").bytes(), e127 + "x");
  ASSERT_TRUE(cli::ParseTypeName("text(3)", c));
  EXPECT_THROW(cli::ParseField(c, emoji + emoji), jet::Error);
  EXPECT_EQ(cli::ParseField(c, "a" + emoji).bytes(), "a" + emoji);
}

TEST(Import, EmojiTextBecomesMemoOrIsRefusedByItsUnits) {
  ScratchDir dir;
  const std::string db = (dir.path() / "e.accdb").string();
  const std::string emoji = "\xF0\x9F\x98\x80";
  std::string e127, e200;
  for (int i = 0; i < 200; ++i) {
    if (i < 127) e127 += emoji;
    e200 += emoji;
  }
  int status = 0;
  Tessaly("create " + testing_support::ShellQuote(db), status);
  ASSERT_EQ(status, 0);
  auto import = [&](const std::string& name, const std::string& text, const std::string& extra) {
    const std::string csv = (dir.path() / (name + ".csv")).string();
    testing_support::WriteFile(csv, text);
    return Tessaly("import " + testing_support::ShellQuote(db) + " " + name + " " +
                       testing_support::ShellQuote(csv) + " " + extra,
                   status);
  };
  std::string out = import("Guessed", "fits,long\n" + e127 + "x," + e200 + "\n", "");
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(Tessaly("columns " + testing_support::ShellQuote(db) + " Guessed", status),
            "fits\ttext\nlong\tmemo\n");
  out = import("Declared", "v\n" + e200 + "\n", "--type v=text");
  EXPECT_EQ(status, 1) << out;
  EXPECT_NE(out.find("too long"), std::string::npos) << out;

  auto d = jet::Database::Open(db, jet::OpenOptions{});
  auto t = d->Table("Guessed");
  jet::TableScan scan(*d, t);
  ASSERT_TRUE(scan.Next());
  EXPECT_EQ(scan.Get(*t->FindColumn("fits")).bytes(), e127 + "x");
  EXPECT_EQ(scan.Get(*t->FindColumn("long")).bytes(), e200);
  EXPECT_EQ(d->UserTables(), std::vector<std::string>{"Guessed"});  // the refused one left nothing
  EXPECT_TRUE(jet::CheckDatabase(*d).ok());
}

class CreateAndImport : public ::testing::TestWithParam<const char*> {};

const char kTypesCsv[] =
    "ID,Name,Price,Qty,Small,Ratio,Exact,Seen,Ok,Notes\n"
    "1,Zoë O'Hara,12.5,-3,7,0.25,1e-10,2001-02-03 04:05:06,yes,\"a, b\"\n"
    "2,,0,2147483647,0,,3.14159,12/31/1899,no,\n"
    "3,García,-0.0001,,255,-1.5,-2,0100-01-01,1,\"x\"\"y\"\n";

TEST_P(CreateAndImport, IndependentReadersSeeTheSameTable) {
  const std::string format = GetParam();
  ScratchDir dir;
  const std::string ext = format.rfind("mdb", 0) == 0 ? ".mdb" : ".accdb";
  const std::string db = (dir.path() / ("new" + ext)).string();
  const std::string csv = (dir.path() / "types.csv").string();
  testing_support::WriteFile(csv, kTypesCsv);
  int status = 0;
  std::string out =
      Tessaly("create " + testing_support::ShellQuote(db) + " --format " + format, status);
  ASSERT_EQ(status, 0) << out;
  // The new file opens everywhere, with no user tables.
  EXPECT_EQ(Tessaly("tables " + testing_support::ShellQuote(db), status), "");
  EXPECT_EQ(status, 0);
  if (HaveMdbReader()) {
    EXPECT_EQ(Shell("cd " + testing_support::ShellQuote(OracleDir()) + " && node dump.mjs --list " +
                        testing_support::ShellQuote(db) + " 2>&1",
                    status),
              "");
    EXPECT_EQ(status, 0);
  }
  if (Have("mdb-tables")) {
    EXPECT_EQ(Shell("mdb-tables -1 " + testing_support::ShellQuote(db) + " 2>&1", status), "");
    EXPECT_EQ(status, 0);
    EXPECT_NE(Shell("mdb-tables -S -1 " + testing_support::ShellQuote(db) + " 2>&1", status)
                  .find("MSysObjects"),
              std::string::npos);
  }
  out = Shell(std::string(TESSALY_CLI) + " import " + testing_support::ShellQuote(db) + " Things " +
                  testing_support::ShellQuote(csv) +
                  " --type ID=counter --type Price=currency --type Qty=long --type Small=byte"
                  " --type Ratio=single --type Ok=yesno --type Notes=memo --key ID 2>/dev/null",
              status);
  ASSERT_EQ(status, 0);
  EXPECT_EQ(out, "3 rows imported into 'Things'.\n");  // no progress bar off a terminal
  EXPECT_EQ(Tessaly("tables " + testing_support::ShellQuote(db), status), "Things\n");
  EXPECT_EQ(Tessaly("columns " + testing_support::ShellQuote(db) + " Things", status),
            "ID\tlong\nName\ttext\nPrice\tcurrency\nQty\tlong\nSmall\tbyte\nRatio\tfloat\n"
            "Exact\tdouble\nSeen\tdatetime\nOk\tboolean\nNotes\tmemo\n");
  out = Tessaly("check " + testing_support::ShellQuote(db), status);
  EXPECT_EQ(status, 0) << out;
  const std::string ours =
      Tessaly("dump " + testing_support::ShellQuote(db) + " Things --format json", status);
  ASSERT_EQ(status, 0);
  bool any = false;
  if (HaveMdbReader()) {
    any = true;
    std::string cmd = "cd " + testing_support::ShellQuote(OracleDir()) + " && node dump.mjs ";
    EXPECT_EQ(Shell(cmd + "--list " + testing_support::ShellQuote(db) + " 2>&1", status),
              "Things\n");
    EXPECT_EQ(Shell(cmd + testing_support::ShellQuote(db) + " Things 2>&1", status), ours);
  }
  if (Have("mdb-export")) {
    any = true;
    EXPECT_EQ(Shell("mdb-tables -1 " + testing_support::ShellQuote(db) + " 2>&1", status),
              "Things\n");
    std::string schema =
        Shell("mdb-schema " + testing_support::ShellQuote(db) + " 2>/dev/null", status);
    for (const char* line :
         {"[ID]\t\t\tLong Integer", "[Name]\t\t\tText (255)", "[Price]\t\t\tCurrency",
          "[Small]\t\t\tByte", "[Ratio]\t\t\tSingle", "[Exact]\t\t\tDouble", "[Seen]\t\t\tDateTime",
          "[Ok]\t\t\tBoolean", "[Notes]\t\t\tMemo/Hyperlink (255)"}) {
      EXPECT_NE(schema.find(line), std::string::npos) << line << "\n" << schema;
    }
    std::string pg =
        Shell("mdb-schema --indexes " + testing_support::ShellQuote(db) + " postgres 2>/dev/null",
              status);
    EXPECT_NE(pg.find("ADD CONSTRAINT \"things_pkey\" PRIMARY KEY (\"id\")"), std::string::npos)
        << pg;
    std::string rows = Shell("mdb-export -Q -d '|' -T '%Y-%m-%d %H:%M:%S' " +
                                 testing_support::ShellQuote(db) + " Things",
                             status);
    EXPECT_NE(rows.find("1|Zoë O'Hara|12.5000|-3|7|0.25|1e-10|2001-02-03 04:05:06|1|a, b"),
              std::string::npos)
        << rows;
    EXPECT_NE(rows.find("3|García|-0.0001||255|-1.5|-2|"), std::string::npos) << rows;
  }
  if (!any) GTEST_SKIP() << "neither mdbtools nor mdb-reader is installed";
}

INSTANTIATE_TEST_SUITE_P(Formats, CreateAndImport,
                         ::testing::Values("mdb2000", "mdb2003", "accdb2007", "accdb2016"));

TEST(Import, GuessesTypesAndAppendsToAnExistingTable) {
  ScratchDir dir;
  const std::string db = (dir.path() / "g.accdb").string();
  const std::string csv = (dir.path() / "g.csv").string();
  testing_support::WriteFile(csv, "n,x,when,what\n1,1.5,2020-01-01,a\n2,2,,b\n");
  int status = 0;
  Tessaly("create " + testing_support::ShellQuote(db), status);
  ASSERT_EQ(status, 0);
  std::string out = Tessaly(
      "import " + testing_support::ShellQuote(db) + " T " + testing_support::ShellQuote(csv),
      status);
  ASSERT_EQ(status, 0) << out;
  EXPECT_EQ(Tessaly("columns " + testing_support::ShellQuote(db) + " T", status),
            "n\tlong\nx\tdouble\nwhen\tdatetime\nwhat\ttext\n");
  out = Tessaly(
      "import " + testing_support::ShellQuote(db) + " T " + testing_support::ShellQuote(csv),
      status);
  ASSERT_EQ(status, 0) << out;
  auto d = jet::Database::Open(db, jet::OpenOptions{});
  EXPECT_EQ(d->version(), jet::Version::kAce16);  // .accdb without --format
  EXPECT_EQ(d->Table("T")->row_count, 4u);
}

TEST(Import, RefusalsSayWhereAndLeaveNothingHalfWritten) {
  ScratchDir dir;
  const std::string db = (dir.path() / "r.mdb").string();
  int status = 0;
  Tessaly("create " + testing_support::ShellQuote(db) + " --format mdb2000", status);
  ASSERT_EQ(status, 0);
  auto import = [&](const std::string& name, const std::string& text, const std::string& extra) {
    const std::string csv = (dir.path() / (name + ".csv")).string();
    testing_support::WriteFile(csv, text);
    return Tessaly("import " + testing_support::ShellQuote(db) + " " + name + " " +
                       testing_support::ShellQuote(csv) + " " + extra,
                   status);
  };
  std::string out = import("Dup", "k,v\n1,a\n2,b\n1,c\n", "--key k");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("Line 4"), std::string::npos) << out;
  EXPECT_NE(out.find("duplicate values"), std::string::npos) << out;
  out = import("Wide", "a\n1,2\n", "");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("Line 2"), std::string::npos) << out;
  out = import("Bad", "a,b\n1,x\n", "--type b=long");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("'x' cannot be stored in the field 'b' (long)"), std::string::npos) << out;
  out = import("Key", "name\nRenée\nZoë\nRENÉE\n", "--key name");
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("Line 4"), std::string::npos) << out;
  EXPECT_NE(out.find("duplicate values"), std::string::npos) << out;
  out = import("Opt", "a\n1\n", "--type b=long");
  EXPECT_EQ(status, 2);
  out = import("Opt", "a\n1\n", "--type a=decimal");
  EXPECT_EQ(status, 2);
  // A refused import leaves nothing behind, not even its new table.
  auto d = jet::Database::Open(db, jet::OpenOptions{});
  EXPECT_EQ(d->UserTables(), std::vector<std::string>{});
  EXPECT_TRUE(jet::CheckDatabase(*d).ok());
}

TEST(Import, SampleDatabaseSourceImports) {
  // The CSV behind Samples/Sample.mdb, imported as the build imports it.
  ScratchDir dir;
  const std::string db = (dir.path() / "Sample.mdb").string();
  int status = 0;
  Tessaly("create " + testing_support::ShellQuote(db) + " --format mdb2003", status);
  ASSERT_EQ(status, 0);
  std::string out = Tessaly("import " + testing_support::ShellQuote(db) + " People " +
                                testing_support::ShellQuote(std::string(TESSALY_TEST_DATA) +
                                                            "/../../src/app/samples/people.csv") +
                                " --type ID=counter --type 'Birth Date=datetime' --key ID",
                            status);
  ASSERT_EQ(status, 0) << out;
  auto d = jet::Database::Open(db, jet::OpenOptions{});
  auto t = d->Table("People");
  EXPECT_EQ(t->autonumber, t->row_count);
  jet::TableScan scan(*d, t);
  int nulls = 0, apostrophes = 0, accents = 0;
  while (scan.Next()) {
    for (const auto& c : t->columns) {
      jet::Value v = scan.Get(c);
      if (v.is_null()) ++nulls;
      if (v.kind() != jet::Value::Kind::kText) continue;
      if (v.bytes().find('\'') != std::string::npos) ++apostrophes;
      for (unsigned char ch : v.bytes()) accents += ch >= 0x80 ? 1 : 0;
    }
  }
  EXPECT_GT(nulls, 0);
  EXPECT_GT(apostrophes, 0);
  EXPECT_GT(accents, 0);
  EXPECT_TRUE(jet::CheckDatabase(*d).ok());
}

}  // namespace
