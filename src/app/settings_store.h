// Where the program keeps what it remembers between runs (last database,
// window places), addressed as application / section / key. The Qt-backed
// store lives in src/app/qt/; the window-independent code sees only this.
#pragma once

#include <map>
#include <string>
#include <tuple>

namespace app {

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;
  // The stored value, or `default_value` when none was stored.
  virtual std::string Get(const std::string& app, const std::string& section,
                          const std::string& key, const std::string& default_value) const = 0;
  virtual void Set(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) = 0;
};

// Test double kept in memory. Names are compared exactly, as the Qt store on
// Linux does, so a test does not pass on a spelling the real store would miss.
class MemorySettingsStore : public SettingsStore {
 public:
  std::string Get(const std::string& app, const std::string& section, const std::string& key,
                  const std::string& default_value) const override;
  void Set(const std::string& app, const std::string& section, const std::string& key,
           const std::string& value) override;
  size_t size() const { return values_.size(); }

 private:
  std::map<std::tuple<std::string, std::string, std::string>, std::string> values_;
};

}  // namespace app
