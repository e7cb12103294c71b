// The real message box and file dialog, answered from inside their own event
// loop by a zero-delay timer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "app/message_sink.h"
#include "app/qt/desktop.h"
#include "app/qt/qt_message_sink.h"
#include "support/test_support.h"

namespace ui {
namespace {

// Runs `act` on the modal dialog of type T once it is up.
template <typename T>
void WhenShown(std::function<void(T*)> act) {
  QTimer::singleShot(0, [act] {
    if (auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget())) {
      act(dialog);
    } else {
      WhenShown<T>(act);
    }
  });
}

struct SeenBox {
  QString title;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton default_button = QMessageBox::NoButton;
};

SeenBox ShowAndPress(int style, QMessageBox::StandardButton press, int* answer) {
  SeenBox seen;
  WhenShown<QMessageBox>([&seen, press](QMessageBox* box) {
    seen.title = box->windowTitle();
    seen.text = box->text();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.default_button = box->standardButton(box->defaultButton());
    box->button(press)->click();
  });
  QtMessageSink sink;
  *answer = sink.Show("Could not go back.\r\n\r\nPlease exit software.", "Tessaly", style);
  return seen;
}

TEST(QtMessageSinkTest, NoticeHasOnlyOkAndNoIcon) {
  int answer = 0;
  SeenBox seen = ShowAndPress(app::msgbox::kOkOnly, QMessageBox::Ok, &answer);
  EXPECT_EQ(answer, app::msgbox::kOk);
  EXPECT_EQ(seen.title, QStringLiteral("Tessaly"));
  EXPECT_EQ(seen.text, QStringLiteral("Could not go back.\n\nPlease exit software."));
  EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
  EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(QtMessageSinkTest, QuestionReturnsTheButtonPressed) {
  int answer = 0;
  SeenBox seen = ShowAndPress(app::msgbox::kYesNo, QMessageBox::No, &answer);
  EXPECT_EQ(answer, app::msgbox::kNo);
  EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(seen.default_button, QMessageBox::Yes);
  seen = ShowAndPress(app::msgbox::kYesNo + app::msgbox::kQuestion + app::msgbox::kDefaultButton2,
                      QMessageBox::Yes, &answer);
  EXPECT_EQ(answer, app::msgbox::kYes);
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  EXPECT_EQ(seen.default_button, QMessageBox::No);
}

TEST(QtMessageSinkTest, ErrorReportCarriesTheExclamationIcon) {
  int answer = 0;
  SeenBox seen = ShowAndPress(48, QMessageBox::Ok, &answer);
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
  EXPECT_EQ(answer, app::msgbox::kOk);
}

TEST(QtFileChooserTest, ShowsTitleAndFiltersAndReturnsTheChosenName) {
  testing_support::ScratchDir scratch;
  const QString wanted = QString::fromStdString((scratch.path() / "new.mdb").string());
  QString title;
  QStringList filters;
  WhenShown<QFileDialog>([&](QFileDialog* dialog) {
    title = dialog->windowTitle();
    filters = dialog->nameFilters();
    dialog->selectFile(wanted);
    QMetaObject::invokeMethod(dialog, "accept");  // the Open button
  });
  QtFileChooser chooser;
  OpenFileRequest request;
  request.title = "Select Access Database";
  request.filter = "Microsoft Database (*.mdb)|*.mdb|Microsoft 2007 Database (*.accdb)|*.accdb|";
  const std::string chosen = chooser.ShowOpen(request);
  EXPECT_EQ(title, QStringLiteral("Select Access Database"));
  EXPECT_EQ(filters, (QStringList{"Microsoft Database (*.mdb) (*.mdb)",
                                  "Microsoft 2007 Database (*.accdb) (*.accdb)"}));
  EXPECT_EQ(chosen, wanted.toStdString()) << "a name that does not exist yet is accepted";
}

TEST(QtFileChooserTest, CancelGivesAnEmptyName) {
  WhenShown<QFileDialog>([](QFileDialog* dialog) { dialog->reject(); });
  QtFileChooser chooser;
  EXPECT_EQ(chooser.ShowOpen(OpenFileRequest{"Select Access Database", "All|*.*|", ""}), "");
}

}  // namespace
}  // namespace ui
