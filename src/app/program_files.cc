#include "app/program_files.h"

#include <filesystem>
#include <system_error>

namespace app {
namespace {

namespace fs = std::filesystem;

std::string Join(const std::string& folder, const std::string& relative) {
  return folder + "/" + relative;
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(path, ec);
}

}  // namespace

ProgramFiles::ProgramFiles(std::string program_folder, std::string user_folder,
                           std::string data_folder)
    : program_folder_(std::move(program_folder)),
      user_folder_(std::move(user_folder)),
      data_folder_(std::move(data_folder)) {
  for (const std::string* folder : {&program_folder_, &user_folder_, &data_folder_}) {
    if (!folder->empty()) search_.push_back(folder);
  }
}

std::string ProgramFiles::FolderHaving(const std::string& relative) const {
  for (const std::string* folder : search_) {
    if (Exists(Join(*folder, relative))) return *folder;
  }
  return program_folder_;
}

std::string ProgramFiles::Find(const std::string& relative) const {
  return Join(FolderHaving(relative), relative);
}

std::string ProgramFiles::FindToChange(const std::string& relative) const {
  if (user_folder_.empty()) return Find(relative);
  const fs::path copy = Join(user_folder_, relative);
  if (Exists(copy.string())) return copy.string();
  const std::string found = Find(relative);
  if (!Exists(found)) return found;
  std::error_code ec;
  fs::create_directories(copy.parent_path(), ec);
  // Written under a temporary name and renamed, so that an interrupted copy
  // never passes for the sample.
  const fs::path partial = copy.string() + ".part";
  if (!ec) fs::copy_file(found, partial, fs::copy_options::overwrite_existing, ec);
  // The shipped file may be read-only; the user's copy must not be.
  if (!ec) {
    fs::permissions(partial, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add,
                    ec);
  }
  if (!ec) fs::rename(partial, copy, ec);
  if (ec) {
    fs::remove(partial, ec);
    return found;
  }
  return copy.string();
}

}  // namespace app
