// The table list as the shell fills it from the database's catalogue.
#include "app/table_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/access.h"
#include "db/ado.h"
#include "db/db_test_helpers.h"
#include "support/test_support.h"

namespace {

using db_testing::ErrorOf;
using testing_support::DataPath;

std::string Cs(const std::string& path, const std::string& password = "") {
  return db::BuildConnectionString(path, password);
}

class FakeList : public app::ListViewLike {
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

TEST(FillTableList, ReplacesItemsAndSelectsTheFirst) {
  FakeList list;
  list.items = {"stale"};
  list.selected = 1;
  std::string path = DataPath("mdbtestdata/nwind.mdb");
  app::FillTableList(list, path, "ignored", Cs(path));
  ASSERT_EQ(list.Count(), 9);
  EXPECT_EQ(list.ItemText(1), "Categories");
  EXPECT_EQ(list.ItemText(9), "Umsätze");
  EXPECT_EQ(list.SelectedIndex(), 1);
}

TEST(FillTableList, MissingFileLeavesTheListAlone) {
  FakeList list;
  list.items = {"a", "b"};
  list.selected = 2;
  app::FillTableList(list, "/nonexistent/x.mdb", "", Cs("/nonexistent/x.mdb"));
  EXPECT_EQ(list.items, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(list.selected, 2);
}

TEST(FillTableList, NoUserTablesEmptiesTheListWithNothingSelected) {
  FakeList list;
  list.items = {"old"};
  list.selected = 1;
  std::string path = DataPath("ucanaccess/linked.mdb");
  app::FillTableList(list, path, "", Cs(path));
  EXPECT_TRUE(list.items.empty());
  EXPECT_EQ(list.selected, 0);
}

TEST(FillTableList, MoreThan32767TablesOverflow) {
  FakeList list;
  std::vector<std::string> most(32767, "t");
  app::FillListWithTables(list, most);
  EXPECT_EQ(list.Count(), 32767);
  std::vector<std::string> too_many(32768, "t");
  std::string text;
  EXPECT_EQ(ErrorOf([&] { app::FillListWithTables(list, too_many); }, &text), db::kErrOverflow);
  EXPECT_NE(text.find("Overflow"), std::string::npos);
}

TEST(FillTableList, FillsTheListWithWhatTheCatalogueHolds) {
  // The database layer reads the catalogue; the shell's list shows exactly it.
  std::string path = DataPath(db_testing::kPeople2007);
  auto tables = db::ListTables(path, Cs(path));
  ASSERT_TRUE(tables.has_value());
  FakeList list;
  app::FillTableList(list, path, "", Cs(path));
  EXPECT_EQ(list.items, *tables);
  FakeList again;
  app::FillListWithTables(again, *tables);
  EXPECT_EQ(again.items, list.items);
  EXPECT_EQ(again.selected, 1);
}

TEST(FillTableList, OpenFailuresPropagateAndLeaveTheListAlone) {
  FakeList list;
  list.items = {"kept"};
  list.selected = 1;
  std::string locked = DataPath("mdb-reader/V2000_with-password.mdb");
  EXPECT_EQ(ErrorOf([&] { app::FillTableList(list, locked, "nope", Cs(locked, "nope")); }),
            jet::errnum::kWrongPassword);
  EXPECT_EQ(list.items, (std::vector<std::string>{"kept"}));
  EXPECT_EQ(list.selected, 1);
}

}  // namespace
