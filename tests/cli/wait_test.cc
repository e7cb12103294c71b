// The command line beside another process that has the file open for
// writing: reading goes on, a second writer waits up to --wait and then says
// "in use", and one that waits long enough gets in once the first closes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "cli/cli_util.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace {

using cli_test::Outcome;
using cli_test::Q;
using cli_test::Tessaly;
using testing_support::ReadFile;
using testing_support::ScratchDir;

// A child that opens the file for writing, changes a row without committing
// and holds the file for `hold_ms`; returns once the change is made.
pid_t HoldForWriting(const std::string& path, int hold_ms) {
  int ready[2];
  EXPECT_EQ(pipe(ready), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    close(ready[0]);
    auto db = jet::Database::Open(path, jet::OpenOptions{"", true});
    auto t = db->Table("People");
    jet::TableScan scan(*db, t);
    scan.Next();
    db->UpdateRow(*t, scan.id(), {{t->FindColumn("First"), jet::Value::Text("Held")}});
    (void)!write(ready[1], "x", 1);
    usleep(hold_ms * 1000);
    _exit(0);  // never commits
  }
  close(ready[1]);
  char c;
  EXPECT_EQ(read(ready[0], &c, 1), 1);
  close(ready[0]);
  return pid;
}

TEST(Wait, ReadersGoOnAndASecondWriterGivesUpAfterItsWait) {
  ScratchDir dir;
  const std::string db = dir.Copy("generated/people_V2000_200.mdb");
  const std::string before = ReadFile(db);
  const pid_t holder = HoldForWriting(db, 1500);
  // Its journal lies beside the file; readers neither wait nor replay it.
  const Outcome dump = Tessaly(dir.path().string(), "dump " + Q(db) + " People --wait 0");
  EXPECT_EQ(dump.code, 0) << dump.err;
  EXPECT_EQ(dump.out.find("Held"), std::string::npos);
  const Outcome check = Tessaly(dir.path().string(), "check " + Q(db) + " --wait 0");
  EXPECT_EQ(check.code, 0) << check.err;

  const Outcome merge =
      Tessaly(dir.path().string(), "merge " + Q(db) + " People --field First --wait 0.2");
  EXPECT_EQ(merge.code, 1);
  EXPECT_NE(merge.err.find("in use"), std::string::npos) << merge.err;
  EXPECT_EQ(cli_test::LineCount(merge.err), 1) << merge.err;
  const std::string csv = (dir.path() / "other.csv").string();
  testing_support::WriteFile(csv, "A\n1\n");
  const Outcome import =
      Tessaly(dir.path().string(), "import " + Q(db) + " Other " + Q(csv) + " --wait 0");
  EXPECT_EQ(import.code, 1);
  EXPECT_NE(import.err.find("in use"), std::string::npos) << import.err;
  EXPECT_EQ(testing_support::WaitForChild(holder), 0);
  EXPECT_EQ(ReadFile(db), before);
}

TEST(Wait, AWriterThatWaitsLongEnoughGetsInWhenTheFirstCloses) {
  ScratchDir dir;
  const std::string db = dir.Copy("generated/people_V2000_200.mdb");
  const pid_t holder = HoldForWriting(db, 300);
  const Outcome merge =
      Tessaly(dir.path().string(), "merge " + Q(db) + " People --field First --wait 20");
  EXPECT_EQ(merge.code, 0) << merge.err;
  EXPECT_EQ(testing_support::WaitForChild(holder), 0);
  EXPECT_TRUE(cli_test::CheckClean(dir.path().string(), db));
}

TEST(Wait, AWaitThatIsNoNumberIsAUsageError) {
  ScratchDir dir;
  const std::string db = dir.Copy("generated/people_V2000_200.mdb");
  for (const char* bad : {"--wait", "--wait soon", "--wait -1", "--wait 1e9"}) {
    const Outcome r = Tessaly(dir.path().string(), "tables " + Q(db) + " " + bad);
    EXPECT_EQ(r.code, 2) << bad;
    EXPECT_NE(r.err.find("--wait"), std::string::npos) << r.err;
  }
  EXPECT_EQ(Tessaly(dir.path().string(), "tables " + Q(db) + " --wait 1.5").code, 0);
  // A command that never waits does not take it.
  EXPECT_EQ(Tessaly(dir.path().string(), "create " + Q(dir.path().string() + "/n.mdb") +
                                             " --wait 1")
                .code,
            2);
}

}  // namespace
