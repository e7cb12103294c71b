// Making new, empty databases: the header page, the file-wide usage map, the
// catalogue with its indexes, the containers and the other system tables
// (and, for ACE, the tables behind complex fields), as Access creates them.
#pragma once

#include <string>

namespace jet {

enum class FileFormat {
  kMdb2000,    // Jet 4, Access 2000
  kMdb2003,    // Jet 4, Access 2002-2003
  kAccdb2007,  // ACE 12, Access 2007
  kAccdb2016,  // ACE 16, Access 2016
};

// "mdb2000", "mdb2003", "accdb2007", "accdb2016".
std::string FileFormatName(FileFormat f);
// Parses a name as above; false for anything else.
bool ParseFileFormat(const std::string& name, FileFormat& out);

struct CreateOptions {
  // Creation time in Access's day numbering; 0 means now. A fixed time makes
  // the file reproducible byte for byte.
  double creation_date = 0;
};

// Creates the database at `path`. Refuses an existing file; on failure no
// file is left behind. Throws jet::Error.
void CreateDatabase(const std::string& path, FileFormat format, const CreateOptions& options = {});

}  // namespace jet
