// The table page and what its "Next >" prepares on the field page.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <filesystem>

#include "app/qt/page.h"
#include "db/access.h"
#include "db/ado.h"
#include "jet/storage/error.h"
#include "support/fault_file_system.h"
#include "wizard/form1.h"
#include "wizard/form2.h"
#include "wizard/form3.h"
#include "wizard_util.h"

namespace uitest {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

const std::vector<std::string> kPeopleColumns = {"ID",   "First", "Middle", "Last",
                                                 "City", "Age",   "Born",   "Notes"};

class TablePageTest : public WizardTest {
 protected:
  wizard::Form2& StartOnTablePage() {
    Remember(CopyDatabase("generated/people_V2000_200.mdb"), "");
    EXPECT_TRUE(wizard().Start());
    SelectNamed(wizard().form2().ListView1(), "People");
    return wizard().form2();
  }
  void MoveToMerge(wizard::Form3& form3, const std::string& name) {
    SelectNamed(form3.ListView1(), name);
    form3.PushButton5()->click();
  }
};

TEST_F(TablePageTest, LoadAddsOneColumnHeader) {
  wizard::Form2& form2 = StartOnTablePage();
  EXPECT_EQ(form2.Caption(), "Tessaly Draviel");
  EXPECT_EQ(form2.ListView1()->ColumnHeaderCount(), 1);
  EXPECT_EQ(form2.ListView1()->ColumnHeaderText(), "Select Table");
  EXPECT_EQ(form2.ListView1()->columnWidth(0), 467);  // 7000 twips
  EXPECT_EQ(form2.ProgressBar1()->Text(), "Progress Bar");
  EXPECT_EQ(form2.ProgressBar1()->maximum(), 100);
}

TEST_F(TablePageTest, NextFillsAllFieldsInColumnOrderAndShowsTheRows) {
  wizard::Form2& form2 = StartOnTablePage();
  form2.PushButton3()->click();
  EXPECT_TRUE(messages_.shown().empty());
  wizard::Form3& form3 = wizard().form3();
  EXPECT_TRUE(form3.isVisible());
  EXPECT_FALSE(form2.isVisible());
  EXPECT_EQ(wizard().globals().table_name, "People");
  EXPECT_EQ(Items(*form3.ListView1()), kPeopleColumns);
  EXPECT_EQ(form3.ListView1()->SelectedIndex(), 1);
  EXPECT_EQ(form3.ListView2()->Count(), 0);
  EXPECT_FALSE(wizard().globals().all_fields_empty);
  EXPECT_TRUE(wizard().globals().merge_fields_empty);
  EXPECT_EQ(form2.ProgressBar1()->value(), 10);
  EXPECT_EQ(form2.ProgressBar1()->Text(), "Processing: People");
  EXPECT_EQ(form2.MousePointer(), ui::kPointerDefault);

  ui::DataGrid* grid = form3.DataGrid1();
  EXPECT_EQ(form3.focusWidget(), grid);
  ASSERT_EQ(grid->model()->columnCount(), 8);
  EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("First"));
  while (grid->model()->canFetchMore(QModelIndex())) grid->model()->fetchMore(QModelIndex());
  EXPECT_EQ(grid->model()->rowCount(), 200);
  EXPECT_EQ(grid->model()->index(0, 3).data().toString(), QStringLiteral("Jones"));
  EXPECT_EQ(grid->model()->index(1, 2).data().toString(), QString()) << "a null shows empty";
}

TEST_F(TablePageTest, WithoutASelectedTableNextOnlyAsksForOne) {
  wizard::Form2& form2 = StartOnTablePage();
  form2.ListView1()->clearSelection();
  form2.PushButton3()->click();
  ASSERT_EQ(messages_.shown().size(), 1u);
  EXPECT_EQ(messages_.shown()[0].text, "Please select a table");
  EXPECT_EQ(messages_.shown()[0].title, "Tessaly");
  EXPECT_EQ(messages_.shown()[0].style, 0);
  EXPECT_TRUE(form2.isVisible());
  EXPECT_EQ(wizard().globals().table_name, "");
  EXPECT_EQ(wizard().loaded_form3(), nullptr);
  EXPECT_EQ(form2.ProgressBar1()->value(), 0);
}

TEST_F(TablePageTest, TableNamesWithBlanksAreUsedAsTheyAre) {
  wizard::Form2& form2 = StartOnTablePage();
  SelectNamed(form2.ListView1(), "Order Details");
  form2.PushButton3()->click();
  EXPECT_TRUE(messages_.shown().empty());
  EXPECT_EQ(wizard().globals().table_name, "Order Details");
  EXPECT_EQ(form2.ProgressBar1()->Text(), "Processing: Order Details");
  EXPECT_GT(wizard().form3().ListView1()->Count(), 0);
}

TEST_F(TablePageTest, ChosenFieldsStayChosenAndAreLeftOutWhenTheTableIsReadAgain) {
  wizard::Form2& form2 = StartOnTablePage();
  form2.PushButton3()->click();
  wizard::Form3& form3 = wizard().form3();
  MoveToMerge(form3, "Last");
  MoveToMerge(form3, "First");
  form3.PushButton2()->click();  // back to the table page
  EXPECT_TRUE(form2.isVisible());
  EXPECT_EQ(form2.ProgressBar1()->Text(), "Processing: People") << "kept while away";
  form2.PushButton3()->click();
  EXPECT_EQ(Items(*form3.ListView2()), (std::vector<std::string>{"Last", "First"}));
  EXPECT_EQ(Items(*form3.ListView1()),
            (std::vector<std::string>{"ID", "Middle", "City", "Age", "Born", "Notes"}));
  EXPECT_FALSE(wizard().globals().merge_fields_empty);
  EXPECT_EQ(form2.ListView1()->ColumnHeaderCount(), 1);
}

TEST_F(TablePageTest, EveryColumnChosenLeavesAllFieldsEmpty) {
  wizard::Form2& form2 = StartOnTablePage();
  form2.PushButton3()->click();
  wizard().form3().PushButton6()->click();  // ">>"
  wizard().form3().PushButton2()->click();
  form2.PushButton3()->click();
  EXPECT_EQ(wizard().form3().ListView1()->Count(), 0);
  EXPECT_TRUE(wizard().globals().all_fields_empty);
  EXPECT_EQ(Items(*wizard().form3().ListView2()), kPeopleColumns);
}

TEST_F(TablePageTest, AnotherTableEmptiesFieldsToMerge) {
  wizard::Form2& form2 = StartOnTablePage();
  form2.PushButton3()->click();
  MoveToMerge(wizard().form3(), "First");
  wizard().form3().PushButton2()->click();
  SelectNamed(form2.ListView1(), "Types");
  form2.PushButton3()->click();
  EXPECT_EQ(wizard().globals().table_name, "Types");
  EXPECT_EQ(wizard().form3().ListView2()->Count(), 0) << "names chosen for People";
  EXPECT_TRUE(wizard().globals().merge_fields_empty);
  // Next hands on nothing of the first table.
  wizard().form3().PushButton3()->click();
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Please add fields to merge first."}));
  EXPECT_TRUE(wizard().form3().isVisible());

  // Back to the first table: its choice is gone too, and "All Fields" whole.
  wizard().form3().PushButton2()->click();
  SelectNamed(form2.ListView1(), "People");
  form2.PushButton3()->click();
  EXPECT_EQ(Items(*wizard().form3().ListView1()), kPeopleColumns);
}

TEST_F(TablePageTest, AChosenFieldTheTableNoLongerHasIsDropped) {
  wizard::Form2& form2 = StartOnTablePage();
  form2.PushButton3()->click();
  MoveToMerge(wizard().form3(), "Notes");
  MoveToMerge(wizard().form3(), "First");
  wizard().form3().PushButton2()->click();
  wizard().form3().SetPreview(nullptr);
  // Changed by someone else meanwhile.
  db::Connection c;
  c.Mode = db::kModeReadWrite;
  c.Open(wizard().ConnectionString());
  c.Execute("ALTER TABLE [People] DROP [Notes]");
  c.Close();
  form2.PushButton3()->click();
  EXPECT_EQ(Items(*wizard().form3().ListView2()), (std::vector<std::string>{"First"}));
  EXPECT_EQ(Items(*wizard().form3().ListView1()),
            (std::vector<std::string>{"ID", "Middle", "Last", "City", "Age", "Born"}));
}

TEST_F(TablePageTest, ATableThatCannotBeOpenedIsReportedOnceAndThePageStays) {
  wizard::Form2& form2 = StartOnTablePage();
  form2.ListView1()->Add("No]Such");
  form2.ListView1()->Select(5);
  form2.PushButton3()->click();
  ASSERT_EQ(messages_.shown().size(), 1u);
  EXPECT_THAT(messages_.shown()[0].text,
              HasSubstr("in Korvane2021/08/31.Form2.PushButton3_Click at line 130\r\r"));
  EXPECT_EQ(messages_.shown()[0].title, "Application Error");
  EXPECT_TRUE(form2.isVisible());
  EXPECT_FALSE(wizard().form3().isVisible());
  EXPECT_EQ(form2.MousePointer(), ui::kPointerDefault);
}

TEST_F(TablePageTest, APressWhileNextRunsIsIgnored) {
  wizard::Form2& form2 = StartOnTablePage();
  // The second click of a double click arrives while the first lets events run.
  QMetaObject::invokeMethod(form2.PushButton3(), &QAbstractButton::click, Qt::QueuedConnection);
  form2.PushButton3()->click();
  QCoreApplication::processEvents();
  EXPECT_EQ(Items(*wizard().form3().ListView1()), kPeopleColumns) << "each column once";
  EXPECT_TRUE(messages_.shown().empty());
  EXPECT_TRUE(wizard().form3().isVisible());
  // Afterwards a press works again.
  wizard().form3().PushButton2()->click();
  form2.PushButton3()->click();
  EXPECT_EQ(Items(*wizard().form3().ListView1()), kPeopleColumns);
}

// Files whose writes fail on cue, and a folder that takes no new file.
class NoNewFiles : public testing_support::FaultFileSystem {
 public:
  std::unique_ptr<jet::File> Open(const std::string& path, Mode mode) override {
    if (mode == Mode::kReplace) {
      throw jet::Error(jet::errnum::kGeneric, "Cannot create '" + path + "': Permission denied");
    }
    return FaultFileSystem::Open(path, mode);
  }
};

TEST_F(TablePageTest, AFileThatCannotBeChangedIsNamedOnceAndThePageStays) {
  NoNewFiles no_new_files;
  testing_support::FaultFileSystem read_only, full;
  read_only.ReadOnly(".mdb");
  full.FailWrite(1);
  const std::vector<std::pair<jet::FileSystem*, const char*>> cases = {
      {&read_only, "is read-only, so no field can be added to its tables"},
      {&no_new_files, "cannot be written to, so the journal that keeps a change safe"},
      {&full, "There is no room beside the database"}};
  for (const auto& [files, says] : cases) {
    SCOPED_TRACE(says);
    file_system_ = files;
    messages_ = app::RecordingMessageSink();
    wizard::Form2& form2 = StartOnTablePage();
    const std::string path = wizard().form1().DatabasePath();
    const std::string before = testing_support::ReadFile(path);
    form2.PushButton3()->click();
    ASSERT_EQ(messages_.shown().size(), 1u);
    EXPECT_THAT(messages_.shown()[0].text, HasSubstr(says));
    EXPECT_THAT(messages_.shown()[0].text, HasSubstr(path));
    EXPECT_EQ(messages_.shown()[0].title, "Tessaly");
    EXPECT_TRUE(form2.isVisible());
    EXPECT_EQ(wizard().loaded_form3(), nullptr) << "the field page was not even made";
    EXPECT_EQ(form2.MousePointer(), ui::kPointerDefault);
    EXPECT_EQ(testing_support::ReadFile(path), before);
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
    if (files == &read_only) SaveScreenshot(form2, "table_page_after_refusal.png");
    FinishRun();
  }
}

TEST_F(TablePageTest, TheListIsFilledThroughThePagesOwnOperation) {
  const std::string path = CopyDatabase("generated/people_V2007_300.accdb");
  wizard::Form2& form2 = wizard().form2();
  form2.ListView1()->Add("stale");
  form2.FillTableList(path, "", db::BuildConnectionString(path, ""));
  EXPECT_EQ(Items(*form2.ListView1()),
            (std::vector<std::string>{"Empty", "Order Details", "People", "Types"}));
  EXPECT_EQ(form2.ListView1()->SelectedIndex(), 1);
  form2.FillTableList(path + ".gone", "", db::BuildConnectionString(path + ".gone", ""));
  EXPECT_EQ(form2.ListView1()->Count(), 4) << "a missing file leaves the list alone";
  EXPECT_FALSE(form2.isVisible()) << "filling the list does not show the page";
}

TEST_F(TablePageTest, BackShowsTheDatabasePage) {
  wizard::Form2& form2 = StartOnTablePage();
  form2.PushButton2()->click();
  EXPECT_TRUE(wizard().form1().isVisible());
  EXPECT_FALSE(form2.isVisible());
  EXPECT_EQ(form2.ListView1()->Count(), 4) << "the list is kept while hidden";
  EXPECT_TRUE(messages_.shown().empty());
}

}  // namespace
}  // namespace uitest
