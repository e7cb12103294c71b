#include "cli/help.h"

#include <cstring>

namespace cli {
namespace {

constexpr OptionHelp kPassword = {"--password PW", "the database password, if it has one"};

std::vector<CommandHelp> MakeCommands() {
  return {
      {"tables",
       "tables DB [--password PW]",
       "Lists the user tables of DB, one a line.\n",
       {kPassword},
       {"--password"}},
      {"columns",
       "columns DB TABLE [--password PW]",
       "Lists the columns of TABLE with their types, tab-separated.\n",
       {kPassword},
       {"--password"}},
      {"dump",
       "dump DB TABLE [--password PW] [--format csv|json]",
       "Writes every row of TABLE to standard output.\n",
       {kPassword, {"--format csv|json", "the output form (default json)"}},
       {"--password", "--format"}},
      {"check",
       "check DB [--password PW]",
       "Reads the whole file and reports anything unsound: unreachable or misused pages, rows\n"
       "that do not decode, usage maps that disagree, long-value chains that do not end, index\n"
       "entries that disagree with the rows. Exits with 1 when it finds a problem.\n",
       {kPassword},
       {"--password"}},
      {"catalog",
       "catalog DB [--password PW]",
       "Lists every catalogue object with its id, parent, type and flags.\n",
       {kPassword},
       {"--password"}},
      {"encrypt",
       "encrypt DB --password PW",
       "Gives a plain .accdb a password (AES-256 agile encryption of every page), replacing\n"
       "the file in one step.\n",
       {{"--password PW", "the new password (not empty)"}},
       {"--password"}},
      {"create",
       "create DB [--format mdb2000|mdb2003|accdb2007|accdb2016]",
       "Makes a new, empty database.\n",
       {{"--format F", "the file format (default accdb2016 for .accdb, else mdb2003)"}},
       {"--format"}},
      {"import",
       "import DB TABLE FILE.csv [--type NAME=TYPE ...] [--key NAME]",
       "Reads a CSV file whose first line names the columns into TABLE. A new table takes its\n"
       "column types from the values unless --type names them; an existing table takes the\n"
       "rows as they are.\n",
       {{"--type NAME=TYPE",
         "the type of column NAME: text(N) memo byte integer long counter currency single "
         "double datetime yesno (may be repeated)"},
        {"--key NAME", "makes column NAME the new table's primary key"}},
       {"--type", "--key"}},
      {"merge",
       "merge DB TABLE --field F [--field F ...] [--into NAME] [--spaces] [--password PW] [--yes]",
       "Adds the memo column NAME to TABLE and fills it with the fields' values joined in\n"
       "order. Exits with 1 on any failure or refusal, 2 on a usage error.\n",
       {{"--field F", "a field to merge, in order (at least one; may be repeated)"},
        {"--into NAME", "the new column (default Result_Column)"},
        {"--spaces", "puts a blank between the values"},
        kPassword,
        {"--yes", "replaces a column NAME that the table already has"}},
       {"--field", "--into", "--password"}},
  };
}

}  // namespace

const std::vector<CommandHelp>& Commands() {
  static const std::vector<CommandHelp> commands = MakeCommands();
  return commands;
}

const CommandHelp* FindCommand(std::string_view name) {
  for (const auto& c : Commands()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

std::string OverallUsage() {
  std::string text = "usage:\n";
  for (const auto& c : Commands()) {
    if (std::strcmp(c.name, "catalog") == 0) continue;  // for looking into files, not listed
    text += std::string("  tessaly ") + c.usage + "\n";
  }
  text +=
      "  tessaly help COMMAND\n"
      "  tessaly --version\n";
  return text;
}

std::string ShortUsage(const CommandHelp& command) {
  return std::string("usage:\n  tessaly ") + command.usage + "\n";
}

std::string CommandHelpText(const CommandHelp& command) {
  std::string text = std::string("usage: tessaly ") + command.usage + "\n\n" + command.summary;
  if (!command.options.empty()) text += "\noptions:\n";
  for (const auto& o : command.options) {
    std::string name = std::string("  ") + o.name;
    if (name.size() < 22)
      name.resize(22, ' ');
    else
      name += "\n" + std::string(22, ' ');
    text += name + o.text + "\n";
  }
  return text;
}

bool AsksForHelp(const CommandHelp& command, int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    const std::string_view s = argv[i];
    if (s == "--help" || s == "-h") return true;
    for (const char* v : command.valued) {
      if (s == v) ++i;  // its value follows
    }
  }
  return false;
}

}  // namespace cli
