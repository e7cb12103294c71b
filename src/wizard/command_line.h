// The wizard's command line: a database to start with, as a file manager or
// a desktop entry passes it (a path or a file:// address), and --version and
// --help. Anything else is named on the terminal and ignored, so that a
// launcher's odd argument never keeps the window from appearing.
#pragma once

#include <QStringList>
#include <string>
#include <vector>

namespace wizard {

struct CommandLine {
  bool version = false;
  bool help = false;
  // Absolute path of the database named, or empty.
  std::string database;
  // One sentence for each argument that was ignored.
  std::vector<std::string> ignored;
};

// `arguments` without the program's name, after Qt has taken its own options
// (-platform, -style, ...). Relative paths are taken from the current folder.
CommandLine ParseCommandLine(const QStringList& arguments);

// What --help prints.
std::string CommandLineHelp();

}  // namespace wizard
