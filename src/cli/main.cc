// tessaly: the command-line tool over the same engine as the wizard.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app/product.h"
#include "cli/help.h"
#include "cli/import.h"
#include "cli/import_command.h"
#include "cli/merge_command.h"
#include "cli/output.h"
#include "cli/password.h"
#include "jet/crypto/encrypt.h"
#include "jet/storage/error.h"
#include "jet/table/check.h"
#include "jet/table/create.h"
#include "jet/table/database.h"

namespace {

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::vector<std::string>> options;
  std::vector<std::string> flags;

  std::string Option(const std::string& name, const std::string& def = "") const {
    auto it = options.find(name);
    return it == options.end() || it->second.empty() ? def : it->second.back();
  }
  bool Flag(const std::string& name) const {
    for (const auto& f : flags) {
      if (f == name) return true;
    }
    return false;
  }
};

using cli::UsageError;

Args ParseArgs(int argc, char** argv, const std::vector<std::string>& valued,
               const std::vector<std::string>& boolean) {
  Args a;
  for (int i = 2; i < argc; ++i) {
    std::string s = argv[i];
    if (s.rfind("--", 0) == 0) {
      bool known = false;
      for (const auto& v : valued) {
        if (s == v) {
          if (i + 1 >= argc) throw UsageError(s + " needs a value");
          a.options[s].push_back(argv[++i]);
          known = true;
        }
      }
      for (const auto& b : boolean) {
        if (s == b) {
          a.flags.push_back(s);
          known = true;
        }
      }
      if (!known) throw UsageError("unknown option '" + s + "'");
    } else {
      a.positional.push_back(s);
    }
  }
  return a;
}

// Output goes through one buffer: dumps of large tables are dominated by
// formatting, not by the engine.
class Out {
 public:
  ~Out() { Flush(); }
  void Write(std::string_view s) {
    buf_.append(s);
    if (buf_.size() > (1 << 16)) Flush();
  }
  void Flush() {
    if (!buf_.empty()) std::fwrite(buf_.data(), 1, buf_.size(), stdout);
    buf_.clear();
  }

 private:
  std::string buf_;
};

// How long an opening waits for other programs' locks (--wait SECONDS).
int g_wait_ms = 10000;

// Takes --wait SECONDS out of the arguments of a command that has it, so the
// commands' own parsers need not know it.
void TakeWait(const cli::CommandHelp& command, int& argc, char** argv) {
  bool has = false;
  for (const char* v : command.valued) has = has || std::string_view(v) == "--wait";
  if (!has) return;
  int out = 2;
  for (int i = 2; i < argc; ++i) {
    if (std::string_view(argv[i]) != "--wait") {
      argv[out++] = argv[i];
      continue;
    }
    if (i + 1 >= argc) throw UsageError("--wait needs a number of seconds");
    const std::string v = argv[++i];
    char* end = nullptr;
    const double seconds = std::strtod(v.c_str(), &end);
    if (v.empty() || *end != '\0' || !(seconds >= 0) || seconds > 86400) {
      throw UsageError("--wait needs a number of seconds from 0 to 86400, not '" + v + "'");
    }
    g_wait_ms = static_cast<int>(seconds * 1000);
  }
  argc = out;
  argv[argc] = nullptr;
}

// Opens a database and passes on once what the opening found (a journal of
// another file moved aside).
std::shared_ptr<jet::Database> OpenTelling(const std::string& path, const jet::OpenOptions& o) {
  auto db = jet::Database::Open(path, o);
  if (!db->notice().empty()) std::fprintf(stderr, "tessaly: %s\n", db->notice().c_str());
  return db;
}

// The password the command line, a password file or the environment gave.
std::optional<std::string> Password(const Args& a) {
  auto given = [&](const char* name) -> std::optional<std::string> {
    auto it = a.options.find(name);
    if (it == a.options.end() || it->second.empty()) return std::nullopt;
    return it->second.back();
  };
  try {
    return cli::GivenPassword(given("--password"), given("--password-file"));
  } catch (const std::invalid_argument& e) {
    throw UsageError(e.what());
  }
}

std::shared_ptr<jet::Database> OpenDb(const Args& a) {
  jet::OpenOptions o;
  o.writable = false;
  o.busy_timeout_ms = g_wait_ms;
  std::shared_ptr<jet::Database> db;
  cli::OpenWithPassword(Password(a), a.positional.at(0), [&](const std::string& pw) {
    o.password = pw;
    db = OpenTelling(a.positional.at(0), o);
  });
  return db;
}

int Tables(const Args& a) {
  if (a.positional.size() != 1) throw UsageError("tables needs DB");
  auto db = OpenDb(a);
  Out out;
  for (const auto& name : db->UserTables()) {
    out.Write(name);
    out.Write("\n");
  }
  return 0;
}

// Every catalogue object with its id, parent, type and flags: for looking
// into files, not for scripts.
int Catalog(const Args& a) {
  if (a.positional.size() != 1) throw UsageError("catalog needs DB");
  auto db = OpenDb(a);
  Out out;
  char buf[64];
  for (const auto& e : db->Catalog()) {
    std::snprintf(buf, sizeof buf, "%d\t%d\t%d\t0x%08X\t", e.id, e.parent_id, e.type, e.flags);
    out.Write(buf);
    out.Write(e.name);
    out.Write("\n");
  }
  return 0;
}

int Check(const Args& a) {
  if (a.positional.size() != 1) throw UsageError("check needs DB");
  auto db = OpenDb(a);
  jet::CheckReport r = jet::CheckDatabase(*db);
  Out out;
  for (const auto& n : r.notes) out.Write("note: " + n + "\n");
  for (const auto& p : r.problems) out.Write("problem: " + p + "\n");
  out.Write(std::to_string(r.tables) + " tables, " + std::to_string(r.rows) + " rows, " +
            std::to_string(r.pages) + " pages: " + (r.ok() ? "ok" : "DAMAGED") + "\n");
  return r.ok() ? 0 : 1;
}

int Create(const Args& a) {
  if (a.positional.size() != 1) throw UsageError("create needs DB");
  const std::string& path = a.positional[0];
  std::string name = a.Option("--format");
  if (name.empty()) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    name = lower.size() >= 6 && lower.compare(lower.size() - 6, 6, ".accdb") == 0 ? "accdb2016"
                                                                                  : "mdb2003";
  }
  jet::FileFormat format;
  if (!jet::ParseFileFormat(name, format)) {
    throw UsageError("--format is mdb2000, mdb2003, accdb2007 or accdb2016");
  }
  jet::CreateDatabase(path, format);
  return 0;
}

// The --type NAME=TYPE options, in the order given.
std::vector<std::pair<std::string, jet::NewColumn>> GivenTypes(const Args& a) {
  std::vector<std::pair<std::string, jet::NewColumn>> given;
  auto it = a.options.find("--type");
  if (it == a.options.end()) return given;
  for (const auto& design : it->second) {
    size_t eq = design.rfind('=');
    jet::NewColumn c;
    if (eq == std::string::npos || eq == 0 || !cli::ParseTypeName(design.substr(eq + 1), c)) {
      throw UsageError(
          "--type wants NAME=TYPE, TYPE one of text(N) memo byte integer long "
          "counter currency single double datetime yesno");
    }
    given.emplace_back(design.substr(0, eq), c);
  }
  return given;
}

int Import(const Args& a) {
  if (a.positional.size() != 3) throw UsageError("import needs DB, TABLE and FILE.csv");
  cli::ImportRequest r;
  r.db = a.positional[0];
  r.table = a.positional[1];
  r.csv = a.positional[2];
  r.given = GivenTypes(a);
  r.key = a.Option("--key");
  r.password = Password(a);
  r.wait_ms = g_wait_ms;
  if (r.csv == "-" && a.Option("--password-file") == "-") {
    throw UsageError("standard input cannot hold both the CSV file and the password");
  }
  const size_t done = cli::Import(r);
  std::printf("%zu rows imported into '%s'.\n", done, r.table.c_str());
  return 0;
}

int Columns(const Args& a) {
  if (a.positional.size() != 2) throw UsageError("columns needs DB and TABLE");
  auto db = OpenDb(a);
  auto t = db->Table(a.positional[1]);
  Out out;
  for (const auto& c : t->columns) {
    out.Write(c.name);
    out.Write("\t");
    out.Write(jet::TypeName(c.type));
    out.Write("\n");
  }
  return 0;
}

int Dump(const Args& a) {
  if (a.positional.size() != 2) throw UsageError("dump needs DB and TABLE");
  std::string format = a.Option("--format", "json");
  if (format != "json" && format != "csv") throw UsageError("--format is csv or json");
  auto db = OpenDb(a);
  auto t = db->Table(a.positional[1]);
  // Dumps list columns by column number, as other readers do, not in the
  // descriptors' display order.
  std::vector<const jet::Column*> cols;
  for (const auto& c : t->columns) cols.push_back(&c);
  std::stable_sort(cols.begin(), cols.end(), [](const jet::Column* x, const jet::Column* y) {
    return x->number < y->number;
  });
  // Every page is read once: a few suffice in the cache.
  db->pager().SetCachePages(64);
  jet::TableScan scan(*db, t);
  cli::OutBuffer out(stdout);
  // A row that fails to read leaves no part of its line behind: lines are
  // complete when a block goes out, and the rest is cut back to the last one.
  size_t line_start = 0;
  auto lines = [&](auto&& write_all) {
    try {
      write_all();
    } catch (...) {
      out.Truncate(line_start);
      throw;
    }
  };
  if (format == "csv") {
    for (size_t i = 0; i < cols.size(); ++i) {
      if (i) out.Push(',');
      jet::Column textual;
      textual.type = jet::ColumnType::kText;
      out.Append(cli::CsvField(textual, jet::Value::Text(cols[i]->name)));
    }
    out.Push('\n');
    cli::FieldWriter fields(*db, scan, cols);
    lines([&] {
      line_start = out.view().size();
      while (scan.Next()) {
        fields.CsvRecord(out);
        out.FlushIfFull();
        line_start = out.view().size();
      }
    });
    return 0;
  }
  // JSON: the header holds the row count, so the rows are counted first (a
  // scan that decodes no values), which keeps memory flat for any table.
  size_t count = 0;
  while (scan.Next()) ++count;
  std::string head = "{\"table\":" + cli::JsonString(a.positional[1]) + ",\"columns\":[";
  for (size_t i = 0; i < cols.size(); ++i) {
    if (i) head += ",";
    head += "{\"name\":" + cli::JsonString(cols[i]->name) +
            ",\"type\":" + cli::JsonString(jet::TypeName(cols[i]->type)) + "}";
  }
  head += "],\"rowCount\":" + std::to_string(count) + ",\"rows\":[\n";
  out.Append(head);
  jet::TableScan rows(*db, t);
  cli::FieldWriter fields(*db, rows, cols);
  size_t written = 0;
  lines([&] {
    line_start = out.view().size();
    while (written < count && rows.Next()) {
      if (written) out.Append(",\n");
      fields.JsonObject(out);
      ++written;
      out.FlushIfFull();
      line_start = out.view().size();
    }
  });
  if (written != count) {
    throw jet::Error(jet::errnum::kGeneric, "The table changed while it was being dumped.");
  }
  if (count) out.Append("\n");
  out.Append("]}\n");
  return 0;
}

// Gives a plain .accdb a password, in place.
int Encrypt(const Args& a) {
  if (a.positional.size() != 1) throw UsageError("encrypt needs DB");
  std::optional<std::string> given = Password(a);
  if (!given && cli::CanPrompt()) {
    given = cli::PromptPassword("New password for '" + a.positional[0] + "': ");
    cli::RememberPassword(*given);
    if (cli::PromptPassword("The same password again: ") != *given) {
      throw jet::Error(jet::errnum::kGeneric,
                       "The two passwords differ; the database was not encrypted.");
    }
  }
  if (!given) {
    throw UsageError("encrypt needs a password: --password-file, " +
                     std::string(cli::kPasswordVariable) +
                     ", a terminal to type it on, or --password");
  }
  cli::RememberPassword(*given);
  if (given->empty()) throw UsageError("encrypt needs a non-empty password");
  jet::EncryptDatabase(a.positional[0], *given);
  return 0;
}

// Runs one command; throws UsageError for a bad command line.
int RunCommand(const std::string& cmd, int argc, char** argv) {
  if (cmd == "tables") return Tables(ParseArgs(argc, argv, {"--password", "--password-file"}, {}));
  if (cmd == "catalog")
    return Catalog(ParseArgs(argc, argv, {"--password", "--password-file"}, {}));
  if (cmd == "check") return Check(ParseArgs(argc, argv, {"--password", "--password-file"}, {}));
  if (cmd == "create") return Create(ParseArgs(argc, argv, {"--format"}, {}));
  if (cmd == "import")
    return Import(ParseArgs(argc, argv, {"--type", "--key", "--password", "--password-file"}, {}));
  if (cmd == "columns")
    return Columns(ParseArgs(argc, argv, {"--password", "--password-file"}, {}));
  if (cmd == "encrypt")
    return Encrypt(ParseArgs(argc, argv, {"--password", "--password-file"}, {}));
  if (cmd == "dump")
    return Dump(ParseArgs(argc, argv, {"--password", "--password-file", "--format"}, {}));
  return cli::MergeCommand(argc, argv, g_wait_ms);
}

// `tessaly help [COMMAND]`: the overall usage, or the command's usage and options.
int Help(int argc, char** argv) {
  if (argc < 3) {
    std::fputs(cli::OverallUsage().c_str(), stdout);
    std::fputs("\nRun 'tessaly help COMMAND' for a command's options.\n", stdout);
    return 0;
  }
  const cli::CommandHelp* command = cli::FindCommand(argv[2]);
  if (command == nullptr) {
    std::fprintf(stderr, "tessaly: unknown command '%s'\n%s", argv[2], cli::OverallUsage().c_str());
    return 2;
  }
  std::fputs(cli::CommandHelpText(*command).c_str(), stdout);
  return 0;
}

// One line on standard error, whole: line breaks become a blank, bytes a
// terminal would swallow or that would end a C string (NUL, other control
// characters) are shown as \xNN, and the password in use never shows.
void PrintError(const std::string& message) {
  std::string line = "tessaly: ";
  char hex[8];
  bool line_break = false;
  for (unsigned char c : cli::WithoutPassword(message, cli::RememberedPassword())) {
    // Message boxes' paragraphs become one line.
    if (c == '\r' || c == '\n') {
      if (!line_break) line += ' ';
      line_break = true;
      continue;
    }
    line_break = false;
    if (c < 0x20 && c != '\t') {
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      line += hex;
    } else {
      line += static_cast<char>(c);
    }
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(cli::OverallUsage().c_str(), stderr);
    return 2;
  }
  const std::string cmd = argv[1];
  if (cmd == "--version") {
    std::printf("%s\n", app::VersionLine("tessaly").c_str());
    return 0;
  }
  if (cmd == "help" || cmd == "--help" || cmd == "-h") return Help(argc, argv);
  const cli::CommandHelp* command = cli::FindCommand(cmd);
  if (command == nullptr) {
    std::fprintf(stderr, "tessaly: unknown command '%s'\n%s", cmd.c_str(),
                 cli::OverallUsage().c_str());
    return 2;
  }
  if (cli::AsksForHelp(*command, argc, argv)) {
    std::fputs(cli::CommandHelpText(*command).c_str(), stdout);
    return 0;
  }
  try {
    TakeWait(*command, argc, argv);
    return RunCommand(cmd, argc, argv);
  } catch (const UsageError& e) {
    PrintError(e.what());
    std::fprintf(stderr, "%sRun 'tessaly help %s' for its options.\n",
                 cli::ShortUsage(*command).c_str(), cmd.c_str());
    return 2;
  } catch (const jet::Error& e) {
    std::fflush(stdout);
    PrintError(std::string(e.what()) + " (error " + std::to_string(e.number()) + ")");
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    PrintError(e.what());
    return 1;
  }
}
