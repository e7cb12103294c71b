// The catalogue helpers: listing tables, the field probe and the check that
// a connection object can be made.
#include "db/access.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "db/ado.h"
#include "db/db_test_helpers.h"
#include "jet/storage/error.h"
#include "support/test_support.h"

namespace {

using db_testing::ErrorOf;
using testing_support::DataPath;
using testing_support::ScratchDir;

std::string Cs(const std::string& path, const std::string& password = "") {
  return db::BuildConnectionString(path, password);
}

// ---------------------------------------------------------------------------
// ListTables

TEST(ListTables, UserTablesInSchemaOrder) {
  std::string path = DataPath(db_testing::kPeople2007);
  auto tables = db::ListTables(path, Cs(path));
  ASSERT_TRUE(tables.has_value());
  EXPECT_EQ(*tables, (std::vector<std::string>{"Empty", "Order Details", "People", "Types"}));
}

TEST(ListTables, MissingFileGivesNoCatalogueAndOpenFailuresPropagate) {
  ScratchDir scratch;
  std::string missing = (scratch.path() / "gone.mdb").string();
  EXPECT_FALSE(db::ListTables(missing, Cs(missing)).has_value());
  EXPECT_FALSE(db::ListTables("", Cs("")).has_value());
  std::string locked = DataPath("mdb-reader/V2000_with-password.mdb");
  EXPECT_EQ(ErrorOf([&] { db::ListTables(locked, Cs(locked, "nope")); }),
            jet::errnum::kWrongPassword);
  auto tables = db::ListTables(locked, Cs(locked, "password"));
  ASSERT_TRUE(tables.has_value());
  EXPECT_FALSE(tables->empty());
}

// ---------------------------------------------------------------------------
// TableHasField

TEST(TableHasField, AnswersOnlyWhatTheQueryCanOpen) {
  ScratchDir scratch;
  std::string path = scratch.Copy(db_testing::kPeople2000);
  std::string cs = Cs(path);
  EXPECT_TRUE(db::TableHasField("People", "Last", cs));
  EXPECT_TRUE(db::TableHasField("people", "last", cs));  // names match as Access matches them
  EXPECT_FALSE(db::TableHasField("People", "Result_Column", cs));
  EXPECT_FALSE(db::TableHasField("People", "", cs));
  EXPECT_FALSE(db::TableHasField("People", "a]b", cs));
  EXPECT_FALSE(db::TableHasField("Nobody", "Last", cs));
  EXPECT_TRUE(db::TableHasField("Empty", "Name", cs));  // a table without rows
  EXPECT_FALSE(db::TableHasField("People", "Last", "Provider=Other;Data Source=" + path));
  EXPECT_FALSE(db::TableHasField("People", "Last", Cs((scratch.path() / "no.mdb").string())));
  {
    db::Connection c;
    db_testing::OpenRw(c, path);
    c.Execute("ALTER TABLE [People] ADD COLUMN [Result_Column] memo");
    // Asked while the merge's own connection is open, as the merge does.
    EXPECT_TRUE(db::TableHasField("People", "Result_Column", cs));
  }
  EXPECT_TRUE(db::TableHasField("People", "Result_Column", cs));
}

// ---------------------------------------------------------------------------
// CheckProvider: the mechanics only; what the user is told is the shell's
// (tests/app/provider_check_test.cc).

class CheckProvider : public ::testing::Test {
 protected:
  void TearDown() override { db::InjectConnectionCreationFailure(0, ""); }
};

TEST_F(CheckProvider, AvailableWhenAConnectionCanBeMade) {
  EXPECT_EQ(db::CheckProvider(), db::ProviderStatus::kAvailable);
}

TEST_F(CheckProvider, TheMissingProviderErrorByNumberOrByDescriptionInAnyCase) {
  db::InjectConnectionCreationFailure(3706, "whatever");
  EXPECT_EQ(db::CheckProvider(), db::ProviderStatus::kMissing);
  db::InjectConnectionCreationFailure(-2147221005,
                                      "Class not registered: PROVIDER CANNOT BE FOUND");
  EXPECT_EQ(db::CheckProvider(), db::ProviderStatus::kMissing);
  db::InjectConnectionCreationFailure(0, "");
  EXPECT_EQ(db::CheckProvider(), db::ProviderStatus::kAvailable) << "the hook is off again";
}

TEST_F(CheckProvider, AnyOtherFailureIsNotTheMissingProvider) {
  db::InjectConnectionCreationFailure(429, "ActiveX component can't create object");
  EXPECT_EQ(db::CheckProvider(), db::ProviderStatus::kOtherFailure);
}

}  // namespace
