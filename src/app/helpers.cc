#include "app/helpers.h"

#include <filesystem>
#include <system_error>

namespace app {

bool FileExists(const std::string& path) {
  if (path.empty()) return false;
  std::error_code ec;
  static_cast<void>(std::filesystem::last_write_time(path, ec));
  return !ec;
}

}  // namespace app
