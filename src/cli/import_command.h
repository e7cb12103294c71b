// `tessaly import`: a CSV file, pipe or standard input into a table, read
// once and written in one transaction.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jet/table/database.h"

namespace cli {

// A new table's column types are guessed from this many records at most
// (fewer when they hold more than kGuessBytes): they are held in memory until
// the table is made.
inline constexpr size_t kGuessRows = 1000;
inline constexpr size_t kGuessBytes = size_t{32} << 20;

struct ImportRequest {
  std::string db;
  std::string table;
  std::string csv;                                            // "-" for standard input
  std::vector<std::pair<std::string, jet::NewColumn>> given;  // --type, in order
  std::string key;                                            // --key
  std::optional<std::string> password;
  int wait_ms = 10000;  // for other programs' locks on DB
};

// Imports every record or none: a failure leaves neither the new table nor
// any row, killed or not. Returns the rows imported. Throws UsageError for
// options that do not fit the file, jet::Error for everything else.
size_t Import(const ImportRequest& request);

}  // namespace cli
