// An integrity check of a whole database file: every table's definition,
// pages, rows, moved rows and long values, and the usage maps against the
// file-wide map. Used by `tessaly check` and by the tests after every write.
#pragma once

#include <string>
#include <vector>

namespace jet {

class Database;

struct CheckReport {
  std::vector<std::string> problems;  // anything that makes the file unsound
  std::vector<std::string> notes;     // oddities that readers cope with
  size_t tables = 0;
  size_t rows = 0;
  size_t pages = 0;
  bool ok() const { return problems.empty(); }
};

CheckReport CheckDatabase(Database& db);

}  // namespace jet
