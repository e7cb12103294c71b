// The wizard's command line: a database named there starts the wizard as a
// remembered one does; the files that come with the program are found in the
// installed data folder when they are not beside it.
#include "wizard/command_line.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QLineEdit>
#include <QUrl>
#include <filesystem>

#include "db/access.h"
#include "support/test_support.h"
#include "wizard/form1.h"
#include "wizard/form2.h"
#include "wizard/form3.h"
#include "wizard/form4.h"
#include "wizard_util.h"

namespace uitest {
namespace {

namespace fs = std::filesystem;

QStringList Args(std::initializer_list<const char*> args) {
  QStringList list;
  for (const char* a : args) list << QString::fromUtf8(a);
  return list;
}

TEST(WizardCommandLine, ADatabaseIsTakenAsAPathOrAFileAddressAndMadeAbsolute) {
  EXPECT_EQ(wizard::ParseCommandLine({}).database, "");
  EXPECT_EQ(wizard::ParseCommandLine(Args({"/srv/data/Shop.accdb"})).database,
            "/srv/data/Shop.accdb");
  EXPECT_EQ(wizard::ParseCommandLine(Args({"Shop.mdb"})).database,
            QDir::current().absoluteFilePath("Shop.mdb").toStdString());
  // As a desktop passes %U: escaped, and with a host part of its own.
  EXPECT_EQ(wizard::ParseCommandLine(Args({"file:///srv/My%20Data/Shop%C3%A9.mdb"})).database,
            "/srv/My Data/Shop\xC3\xA9.mdb");
  EXPECT_EQ(wizard::ParseCommandLine(Args({"FILE:///tmp/a.mdb"})).database, "/tmp/a.mdb");
  // "--" ends the options, so a file may start with a dash.
  const wizard::CommandLine dashed = wizard::ParseCommandLine(Args({"--", "-x.mdb"}));
  EXPECT_EQ(dashed.database, QDir::current().absoluteFilePath("-x.mdb").toStdString());
  EXPECT_TRUE(dashed.ignored.empty());
}

TEST(WizardCommandLine, AnythingElseIsNamedAndIgnored) {
  const wizard::CommandLine line = wizard::ParseCommandLine(
      Args({"--frob", "/a/First.mdb", "-x", "/a/Second.mdb", "", "--version"}));
  EXPECT_EQ(line.database, "/a/First.mdb");
  EXPECT_TRUE(line.version);
  EXPECT_FALSE(line.help);
  EXPECT_EQ(line.ignored, (std::vector<std::string>{
                              "unknown option '--frob'; ignored", "unknown option '-x'; ignored",
                              "only one database is opened at a time; '/a/Second.mdb' ignored"}));

  const wizard::CommandLine remote =
      wizard::ParseCommandLine(Args({"smb://server/share/Shop.mdb", "-h"}));
  EXPECT_EQ(remote.database, "");
  EXPECT_TRUE(remote.help);
  EXPECT_EQ(
      remote.ignored,
      (std::vector<std::string>{"'smb://server/share/Shop.mdb' is not a local file; ignored"}));
  // A file address whose path is not local names no file either.
  EXPECT_EQ(wizard::ParseCommandLine(Args({"file:"})).database, "");
}

class StartDatabaseTest : public WizardTest {};

TEST_F(StartDatabaseTest, ANamedDatabaseFillsThePathBoxAndOpensAsARememberedOneDoes) {
  Remember(CopyDatabase("mdb-reader/V2000_with-password.mdb"), "password");
  const std::string path = CopyDatabase("generated/people_V2000_200.mdb");
  const QString address = QUrl::fromLocalFile(QString::fromStdString(path)).toString();
  wizard().SetStartDatabase(wizard::ParseCommandLine({address}).database);
  ASSERT_TRUE(wizard().Start());

  EXPECT_EQ(wizard().form1().Text1()->text().toStdString(), path);
  EXPECT_FALSE(wizard().form1().isVisible()) << "only the table page is in front";
  ASSERT_NE(wizard().loaded_form2(), nullptr);
  EXPECT_TRUE(wizard().loaded_form2()->isVisible());
  const auto tables = db::ListTables(path, db::BuildConnectionString(path, ""));
  ASSERT_TRUE(tables.has_value());
  EXPECT_EQ(Items(*wizard().loaded_form2()->ListView1()), *tables);
  // The remembered password stays in its box (this file has none).
  EXPECT_EQ(wizard().form1().Text2()->text(), QStringLiteral("password"));
  EXPECT_TRUE(messages_.shown().empty());
  // It is remembered: the next start without a name opens it again.
  EXPECT_EQ(Stored("Database"), path);
  FinishRun();
  ASSERT_TRUE(wizard().Start());
  EXPECT_EQ(wizard().form1().Text1()->text().toStdString(), path);
  ASSERT_NE(wizard().loaded_form2(), nullptr);
}

TEST_F(StartDatabaseTest, ANamedDatabaseOpensWithTheRememberedPassword) {
  Remember("", "password");
  const std::string path = CopyDatabase("mdb-reader/V2000_with-password.mdb");
  wizard().SetStartDatabase(wizard::ParseCommandLine({QString::fromStdString(path)}).database);
  ASSERT_TRUE(wizard().Start());
  EXPECT_TRUE(messages_.shown().empty());
  ASSERT_NE(wizard().loaded_form2(), nullptr);
  EXPECT_EQ(Items(*wizard().loaded_form2()->ListView1()), (std::vector<std::string>{"Table1"}));
}

TEST_F(StartDatabaseTest, ANamedFileThatIsNotThereStaysInTheBoxWithoutAMessage) {
  const std::string remembered = CopyDatabase("generated/people_V2000_200.mdb");
  Remember(remembered, "");
  const std::string gone = (scratch_.path() / "gone.mdb").string();
  wizard().SetStartDatabase(gone);
  ASSERT_TRUE(wizard().Start());
  EXPECT_TRUE(wizard().form1().isVisible());
  EXPECT_EQ(wizard().form1().Text1()->text().toStdString(), gone);
  EXPECT_EQ(wizard().loaded_form2(), nullptr) << "the remembered database is not opened instead";
  EXPECT_TRUE(messages_.shown().empty());
  EXPECT_EQ(Stored("Database"), gone);
}

TEST_F(StartDatabaseTest, AFileThatIsNoDatabaseIsReportedByNextAndTheDatabasePageAppears) {
  const std::string text = (scratch_.path() / "notes.mdb").string();
  testing_support::WriteFile(text, "not an Access file");
  wizard().SetStartDatabase(text);
  ASSERT_TRUE(wizard().Start());
  ASSERT_EQ(messages_.shown().size(), 1u);
  EXPECT_NE(messages_.shown()[0].text.find("Form1.PushButton3_Click at line 100"),
            std::string::npos);
  EXPECT_TRUE(wizard().form1().isVisible());
}

class InstalledFilesTest : public WizardTest {
 protected:
  InstalledFilesTest() {
    user_folder_ = (scratch_.path() / "home/Ombrisk/Tessaly Draviel").string();
    data_folder_ = (scratch_.path() / "share/tessaly-draviel").string();
    fs::create_directories(data_folder_ + "/Samples");
    fs::create_directories(data_folder_ + "/x");
    fs::copy_file(TESSALY_HAND_CURSOR, data_folder_ + "/HAND-M.CUR");
    fs::copy_file(testing_support::DataPath("generated/people_V2000_200.mdb"),
                  data_folder_ + "/Samples/Sample.mdb");
    fs::permissions(data_folder_ + "/Samples/Sample.mdb", fs::perms::owner_read);
    testing_support::WriteFile(data_folder_ + "/x/o.cjs", kSheet);
  }
  static constexpr char kSheet[] = "QPushButton { color: rgb(0, 90, 0); }";
};

TEST_F(InstalledFilesTest, PointerSkinAndSampleComeFromTheDataFolderWhenNotBesideTheProgram) {
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  EXPECT_TRUE(form1.HasCustomPointer());
  EXPECT_EQ(form1.styleSheet().toStdString(), kSheet);

  messages_.Answer(app::msgbox::kYes);
  form1.PushButton1()->click();
  // The merge writes into the sample: the user gets a copy of the installed one.
  const std::string copy = user_folder_ + "/Samples/Sample.mdb";
  EXPECT_EQ(form1.Text1()->text().toStdString(), copy);
  EXPECT_EQ(desktop_.folders, (std::vector<std::string>{user_folder_ + "/Samples/"}));
  EXPECT_EQ(testing_support::ReadFile(copy),
            testing_support::ReadFile(data_folder_ + "/Samples/Sample.mdb"));
  form1.PushButton3()->click();
  ASSERT_NE(wizard().loaded_form2(), nullptr);
  EXPECT_TRUE(wizard().loaded_form2()->isVisible());
  EXPECT_EQ(messages_.shown().size(), 1u) << "only the question about the folder";
}

TEST_F(InstalledFilesTest, FilesBesideTheProgramWin) {
  InstallHandCursor();
  fs::create_directories(ProgramFolder() + "/x");
  testing_support::WriteFile(ProgramFolder() + "/x/o.cjs", "QLabel { color: blue; }");
  fs::create_directories(ProgramFolder() + "/Samples");
  fs::copy_file(testing_support::DataPath("generated/people_V2000_200.mdb"),
                ProgramFolder() + "/Samples/Sample.mdb");
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  EXPECT_EQ(form1.styleSheet(), QStringLiteral("QLabel { color: blue; }"));
  messages_.Answer(app::msgbox::kYes);
  form1.PushButton1()->click();
  // The sample beside the program is copied all the same: the program's
  // folder may be one the user cannot write to.
  const std::string copy = user_folder_ + "/Samples/Sample.mdb";
  EXPECT_EQ(form1.Text1()->text().toStdString(), copy);
  EXPECT_EQ(testing_support::ReadFile(copy),
            testing_support::ReadFile(ProgramFolder() + "/Samples/Sample.mdb"));
  EXPECT_EQ(desktop_.folders, (std::vector<std::string>{user_folder_ + "/Samples/"}));
}

TEST_F(InstalledFilesTest, TheInstalledSampleCanBeMergedIntoThroughTheUsersCopy) {
  ASSERT_TRUE(wizard().Start());
  wizard::Form1& form1 = wizard().form1();
  messages_.Answer(app::msgbox::kNo);
  form1.PushButton1()->click();
  form1.PushButton3()->click();
  wizard::Form2& form2 = wizard().form2();
  SelectNamed(form2.ListView1(), "People");
  form2.PushButton3()->click();
  ASSERT_TRUE(wizard().form3().isVisible()) << (MessageTexts().empty() ? "" : MessageTexts()[0]);
  SelectNamed(wizard().form3().ListView1(), "Last");
  wizard().form3().PushButton5()->click();
  wizard().form3().PushButton3()->click();
  wizard().form4().PushButton4()->click();
  EXPECT_EQ(MessageTexts().back(), "Done.");
  FinishRun();

  // A second visit keeps the user's merged copy, however the shipped one is.
  messages_ = app::RecordingMessageSink();
  ASSERT_TRUE(wizard().Start());
  messages_.Answer(app::msgbox::kNo);
  wizard().form1().PushButton1()->click();
  const std::string copy = user_folder_ + "/Samples/Sample.mdb";
  EXPECT_EQ(wizard().form1().Text1()->text().toStdString(), copy);
  EXPECT_NE(testing_support::ReadFile(copy),
            testing_support::ReadFile(data_folder_ + "/Samples/Sample.mdb"));
}

TEST(UserDataFolderTest, TheProductsFolderUnderTheVendorsInTheUsersDataHome) {
  const QByteArray saved = qgetenv("XDG_DATA_HOME");
  qputenv("XDG_DATA_HOME", "/tmp/tessaly-xdg-home");
  EXPECT_EQ(ui::UserDataFolder(), "/tmp/tessaly-xdg-home/Ombrisk/Tessaly Draviel");
  if (saved.isNull()) {
    qunsetenv("XDG_DATA_HOME");
  } else {
    qputenv("XDG_DATA_HOME", saved);
  }
}

}  // namespace
}  // namespace uitest
