#include "cli/help.h"

#include <cstring>

namespace cli {
namespace {

constexpr OptionHelp kPassword = {
    "--password PW",
    "the database password, if it has one; every local user can read it in the process list, "
    "so prefer --password-file or TESSALY_PASSWORD"};
constexpr OptionHelp kPasswordFile = {
    "--password-file FILE",
    "reads the password from the first line of FILE (- for standard input); without either "
    "option the environment variable TESSALY_PASSWORD is used, and else the password is asked "
    "for on the terminal (without echo) when the database needs one"};

constexpr OptionHelp kWait = {
    "--wait SECONDS",
    "how long to wait for another program that is writing to DB, or reading it while this "
    "command must write, before giving up with \"in use\" (default 10; 0 gives up at once)"};

std::vector<CommandHelp> MakeCommands() {
  return {
      {"tables",
       "tables DB [--password PW]",
       "Lists the user tables of DB, one a line.\n",
       {kPassword, kPasswordFile, kWait},
       {"--password", "--password-file", "--wait"}},
      {"columns",
       "columns DB TABLE [--password PW]",
       "Lists the columns of TABLE with their types, tab-separated.\n",
       {kPassword, kPasswordFile, kWait},
       {"--password", "--password-file", "--wait"}},
      {"dump",
       "dump DB TABLE [--password PW] [--format csv|json]",
       "Writes every row of TABLE to standard output.\n",
       {kPassword, kPasswordFile, kWait, {"--format csv|json", "the output form (default json)"}},
       {"--password", "--password-file", "--format", "--wait"}},
      {"check",
       "check DB [--password PW]",
       "Reads the whole file and reports anything unsound: unreachable or misused pages, rows\n"
       "that do not decode, usage maps that disagree, long-value chains that do not end, index\n"
       "entries that disagree with the rows. Exits with 1 when it finds a problem.\n",
       {kPassword, kPasswordFile, kWait},
       {"--password", "--password-file", "--wait"}},
      {"catalog",
       "catalog DB [--password PW]",
       "Lists every catalogue object with its id, parent, type and flags.\n",
       {kPassword, kPasswordFile, kWait},
       {"--password", "--password-file", "--wait"}},
      {"encrypt",
       "encrypt DB [--password-file FILE | --password PW]",
       "Gives a plain .accdb a password (AES-256 agile encryption of every page). The encrypted\n"
       "copy is written beside the file and renamed over it, so a crash leaves the file plain\n"
       "or encrypted, never half of each; a copy a killed run left is removed by the next.\n"
       "Through a symbolic link, the file it names is encrypted. The file keeps its owner,\n"
       "group and mode. Without --password-file, --password or TESSALY_PASSWORD the new\n"
       "password is asked for twice on the terminal.\n",
       {{"--password PW",
         "the new password (not empty); every local user can read it in the process list"},
        {"--password-file FILE",
         "reads the new password from the first line of FILE (- for "
         "standard input)"}},
       {"--password", "--password-file"}},
      {"create",
       "create DB [--format mdb2000|mdb2003|accdb2007|accdb2016]",
       "Makes a new, empty database.\n",
       {{"--format F", "the file format (default accdb2016 for .accdb, else mdb2003)"}},
       {"--format"}},
      {"import",
       "import DB TABLE FILE.csv [--type NAME=TYPE ...] [--key NAME] [--password PW]",
       "Reads CSV whose first line names the columns into TABLE: a file, a pipe or FIFO, or\n"
       "standard input for -, read once. A new table takes its column types from the values\n"
       "of the first 1000 records unless --type names them; an existing table takes the rows\n"
       "as they are. All or nothing: an import that fails or is killed leaves neither a new\n"
       "table nor any new row. A field may hold up to 1 MiB (1048576 bytes), a record up to\n"
       "8 MiB and 1024 fields; UTF-8 or Windows-1252 text, not UTF-16.\n",
       {{"--type NAME=TYPE",
         "the type of column NAME: text(N) memo byte integer long counter currency single "
         "double datetime yesno (may be repeated)"},
        {"--key NAME", "makes column NAME the new table's primary key"},
        kPassword,
        kPasswordFile, kWait},
       {"--type", "--key", "--password", "--password-file", "--wait"}},
      {"merge",
       "merge DB TABLE --field F [--field F ...] [--into NAME] [--spaces] [--password PW] [--yes]",
       "Adds the memo column NAME to TABLE and fills it with the fields' values joined in\n"
       "order, in one transaction: on any failure the table stays exactly as it was. System\n"
       "tables are refused, and so are fields of OLE, binary, GUID or attachment type.\n"
       "Prints the combinations and rows written once they are committed. Exits with 1 on\n"
       "any failure or refusal, 2 on a usage error.\n",
       {{"--field F", "a field to merge, in order (at least one; may be repeated)"},
        {"--into NAME", "the new column (default Result_Column)"},
        {"--spaces", "puts a blank between the values"},
        kPassword,
        kPasswordFile,
        kWait,
        {"--yes", "replaces a column NAME that the table already has"}},
       {"--field", "--into", "--password", "--password-file", "--wait"}},
  };
}

// `text` in lines of at most `width` columns, broken at blanks; lines after
// the first are indented by `indent`.
std::string Wrapped(const std::string& text, size_t indent, size_t width) {
  std::string out;
  size_t column = indent;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (column > indent && column + 1 + word.size() > width) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
    } else if (column > indent) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    start = end + 1;
  }
  return out;
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
    text += name + Wrapped(o.text, 22, 80) + "\n";
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
