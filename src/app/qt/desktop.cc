#include "app/qt/desktop.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStringList>
#include <QUrl>

#include "app/qt/page.h"

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

void PrepareOpenDialog(QFileDialog& dialog, const OpenFileRequest& request) {
  dialog.setWindowTitle(QString::fromStdString(request.title));
  dialog.setWindowIcon(AppIcon());
  // The desktop's own dialog may ignore the options below; Qt's keeps them.
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  // Qt reads each filter's patterns from its last parenthesised group; the
  // combo box then shows the description alone, which already names them.
  dialog.setOption(QFileDialog::HideNameFilterDetails, true);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  // Any name is accepted; a name that is not there simply leads nowhere later.
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(QtFilterFromPairs(request.filter));
  if (!request.folder.empty()) dialog.setDirectory(QString::fromStdString(request.folder));
  if (!request.file_name.empty()) dialog.selectFile(QString::fromStdString(request.file_name));
}

std::string QtFileChooser::ShowOpen(const OpenFileRequest& request) {
  QFileDialog dialog(QApplication::activeWindow());
  PrepareOpenDialog(dialog, request);
  if (dialog.exec() != QDialog::Accepted) return std::string();
  const QStringList chosen = dialog.selectedFiles();
  return chosen.isEmpty() ? std::string() : chosen.front().toStdString();
}

std::string BrowseFolder(const std::string& path) {
  const QString text = QString::fromStdString(path).trimmed();
  if (!text.isEmpty()) {
    const QFileInfo named(text);
    if (named.isDir()) return named.absoluteFilePath().toStdString();
    const QDir folder = named.absoluteDir();
    if (folder.exists()) return folder.absolutePath().toStdString();
  }
  return QDir::homePath().toStdString();
}

}  // namespace ui
