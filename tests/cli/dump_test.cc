// `tessaly dump --format json` against the dumps independent readers made of
// every fixture (tests/data/expected, see its NOTES.md).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out.push_back(c);
    }
  }
  return out + "'";
}

// Runs the command and returns its standard output; `status` gets the exit code.
std::string RunCommand(const std::string& command, int& status) {
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run " + command);
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  int raw = pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

std::string PasswordFor(const std::string& rel) {
  if (rel == "mdb-reader/V2000_with-password.mdb" || rel == "mdb-reader/office-agile-4.4.accdb") {
    return "password";
  }
  return "";
}

TEST(Dump, EveryFixtureTableMatchesItsExpectedJson) {
  const fs::path expected_root = testing_support::DataPath("expected");
  int tables = 0;
  for (const auto& entry : fs::recursive_directory_iterator(expected_root)) {
    if (entry.path().filename() != "index.tsv") continue;
    const fs::path dir = entry.path().parent_path();
    const std::string rel = fs::relative(dir, expected_root).string();
    std::ifstream index(entry.path());
    std::string line;
    while (std::getline(index, line)) {
      size_t tab = line.find('\t');
      if (tab == std::string::npos) continue;
      const std::string table = line.substr(0, tab);
      const std::string file = line.substr(tab + 1);
      std::string command = std::string(TESSALY_CLI) + " dump " +
                            Quote(testing_support::DataPath(rel)) + " " + Quote(table) +
                            " --format json";
      if (!PasswordFor(rel).empty()) command += " --password " + Quote(PasswordFor(rel));
      int status = 0;
      std::string got = RunCommand(command + " 2>&1", status);
      EXPECT_EQ(status, 0) << rel << " " << table << ": " << got;
      EXPECT_TRUE(got == testing_support::ReadFile((dir / file).string()))
          << rel << " " << table << " differs from " << file;
      ++tables;
    }
  }
  EXPECT_GE(tables, 60);
}

}  // namespace
