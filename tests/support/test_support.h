// Helpers shared by the test programs: where the test databases are, and
// scratch copies of them that are removed when the test ends.
#pragma once

#include <filesystem>
#include <string>

namespace testing_support {

// Path of a file below tests/data.
std::string DataPath(const std::string& relative);

// A private directory for one test, removed with everything in it at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  // Copies tests/data/<relative> into the directory and returns the copy's path.
  std::string Copy(const std::string& relative);

 private:
  std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
// Runs a shell command and returns what it printed; `status` gets its exit
// status (-1 when it did not exit normally).
std::string Capture(const std::string& command, int* status = nullptr);
// `s` in single quotes for the shell.
std::string ShellQuote(const std::string& s);
void WriteFile(const std::string& path, const std::string& content);
// Waits for a child process; its exit status, -1 when it did not exit normally.
int WaitForChild(int pid);

}  // namespace testing_support
