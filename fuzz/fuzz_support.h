// What both fuzz targets share: the input as a database file in a private
// scratch folder, a full read of a database through the public engine API,
// and a way to report a broken promise so that libFuzzer keeps the input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "jet/table/database.h"

namespace fuzz {

// The one password the targets try after none; the encrypted seeds use it.
inline constexpr const char* kPassword = "password";

// A folder of this process (on tmpfs when there is one), removed at exit.
// The engine works on paths, so every input becomes a file in it.
class Scratch {
 public:
  static Scratch& Get();
  // Writes `size` bytes to a fresh file named `name` and returns its path.
  // A journal left beside an earlier file of that name is removed first, or
  // the engine would roll it into the new input.
  std::string Write(const std::string& name, const uint8_t* data, size_t size);
  void Remove(const std::string& path);

 private:
  Scratch();
  ~Scratch();
  std::string dir_;
};

// Opens `path` without a password, then with kPassword when the first is
// refused. Returns null when the file is not a database we can open (every
// refusal is a jet::Error).
// The file's bytes ("" when it cannot be read).
std::string ReadAll(const std::string& path);
// `spill_bytes`: the changed pages kept in memory before they go into the file.
std::shared_ptr<jet::Database> OpenEither(const std::string& path, bool writable,
                                          size_t spill_bytes = jet::OpenOptions{}.spill_bytes);

struct ReadTally {
  size_t tables = 0;
  size_t rows = 0;
  size_t table_errors = 0;
};

// Reads everything a caller can reach: the catalogue, the tables rowset,
// every table definition (system tables too), the properties of every
// object, and every value of every row, long and complex values included.
// A damaged table does not keep the others from being read. Only jet::Error
// is caught; anything else escapes and is a finding.
ReadTally ReadEverything(jet::Database& db);

// Prints the broken promise and aborts, which libFuzzer records as a crash.
[[noreturn]] void Fail(const std::string& what);

}  // namespace fuzz
