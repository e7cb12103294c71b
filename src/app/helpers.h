// Small helpers shared by the pages and the merge run.
#pragma once

#include <optional>
#include <string>

namespace app {

// True when the modification time of `path` can be read: the path names
// something that exists and that we may look at. A directory counts (it has
// a modification time); callers that need a regular file check for it
// themselves. Symbolic links are followed, so a dangling one is false. Never
// throws; an empty path is false.
bool FileExists(const std::string& path);

// A database value that may be Null, read as an ordinary value: Null becomes
// `fallback` (the empty value of T unless given).
template <typename T>
T NullToDefault(const std::optional<T>& value, const T& fallback = T()) {
  return value.has_value() ? *value : fallback;
}

}  // namespace app
