// Transactions of the connection: every statement is atomic, and durable when
// Execute returns outside a transaction; inside one a failed statement is
// undone alone, CommitTrans makes everything durable at once, RollbackTrans
// and closing leave the file as it was at BeginTrans.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/access.h"
#include "db/ado.h"
#include "db_test_helpers.h"
#include "jet/table/check.h"
#include "jet/table/database.h"
#include "support/fault_file_system.h"
#include "support/test_support.h"

namespace {

using db_testing::Cell;
using db_testing::OpenRw;
using db_testing::Query;
using testing_support::Capture;
using testing_support::FaultFileSystem;
using testing_support::ReadFile;
using testing_support::ScratchDir;
using testing_support::ShellQuote;

class TransactionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = dir_.Copy(db_testing::kPeople2000);
    db::Connection c;
    OpenRw(c, path_);
    c.Execute("ALTER TABLE [People] ADD COLUMN [M] memo");
    c.Close();
    before_ = ReadFile(path_);
  }
  // How many rows hold a value in M, read by another process.
  int Filled() {
    int status = -1;
    const std::string out = Capture(
        std::string(TESSALY_CLI) + " dump " + ShellQuote(path_) + " People --format csv", &status);
    EXPECT_EQ(status, 0) << out;
    int filled = 0;
    for (size_t at = 0; (at = out.find("\"marked", at)) != std::string::npos; ++at) ++filled;
    return filled;
  }
  bool Sound() {
    auto db = jet::Database::Open(path_, jet::OpenOptions{});
    return jet::CheckDatabase(*db).ok();
  }

  ScratchDir dir_;
  std::string path_;
  std::string before_;
};

TEST_F(TransactionsTest, OutsideATransactionAStatementIsDurableWhenExecuteReturns) {
  db::Connection c;
  OpenRw(c, path_);
  for (int id = 1; id <= 10; ++id) {
    EXPECT_EQ(c.Execute("update [People] set [M]='marked' where [ID]=" + std::to_string(id)), 1);
  }
  // Another process sees it while the connection is still open.
  EXPECT_EQ(Filled(), 10);
  c.Close();
  EXPECT_TRUE(Sound());
}

TEST_F(TransactionsTest, AStatementThatFailsPartWayChangesNothing) {
  // The fault file system reaches the connection through the open database
  // the two share.
  FaultFileSystem files;
  auto held = jet::Database::Open(path_, jet::OpenOptions{"", true, &files});
  db::Connection c;
  OpenRw(c, path_);
  for (bool in_transaction : {false, true}) {
    SCOPED_TRACE(in_transaction ? "inside a transaction" : "outside");
    if (in_transaction) {
      c.BeginTrans();
      EXPECT_EQ(c.Execute("update [People] set [M]='marked' where [ID] = 1"), 1);
    }
    // The journal takes each page's original before the page changes: the
    // statement fails a few pages into the table (a full disk).
    files.OnlyFilesEndingWith("-journal");
    files.FailWrite(3);
    EXPECT_THROW(c.Execute("update [People] set [M]='marked " + std::string(2000, 'x') + "'"),
                 std::exception);
    files.Reset();
    // The transaction goes on; the failed statement left nothing behind.
    EXPECT_EQ(c.Execute("update [People] set [M]='marked' where [ID] = 2"), 1);
    if (in_transaction) c.CommitTrans();
    EXPECT_EQ(Filled(), in_transaction ? 2 : 1);
    EXPECT_TRUE(Sound());
    c.Execute("update [People] set [M]=null");
  }
}

TEST_F(TransactionsTest, CommitTransMakesEverythingDurableAtOnce) {
  db::Connection c;
  OpenRw(c, path_);
  EXPECT_EQ(c.BeginTrans(), 1);
  c.Execute("ALTER TABLE [People] ADD COLUMN [N] memo");
  for (int id = 1; id <= 50; ++id) {
    c.Execute("update [People] set [M]='marked' where [ID]=" + std::to_string(id));
  }
  c.Execute("update [People] set [N]='other'");
  EXPECT_EQ(ReadFile(path_), before_) << "nothing reaches the file before CommitTrans";
  c.CommitTrans();
  EXPECT_EQ(c.TransactionLevel(), 0);
  EXPECT_EQ(Filled(), 50);
  EXPECT_TRUE(Sound());
}

TEST_F(TransactionsTest, RollbackTransAndClosingLeaveTheFileAsAtBeginTrans) {
  {
    db::Connection c;
    OpenRw(c, path_);
    c.BeginTrans();
    c.Execute("ALTER TABLE [People] DROP [M]");
    c.Execute("ALTER TABLE [People] ADD COLUMN [M] memo");
    c.Execute("update [People] set [M]='marked'");
    c.RollbackTrans();
    // The connection sees the table as it was, column and all.
    EXPECT_EQ(Query(c, "select [M] from [People] where [ID] = 1"),
              (std::vector<db_testing::Row>{{std::nullopt}}));
    c.Close();
  }
  EXPECT_EQ(ReadFile(path_), before_);
  {
    db::Connection c;
    OpenRw(c, path_);
    c.BeginTrans();
    c.Execute("update [People] set [M]='marked'");
    // Destroyed with the transaction open: rolled back, never committed.
  }
  EXPECT_EQ(ReadFile(path_), before_);
  {
    db::Connection c;
    OpenRw(c, path_);
    c.BeginTrans();
    c.Execute("update [People] set [M]='marked'");
    c.Close();
  }
  EXPECT_EQ(ReadFile(path_), before_);
  EXPECT_EQ(Filled(), 0);
}

TEST_F(TransactionsTest, NestedTransactionsAndMisuse) {
  db::Connection c;
  OpenRw(c, path_);
  try {
    c.CommitTrans();
    ADD_FAILURE() << "CommitTrans without a transaction";
  } catch (const jet::Error& e) {
    EXPECT_EQ(e.number(), db::kErrNoTransaction);
  }
  EXPECT_THROW(c.RollbackTrans(), jet::Error);
  EXPECT_EQ(c.BeginTrans(), 1);
  c.Execute("update [People] set [M]='marked' where [ID] = 1");
  EXPECT_EQ(c.BeginTrans(), 2);
  c.Execute("update [People] set [M]='marked'");
  c.RollbackTrans();  // the inner one only
  EXPECT_EQ(c.BeginTrans(), 2);
  c.Execute("update [People] set [M]='marked' where [ID] = 2");
  c.CommitTrans();  // into the outer one
  EXPECT_EQ(ReadFile(path_), before_);
  c.CommitTrans();
  EXPECT_EQ(Filled(), 2);
}

TEST_F(TransactionsTest, AnotherConnectionsTransactionIsNeitherJoinedNorCommitted) {
  db::Connection a, b;
  OpenRw(a, path_);
  OpenRw(b, path_);
  a.BeginTrans();
  a.Execute("update [People] set [M]='marked' where [ID]=1");
  // The two share the open file: b may neither start a transaction inside
  // a's nor commit a's changes with a statement of its own.
  EXPECT_THROW(b.BeginTrans(), jet::Error);
  EXPECT_THROW(b.Execute("update [People] set [M]='marked' where [ID]=2"), jet::Error);
  EXPECT_EQ(ReadFile(path_), before_);
  a.RollbackTrans();
  EXPECT_EQ(b.Execute("update [People] set [M]='marked' where [ID]=2"), 1);
  EXPECT_EQ(Filled(), 1);
}

}  // namespace
