// The catalogue helpers: listing tables, filling a list with them, the field
// probe and the check that a connection object can be made.
#include "db/access.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

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

class FakeList : public db::ListViewLike {
 public:
  void Clear() override {
    items.clear();
    selected = 0;
  }
  void Add(const std::string& text) override { items.push_back(text); }
  int Count() const override { return static_cast<int>(items.size()); }
  std::string ItemText(int index) const override { return items.at(index - 1); }
  void Remove(int index) override { items.erase(items.begin() + (index - 1)); }
  int SelectedIndex() const override { return selected; }
  void Select(int index) override { selected = index; }

  std::vector<std::string> items;
  int selected = 0;
};

// ---------------------------------------------------------------------------
// ListTables and FillTableList

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

TEST(FillTableList, ReplacesItemsAndSelectsTheFirst) {
  FakeList list;
  list.items = {"stale"};
  list.selected = 1;
  std::string path = DataPath("mdbtestdata/nwind.mdb");
  db::FillTableList(list, path, "ignored", Cs(path));
  ASSERT_EQ(list.Count(), 9);
  EXPECT_EQ(list.ItemText(1), "Categories");
  EXPECT_EQ(list.ItemText(9), "Umsätze");
  EXPECT_EQ(list.SelectedIndex(), 1);
}

TEST(FillTableList, MissingFileLeavesTheListAlone) {
  FakeList list;
  list.items = {"a", "b"};
  list.selected = 2;
  db::FillTableList(list, "/nonexistent/x.mdb", "", Cs("/nonexistent/x.mdb"));
  EXPECT_EQ(list.items, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(list.selected, 2);
}

TEST(FillTableList, NoUserTablesEmptiesTheListWithNothingSelected) {
  FakeList list;
  list.items = {"old"};
  list.selected = 1;
  std::string path = DataPath("ucanaccess/linked.mdb");
  db::FillTableList(list, path, "", Cs(path));
  EXPECT_TRUE(list.items.empty());
  EXPECT_EQ(list.selected, 0);
}

TEST(FillTableList, MoreThan32767TablesOverflow) {
  FakeList list;
  std::vector<std::string> most(32767, "t");
  db::FillListWithTables(list, most);
  EXPECT_EQ(list.Count(), 32767);
  std::vector<std::string> too_many(32768, "t");
  std::string text;
  EXPECT_EQ(ErrorOf([&] { db::FillListWithTables(list, too_many); }, &text), db::kErrOverflow);
  EXPECT_NE(text.find("Overflow"), std::string::npos);
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
// ProviderAvailable

class ScriptedUi : public db::MessageAsker {
 public:
  int AskYesNo(const std::string& text) override {
    asked.push_back(text);
    if (fail_ask) throw std::runtime_error("no message box");
    return answer;
  }
  void OpenUrl(const std::string& url) override {
    opened.push_back(url);
    if (fail_open) throw std::runtime_error("no browser");
  }
  int answer = 7;
  bool fail_ask = false;
  bool fail_open = false;
  std::vector<std::string> asked;
  std::vector<std::string> opened;
};

class ProviderAvailable : public ::testing::Test {
 protected:
  void TearDown() override { db::InjectConnectionCreationFailure(0, ""); }
  const std::string address_ = "help@example.test";
};

TEST_F(ProviderAvailable, TrueAndSilentWhenAConnectionCanBeMade) {
  ScriptedUi ui;
  EXPECT_TRUE(db::ProviderAvailable(ui, address_));
  EXPECT_TRUE(ui.asked.empty());
}

TEST_F(ProviderAvailable, MissingProviderExplainsAndOffersTheDownloads) {
  db::InjectConnectionCreationFailure(3706, "Provider cannot be found.");
  EXPECT_EQ(ErrorOf([] { db::Connection c; }), 3706);
  ScriptedUi ui;
  ui.answer = db::kAnswerYes;
  EXPECT_FALSE(db::ProviderAvailable(ui, address_));
  ASSERT_EQ(ui.asked.size(), 1u);
  EXPECT_EQ(ui.asked[0],
            "Error #3706: Provider cannot be found. It may not be properly installed.\r\n\r\n"
            "You are getting this error because:\r\n\r\n"
            "1. Microsoft Access is not installed on your computer.\r\n\r\n"
            "2. A set of Microsoft components to transfer data is not installed on your "
            "computer.\r\n\r\n"
            "You need to download and install Microsoft Access Database Engine 2010 or 2016 to "
            "solve this problem.\r\n\r\n"
            "Would you like me to open the Microsoft site now so you can do this?\r\n\r\n"
            "(If you have any further questions please email a screenshot of this error message "
            "to help@example.test)");
  EXPECT_EQ(ui.opened, (std::vector<std::string>{
                           "https://www.microsoft.com/en-us/download/details.aspx?id=13255",
                           "https://www.microsoft.com/en-us/download/details.aspx?id=54920"}));
}

TEST_F(ProviderAvailable, NoOpensNothing) {
  db::InjectConnectionCreationFailure(3706, "whatever");
  ScriptedUi ui;
  ui.answer = 7;
  EXPECT_FALSE(db::ProviderAvailable(ui, address_));
  EXPECT_EQ(ui.asked.size(), 1u);
  EXPECT_TRUE(ui.opened.empty());
}

TEST_F(ProviderAvailable, RecognisesTheDescriptionInAnyCase) {
  db::InjectConnectionCreationFailure(-2147221005,
                                      "Class not registered: PROVIDER CANNOT BE FOUND");
  ScriptedUi ui;
  EXPECT_FALSE(db::ProviderAvailable(ui, address_));
  EXPECT_EQ(ui.asked.size(), 1u);
}

TEST_F(ProviderAvailable, OtherFailuresEndQuietly) {
  db::InjectConnectionCreationFailure(429, "ActiveX component can't create object");
  ScriptedUi ui;
  EXPECT_FALSE(db::ProviderAvailable(ui, address_));
  EXPECT_TRUE(ui.asked.empty());
  EXPECT_TRUE(ui.opened.empty());
}

TEST_F(ProviderAvailable, FailingMessageBoxOrBrowserIsAbsorbed) {
  db::InjectConnectionCreationFailure(3706, "x");
  ScriptedUi ui;
  ui.fail_ask = true;
  EXPECT_FALSE(db::ProviderAvailable(ui, address_));
  ScriptedUi yes;
  yes.answer = db::kAnswerYes;
  yes.fail_open = true;
  EXPECT_FALSE(db::ProviderAvailable(yes, address_));
  EXPECT_EQ(yes.opened.size(), 2u);
}

}  // namespace
