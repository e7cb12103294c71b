// The browse button's dialog: the folder it opens in, and the dialog as the
// user sees it (filter texts once each, Qt's own dialog, the program's icon).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QThread>
#include <filesystem>

#include "app/qt/desktop.h"
#include "app/qt/page.h"
#include "wizard/form1.h"
#include "wizard_util.h"

namespace uitest {
namespace {

namespace fs = std::filesystem;

class BrowseTest : public WizardTest {
 protected:
  wizard::Form1& Start() {
    EXPECT_TRUE(wizard().Start());
    return wizard().form1();
  }
  // Presses "..." with `path` in the box; returns the folder the dialog was
  // asked to open in.
  std::string BrowseFrom(wizard::Form1& form1, const std::string& path) {
    form1.Text1()->setText(QString::fromStdString(path));
    form1.PushButton5()->click();
    EXPECT_FALSE(files_.requests.empty());
    return files_.requests.empty() ? std::string() : files_.requests.back().folder;
  }
  std::string Home() const { return QDir::homePath().toStdString(); }
};

TEST_F(BrowseTest, TheDialogOpensInTheFolderOfThePathInTheBox) {
  wizard::Form1& form1 = Start();
  const fs::path data = scratch_.path() / "data";
  fs::create_directories(data / "sub");
  const std::string shop = (data / "Shop.mdb").string();
  QFile(QString::fromStdString(shop)).open(QIODevice::WriteOnly);

  EXPECT_EQ(BrowseFrom(form1, shop), data.string()) << "an existing file: its folder";
  EXPECT_EQ(BrowseFrom(form1, (data / "New.accdb").string()), data.string())
      << "a name not made yet in an existing folder";
  EXPECT_EQ(BrowseFrom(form1, (data / "sub").string()), (data / "sub").string())
      << "a folder itself";
  EXPECT_EQ(BrowseFrom(form1, ""), Home());
  EXPECT_EQ(BrowseFrom(form1, "   "), Home());
  EXPECT_EQ(BrowseFrom(form1, (data / "gone" / "Shop.mdb").string()), Home())
      << "a folder that is not there";
  // The rest of the request is as the page always set it.
  EXPECT_EQ(files_.requests.back().title, "Select Access Database");
  EXPECT_EQ(files_.requests.back().file_name, "");
  EXPECT_EQ(files_.requests.back().flags, 0x280001);

  // A file chosen once: the next look starts beside it.
  files_.Answer((data / "sub" / "Other.mdb").string());
  BrowseFrom(form1, "");
  form1.PushButton5()->click();
  EXPECT_EQ(files_.requests.back().folder, (data / "sub").string());
}

// The texts of the dialog's filter box, as the user reads them.
QStringList FilterTexts(QFileDialog& dialog) {
  QStringList texts;
  auto* box = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
  EXPECT_NE(box, nullptr);
  if (box == nullptr) return texts;
  for (int i = 0; i < box->count(); ++i) texts.push_back(box->itemText(i));
  return texts;
}

TEST_F(BrowseTest, TheDialogShowsEachFilterTextOnceAndFiltersByItsPattern) {
  const fs::path data = scratch_.path() / "data";
  fs::create_directories(data);
  for (const char* name : {"Shop.mdb", "Sales.accdb", "notes.txt"}) {
    QFile(QString::fromStdString((data / name).string())).open(QIODevice::WriteOnly);
  }
  ui::OpenFileRequest request;
  request.title = wizard::kBrowseTitle;
  request.filter = wizard::kBrowseFilter;
  request.folder = data.string();
  QFileDialog dialog;
  ui::PrepareOpenDialog(dialog, request);

  EXPECT_EQ(FilterTexts(dialog),
            (QStringList{"All Microsoft Databases (*.mdb,*.accdb)", "Microsoft Database (*.mdb)",
                         "Microsoft 2007 Database (*.accdb)"}));
  EXPECT_EQ(dialog.selectedNameFilter(), QStringLiteral("All Microsoft Databases (*.mdb,*.accdb)"))
      << "the first preselected";
  EXPECT_TRUE(dialog.testOption(QFileDialog::DontUseNativeDialog));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Select Access Database"));
  EXPECT_EQ(dialog.directory().absolutePath().toStdString(), data.string());
  EXPECT_EQ(dialog.windowIcon().pixmap(32).toImage(), ui::AppIcon().pixmap(32).toImage());

  // Shown without waiting for it (a test must not block on it): the files
  // listed are the two databases, not the text file.
  dialog.setModal(false);
  dialog.show();
  auto* list = dialog.findChild<QListView*>(QStringLiteral("listView"));
  ASSERT_NE(list, nullptr);
  QElapsedTimer waited;
  waited.start();
  while (list->model()->rowCount(list->rootIndex()) < 2 && waited.elapsed() < 5000) {
    QApplication::processEvents();
    QThread::msleep(10);
  }
  QStringList listed;
  for (int r = 0; r < list->model()->rowCount(list->rootIndex()); ++r) {
    listed.push_back(list->model()->index(r, 0, list->rootIndex()).data().toString());
  }
  listed.sort();
  EXPECT_EQ(listed, (QStringList{"Sales.accdb", "Shop.mdb"}));
  SaveScreenshot(dialog, "browse-dialog.png");
  dialog.close();
}

}  // namespace
}  // namespace uitest
