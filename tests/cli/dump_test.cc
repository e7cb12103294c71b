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
                            testing_support::ShellQuote(testing_support::DataPath(rel)) + " " +
                            testing_support::ShellQuote(table) + " --format json";
      if (!PasswordFor(rel).empty())
        command += " --password " + testing_support::ShellQuote(PasswordFor(rel));
      int status = 0;
      std::string got = testing_support::Capture(command + " 2>&1", &status);
      EXPECT_EQ(status, 0) << rel << " " << table << ": " << got;
      EXPECT_TRUE(got == testing_support::ReadFile((dir / file).string()))
          << rel << " " << table << " differs from " << file;
      ++tables;
    }
  }
  EXPECT_GE(tables, 60);
}

}  // namespace
