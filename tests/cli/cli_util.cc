#include "cli/cli_util.h"

#include <sys/wait.h>

#include <cstdlib>

#include "support/test_support.h"

namespace cli_test {

std::string Q(const std::string& s) { return testing_support::ShellQuote(s); }

Outcome Tessaly(const std::string& dir, const std::string& args, const std::string& prefix) {
  const std::string out = dir + "/.out.txt";
  const std::string err = dir + "/.err.txt";
  const std::string command = "cd " + Q(dir) + " && { " + prefix + " " + Q(TESSALY_CLI) + " " +
                              args + " ; } < /dev/null > " + Q(out) + " 2> " + Q(err);
  const int status = std::system(("sh -c " + Q(command)).c_str());
  Outcome r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.out = testing_support::ReadFile(out);
  r.err = testing_support::ReadFile(err);
  std::remove(out.c_str());
  std::remove(err.c_str());
  return r;
}

int LineCount(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n + (!text.empty() && text.back() != '\n' ? 1 : 0);
}

bool CheckClean(const std::string& dir, const std::string& db, const std::string& password) {
  const Outcome r =
      Tessaly(dir, "check " + Q(db) + (password.empty() ? "" : " --password " + Q(password)));
  return r.code == 0 && r.out.find(": ok\n") != std::string::npos;
}

}  // namespace cli_test
