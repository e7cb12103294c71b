// `tessaly merge` as a user runs it: exit codes, what it prints, and the
// replace question answered by --yes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <set>

#include "merge/run_util.h"
#include "support/test_support.h"

namespace {

using Strings = std::vector<std::string>;

struct Result {
  int code;
  std::string out;
  std::string err;
};

class MergeCommandTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = scratch_.Copy("generated/people_V2000_200.mdb"); }

  Result Tessaly(const std::string& args) {
    const std::string out = (scratch_.path() / "out.txt").string();
    const std::string err = (scratch_.path() / "err.txt").string();
    const std::string command =
        std::string(TESSALY_CLI) + " " + args + " > '" + out + "' 2> '" + err + "'";
    int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing_support::ReadFile(out),
            testing_support::ReadFile(err)};
  }
  std::string Db() const { return "'" + path_ + "'"; }

  testing_support::ScratchDir scratch_;
  std::string path_;
};

TEST_F(MergeCommandTest, MergesAndCountsCombinationsAndRows) {
  Result r = Tessaly("merge " + Db() + " People --field First --field Last --spaces");
  ASSERT_EQ(r.code, 0) << r.err;
  std::set<std::string> combinations;
  for (const auto& row :
       merge_test::ReadRows(path_, "People", {"First", "Last", "Result_Column"})) {
    combinations.insert(jet::TextForm(row[0]) + "\x1f" + jet::TextForm(row[1]) +
                        (row[0].is_null() ? "N" : "") + (row[1].is_null() ? "N" : ""));
    EXPECT_EQ(row[2].bytes(), merge_test::Merged({row[0], row[1]}, true));
  }
  EXPECT_EQ(r.out, std::to_string(combinations.size()) + " combinations, 200 rows written\n");
}

TEST_F(MergeCommandTest, ReplacingAColumnNeedsYes) {
  ASSERT_EQ(Tessaly("merge " + Db() + " People --field First --into Full").code, 0);
  const std::string before = testing_support::ReadFile(path_);

  Result refused = Tessaly("merge " + Db() + " People --field Last --into Full");
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("\"Full\""), std::string::npos) << refused.err;
  EXPECT_NE(refused.err.find("--yes"), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(testing_support::ReadFile(path_), before);

  Result replaced = Tessaly("merge " + Db() + " People --field Last --into Full --yes");
  EXPECT_EQ(replaced.code, 0) << replaced.err;
  for (const auto& row : merge_test::ReadRows(path_, "People", {"Last", "Full"})) {
    EXPECT_EQ(row[1].bytes(), jet::TextForm(row[0]));
  }
}

TEST_F(MergeCommandTest, EveryFailureGivesANonZeroExit) {
  struct Case {
    std::string args;
    int code;
    std::string says;
  };
  const std::vector<Case> cases = {
      {"merge " + Db() + " Types --field TextVal --field BinVal", 1, "same datatype"},
      {"merge " + Db() + " People --field First --into 'a.b'", 1, "cannot contain"},
      {"merge " + Db() + " People --field First --into First", 1, "fields to merge"},
      {"merge " + Db() + " People --field Nope", 1, "has no field named 'Nope'"},
      {"merge " + Db() + " NoTable --field First", 1, "'NoTable' does not exist"},
      {"merge /nonexistent/x.mdb People --field First", 1, "no such file"},
      {"merge " + Db() + " People", 2, "at least one --field"},
      {"merge " + Db() + " People --field 'a, b'", 2, "cannot merge a field"},
      {"merge " + Db() + " People --field First --bogus", 2, "unknown option"},
  };
  for (const auto& c : cases) {
    Result r = Tessaly(c.args);
    EXPECT_EQ(r.code, c.code) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
  }
}

}  // namespace
