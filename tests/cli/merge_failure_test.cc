// `tessaly merge` when something goes wrong: whether it is refused before
// anything changes or fails midway, the file is byte for byte as before, one
// line on standard error says why, nothing is counted on standard output,
// and the exit status is 1.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_util.h"
#include "jet/table/create.h"
#include "jet/table/database.h"
#include "jet/table/table_scan.h"
#include "support/test_support.h"

namespace {

using cli_test::Outcome;
using cli_test::Q;
using cli_test::Tessaly;
using testing_support::ReadFile;

class MergeFailure : public ::testing::Test {
 protected:
  void SetUp() override { people_ = scratch_.Copy("generated/people_V2000_200.mdb"); }
  std::string Dir() const { return scratch_.path().string(); }

  // Runs the merge and checks everything a failure must leave: the file as
  // before, one message, no count.
  Outcome ExpectFailureLeavesFile(const std::string& db, const std::string& args,
                                  const std::string& prefix = "") {
    const std::string before = ReadFile(db);
    Outcome r = Tessaly(Dir(), "merge " + Q(db) + " " + args, prefix);
    EXPECT_EQ(r.code, 1) << args << "\n" << r.err;
    EXPECT_EQ(r.out, "") << args;
    EXPECT_EQ(cli_test::LineCount(r.err), 1) << args << "\n" << r.err;
    EXPECT_TRUE(ReadFile(db) == before) << args << ": the file changed";
    EXPECT_FALSE(std::filesystem::exists(db + "-journal")) << args;
    EXPECT_TRUE(cli_test::CheckClean(Dir(), db)) << args;
    return r;
  }

  testing_support::ScratchDir scratch_;
  std::string people_;
};

TEST_F(MergeFailure, RefusalsComeBeforeAnythingChanges) {
  struct Case {
    std::string args;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"MSysObjects --field Name", "'MSysObjects' is a system table"},
      {"msysobjects --field Name --into X", "system table"},
      {"MSysACEs --field ACM", "system table"},
      {"Types --field TextVal --field BinVal",
       "Please use fields of same datatype. The field 'BinVal'"},
      {"People --field First --field Nope", "has no field named 'Nope'"},
      {"NoTable --field First", "NoTable"},
      {"People --field First --into First", "fields to merge"},
  };
  for (const auto& c : cases) {
    Outcome r = ExpectFailureLeavesFile(people_, c.args);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_EQ(r.err.rfind("tessaly: ", 0), 0u) << r.err;
  }
}

// A table whose X column holds a value no condition can match (infinity),
// beside an ID and a column Full that an earlier merge filled.
std::string NumbersWithInfinity(const std::string& dir) {
  const std::string path = dir + "/nums.mdb";
  jet::FileFormat format;
  EXPECT_TRUE(jet::ParseFileFormat("mdb2003", format));
  jet::CreateDatabase(path, format);
  auto db = jet::Database::Open(path, jet::OpenOptions{"", true});
  jet::NewColumn id, x;
  id.name = "ID";
  id.type = jet::ColumnType::kLong;
  x.name = "X";
  x.type = jet::ColumnType::kDouble;
  db->CreateTable("Nums", {id, x}, {});
  auto t = db->Table("Nums");
  for (int i = 1; i <= 50; ++i) {
    db->InsertRow(*t, {{t->FindColumn("ID"), jet::Value::Int(i)},
                       {t->FindColumn("X"), jet::Value::Double(i == 37 ? INFINITY : i / 4.0)}});
  }
  db->Commit();
  return path;
}

std::vector<std::string> Column(const std::string& path, const std::string& table,
                                const std::string& column) {
  auto db = jet::Database::Open(path, jet::OpenOptions{});
  auto t = db->Table(table);
  jet::TableScan scan(*db, t);
  std::vector<std::string> values;
  while (scan.Next()) values.push_back(jet::TextForm(scan.Get(*t->FindColumn(column))));
  return values;
}

TEST_F(MergeFailure, AValueThatCannotBeMatchedMidwayUndoesTheWholeMerge) {
  const std::string nums = NumbersWithInfinity(Dir());
  // A column that a merge filled, to be replaced by one that fails.
  Outcome first = Tessaly(Dir(), "merge " + Q(nums) + " Nums --field ID --into Full");
  ASSERT_EQ(first.code, 0) << first.err;
  const std::vector<std::string> full = Column(nums, "Nums", "Full");
  ASSERT_EQ(full.size(), 50u);

  Outcome r = ExpectFailureLeavesFile(nums, "Nums --field X --into Full --yes");
  EXPECT_NE(r.err.find("Please use fields of same datatype."), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Nothing was changed."), std::string::npos) << r.err;
  // The replaced column is back with what it held, and no other came.
  EXPECT_EQ(Column(nums, "Nums", "Full"), full);
  EXPECT_EQ(Tessaly(Dir(), "columns " + Q(nums) + " Nums").out,
            "ID\tlong\nX\tdouble\nFull\tmemo\n");

  // The same into a new column: none is left behind.
  ExpectFailureLeavesFile(nums, "Nums --field ID --field X");
  EXPECT_EQ(Tessaly(Dir(), "columns " + Q(nums) + " Nums").out,
            "ID\tlong\nX\tdouble\nFull\tmemo\n");
}

TEST_F(MergeFailure, AFullDiskCountsNothingAndChangesNothing) {
  // No file may pass 4 KiB: neither the journal nor the pages of the commit
  // can be written, as on a disk without room.
  Outcome r = ExpectFailureLeavesFile(people_, "People --field First --field Last",
                                      "trap '' XFSZ; ulimit -f 8;");
  EXPECT_EQ(r.err.find("rows written"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Nothing was changed."), std::string::npos) << r.err;
  // Without the limit the same merge goes through.
  Outcome ok = Tessaly(Dir(), "merge " + Q(people_) + " People --field First --field Last");
  EXPECT_EQ(ok.code, 0) << ok.err;
  EXPECT_NE(ok.out.find(" 200 rows written\n"), std::string::npos) << ok.out;
}

// Runs as the user nobody, who may read but not write files of root's.
std::string AsNobody() { return "setpriv --reuid=65534 --regid=65534 --clear-groups"; }

bool HaveSetpriv() {
  return std::system("command -v setpriv >/dev/null 2>&1 && [ \"$(id -u)\" = 0 ]") == 0;
}

TEST_F(MergeFailure, AFileThatCannotBeWrittenOrReadSaysWhich) {
  if (!HaveSetpriv()) GTEST_SKIP() << "needs root and setpriv to act as another user";
  ::chmod(Dir().c_str(), 0755);
  ::chmod(people_.c_str(), 0644);
  Outcome r = ExpectFailureLeavesFile(people_, "People --field First", AsNobody());
  EXPECT_NE(r.err.find("read-only"), std::string::npos) << r.err;

  ::chmod(people_.c_str(), 0600);
  for (const std::string& command :
       {"merge " + Q(people_) + " People --field First", "tables " + Q(people_)}) {
    Outcome unreadable = Tessaly(Dir(), command, AsNobody());
    EXPECT_EQ(unreadable.code, 1) << command;
    EXPECT_EQ(cli_test::LineCount(unreadable.err), 1) << unreadable.err;
    EXPECT_NE(unreadable.err.find("Permission denied"), std::string::npos) << unreadable.err;
    EXPECT_EQ(unreadable.err.find("read-only"), std::string::npos) << unreadable.err;
  }
  // A folder without access hides the file: not "no such file".
  ::chmod(Dir().c_str(), 0700);
  testing_support::ScratchDir elsewhere;
  for (const std::string& command :
       {"merge " + Q(people_) + " People --field First", "tables " + Q(people_)}) {
    Outcome hidden = Tessaly(elsewhere.path().string(), command, AsNobody());
    EXPECT_EQ(hidden.code, 1) << command;
    EXPECT_NE(hidden.err.find("Permission denied"), std::string::npos) << hidden.err;
    EXPECT_EQ(hidden.err.find("no such file"), std::string::npos) << hidden.err;
  }
  ::chmod(Dir().c_str(), 0755);
}

}  // namespace
