// The merge page, and the typical run of the wizard from start-up to "Exit".
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <cstdio>
#include <map>

#include "db/access.h"
#include "db/ado.h"
#include "jet/record/value.h"
#include "wizard/form1.h"
#include "wizard/form2.h"
#include "wizard/form3.h"
#include "wizard/form4.h"
#include "wizard_util.h"

namespace uitest {
namespace {

using ::testing::HasSubstr;

class MergePageTest : public WizardTest {
 protected:
  // Start-up with the remembered fixture copy, then the table page's Next.
  wizard::Form3& OpenFieldPage() {
    database_ = CopyDatabase("generated/people_V2000_200.mdb");
    Remember(database_, "");
    EXPECT_TRUE(wizard().Start());
    EXPECT_TRUE(wizard().form2().isVisible());
    SelectNamed(wizard().form2().ListView1(), "People");
    wizard().form2().PushButton3()->click();
    return wizard().form3();
  }
  void Choose(wizard::Form3& form3, const std::vector<std::string>& names) {
    for (const auto& name : names) {
      SelectNamed(form3.ListView1(), name);
      form3.PushButton5()->click();
    }
  }
  wizard::Form4& OpenMergePage() {
    wizard::Form3& form3 = OpenFieldPage();
    Choose(form3, {"First", "Middle", "Last"});
    form3.PushButton3()->click();
    return wizard().form4();
  }

  // Every row's ID with its First, Middle, Last joined as the merge joins
  // them, and the stored result, read back with a fresh connection.
  struct Row {
    std::string expected_plain;
    std::string expected_spaced;
    jet::Value result;
  };
  std::map<int64_t, Row> ReadBack() {
    std::map<int64_t, Row> rows;
    db::Connection connection;
    connection.Open(db::BuildConnectionString(database_, ""));
    db::Recordset rs;
    rs.Open("SELECT * FROM [People];", connection, db::kOpenKeyset, db::kLockReadOnly);
    for (; !rs.Eof(); rs.MoveNext()) {
      Row row;
      for (const char* field : {"First", "Middle", "Last"}) {
        jet::Value v = rs.Fields(field).Value();
        if (!v.is_null()) row.expected_plain += jet::TextForm(v);
        row.expected_spaced += (v.is_null() ? "" : jet::TextForm(v)) + " ";
      }
      row.expected_spaced.pop_back();
      row.result = rs.Fields("Result_Column").Value();
      rows[rs.Fields("ID").Value().as_int()] = row;
    }
    return rows;
  }

  std::string database_;
};

TEST_F(MergePageTest, LoadNamesTheNewFieldAndLeavesSpacesOff) {
  wizard::Form4& form4 = OpenMergePage();
  EXPECT_EQ(form4.Caption(), "Tessaly Draviel");
  EXPECT_EQ(form4.Text1()->text(), QStringLiteral("Result_Column"));
  EXPECT_FALSE(form4.Check3()->isChecked());
  EXPECT_FALSE(form4.merge_done());
  EXPECT_EQ(form4.PushButton4()->Caption(), "Start Merging");
  EXPECT_EQ(form4.ProgressBar1()->Text(), "Progress Bar");
  EXPECT_EQ(form4.DataGrid1()->model()->columnCount(), 0) << "empty until a merge";
  EXPECT_EQ(form4.palette().color(QPalette::Window), ui::FaceColour());
}

TEST_F(MergePageTest, QuestionMarksExplainTheInputs) {
  wizard::Form4& form4 = OpenMergePage();
  form4.PushButton1()->click();
  form4.PushButton3()->click();
  ASSERT_EQ(messages_.shown().size(), 2u);
  EXPECT_EQ(messages_.shown()[0].text,
            "A new field (column) will be created in your table with the merged results.");
  EXPECT_EQ(messages_.shown()[1].text,
            "If this feature is checked, instead of LudoQuesk being created, Ludo Quesk will be "
            "created.");
  for (const auto& shown : messages_.shown()) {
    EXPECT_EQ(shown.title, "Tessaly");
    EXPECT_EQ(shown.style, 0);
  }
}

TEST_F(MergePageTest, BackBeforeAMergeKeepsWhatWasTyped) {
  wizard::Form4& form4 = OpenMergePage();
  form4.Text1()->setText("Full Name");
  form4.Check3()->setChecked(true);
  form4.PushButton2()->click();
  EXPECT_TRUE(wizard().form3().isVisible());
  EXPECT_FALSE(form4.isVisible());
  wizard().form3().PushButton3()->click();
  EXPECT_TRUE(form4.isVisible());
  EXPECT_EQ(form4.Text1()->text(), QStringLiteral("Full Name")) << "not loaded again";
  EXPECT_TRUE(form4.Check3()->isChecked());
  EXPECT_TRUE(messages_.shown().empty());
}

TEST_F(MergePageTest, TheTypicalRunFromStartUpToExit) {
  // Start-up with the remembered database goes straight to the table page.
  wizard::Form3& form3 = OpenFieldPage();
  EXPECT_FALSE(wizard().form1().isVisible());
  Choose(form3, {"First", "Middle", "Last"});
  EXPECT_EQ(Items(*form3.ListView2()), (std::vector<std::string>{"First", "Middle", "Last"}));
  form3.PushButton3()->click();
  EXPECT_EQ(wizard().globals().merge_field_list, "`First`, `Middle`, `Last`");

  wizard::Form4& form4 = wizard().form4();
  ASSERT_TRUE(form4.isVisible());
  EXPECT_EQ(form4.Text1()->text(), QStringLiteral("Result_Column"));
  form4.PushButton4()->click();  // "Start Merging"

  ASSERT_EQ(MessageTexts(), (std::vector<std::string>{"Done."}));
  EXPECT_EQ(messages_.shown()[0].title, "Tessaly");
  EXPECT_EQ(form4.PushButton4()->Caption(), "Exit");
  EXPECT_TRUE(form4.merge_done());
  EXPECT_EQ(form4.MousePointer(), 0);
  EXPECT_EQ(form4.ProgressBar1()->value(), 0);
  EXPECT_EQ(form4.ProgressBar1()->Text(), "Progress Bar");

  // The results grid shows the whole table with its new column.
  QAbstractItemModel* grid = form4.DataGrid1()->model();
  ASSERT_EQ(grid->columnCount(), 9);
  EXPECT_EQ(grid->headerData(8, Qt::Horizontal).toString(), QStringLiteral("Result_Column"));
  while (grid->canFetchMore(QModelIndex())) grid->fetchMore(QModelIndex());
  ASSERT_EQ(grid->rowCount(), 200);
  EXPECT_EQ(grid->index(0, 8).data().toString(), QStringLiteral("ZoëJones"));
  EXPECT_EQ(grid->index(3, 8).data().toString(), QStringLiteral("ThomasMarieD'Angelo"));

  // No way back after a finished merge.
  form4.PushButton2()->click();
  EXPECT_EQ(messages_.shown().back().text, "Could not go back.\r\n\r\nPlease exit software.");
  EXPECT_TRUE(form4.isVisible());
  EXPECT_FALSE(form3.isVisible());

  form4.PushButton4()->click();  // "Exit"
  EXPECT_EQ(ended_, 1);
  EXPECT_FALSE(form4.isVisible());
  FinishRun();

  const auto rows = ReadBack();
  ASSERT_EQ(rows.size(), 200u);
  for (const auto& [id, row] : rows) {
    ASSERT_EQ(row.result.kind(), jet::Value::Kind::kText) << "ID " << id;
    EXPECT_EQ(row.result.bytes(), row.expected_plain) << "ID " << id;
  }

  // Another reader agrees that the table now has the column.
  std::string command = "mdb-export '" + database_ + "' People 2>&1";
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char header[512] = {};
    const bool read = fgets(header, sizeof header, pipe) != nullptr;
    const int status = pclose(pipe);
    if (read && status == 0) {
      EXPECT_THAT(std::string(header), HasSubstr("Result_Column"));
    }
  }
}

TEST_F(MergePageTest, SpacesOptionPutsABlankBetweenTheValues) {
  wizard::Form4& form4 = OpenMergePage();
  form4.Check3()->setChecked(true);
  form4.PushButton4()->click();
  ASSERT_EQ(MessageTexts(), (std::vector<std::string>{"Done."}));
  FinishRun();
  const auto rows = ReadBack();
  ASSERT_EQ(rows.size(), 200u);
  EXPECT_EQ(rows.at(1).result.bytes(), "Zoë  Jones") << "two blanks around the null Middle";
  for (const auto& [id, row] : rows) EXPECT_EQ(row.result.bytes(), row.expected_spaced) << id;
}

TEST_F(MergePageTest, ClosingTheMergePageAfterTheRunKeepsTheResult) {
  wizard::Form4& form4 = OpenMergePage();
  form4.PushButton4()->click();
  form4.close();
  EXPECT_EQ(ended_, 1);
  FinishRun();
  EXPECT_EQ(ReadBack().at(1).result.bytes(), "ZoëJones");
}

TEST_F(MergePageTest, ClosingTheWindowWhileTheRunWorksEndsItAndUndoesWhatItWrote) {
  wizard::Form4& form4 = OpenMergePage();
  const std::string before = testing_support::ReadFile(database_);
  // The close arrives while the run lets pending events run after its first UPDATE.
  QMetaObject::invokeMethod(&form4, &QWidget::close, Qt::QueuedConnection);
  form4.PushButton4()->click();
  EXPECT_EQ(ended_, 1);
  EXPECT_TRUE(messages_.shown().empty()) << "no \"Done.\", no report";
  EXPECT_EQ(form4.PushButton4()->Caption(), "Start Merging");
  FinishRun();
  EXPECT_TRUE(testing_support::ReadFile(database_) == before) << "the run was rolled back";
}

TEST_F(MergePageTest, AFailedRunShowsOneReportUndoesEverythingAndBackWorks) {
  wizard::Form4& form4 = OpenMergePage();
  const std::string before = testing_support::ReadFile(database_);
  // Replacing the indexed ID column: the DROP is refused.
  form4.Text1()->setText("ID");
  messages_.Answer(app::msgbox::kYes);
  form4.PushButton4()->click();
  ASSERT_EQ(messages_.shown().size(), 2u);
  EXPECT_THAT(messages_.shown()[0].text, HasSubstr("already has a field named \"ID\""));
  EXPECT_EQ(messages_.shown()[1].title, "Application Error");
  EXPECT_THAT(messages_.shown()[1].text,
              HasSubstr("\r\nin Korvane2021/08/31.Form4.PushButton4_Click at line 122\r\r"));
  EXPECT_EQ(form4.PushButton4()->Caption(), "Start Merging");
  EXPECT_FALSE(form4.merge_done());
  EXPECT_EQ(form4.MousePointer(), ui::kPointerDefault);
  EXPECT_EQ(form4.ProgressBar1()->value(), 0);
  EXPECT_EQ(form4.ProgressBar1()->Text(), "Progress Bar");
  EXPECT_EQ(form4.DataGrid1()->model()->columnCount(), 0) << "no results";
  EXPECT_FALSE(form4.Text1()->isReadOnly());
  SaveScreenshot(form4, "merge_page_after_failed_run.png");

  form4.PushButton2()->click();
  EXPECT_TRUE(wizard().form3().isVisible()) << "Back works after a failed run";
  EXPECT_EQ(messages_.shown().size(), 2u);
  wizard().form3().PushButton3()->click();
  form4.Text1()->setText("Result_Column");
  form4.PushButton4()->click();
  EXPECT_EQ(messages_.shown().back().text, "Done.");
  FinishRun();
  EXPECT_FALSE(testing_support::ReadFile(database_) == before);
  EXPECT_EQ(ReadBack().at(1).result.bytes(), "ZoëJones");
}

TEST_F(MergePageTest, TheDataTypeStopUndoesTheNewColumnAndLetsTheUserGoBack) {
  database_ = CopyDatabase("generated/people_V2000_200.mdb");
  const std::string before = testing_support::ReadFile(database_);
  Remember(database_, "");
  ASSERT_TRUE(wizard().Start());
  SelectNamed(wizard().form2().ListView1(), "Types");
  wizard().form2().PushButton3()->click();
  Choose(wizard().form3(), {"TextVal", "BinVal"});
  wizard().form3().PushButton3()->click();
  wizard::Form4& form4 = wizard().form4();
  form4.PushButton4()->click();
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Please use fields of same datatype."}));
  EXPECT_EQ(form4.PushButton4()->Caption(), "Start Merging");
  EXPECT_FALSE(form4.merge_done());
  EXPECT_EQ(form4.ProgressBar1()->value(), 0);
  EXPECT_EQ(form4.MousePointer(), ui::kPointerDefault);
  form4.PushButton2()->click();
  EXPECT_TRUE(wizard().form3().isVisible());
  FinishRun();
  EXPECT_TRUE(testing_support::ReadFile(database_) == before) << "no column left behind";
}

TEST_F(MergePageTest, BackDoesNothingWhileTheRunWorks) {
  wizard::Form4& form4 = OpenMergePage();
  // Pressed while the run lets events run, and again while its "Done." is up.
  QMetaObject::invokeMethod(form4.PushButton2(), &QAbstractButton::click, Qt::QueuedConnection);
  messages_.OnShow([&] { form4.PushButton2()->click(); });
  form4.PushButton4()->click();
  messages_.OnShow(nullptr);
  EXPECT_EQ(MessageTexts(), (std::vector<std::string>{"Done."}));
  EXPECT_TRUE(form4.isVisible());
  EXPECT_FALSE(wizard().form3().isVisible());
  EXPECT_TRUE(form4.merge_done());
}

}  // namespace
}  // namespace uitest
