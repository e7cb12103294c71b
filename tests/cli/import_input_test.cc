// `tessaly import` from what a shell can hand it (pipes, FIFOs, standard
// input), and when it fails: a failed import leaves the file byte for byte
// as it was, neither a new table nor any row, and says why in one line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "cli/cli_util.h"
#include "jet/table/database.h"
#include "support/test_support.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSALY_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TESSALY_TEST_ASAN 1
#endif

namespace {

using cli_test::Outcome;
using cli_test::Q;
using cli_test::Tessaly;
using testing_support::ReadFile;
using testing_support::WriteFile;

// n,name: n from 1 to rows, name "name n" (and O'Hara now and then).
std::string NumberedCsv(int rows) {
  std::string csv = "n,name\n";
  for (int i = 1; i <= rows; ++i) {
    csv += std::to_string(i) + "," + (i % 97 == 0 ? "\"O'Hara, " : "\"name ") + std::to_string(i) +
           "\"\n";
  }
  return csv;
}

class ImportInput : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = Dir() + "/t.accdb";
    ASSERT_EQ(Tessaly(Dir(), "create " + Q(db_)).code, 0);
    csv_ = Dir() + "/rows.csv";
    WriteFile(csv_, NumberedCsv(1500));
  }
  std::string Dir() const { return scratch_.path().string(); }
  uint32_t Rows(const std::string& table) {
    auto d = jet::Database::Open(db_, jet::OpenOptions{});
    return d->Table(table)->row_count;
  }
  std::vector<std::string> Tables() {
    return jet::Database::Open(db_, jet::OpenOptions{})->UserTables();
  }
  // Imports with `source` as the shell gives it and checks a failure left
  // everything as it was.
  Outcome ExpectFailureLeavesFile(const std::string& args, const std::string& prefix = "") {
    const std::string before = ReadFile(db_);
    const auto tables = Tables();
    Outcome r = Tessaly(Dir(), "import " + Q(db_) + " " + args, prefix);
    EXPECT_EQ(r.code, 1) << args << "\n" << r.err;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_EQ(cli_test::LineCount(r.err), 1) << args << "\n" << r.err;
    EXPECT_TRUE(ReadFile(db_) == before) << args << ": the file changed";
    EXPECT_EQ(Tables(), tables) << args;
    EXPECT_TRUE(cli_test::CheckClean(Dir(), db_)) << args;
    return r;
  }

  testing_support::ScratchDir scratch_;
  std::string db_;
  std::string csv_;
};

TEST_F(ImportInput, PipesFifosAndStandardInputAreReadOnceAndWhole) {
  const std::string fifo = Dir() + "/rows.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    const char* table;
    std::string args;
    std::string prefix;
  } sources[] = {
      {"FromFile", "FromFile " + Q(csv_), ""},
      {"FromPipe", "FromPipe - ", "cat " + Q(csv_) + " |"},
      {"FromStdin", "FromStdin /dev/stdin < " + Q(csv_), ""},
      {"FromDash", "FromDash - < " + Q(csv_), ""},
      {"FromFifo", "FromFifo " + Q(fifo), "cat " + Q(csv_) + " > " + Q(fifo) + " & "},
  };
  std::string first_dump;
  for (const auto& s : sources) {
    Outcome r = Tessaly(Dir(), "import " + Q(db_) + " " + s.args, s.prefix);
    ASSERT_EQ(r.code, 0) << s.table << ": " << r.err;
    EXPECT_EQ(r.out, "1500 rows imported into '" + std::string(s.table) + "'.\n");
    EXPECT_EQ(Rows(s.table), 1500u) << s.table;
    EXPECT_EQ(Tessaly(Dir(), "columns " + Q(db_) + " " + s.table).out, "n\tlong\nname\ttext\n");
    const std::string dump = Tessaly(Dir(), "dump " + Q(db_) + " " + s.table + " --format csv").out;
    if (first_dump.empty()) first_dump = dump;
    EXPECT_EQ(dump, first_dump) << s.table;
  }
  EXPECT_EQ(first_dump.rfind("\"n\",\"name\"\n1,\"name 1\"\n", 0), 0u) << first_dump.substr(0, 40);
  EXPECT_TRUE(cli_test::CheckClean(Dir(), db_));
}

TEST_F(ImportInput, AFailureAnywhereLeavesNeitherTableNorRows) {
  // A value that does not fit the type guessed from the first 1000 records.
  WriteFile(Dir() + "/late.csv", NumberedCsv(1200) + "oops,late\n");
  Outcome late = ExpectFailureLeavesFile("Late late.csv");
  EXPECT_NE(late.err.find("Line 1202: The value 'oops' cannot be stored in the field 'n' (long)"),
            std::string::npos)
      << late.err;
  EXPECT_NE(late.err.find("--type NAME=TYPE"), std::string::npos) << late.err;
  // ... which --type mends.
  EXPECT_EQ(Tessaly(Dir(), "import " + Q(db_) + " Late late.csv --type n=text").code, 0);
  EXPECT_EQ(Rows("Late"), 1201u);

  // A field beyond the limit, well after the table was made.
  WriteFile(Dir() + "/big.csv", NumberedCsv(1100) + "1," + std::string(2 << 20, 'x') + "\n");
  Outcome big = ExpectFailureLeavesFile("Big big.csv");
  EXPECT_NE(big.err.find("a field longer than 1048576 bytes on line 1102"), std::string::npos)
      << big.err;

  // Rows appended to an existing table: none of them stays.
  ASSERT_EQ(Tessaly(Dir(), "import " + Q(db_) + " Keyed rows.csv --type n=long --key n").code, 0);
  WriteFile(Dir() + "/dup.csv", "n,name\n5000,new\n5001,new\n700,again\n");
  Outcome dup = ExpectFailureLeavesFile("Keyed dup.csv");
  EXPECT_NE(dup.err.find("Line 4"), std::string::npos) << dup.err;
  EXPECT_NE(dup.err.find("Nothing was imported."), std::string::npos) << dup.err;
  EXPECT_EQ(Rows("Keyed"), 1500u);

  // No room on the disk for the journal or the pages.
  Outcome full = ExpectFailureLeavesFile("Full rows.csv", "trap '' XFSZ; ulimit -f 8;");
  EXPECT_EQ(full.err.find("rows imported"), std::string::npos) << full.err;
}

TEST_F(ImportInput, EndlessOrForeignInputEndsInAWholeClearMessage) {
  // Bounded however long the input: under a gigabyte of address space and
  // half a minute, an endless stream meets a limit and ends.
  // A sanitizer build reserves far more address space than any limit on it
  // allows; its own limit on resident memory does the same job there.
#ifdef TESSALY_TEST_ASAN
  const std::string limit = "export ASAN_OPTIONS=\"$ASAN_OPTIONS:hard_rss_limit_mb=1000\";";
#else
  const std::string limit = "ulimit -v 1000000;";
#endif
  Outcome zero = ExpectFailureLeavesFile("Zero /dev/zero", limit + " timeout 30");
  EXPECT_NE(zero.err.find("holds NUL bytes in its first line"), std::string::npos) << zero.err;
  Outcome endless =
      ExpectFailureLeavesFile("Endless -", limit + " yes abc | tr -d '\\n' | timeout 30");
  EXPECT_NE(endless.err.find("a field longer than 1048576 bytes on line 1"), std::string::npos)
      << endless.err;
  Outcome commas = ExpectFailureLeavesFile("Commas -", limit + " yes , | tr -d '\\n' | timeout 30");
  EXPECT_NE(commas.err.find("more than 1024 fields on line 1"), std::string::npos) << commas.err;

  std::filesystem::create_directory(Dir() + "/folder.csv");
  Outcome folder = ExpectFailureLeavesFile("F folder.csv");
  EXPECT_NE(folder.err.find("'folder.csv' is a folder, not a CSV file."), std::string::npos)
      << folder.err;

  // UTF-16, with its byte-order mark and without: the message is whole.
  WriteFile(Dir() + "/utf16.csv", std::string("\xFF\xFEn\0a\0m\0e\0\n\0", 12));
  Outcome bom = ExpectFailureLeavesFile("U utf16.csv");
  EXPECT_NE(bom.err.find("'utf16.csv' is UTF-16 text; save it as UTF-8 (or Windows-1252) and "
                         "import it again."),
            std::string::npos)
      << bom.err;
  WriteFile(Dir() + "/nul.csv", std::string("n\0a\0m\0e\0,x\n1,2\n", 16));
  Outcome nul = ExpectFailureLeavesFile("N nul.csv");
  EXPECT_NE(nul.err.find("'nul.csv' holds NUL bytes in its first line"), std::string::npos)
      << nul.err;
  EXPECT_NE(nul.err.find("save it as UTF-8 and import it again."), std::string::npos) << nul.err;
}

}  // namespace
