// A merge is one transaction: killed at any instant, or failing at any write
// or sync of the file and its journal, it leaves the table exactly as it was
// or complete, and the file sound. The wizard's run then shows one report
// and never "Done.".
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "db/access.h"
#include "db/ado.h"
#include "db/sql.h"
#include "jet/table/check.h"
#include "jet/table/database.h"
#include "merge/merge_run.h"
#include "merge/recording_page.h"
#include "merge/run_util.h"
#include "support/fault_file_system.h"
#include "support/test_support.h"

namespace {

using testing_support::FaultFileSystem;
using testing_support::ReadFile;
using testing_support::ScratchDir;

enum class State { kBefore, kComplete };

// What the file holds: the table as before (no result column), or with the
// column filled for every row. Anything else fails the test.
State Examine(const std::string& path, const std::string& what) {
  auto db = jet::Database::Open(path, jet::OpenOptions{});
  const jet::CheckReport r = jet::CheckDatabase(*db);
  EXPECT_TRUE(r.ok()) << what << ": " << (r.problems.empty() ? "" : r.problems[0]);
  auto t = db->Table("People");
  if (!t->FindColumn("Result_Column")) return State::kBefore;
  db.reset();
  for (const auto& row : merge_test::ReadRows(path, "People", {"First", "Last", "Result_Column"})) {
    EXPECT_EQ(row[2].bytes(), merge_test::Merged({row[0], row[1]}, false)) << what;
  }
  return State::kComplete;
}

// What a child process does with the database at `path`; it never returns.
using ChildBody = std::function<void(const std::string& path)>;

// Runs `body` in a child and kills it after `wait` (or lets it finish when
// `wait` is negative); returns how long it ran.
std::chrono::microseconds RunChild(const ChildBody& body, const std::string& path,
                                   std::chrono::microseconds wait) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) body(path);
  if (wait.count() >= 0) {
    std::this_thread::sleep_for(wait);
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (wait.count() < 0) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

// `tessaly merge` of First and Last; with `replace`, the column is there
// already and is replaced (--yes).
std::chrono::microseconds MergeChild(const std::string& path, std::chrono::microseconds wait,
                                     bool replace = false) {
  return RunChild(
      [replace](const std::string& p) {
        execl(TESSALY_CLI, TESSALY_CLI, "merge", p.c_str(), "People", "--field", "First",
              "--field", "Last", replace ? "--yes" : static_cast<char*>(nullptr),
              static_cast<char*>(nullptr));
        _exit(127);
      },
      path, wait);
}

// Kills `body` at `rounds` random instants spread over a whole run (however
// fast this build is): each time the table is as before or complete, and
// both happen.
void KillAtRandomInstants(const ChildBody& body, int rounds, uint32_t seed) {
  std::chrono::microseconds whole{0};
  {
    ScratchDir dir;
    const std::string path = dir.Copy("generated/people_V2000_200.mdb");
    whole = RunChild(body, path, std::chrono::microseconds(-1));
    ASSERT_EQ(Examine(path, "uninterrupted"), State::kComplete);
  }
  std::mt19937 rng(seed);
  int before = 0, complete = 0;
  for (int round = 0; round < rounds; ++round) {
    ScratchDir dir;
    const std::string path = dir.Copy("generated/people_V2000_200.mdb");
    const std::string original = ReadFile(path);
    RunChild(body, path, std::chrono::microseconds(rng() % (whole.count() * 3 / 2 + 1)));
    const State s = Examine(path, "kill round " + std::to_string(round));
    if (s == State::kBefore) {
      ++before;
      EXPECT_EQ(ReadFile(path), original) << "round " << round;
    } else {
      ++complete;
    }
  }
  // The kills fell both before and after the commit.
  EXPECT_GT(before, 0);
  EXPECT_GT(complete, 0);
}

TEST(MergeAllOrNothing, KilledAtRandomInstants) {
  KillAtRandomInstants(
      [](const std::string& p) {
        execl(TESSALY_CLI, TESSALY_CLI, "merge", p.c_str(), "People", "--field", "First",
              "--field", "Last", static_cast<char*>(nullptr));
        _exit(127);
      },
      24, 9121);
}

// A replaced column is either still the old one, contents and all, or the
// merged one: a kill never leaves it dropped, empty or half filled.
TEST(MergeAllOrNothing, AReplacedColumnSurvivesKillsWhole) {
  auto prepare = [](ScratchDir& dir) {
    const std::string path = dir.Copy("generated/people_V2000_200.mdb");
    merge_test::ExecuteAll(path, {"ALTER TABLE [People] ADD COLUMN [Result_Column] memo",
                                  "UPDATE [People] SET [Result_Column]='old'"});
    return path;
  };
  std::chrono::microseconds whole{0};
  {
    ScratchDir dir;
    whole = MergeChild(prepare(dir), std::chrono::microseconds(-1), true);
  }
  std::mt19937 rng(5147);
  int before = 0, complete = 0;
  for (int round = 0; round < 16; ++round) {
    ScratchDir dir;
    const std::string path = prepare(dir);
    const std::string original = ReadFile(path);
    MergeChild(path, std::chrono::microseconds(rng() % (whole.count() * 3 / 2 + 1)), true);
    const bool old = merge_test::ReadRows(path, "People", {"Result_Column"})[0][0].bytes() == "old";
    if (old) {
      ++before;
      EXPECT_EQ(ReadFile(path), original) << "round " << round;
    } else {
      ++complete;
      EXPECT_EQ(Examine(path, "replace round " + std::to_string(round)), State::kComplete);
    }
  }
  EXPECT_GT(before, 0);
  EXPECT_GT(complete, 0);
}

// The merge's statements through one connection in one transaction, with the
// file system failing on cue underneath.
bool MergeWithFaults(const std::string& path, FaultFileSystem& files,
                     size_t spill_bytes = jet::OpenOptions{}.spill_bytes, size_t* spills = nullptr) {
  auto held = jet::Database::Open(path, jet::OpenOptions{"", true, &files, spill_bytes});
  db::Connection c;
  c.Mode = db::kModeReadWrite;
  c.Open(db::BuildConnectionString(path, ""));
  try {
    c.BeginTrans();
    c.Execute("ALTER TABLE [People] ADD COLUMN [Result_Column] memo");
    const auto rows = merge_test::ReadRows(path, "People", {"ID", "First", "Last"});
    for (const auto& row : rows) {
      c.Execute("update [People] set [Result_Column]=" +
                db::sql::QuoteText(merge_test::Merged({row[1], row[2]}, false)) +
                " where [ID]=" + std::to_string(row[0].as_int()));
    }
    if (spills) *spills = held->pager().spills();
    c.CommitTrans();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// Runs `attempt` on a fresh copy of the table with the Nth write failing,
// cut short or a sync failing, for n = 1, 2, ... until it gets through;
// `attempt` says whether it did. A complete attempt leaves the merge complete,
// every other one the file byte for byte as before.
void ForEachFault(
    const std::function<bool(const std::string& path, FaultFileSystem& files)>& attempt) {
  for (const char* kind : {"write", "cut write", "sync"}) {
    int failed = 0;
    for (int n = 1;; ++n) {
      SCOPED_TRACE(std::string(kind) + " " + std::to_string(n));
      ScratchDir dir;
      const std::string path = dir.Copy("generated/people_V2000_200.mdb");
      const std::string original = ReadFile(path);
      FaultFileSystem files;
      if (std::string(kind) == "sync") {
        files.FailSync(n);
      } else {
        files.FailWrite(n, std::string(kind) == "cut write");
      }
      const bool done = attempt(path, files);
      const State s = Examine(path, kind);
      if (done) {
        EXPECT_EQ(s, State::kComplete);
        break;  // the merge needed fewer than n of them
      }
      ++failed;
      EXPECT_EQ(s, State::kBefore);
      EXPECT_EQ(ReadFile(path), original);
      ASSERT_LT(n, 2000) << "the merge never got through";
    }
    EXPECT_GT(failed, 2) << kind;
  }
}

// With a bound of a few pages the merge writes its changes into the file many
// times before the commit; a failure at any of those writes or syncs must
// still leave the table as before.
void FailEachWriteAndSync(size_t spill_bytes) {
  {
    ScratchDir dir;
    const std::string path = dir.Copy("generated/people_V2000_200.mdb");
    FaultFileSystem files;
    size_t spills = 0;
    ASSERT_TRUE(MergeWithFaults(path, files, spill_bytes, &spills));
    if (spill_bytes < 100000) {
      EXPECT_GT(spills, 5u);
    } else {
      EXPECT_EQ(spills, 0u);
    }
  }
  ForEachFault([&](const std::string& path, FaultFileSystem& files) {
    return MergeWithFaults(path, files, spill_bytes);
  });
}

// The same merge in a child process with a bound of two pages, so that most
// kills land while changes are being written into the file ahead of the commit.
TEST(MergeAllOrNothing, KilledAtRandomInstantsWhileChangesSpill) {
  KillAtRandomInstants(
      [](const std::string& p) {
        FaultFileSystem files;  // fails nothing
        _exit(MergeWithFaults(p, files, 8192) ? 0 : 1);
      },
      40, 5407);
}

TEST(MergeAllOrNothing, EveryWriteOrSyncThatFailsOrIsCutShort) {
  FailEachWriteAndSync(jet::OpenOptions{}.spill_bytes);
}

TEST(MergeAllOrNothing, EveryWriteOrSyncThatFailsWhileChangesSpill) { FailEachWriteAndSync(8192); }

// The wizard's own run over the same faults: the file stays as before with
// exactly one error report and the button unchanged, or the merge is
// complete and "Done." follows.
TEST(MergeAllOrNothing, TheRunShowsOneReportAndNoDoneForEveryFailingWriteOrSync) {
  std::set<int> labels;
  ForEachFault([&](const std::string& path, FaultFileSystem& files) {
    merge::RecordingMergePage page;
    merge_test::SetUp(page, path, "People", {"First", "Last"});
    merge::MergeOutcome outcome;
    {
      auto held = jet::Database::Open(path, jet::OpenOptions{"", true, &files});
      merge::MergeRun run(page);
      outcome = run.Press();
    }
    if (outcome.status == merge::MergeOutcome::Status::kFinished) {
      EXPECT_EQ(merge_test::Notices(page), std::vector<std::string>{"Done."});
      EXPECT_TRUE(merge_test::Reports(page).empty());
      return true;
    }
    EXPECT_EQ(outcome.status, merge::MergeOutcome::Status::kFailed);
    const std::vector<std::string> reports = merge_test::Reports(page);
    EXPECT_EQ(reports.size(), 1u);
    if (!reports.empty()) labels.insert(merge_test::ReportedLabel(reports[0]));
    EXPECT_TRUE(merge_test::Notices(page).empty());
    EXPECT_EQ(page.caption, merge::kStartCaption);
    EXPECT_FALSE(page.merge_done);
    return false;
  });
  // Writes fail in the statements that change the table (its new column, an
  // UPDATE) or at the commit; each is the step named, never a later one.
  EXPECT_TRUE(labels.count(202)) << "the commit";
  for (int label : labels) EXPECT_TRUE(label == 124 || label == 194 || label == 202) << label;
}

}  // namespace
