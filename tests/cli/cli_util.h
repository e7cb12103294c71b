// Running the built `tessaly` as a user would, in a shell, and judging what
// it left: its exit status, what it printed, and whether the file is sound.
#pragma once

#include <string>

namespace cli_test {

struct Outcome {
  int code = -1;  // -1 when it did not exit normally
  std::string out;
  std::string err;
};

// Runs `prefix tessaly args` through sh in `dir` (the prefix may set limits
// or the environment, e.g. "ulimit -f 100;"), standard input from /dev/null
// unless `args` redirects it.
Outcome Tessaly(const std::string& dir, const std::string& args, const std::string& prefix = "");

// Lines printed, counting a last line without its line end.
int LineCount(const std::string& text);

// Whether `tessaly check` finds the file sound.
bool CheckClean(const std::string& dir, const std::string& db, const std::string& password = "");

// Paths for the shell.
std::string Q(const std::string& s);

}  // namespace cli_test
