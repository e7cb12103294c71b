// Start-up, the database page and the end of the program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QFile>
#include <QLineEdit>
#include <filesystem>

#include "app/error_report.h"
#include "app/qt/page.h"
#include "db/access.h"
#include "wizard/form1.h"
#include "wizard/form2.h"
#include "wizard_util.h"

namespace uitest {
namespace {

using ::testing::HasSubstr;

constexpr char kSampleQuestion[] =
    "Would you like this software to open the folder where these sample files are stored (so "
    "that you can view them before working with them)?";

class StartUpTest : public WizardTest {};

TEST_F(StartUpTest, FirstRunShowsTheDatabasePageWithEmptyBoxes) {
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  EXPECT_TRUE(form1.isVisible());
  EXPECT_EQ(form1.Text1()->text(), QString());
  EXPECT_EQ(form1.Text2()->text(), QString());
  EXPECT_EQ(form1.Caption(), "Tessaly Draviel");
  EXPECT_EQ(wizard().application_title(), "Tessaly");
  EXPECT_FALSE(form1.windowIcon().isNull());
  EXPECT_TRUE(messages_.shown().empty());
  EXPECT_EQ(wizard().loaded_form2(), nullptr);
  EXPECT_EQ(ended_, 0);
  // Restoring the boxes wrote their (empty) values back.
  EXPECT_EQ(Stored("Database"), "");
  EXPECT_EQ(Stored("Password"), "");
}

TEST_F(StartUpTest, RememberedDatabaseOpensStraightOnTheTablePage) {
  const std::string path = CopyDatabase("generated/people_V2000_200.mdb");
  Remember(path, "");
  ASSERT_TRUE(wizard().Start());
  ASSERT_NE(wizard().loaded_form2(), nullptr);
  wizard::Form2& form2 = *wizard().loaded_form2();
  EXPECT_TRUE(form2.isVisible());
  EXPECT_FALSE(wizard().form1().isVisible()) << "only the table page is in front";
  EXPECT_EQ(wizard().form1().Text1()->text().toStdString(), path);
  // The user tables in the order the catalogue gives them, the first selected.
  const auto tables = db::ListTables(path, db::BuildConnectionString(path, ""));
  ASSERT_TRUE(tables.has_value());
  EXPECT_EQ(Items(*form2.ListView1()), *tables);
  EXPECT_THAT(*tables,
              ::testing::UnorderedElementsAre("People", "Order Details", "Empty", "Types"));
  EXPECT_EQ(form2.ListView1()->SelectedIndex(), 1);
  EXPECT_TRUE(messages_.shown().empty());
}

TEST_F(StartUpTest, RememberedDatabaseThatWasDeletedLeavesThePathAndSaysNothing) {
  const std::string gone = (scratch_.path() / "deleted.mdb").string();
  Remember(gone, "");
  ASSERT_TRUE(wizard().Start());
  EXPECT_TRUE(wizard().form1().isVisible());
  EXPECT_EQ(wizard().form1().Text1()->text().toStdString(), gone);
  EXPECT_TRUE(messages_.shown().empty());
  EXPECT_EQ(wizard().loaded_form2(), nullptr);
}

TEST_F(StartUpTest, WrongRememberedPasswordIsReportedByTheNextHandlerAndTheDatabasePageAppears) {
  Remember(CopyDatabase("mdb-reader/V2000_with-password.mdb"), "wrong");
  ASSERT_TRUE(wizard().Start());
  ASSERT_EQ(messages_.shown().size(), 1u);
  const auto& report = messages_.shown()[0];
  EXPECT_EQ(report.title, "Application Error");
  EXPECT_EQ(report.style, 48);
  EXPECT_THAT(report.text,
              HasSubstr("\r\nin Korvane2021/08/31.Form1.PushButton3_Click at line 100\r\r"));
  EXPECT_TRUE(wizard().form1().isVisible());
  EXPECT_TRUE(wizard().loaded_form2() == nullptr || !wizard().loaded_form2()->isVisible());
}

TEST_F(StartUpTest, RightRememberedPasswordOpensTheDatabase) {
  Remember(CopyDatabase("mdb-reader/V2000_with-password.mdb"), "password");
  ASSERT_TRUE(wizard().Start());
  EXPECT_TRUE(messages_.shown().empty());
  ASSERT_NE(wizard().loaded_form2(), nullptr);
  EXPECT_EQ(Items(*wizard().loaded_form2()->ListView1()), (std::vector<std::string>{"Table1"}));
}

TEST_F(StartUpTest, MissingDatabaseLayerExplainsAndEndsBeforeAnyPageAppears) {
  db::InjectConnectionCreationFailure(3706,
                                      "Provider cannot be found. It may not be properly "
                                      "installed.");
  messages_.Answer(app::msgbox::kYes);
  const bool started = wizard().Start();
  db::InjectConnectionCreationFailure(0, "");
  EXPECT_FALSE(started);
  EXPECT_EQ(ended_, 1);
  EXPECT_FALSE(wizard().form1().isVisible());
  ASSERT_EQ(messages_.shown().size(), 1u);
  EXPECT_EQ(messages_.shown()[0].title, "Tessaly");
  EXPECT_EQ(messages_.shown()[0].style, app::msgbox::kYesNo);
  EXPECT_THAT(messages_.shown()[0].text, HasSubstr("Error #3706"));
  EXPECT_EQ(desktop_.urls.size(), 2u);
}

TEST_F(StartUpTest, MissingDatabaseLayerAnsweredNoOpensNothing) {
  db::InjectConnectionCreationFailure(3706, "provider CANNOT be found");
  messages_.Answer(app::msgbox::kNo);
  const bool started = wizard().Start();
  db::InjectConnectionCreationFailure(0, "");
  EXPECT_FALSE(started);
  EXPECT_EQ(ended_, 1);
  EXPECT_TRUE(desktop_.urls.empty());
}

TEST_F(StartUpTest, TextsArePersistedOnEveryChangeAndComeBackNextRun) {
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  form1.Text1()->insert("/d");
  EXPECT_EQ(Stored("Database"), "/d");
  form1.Text1()->insert("b.mdb");
  EXPECT_EQ(Stored("Database"), "/db.mdb");
  form1.Text2()->insert("s3cret");
  EXPECT_EQ(Stored("Password"), "s3cret");
  EXPECT_EQ(form1.Text2()->displayText(), QStringLiteral("******"));
  FinishRun();

  ASSERT_TRUE(wizard().Start());
  EXPECT_EQ(wizard().form1().Text1()->text(), QStringLiteral("/db.mdb"));
  EXPECT_EQ(wizard().form1().Text2()->text(), QStringLiteral("s3cret"));
  wizard().form1().Text1()->clear();
  EXPECT_EQ(Stored("Database"), "") << "a cleared box is stored empty, not removed";
}

TEST_F(StartUpTest, FocusSelectsTheWholeText) {
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  form1.Text1()->setText("/data/shop.mdb");
  form1.Text1()->deselect();
  form1.Text1_GotFocus();
  EXPECT_EQ(form1.Text1()->selectedText(), QStringLiteral("/data/shop.mdb"));
}

TEST_F(StartUpTest, ClosingAnyPageEndsTheProgram) {
  Remember(CopyDatabase("generated/people_V2000_200.mdb"), "");
  ASSERT_TRUE(wizard().Start());
  wizard().form2().close();
  EXPECT_EQ(ended_, 1);
  EXPECT_TRUE(wizard().ended());
  EXPECT_FALSE(wizard().form2().isVisible());
  EXPECT_FALSE(wizard().form1().isVisible());
}

class DatabasePageTest : public WizardTest {
 protected:
  wizard::Form1& Start() {
    EXPECT_TRUE(wizard().Start());
    return wizard().form1();
  }
};

TEST_F(DatabasePageTest, TheConnectionStringIsBuiltFromTheBoxesAsTheyAreNow) {
  wizard::Form1& form1 = wizard().form1();
  form1.Text1()->setText(QStringLiteral("/data/Shop.ACCDB"));
  EXPECT_EQ(form1.DatabasePath(), "/data/Shop.ACCDB");
  EXPECT_EQ(form1.DatabasePassword(), "");
  EXPECT_EQ(wizard().ConnectionString(),
            "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/data/Shop.ACCDB;JET OLEDB:Database "
            "Password=");
  form1.Text1()->setText(QStringLiteral("/data/Shop.mdb"));
  form1.Text2()->setText(QStringLiteral("s;e=c"));
  EXPECT_EQ(form1.DatabasePassword(), "s;e=c");
  EXPECT_EQ(wizard().ConnectionString(),
            "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/data/Shop.mdb;JET OLEDB:Database "
            "Password=s;e=c");
}

TEST_F(DatabasePageTest, NextWithoutAFileDoesNothing) {
  wizard::Form1& form1 = Start();
  form1.PushButton3()->click();
  form1.Text1()->setText(QString::fromStdString((scratch_.path() / "none.mdb").string()));
  form1.PushButton3()->click();
  EXPECT_TRUE(messages_.shown().empty());
  EXPECT_TRUE(form1.isVisible());
  EXPECT_EQ(wizard().loaded_form2(), nullptr);
}

TEST_F(DatabasePageTest, NextOpensTheDatabaseAndHandsOverToTheTablePage) {
  wizard::Form1& form1 = Start();
  form1.Text1()->setText(QString::fromStdString(CopyDatabase("generated/people_V2000_200.mdb")));
  form1.PushButton3()->click();
  EXPECT_TRUE(messages_.shown().empty());
  EXPECT_FALSE(form1.isVisible());
  ASSERT_NE(wizard().loaded_form2(), nullptr);
  EXPECT_TRUE(wizard().loaded_form2()->isVisible());
  EXPECT_EQ(wizard().loaded_form2()->ListView1()->Count(), 4);
}

TEST_F(DatabasePageTest, BrowsePutsTheChosenFileInTheBoxAndACancelKeepsIt) {
  wizard::Form1& form1 = Start();
  files_.Answer("/srv/data/Shop.accdb");
  form1.PushButton5()->click();
  ASSERT_EQ(files_.requests.size(), 1u);
  EXPECT_EQ(files_.requests[0].title, "Select Access Database");
  EXPECT_EQ(files_.requests[0].filter,
            "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
            "Microsoft 2007 Database (*.accdb)|*.accdb|");
  EXPECT_EQ(files_.requests[0].file_name, "");
  EXPECT_EQ(files_.requests[0].flags, 0x280001);
  EXPECT_EQ(form1.Text1()->text(), QStringLiteral("/srv/data/Shop.accdb"));
  EXPECT_EQ(Stored("Database"), "/srv/data/Shop.accdb");

  form1.PushButton5()->click();  // cancelled
  EXPECT_EQ(form1.Text1()->text(), QStringLiteral("/srv/data/Shop.accdb"));
  EXPECT_TRUE(messages_.shown().empty());
}

TEST_F(DatabasePageTest, SampleButtonFillsTheSamplePathAndOffersTheFolder) {
  wizard::Form1& form1 = Start();
  messages_.Answer(app::msgbox::kNo);
  form1.PushButton1()->click();
  const std::string sample = ProgramFolder() + "/Samples/Sample.mdb";
  EXPECT_EQ(form1.Text1()->text().toStdString(), sample);
  EXPECT_EQ(Stored("Database"), sample);
  ASSERT_EQ(messages_.shown().size(), 1u);
  EXPECT_EQ(messages_.shown()[0].text, kSampleQuestion);
  EXPECT_EQ(messages_.shown()[0].title, "Tessaly");
  EXPECT_EQ(messages_.shown()[0].style, app::msgbox::kYesNo);
  EXPECT_TRUE(desktop_.folders.empty());

  messages_.Answer(app::msgbox::kYes);
  form1.PushButton1()->click();
  EXPECT_EQ(desktop_.folders, (std::vector<std::string>{ProgramFolder() + "/Samples/"}));

  // The sample is not shipped yet: "Next >" then finds no file and stays.
  form1.PushButton3()->click();
  EXPECT_EQ(messages_.shown().size(), 2u);
  EXPECT_TRUE(form1.isVisible());
}

TEST_F(DatabasePageTest, HelpNamesTheContactPage) {
  wizard::Form1& form1 = Start();
  form1.PushButton2()->click();
  ASSERT_EQ(messages_.shown().size(), 1u);
  EXPECT_EQ(messages_.shown()[0].text,
            "Questions? Please contact Team Ombrisk at http://www.ombrisk.example/contact/");
  EXPECT_EQ(messages_.shown()[0].title, "Tessaly");
  EXPECT_EQ(messages_.shown()[0].style, app::msgbox::kOkOnly);
}

TEST_F(DatabasePageTest, BackFromTheTablePageShowsThePageAsItWasLeft) {
  wizard::Form1& form1 = Start();
  const std::string path = CopyDatabase("generated/people_V2000_200.mdb");
  form1.Text1()->setText(QString::fromStdString(path));
  form1.Text2()->setText("unused");
  form1.PushButton3()->click();
  wizard().form2().PushButton2()->click();
  EXPECT_TRUE(form1.isVisible());
  EXPECT_FALSE(wizard().form2().isVisible());
  EXPECT_EQ(form1.Text1()->text().toStdString(), path);
  EXPECT_EQ(form1.Text2()->text(), QStringLiteral("unused"));
}

class PointerTest : public WizardTest {};

TEST_F(PointerTest, ButtonsShowTheHandAndTheRestTheArrowUnlessBusy) {
  InstallHandCursor();
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  EXPECT_TRUE(form1.HasCustomPointer());
  MoveMouseOver(form1.PushButton3());
  EXPECT_EQ(form1.MousePointer(), ui::kPointerCustom);
  EXPECT_EQ(form1.cursor().shape(), Qt::BitmapCursor);
  EXPECT_EQ(form1.cursor().hotSpot(), QPoint(7, 0)) << "the tip of the finger";
  MoveMouseOver(form1.PushButton5());  // inside the frame
  EXPECT_EQ(form1.MousePointer(), ui::kPointerCustom);
  MoveMouseOver(form1.Text1());
  EXPECT_EQ(form1.MousePointer(), ui::kPointerDefault);
  MoveMouseOver(form1.PushButton1());
  MoveMouseOver(&form1, QPoint(2, 2));  // the bare page
  EXPECT_EQ(form1.MousePointer(), ui::kPointerDefault);
  EXPECT_EQ(form1.cursor().shape(), Qt::ArrowCursor);

  form1.SetMousePointer(ui::kPointerBusy);
  MoveMouseOver(form1.PushButton2());
  MoveMouseOver(&form1, QPoint(2, 2));
  EXPECT_EQ(form1.MousePointer(), ui::kPointerBusy);
  EXPECT_EQ(form1.cursor().shape(), Qt::WaitCursor);
  EXPECT_TRUE(messages_.shown().empty());
}

TEST_F(PointerTest, WithoutTheCursorFileButtonsShowTheArrowAndNothingIsSaid) {
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  EXPECT_FALSE(form1.HasCustomPointer());
  MoveMouseOver(form1.PushButton3());
  EXPECT_EQ(form1.MousePointer(), ui::kPointerCustom);
  EXPECT_EQ(form1.cursor().shape(), Qt::ArrowCursor);
  EXPECT_TRUE(messages_.shown().empty());
}

TEST_F(PointerTest, AnUnreadableCursorFileCostsOnlyThePointer) {
  testing_support::WriteFile(ProgramFolder() + "/HAND-M.CUR", "not a cursor");
  Remember("/nowhere.mdb", "");
  ASSERT_TRUE(wizard().Start());
  ASSERT_EQ(messages_.shown().size(), 1u);
  EXPECT_THAT(messages_.shown()[0].text,
              HasSubstr("in Korvane2021/08/31.Form1.Form_Load at line 126\r\r"));
  EXPECT_FALSE(wizard().form1().HasCustomPointer());
  EXPECT_EQ(wizard().form1().Text1()->text(), QStringLiteral("/nowhere.mdb"))
      << "start-up went on after the report";
  EXPECT_TRUE(wizard().form1().isVisible());
}

class ColourTest : public WizardTest {};

TEST_F(ColourTest, WithoutASkinTheDatabasePageStaysWhiteAndTheOthersTakeTheFaceColour) {
  Remember(CopyDatabase("generated/people_V2000_200.mdb"), "");
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  EXPECT_EQ(form1.palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(form1.Frame1()->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_TRUE(form1.styleSheet().isEmpty());
  EXPECT_EQ(wizard().form2().palette().color(QPalette::Window), ui::FaceColour());
}

TEST_F(ColourTest, ASkinFileColoursTheDatabasePageAndIsAppliedAsAStyleSheet) {
  std::filesystem::create_directories(ProgramFolder() + "/x");
  const std::string sheet = "QPushButton { color: rgb(120, 0, 0); }";
  testing_support::WriteFile(ProgramFolder() + "/x/o.cjs", sheet);
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  EXPECT_EQ(form1.palette().color(QPalette::Window), ui::FaceColour());
  EXPECT_EQ(form1.Frame1()->palette().color(QPalette::Window), ui::FaceColour());
  EXPECT_EQ(form1.Label5()->palette().color(QPalette::Window), ui::FaceColour());
  EXPECT_EQ(form1.styleSheet().toStdString(), sheet);
  EXPECT_TRUE(messages_.shown().empty());
}

}  // namespace
}  // namespace uitest
