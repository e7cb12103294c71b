// Whether a database file can be changed in place, asked before anything is
// changed: the table page asks it before it moves on to choosing fields, so
// that a file the merge could not write is named once, with its reason, and
// not by a row of failures later.
#pragma once

#include <optional>
#include <string>

#include "jet/storage/file_system.h"

namespace app {

// Why the database at `path` cannot be changed, as a message for the user,
// or nothing when it can. Looks at the file (it must open for reading, then
// for writing) and at its folder (a change keeps its journal beside the real
// file, links resolved: a page must fit there). Leaves no file behind.
std::optional<std::string> WhyUnchangeable(const std::string& path,
                                           jet::FileSystem& files = jet::FileSystem::Default());

}  // namespace app
