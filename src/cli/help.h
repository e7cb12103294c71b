// What `tessaly help`, `tessaly COMMAND --help` and usage errors print: one
// entry per command, with its usage line and its options.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// A command line that does not make sense: reported with the command's usage
// and exit status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct OptionHelp {
  const char* name;  // "--password PW"
  const char* text;
};

struct CommandHelp {
  const char* name;
  const char* usage;    // after "tessaly "
  const char* summary;  // one or more lines, each ending in '\n'
  std::vector<OptionHelp> options;
  // Options that take a value: the word after them is never an option.
  std::vector<const char*> valued;
};

const std::vector<CommandHelp>& Commands();
// Null for a name that is no command.
const CommandHelp* FindCommand(std::string_view name);

// "usage:" and every command's usage line.
std::string OverallUsage();
// "usage:" and the one command's usage line.
std::string ShortUsage(const CommandHelp& command);
// The usage line, the summary and every option with its text.
std::string CommandHelpText(const CommandHelp& command);

// Whether the arguments after the command (argv[2] on) ask for its help:
// "--help" or "-h" where an option may stand, not as the value of one.
bool AsksForHelp(const CommandHelp& command, int argc, char** argv);

}  // namespace cli
