#include "app/qt/qt_settings_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

namespace ui {
namespace {

constexpr QFile::Permissions kOwnerOnly = QFile::ReadOwner | QFile::WriteOwner;

// Creates the file empty with owner-only permissions before anything is put
// into it, so that there is no moment at which others could read it.
void CreatePrivateFile(const QString& path) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QByteArray native = QFile::encodeName(path);
  int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
}

}  // namespace

QtSettingsStore::QtSettingsStore()
    : QtSettingsStore(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)) {}

QtSettingsStore::QtSettingsStore(QString folder) : folder_(std::move(folder)) {}

QString QtSettingsStore::FilePath(const std::string& app) const {
  QString name = QString::fromStdString(app);
  return folder_ + QLatin1Char('/') + name + QLatin1Char('/') + name + QLatin1String(".conf");
}

std::string QtSettingsStore::Get(const std::string& app, const std::string& section,
                                 const std::string& key, const std::string& default_value) const {
  QSettings settings(FilePath(app), QSettings::IniFormat);
  settings.beginGroup(QString::fromStdString(section));
  QVariant value = settings.value(QString::fromStdString(key));
  if (!value.isValid()) return default_value;
  return value.toString().toStdString();
}

void QtSettingsStore::Set(const std::string& app, const std::string& section,
                          const std::string& key, const std::string& value) {
  QString path = FilePath(app);
  if (!QFileInfo::exists(path)) CreatePrivateFile(path);
  {
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(QString::fromStdString(section));
    settings.setValue(QString::fromStdString(key), QString::fromStdString(value));
    settings.endGroup();
    settings.sync();
  }
  // QSettings replaces the file on save; make sure the new one is private too.
  QFile::setPermissions(path, kOwnerOnly);
}

}  // namespace ui
