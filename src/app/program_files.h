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
  // Like Find, for a file the user is meant to change (the merge writes into
  // the sample database): one found only in the installed data folder is
  // first copied into the user's folder, once, and the copy is given. An
  // earlier copy is kept as it is. If the copy cannot be made, the installed
  // file is given; changing it then fails with its own report.
  std::string FindToChange(const std::string& relative) const;

  const std::string& program_folder() const { return program_folder_; }

 private:
  std::string program_folder_;
  std::string user_folder_;
  std::string data_folder_;
  std::vector<const std::string*> search_;
};

}  // namespace app
