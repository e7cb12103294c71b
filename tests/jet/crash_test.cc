// The file survives interrupted writes: a process killed at any moment, a
// commit cut short after any page, and writes that fail as on a full disk
// all leave a database that opens, checks clean and holds the last commit.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <thread>

#include "jet/table/check.h"
#include "jet/table/database.h"
#include "support/fault_file_system.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::FaultFileSystem;
using testing_support::ScratchDir;

constexpr const char* kFixture = "generated/people_V2000_200.mdb";
constexpr const char* kTable = "People";

// Batch b gives each row a value whose size depends on b and the row, so
// rows grow, shrink, move and change long-value pages between batches.
std::string ValueFor(int batch, uint32_t row) {
  size_t len = (batch * 7919u + row * 104729u) % 6000u;
  if (batch % 4 == 0) len %= 60;
  std::string v = "b" + std::to_string(batch) + "r" + std::to_string(row) + ":";
  v.append(len, static_cast<char>('a' + (batch + row) % 26));
  return v;
}

std::vector<RowId> RowIds(Database& db) {
  std::vector<RowId> ids;
  TableScan scan(db, db.Table(kTable));
  while (scan.Next()) ids.push_back(scan.id());
  return ids;
}

void WriteBatch(Database& db, int batch) {
  auto t = db.Table(kTable);
  const Column* m = t->FindColumn("Merged");
  for (RowId id : RowIds(db))
    db.UpdateRow(*t, id, {{m, Value::Text(ValueFor(batch, id.Packed()))}});
}

std::string Prepare(ScratchDir& dir) {
  std::string path = dir.Copy(kFixture);
  auto db = Database::Open(path, OpenOptions{"", true});
  db->AddColumn(kTable, "Merged", ColumnType::kMemo);
  db->Commit();
  return path;
}

// Which batch the file holds: -1 for all nulls; fails when rows disagree.
int CommittedBatch(const std::string& path) {
  auto db = Database::Open(path, OpenOptions{"", false});
  CheckReport r = CheckDatabase(*db);
  EXPECT_TRUE(r.ok()) << (r.problems.empty() ? "" : r.problems[0]);
  auto t = db->Table(kTable);
  const Column* m = t->FindColumn("Merged");
  EXPECT_NE(m, nullptr);
  if (!m) return -2;
  int batch = -2;
  TableScan scan(*db, t);
  size_t rows = 0;
  while (scan.Next()) {
    Value v = scan.Get(*m);
    int b = -1;
    if (!v.is_null()) b = std::stoi(v.bytes().substr(1));
    if (batch == -2) batch = b;
    EXPECT_EQ(b, batch) << "rows hold values of different commits";
    if (b >= 0) {
      EXPECT_TRUE(v.bytes() == ValueFor(b, scan.id().Packed())) << "a value is torn";
    }
    ++rows;
  }
  EXPECT_EQ(rows, 200u);
  return batch;
}

// How long one batch and its commit take in this build on this machine
// (sanitizers and a busy machine make it many times slower).
std::chrono::microseconds BatchTime() {
  ScratchDir dir;
  std::string path = Prepare(dir);
  auto db = Database::Open(path, OpenOptions{"", true});
  auto start = std::chrono::steady_clock::now();
  for (int b = 0; b < 2; ++b) {
    WriteBatch(*db, b);
    db->Commit();
  }
  auto spent = std::chrono::steady_clock::now() - start;
  return std::chrono::duration_cast<std::chrono::microseconds>(spent) / 2;
}

TEST(Crash, KilledWriterLeavesTheLastCommit) {
  std::mt19937 rng(20261208);
  int highest = -1;
  // Kills spread over the first few batches, however fast they run here.
  const uint32_t window = static_cast<uint32_t>(std::max<int64_t>(150000, 4 * BatchTime().count()));
  for (int round = 0; round < 30; ++round) {
    ScratchDir dir;
    std::string path = Prepare(dir);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      auto db = Database::Open(path, OpenOptions{"", true});
      for (int b = 0;; ++b) {
        WriteBatch(*db, b);
        db->Commit();
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % window));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    int batch = CommittedBatch(path);
    EXPECT_GE(batch, -1);
    highest = std::max(highest, batch);
  }
  EXPECT_GT(highest, 0) << "the kills should land after some commits too";
}

TEST(Crash, CommitCutShortAfterAnyPageRollsBack) {
  for (int pages = 1; pages <= 40; pages += 3) {
    ScratchDir dir;
    std::string path = Prepare(dir);
    {
      auto db = Database::Open(path, OpenOptions{"", true});
      WriteBatch(*db, 1);
      db->Commit();
    }
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The commit stops, as a killed process would, once it has written
      // `pages` database pages.
      FaultFileSystem fs;
      auto db = Database::Open(path, OpenOptions{"", true, &fs});
      WriteBatch(*db, 2);
      fs.OnlyFilesEndingWith(".mdb");
      fs.StopAfterWrite(pages, [] { _exit(99); });
      db->Commit();
      _exit(0);  // the commit was shorter than `pages`
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    int batch = CommittedBatch(path);
    if (WEXITSTATUS(status) == 99) {
      EXPECT_EQ(batch, 1) << "cut after " << pages << " pages";
    } else {
      EXPECT_EQ(batch, 2);
    }
  }
}

TEST(Crash, FailedWritesLeaveTheLastCommit) {
  for (int nth = 1; nth <= 60; nth += 4) {
    ScratchDir dir;
    std::string path = Prepare(dir);
    {
      FaultFileSystem fs;
      auto db = Database::Open(path, OpenOptions{"", true, &fs});
      WriteBatch(*db, 1);
      db->Commit();
      WriteBatch(*db, 2);
      fs.FailWrite(nth);
      bool failed = false;
      try {
        db->Commit();
      } catch (const Error& e) {
        failed = true;
        EXPECT_NE(std::string(e.what()).find("Cannot write"), std::string::npos) << e.what();
      }
      fs.Reset();
      if (!failed) continue;  // the commit needed fewer writes
      EXPECT_EQ(CommittedBatch(path), 1) << "failing at write " << nth;
      // The connection goes on working after the failure.
      WriteBatch(*db, 3);
      db->Commit();
      EXPECT_EQ(CommittedBatch(path), 3);
      continue;
    }
  }
}

TEST(Crash, SecondWritingProcessIsRefused) {
  ScratchDir dir;
  std::string path = Prepare(dir);
  // The writer is another process; this one has never opened the file.
  int ready[2], done[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(done), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    auto db = Database::Open(path, OpenOptions{"", true});
    char c = 1;
    (void)!write(ready[1], &c, 1);
    (void)!read(done[0], &c, 1);
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  try {
    OpenOptions impatient{"", true};
    impatient.busy_timeout_ms = 100;
    Database::Open(path, impatient);
    ADD_FAILURE() << "a second writer was let in";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos) << e.what();
  }
  // Reading stays possible while the other process writes.
  EXPECT_NO_THROW(Database::Open(path, OpenOptions{"", false})->UserTables());
  (void)!write(done[1], &c, 1);
  int status = 0;
  waitpid(pid, &status, 0);
  for (int fd : {ready[0], ready[1], done[0], done[1]}) close(fd);
}

TEST(Crash, ReadOnlyFileRefusesWritingClearly) {
  ScratchDir dir;
  std::string path = dir.Copy(kFixture);
  chmod(path.c_str(), 0444);
  if (geteuid() == 0) {
    // root may write anyway; the refusal is then the engine's own read-only mode.
    auto db = Database::Open(path, OpenOptions{"", false});
    EXPECT_THROW(db->AddColumn(kTable, "X", ColumnType::kMemo), Error);
    return;
  }
  try {
    Database::Open(path, OpenOptions{"", true});
    FAIL() << "opened a read-only file for writing";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("read-only"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace jet
