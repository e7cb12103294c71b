// The settings store on disk: one INI file per application under the user's
// configuration folder, a group per section. The file holds the database
// password as typed, so it is created readable and writable by its owner only.
#pragma once

#include <QString>
#include <string>

#include "app/settings_store.h"

namespace ui {

class QtSettingsStore : public app::SettingsStore {
 public:
  // Files live in `folder` as "<application>/<application>.conf"; the default
  // folder is the user's configuration folder (~/.config).
  QtSettingsStore();
  explicit QtSettingsStore(QString folder);

  std::string Get(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& default_value) const override;
  // Writes through to the file at once.
  void Set(const std::string& app, const std::string& section, const std::string& key,
           const std::string& value) override;

  QString FilePath(const std::string& app) const;

 private:
  QString folder_;
};

}  // namespace ui
