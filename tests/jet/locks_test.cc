// Readers and a writer in different processes: readers go on while the writer
// changes pages in memory, wait while it writes them, and only ever see a
// committed state; a journal beside a file another process is changing is
// left alone, and one left by a writer that died is played back by the next
// opener, reader or writer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>

#include "jet/table/check.h"
#include "jet/table/database.h"
#include "support/test_support.h"

namespace jet {
namespace {

using testing_support::ScratchDir;

constexpr const char* kFixture = "generated/people_V2000_200.mdb";

// Every row of batch b carries "b<b>|" and a size that varies with the row,
// so rows grow, shrink and move between batches.
std::string ValueFor(int batch, uint32_t row) {
  std::string v = "b" + std::to_string(batch) + "|";
  v.append((batch * 7919u + row * 104729u) % 3000u, static_cast<char>('a' + row % 26));
  return v;
}

std::string Prepare(ScratchDir& dir) {
  std::string path = dir.Copy(kFixture);
  auto db = Database::Open(path, OpenOptions{"", true});
  db->AddColumn("People", "Merged", ColumnType::kMemo);
  auto t = db->Table("People");
  std::vector<RowId> ids;
  for (TableScan scan(*db, t); scan.Next();) ids.push_back(scan.id());
  for (RowId id : ids) db->UpdateRow(*t, id, {{t->FindColumn("Merged"), Value::Text("b0|")}});
  db->Commit();
  return path;
}

void WriteBatch(Database& db, int batch) {
  auto t = db.Table("People");
  std::vector<RowId> ids;
  for (TableScan scan(db, t); scan.Next();) ids.push_back(scan.id());
  for (RowId id : ids) {
    db.UpdateRow(*t, id, {{t->FindColumn("Merged"), Value::Text(ValueFor(batch, id.Packed()))}});
  }
}

// The batches the table's rows carry: one, for a committed state.
std::set<std::string> BatchesSeen(Database& db) {
  std::set<std::string> seen;
  auto t = db.Table("People");
  const Column* merged = t->FindColumn("Merged");
  for (TableScan scan(db, t); scan.Next();) {
    const std::string v = scan.Get(*merged).bytes();
    seen.insert(v.substr(0, v.find('|')));
  }
  return seen;
}

OpenOptions Options(bool writable, int timeout_ms, size_t spill_bytes = 32u << 20) {
  OpenOptions o{"", writable};
  o.busy_timeout_ms = timeout_ms;
  o.spill_bytes = spill_bytes;
  return o;
}

struct Pipe {
  int fd[2];
  Pipe() { EXPECT_EQ(pipe(fd), 0); }
  ~Pipe() {
    close(fd[0]);
    close(fd[1]);
  }
  void Say() { EXPECT_EQ(write(fd[1], "x", 1), 1); }
  bool Hear() {
    char c;
    return read(fd[0], &c, 1) == 1;
  }
};

TEST(Locks, ReadersGoOnWhileAWriterChangesPagesInMemoryAndItsCommitWaitsForThem) {
  ScratchDir dir;
  const std::string path = Prepare(dir);
  Pipe changed, reader_done, committed;
  const pid_t writer = fork();
  if (writer == 0) {
    auto db = Database::Open(path, Options(true, 10000));
    WriteBatch(*db, 1);  // in memory; the journal is beside the file
    changed.Say();
    reader_done.Hear();
    db->Commit();  // waits for the reader below to close
    committed.Say();
    _exit(0);
  }
  ASSERT_TRUE(changed.Hear());
  {
    // Neither refused ("in use") nor taken in by the live journal.
    auto db = Database::Open(path, Options(false, 0));
    EXPECT_EQ(BatchesSeen(*db), std::set<std::string>{"b0"});
    EXPECT_TRUE(CheckDatabase(*db).ok());
    reader_done.Say();
    usleep(100 * 1000);
    // Still open: the writer cannot have written a page meanwhile.
    EXPECT_EQ(BatchesSeen(*db), std::set<std::string>{"b0"});
  }
  ASSERT_TRUE(committed.Hear());
  EXPECT_EQ(testing_support::WaitForChild(writer), 0);
  auto db = Database::Open(path, Options(false, 0));
  EXPECT_EQ(BatchesSeen(*db), std::set<std::string>{"b1"});
}

TEST(Locks, AReaderLoopingBesideASpillingWriterSeesOnlyCommittedStates) {
  ScratchDir dir;
  const std::string path = Prepare(dir);
  constexpr int kBatches = 12;
  const pid_t writer = fork();
  if (writer == 0) {
    auto db = Database::Open(path, Options(true, 10000, 8192));
    for (int b = 1; b <= kBatches; ++b) {
      WriteBatch(*db, b);
      if (db->pager().spills() == 0) _exit(2);  // the test would prove less
      db->Commit();
    }
    _exit(0);
  }
  int reads = 0;
  std::set<std::string> states;
  int status = 0;
  while (waitpid(writer, &status, WNOHANG) == 0) {
    auto db = Database::Open(path, Options(false, 10000));
    const std::set<std::string> seen = BatchesSeen(*db);
    ASSERT_EQ(seen.size(), 1u) << "a half-written table: " << *seen.begin() << " and "
                               << *seen.rbegin();
    states.insert(*seen.begin());
    ++reads;
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_GT(reads, 0);
  auto db = Database::Open(path, Options(false, 0));
  EXPECT_EQ(BatchesSeen(*db), std::set<std::string>{"b" + std::to_string(kBatches)});
  EXPECT_TRUE(CheckDatabase(*db).ok());
}

TEST(Locks, AWriterThatSpilledKeepsReadersOutAndItsDeathIsRepairedByTheNextReader) {
  ScratchDir dir;
  const std::string path = Prepare(dir);
  Pipe spilled;
  const pid_t writer = fork();
  if (writer == 0) {
    auto db = Database::Open(path, Options(true, 10000, 8192));
    WriteBatch(*db, 1);
    if (db->pager().spills() == 0) _exit(2);
    spilled.Say();
    pause();  // killed here, pages of batch 1 in the file
    _exit(0);
  }
  ASSERT_TRUE(spilled.Hear());
  try {
    Database::Open(path, Options(false, 100));
    ADD_FAILURE() << "a reader was let in while pages were being written";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos) << e.what();
  }
  kill(writer, SIGKILL);
  testing_support::WaitForChild(writer);
  auto db = Database::Open(path, Options(false, 0));
  EXPECT_EQ(BatchesSeen(*db), std::set<std::string>{"b0"});
  EXPECT_TRUE(CheckDatabase(*db).ok());
  EXPECT_NE(access(Pager::JournalPath(path).c_str(), F_OK), 0);
}

TEST(Locks, AWaitCallsTheProgramsHandlerBetweenAttemptsThenSaysInUse) {
  ScratchDir dir;
  const std::string path = Prepare(dir);
  Pipe opened, done;
  const pid_t first = fork();
  if (first == 0) {
    auto db = Database::Open(path, Options(true, 10000));
    opened.Say();
    done.Hear();
    _exit(0);
  }
  ASSERT_TRUE(opened.Hear());
  int calls = 0;
  SetLockWaitHandler([&] { ++calls; });
  try {
    Database::Open(path, Options(true, 300));
    ADD_FAILURE() << "a second writer was let in";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos) << e.what();
  }
  SetLockWaitHandler(nullptr);
  EXPECT_GT(calls, 3);  // a pause of at most 50 ms between attempts
  done.Say();
  EXPECT_EQ(testing_support::WaitForChild(first), 0);
}

TEST(Locks, ASecondWriterWaitsForTheFirstToCloseThenGoesOn) {
  ScratchDir dir;
  const std::string path = Prepare(dir);
  Pipe opened;
  const pid_t first = fork();
  if (first == 0) {
    auto db = Database::Open(path, Options(true, 10000));
    WriteBatch(*db, 1);
    db->Commit();
    opened.Say();
    usleep(200 * 1000);
    _exit(0);  // closing lets the next writer in
  }
  ASSERT_TRUE(opened.Hear());
  auto db = Database::Open(path, Options(true, 10000));
  EXPECT_EQ(BatchesSeen(*db), std::set<std::string>{"b1"});
  WriteBatch(*db, 2);
  db->Commit();
  EXPECT_EQ(testing_support::WaitForChild(first), 0);
  EXPECT_EQ(BatchesSeen(*db), std::set<std::string>{"b2"});
}

}  // namespace
}  // namespace jet
