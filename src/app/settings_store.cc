#include "app/settings_store.h"

namespace app {

std::string MemorySettingsStore::Get(const std::string& app, const std::string& section,
                                     const std::string& key,
                                     const std::string& default_value) const {
  auto it = values_.find({app, section, key});
  return it == values_.end() ? default_value : it->second;
}

void MemorySettingsStore::Set(const std::string& app, const std::string& section,
                              const std::string& key, const std::string& value) {
  values_[{app, section, key}] = value;
}

}  // namespace app
