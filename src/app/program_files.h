// Where the files that come with the program are found: the hand pointer,
// the skin, the sample database. A copy beside the program wins, so that a
// build or an unpacked folder runs as it is; then the user's own data folder
// (a skin or a sample copy the user may change); then the installed data
// folder, which the program never writes.
#pragma once

#include <string>
#include <vector>

namespace app {

class ProgramFiles {
 public:
  // Empty folders are left out of the search.
  explicit ProgramFiles(std::string program_folder, std::string user_folder = "",
                        std::string data_folder = "");

  // `relative` ("HAND-M.CUR", "Samples/", "x/o.cjs") in the first folder that
  // has it. When none has it, the path beside the program, so that what the
  // user is shown points where the file would be looked for first.
  std::string Find(const std::string& relative) const;
  // The folder of the search that holds `relative` (the program's when none).
  std::string FolderHaving(const std::string& relative) const;
  // For a file the user is meant to change (the merge writes into the
  // sample database): the user's own copy of it, made from the file Find
  // gives the first time it is asked for, wherever that file was found, so
  // that an installation nobody may write to still has a sample to merge
  // into. An earlier copy is kept as it is. Without a user's folder, or
  // when the file is nowhere or the copy cannot be made, what Find gives;
  // changing that then fails with its own report.
  std::string FindToChange(const std::string& relative) const;

  const std::string& program_folder() const { return program_folder_; }

 private:
  std::string program_folder_;
  std::string user_folder_;
  std::string data_folder_;
  std::vector<const std::string*> search_;
};

}  // namespace app
