#include "app/qt/qt_message_sink.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <vector>

#include "app/qt/page.h"

namespace ui {
namespace {

QMessageBox::StandardButton ButtonFor(int answer) {
  switch (answer) {
    case app::msgbox::kOk:
      return QMessageBox::Ok;
    case app::msgbox::kCancel:
      return QMessageBox::Cancel;
    case app::msgbox::kAbort:
      return QMessageBox::Abort;
    case app::msgbox::kRetry:
      return QMessageBox::Retry;
    case app::msgbox::kIgnore:
      return QMessageBox::Ignore;
    case app::msgbox::kYes:
      return QMessageBox::Yes;
    case app::msgbox::kNo:
      return QMessageBox::No;
    default:
      return QMessageBox::NoButton;
  }
}

QMessageBox::Icon IconFor(int style) {
  switch (app::msgbox::Icon(style)) {
    case app::msgbox::kCritical:
      return QMessageBox::Critical;
    case app::msgbox::kQuestion:
      return QMessageBox::Question;
    case app::msgbox::kExclamation:
      return QMessageBox::Warning;
    case app::msgbox::kInformation:
      return QMessageBox::Information;
    default:
      return QMessageBox::NoIcon;
  }
}

}  // namespace

QString DisplayText(const std::string& text) {
  QString out = QString::fromStdString(text);
  out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return out;
}

QString KeepAddressesWhole(const QString& text) {
  static const QRegularExpression kAddress(QStringLiteral("\\b[A-Za-z][A-Za-z0-9+.-]*://\\S+"));
  const QChar joiner(0x2060);
  QString out;
  qsizetype done = 0;
  for (auto it = kAddress.globalMatch(text); it.hasNext();) {
    const QRegularExpressionMatch match = it.next();
    out += text.mid(done, match.capturedStart() - done);
    const QString address = match.captured();
    for (qsizetype i = 0; i < address.size(); ++i) {
      out += address[i];
      if (i + 1 < address.size() && !address[i].isLetterOrNumber()) out += joiner;
    }
    done = match.capturedEnd();
  }
  out += text.mid(done);
  return out;
}

int QtMessageSink::Show(const std::string& text, const std::string& title, int style) {
  std::vector<int> answers = app::msgbox::Answers(app::msgbox::ButtonSet(style));
  if (answers.empty()) answers = {app::msgbox::kOk};

  QMessageBox box(IconFor(style), QString::fromStdString(title),
                  KeepAddressesWhole(DisplayText(text)), QMessageBox::NoButton,
                  QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  box.setWindowIcon(AppIcon());
  for (int answer : answers) box.addButton(ButtonFor(answer));
  size_t default_index = static_cast<size_t>(app::msgbox::DefaultButtonIndex(style));
  if (default_index >= answers.size()) default_index = 0;
  box.setDefaultButton(ButtonFor(answers[default_index]));
  // Closing the box with its close button or Escape counts as the last button
  // (Cancel or No), or OK when it is the only one.
  box.setEscapeButton(box.button(ButtonFor(answers.back())));
  box.exec();

  QAbstractButton* clicked = box.clickedButton();
  for (int answer : answers) {
    if (clicked == box.button(ButtonFor(answer))) return answer;
  }
  return answers.back();
}

}  // namespace ui
