#include "app/qt/desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QStringList>
#include <QUrl>

namespace ui {

void QtDesktop::OpenUrl(const std::string& url) {
  QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

void QtDesktop::OpenFolder(const std::string& path) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

QStringList QtFilterFromPairs(const std::string& filter) {
  QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
  QStringList entries;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1].trimmed();
    if (patterns.isEmpty()) continue;
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    entries.push_back(parts[i].trimmed() + QLatin1String(" (") + patterns.simplified() +
                      QLatin1Char(')'));
  }
  return entries;
}

std::string QtFileChooser::ShowOpen(const OpenFileRequest& request) {
  QFileDialog dialog(QApplication::activeWindow(), QString::fromStdString(request.title));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Any name is accepted; a name that is not there simply leads nowhere later.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(QtFilterFromPairs(request.filter));
  if (!request.file_name.empty()) dialog.selectFile(QString::fromStdString(request.file_name));
  if (dialog.exec() != QDialog::Accepted) return std::string();
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? std::string() : chosen.front().toStdString();
}

}  // namespace ui
