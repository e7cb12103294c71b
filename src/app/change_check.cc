#include "app/change_check.h"

#include <unistd.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "jet/storage/error.h"

namespace app {
namespace {

constexpr size_t kProbeBytes = 4096;  // one page of the largest format

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::optional<std::string> FileProblem(const std::string& path, const std::string& real,
                                       jet::FileSystem& files) {
  try {
    files.Open(real, jet::FileSystem::Mode::kRead);
  } catch (const jet::Error& e) {
    return "The database file '" + path + "' cannot be read.\r\n\r\n" + e.description();
  }
  try {
    files.Open(real, jet::FileSystem::Mode::kReadWrite);
  } catch (const jet::Error& e) {
    if (e.number() != jet::errnum::kReadOnly) {
      return "The database file '" + path + "' cannot be opened for changing.\r\n\r\n" +
             e.description();
    }
    std::string text =
        "The database file '" + path + "' is read-only, so no field can be added to its tables.";
    // Said apart: such a file is not in use by anyone, it is stuck.
    const std::string journal = real + "-journal";
    if (files.Exists(journal)) {
      text += " The journal of an interrupted change lies beside it ('" + journal +
              "'); that change can be neither finished nor undone while the file is read-only.";
    }
    return text + "\r\n\r\nMake the file writable, or choose a copy of it that you may change.";
  }
  return std::nullopt;
}

// A change keeps the pages it replaces in a journal beside the file: the
// folder must take a new file and a page in it.
std::optional<std::string> FolderProblem(const std::string& path, const std::string& real,
                                         jet::FileSystem& files) {
  const std::string probe = real + "-probe." + std::to_string(::getpid());
  std::unique_ptr<jet::File> file;
  try {
    file = files.Open(probe, jet::FileSystem::Mode::kReplace);
  } catch (const jet::Error& e) {
    return "The folder '" + FolderOf(real) + "' that holds the database '" + path +
           "' cannot be written to, so the journal that keeps a change safe cannot be made "
           "there.\r\n\r\n" +
           e.description();
  }
  try {
    const std::vector<uint8_t> page(kProbeBytes, 0);
    file->WriteAt(0, page);
    file->Sync();
  } catch (const jet::Error& e) {
    file.reset();
    files.Remove(probe);
    return "There is no room beside the database '" + path +
           "' for the journal that keeps a change safe.\r\n\r\n" + e.description();
  }
  file.reset();
  files.Remove(probe);
  return std::nullopt;
}

}  // namespace

std::optional<std::string> WhyUnchangeable(const std::string& path, jet::FileSystem& files) {
  const std::string real = jet::ResolvedPath(path);
  if (std::optional<std::string> problem = FileProblem(path, real, files)) return problem;
  return FolderProblem(path, real, files);
}

}  // namespace app
