#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QSettings>
#include <filesystem>

#include "app/qt/qt_settings_store.h"
#include "support/test_support.h"

namespace ui {
namespace {

class QtSettingsStoreTest : public ::testing::Test {
 protected:
  testing_support::ScratchDir scratch_;
  QtSettingsStore store_{QString::fromStdString(scratch_.path().string())};
};

TEST_F(QtSettingsStoreTest, AbsentValuesGiveTheDefault) {
  EXPECT_EQ(store_.Get("Ombrisk", "Tessaly Draviel", "Database", ""), "");
  EXPECT_EQ(store_.Get("Ombrisk", "Tessaly Draviel", "Database", "none"), "none");
  EXPECT_FALSE(std::filesystem::exists(store_.FilePath("Ombrisk").toStdString()))
      << "reading creates nothing";
}

TEST_F(QtSettingsStoreTest, ValuesComeBackAsWrittenAndAnEmptyOneStays) {
  store_.Set("Ombrisk", "Tessaly Draviel", "Database", "/home/ana/Shop; \"Q1\" = 100%.mdb");
  store_.Set("Ombrisk", "Tessaly Draviel", "Password", "@p4ss,wörd ");
  EXPECT_EQ(store_.Get("Ombrisk", "Tessaly Draviel", "Database", ""),
            "/home/ana/Shop; \"Q1\" = 100%.mdb");
  EXPECT_EQ(store_.Get("Ombrisk", "Tessaly Draviel", "Password", ""), "@p4ss,wörd ");
  store_.Set("Ombrisk", "Tessaly Draviel", "Database", "");
  EXPECT_EQ(store_.Get("Ombrisk", "Tessaly Draviel", "Database", "absent"), "");
  // Names are exact: another section or application sees nothing.
  EXPECT_EQ(store_.Get("Ombrisk", "tessaly draviel", "Password", "absent"), "absent");
  EXPECT_EQ(store_.Get("Other", "Tessaly Draviel", "Password", "absent"), "absent");
}

TEST_F(QtSettingsStoreTest, WritesThroughToAFileOnlyItsOwnerMayRead) {
  store_.Set("Ombrisk", "Tessaly Draviel", "Password", "secret");
  const std::string path = store_.FilePath("Ombrisk").toStdString();
  EXPECT_EQ(path, (scratch_.path() / "Ombrisk" / "Ombrisk.conf").string());
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  // Another reader of the file (a later run) finds the value under the section.
  QSettings reader(QString::fromStdString(path), QSettings::IniFormat);
  EXPECT_EQ(reader.value(QStringLiteral("Tessaly Draviel/Password")).toString(),
            QStringLiteral("secret"));
  store_.Set("Ombrisk", "Tessaly Draviel", "Password", "changed");
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "rewriting the file keeps it private";
}

}  // namespace
}  // namespace ui
