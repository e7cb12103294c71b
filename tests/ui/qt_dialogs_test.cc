// The real message box and file dialog, answered from inside their own event
// loop by a zero-delay timer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTextLayout>
#include <QTimer>
#include <functional>

#include "app/message_sink.h"
#include "app/product.h"
#include "app/qt/desktop.h"
#include "app/qt/page.h"
#include "app/qt/qt_message_sink.h"
#include "support/test_support.h"
#include "wizard_util.h"

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

TEST(MessageTextTest, WebAddressesAreJoinedAndEverythingElseIsLeftAlone) {
  const QChar wj(0x2060);
  EXPECT_EQ(KeepAddressesWhole(QStringLiteral("Please exit software.")),
            QStringLiteral("Please exit software."));
  EXPECT_EQ(KeepAddressesWhole(QStringLiteral("at http://a.b/c/ now")),
            QStringLiteral("at http:") + wj + "/" + wj + "/" + wj + "a." + wj + "b/" + wj + "c/" +
                " now");
  const QString two = QStringLiteral("see https://x.example/dl?id=1 or ftp://y.example");
  QString joined = KeepAddressesWhole(two);
  EXPECT_EQ(joined.count(wj), 7 + 4);
  EXPECT_EQ(joined.remove(wj), two);
}

// The lines `label` breaks its text into at its present width.
QStringList WrappedLines(const QLabel& label) {
  QTextLayout layout(label.text(), label.font());
  QTextOption option;
  option.setWrapMode(label.wordWrap() ? QTextOption::WordWrap : QTextOption::NoWrap);
  layout.setTextOption(option);
  QStringList lines;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    line.setLineWidth(label.contentsRect().width());
    lines.push_back(label.text().mid(line.textStart(), line.textLength()));
  }
  layout.endLayout();
  return lines;
}

struct SeenLabel {
  QString text;
  QStringList lines;
  QImage icon;
};

SeenLabel ShowWithLabel(const std::string& text, int style, const char* screenshot) {
  SeenLabel seen;
  WhenShown<QMessageBox>([&seen, screenshot](QMessageBox* box) {
    auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (label != nullptr) {
      seen.text = label->text();
      seen.lines = WrappedLines(*label);
    }
    seen.icon = box->windowIcon().pixmap(32).toImage();
    uitest::SaveScreenshot(*box, screenshot);
    box->button(QMessageBox::Ok)->click();
  });
  QtMessageSink sink;
  sink.Show(text, "Tessaly", style);
  return seen;
}

TEST(QtMessageSinkTest, TheHelpMessageBreaksBeforeItsAddressNeverInsideIt) {
  const std::string text =
      std::string("Questions? Please contact Team Ombrisk at ") + app::kContactPage;
  SeenLabel seen = ShowWithLabel(text, app::msgbox::kOkOnly, "message-help.png");
  ASSERT_FALSE(seen.lines.isEmpty());
  QString shown = seen.text;
  EXPECT_EQ(shown.remove(QChar(0x2060)).toStdString(), text) << "nothing visible was added";
  int holding = 0;
  for (QString line : seen.lines) {
    line.remove(QChar(0x2060));
    if (line.contains(QLatin1String(app::kContactPage))) ++holding;
  }
  EXPECT_EQ(holding, 1) << "one line holds the whole address: "
                        << seen.lines.join(QLatin1String(" | ")).toStdString();
}

TEST(QtMessageSinkTest, BoxesCarryTheProgramsIcon) {
  const QImage program = AppIcon().pixmap(32).toImage();
  SeenLabel report = ShowWithLabel(
      "Error 3044 (not a valid path)\r\nin Korvane2021/08/31.Form2.PushButton3_Click at line 130",
      app::msgbox::kExclamation, "message-error.png");
  EXPECT_EQ(report.icon, program);
  EXPECT_EQ(ShowWithLabel("Done.", app::msgbox::kOkOnly, "message-notice.png").icon, program);
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
  EXPECT_EQ(chooser.ShowOpen(OpenFileRequest{"Select Access Database", "All|*.*|", "", 0, ""}), "");
}

}  // namespace
}  // namespace ui
