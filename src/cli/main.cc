// tessaly: the command-line tool over the same engine as the wizard.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "app/product.h"
#include "cli/help.h"
#include "cli/import.h"
#include "cli/merge_command.h"
#include "cli/output.h"
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

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

// Opens a database and passes on once what the opening found (a journal of
// another file moved aside).
std::shared_ptr<jet::Database> OpenTelling(const std::string& path, const jet::OpenOptions& o) {
  auto db = jet::Database::Open(path, o);
  if (!db->notice().empty()) std::fprintf(stderr, "tessaly: %s\n", db->notice().c_str());
  return db;
}

std::shared_ptr<jet::Database> OpenDb(const Args& a) {
  jet::OpenOptions o;
  o.password = a.Option("--password");
  o.writable = false;
  return OpenTelling(a.positional.at(0), o);
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

bool UserTableExists(jet::Database& db, const std::string& table) {
  for (const auto& e : db.Catalog()) {
    if (e.type == 1 && e.parent_id == jet::kTablesContainer && jet::NamesEqual(e.name, table))
      return true;
  }
  return false;
}

// What an import knows of the CSV file's columns: their names and designs,
// which designs are settled (given by --type, or taken from an existing
// table), and the table's column each one goes into.
struct ImportPlan {
  std::vector<std::string> header;
  std::vector<cli::ImportColumn> columns;
  std::vector<bool> fixed;
  std::shared_ptr<const jet::TableDef> table;
  std::vector<const jet::Column*> targets;
};

ImportPlan PlanFromHeader(std::vector<std::string> header,
                          const std::vector<std::pair<std::string, jet::NewColumn>>& given) {
  ImportPlan plan;
  plan.header = std::move(header);
  const size_t n = plan.header.size();
  plan.columns.resize(n);
  plan.fixed.assign(n, false);
  plan.targets.assign(n, nullptr);
  for (size_t i = 0; i < n; ++i) {
    plan.columns[i].name = plan.header[i];
    plan.columns[i].column.name = plan.header[i];
    for (auto& [name, c] : given) {
      if (jet::NamesEqual(name, plan.header[i])) {
        plan.columns[i].column = c;
        plan.columns[i].column.name = plan.header[i];
        plan.fixed[i] = true;
      }
    }
  }
  for (auto& [name, c] : given) {
    bool found = false;
    for (const auto& h : plan.header) found = found || jet::NamesEqual(name, h);
    if (!found) throw UsageError("--type names '" + name + "', which the CSV header does not have");
  }
  return plan;
}

// Rows go into an existing table as they are: every column of the header
// must be one of the table's, and takes its design from it.
void AdoptExistingTable(jet::Database& db, const std::string& table, ImportPlan& plan) {
  plan.table = db.Table(table);
  for (size_t i = 0; i < plan.header.size(); ++i) {
    const jet::Column* target = plan.table->FindColumn(plan.header[i]);
    if (!target) {
      throw jet::Error(
          jet::errnum::kNoSuchColumn,
          "The field '" + plan.header[i] + "' does not exist in table '" + table + "'.");
    }
    plan.targets[i] = target;
    plan.columns[i].column.name = target->name;
    plan.columns[i].column.type = target->type;
    plan.columns[i].column.text_chars =
        static_cast<uint16_t>(db.layout().jet3 ? target->length : target->length / 2);
    plan.fixed[i] = true;
  }
}

// A record may be shorter than the header, never longer.
void CheckShape(const std::vector<std::string>& fields, const ImportPlan& plan,
                const cli::CsvReader& reader, const std::string& csv) {
  if (fields.size() > plan.header.size()) {
    throw jet::Error(jet::errnum::kGeneric, "Line " + std::to_string(reader.line()) + " of '" +
                                                csv + "' has more fields than the header.");
  }
}

// A progress bar on a terminal: the share of the file read so far.
class Progress {
 public:
  Progress(uint64_t total) : total_(total), on_(isatty(fileno(stderr)) && total > 0) {}
  void Update(uint64_t done, size_t rows, bool force = false) {
    if (!on_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    const int width = 30;
    int filled = static_cast<int>(width * std::min<uint64_t>(done, total_) / total_);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '-');
    std::fprintf(stderr, "\rimporting [%s] %3d%% %zu rows", bar.c_str(),
                 static_cast<int>(100 * std::min<uint64_t>(done, total_) / total_), rows);
    std::fflush(stderr);
  }
  void Done() {
    if (on_) std::fputc('\n', stderr);
  }

 private:
  uint64_t total_;
  bool on_;
  std::chrono::steady_clock::time_point last_{};
};

// First pass for a new table: every record has the header's shape, given
// types fit, and the other columns get their types from their values. Then
// the table is made, and the reader starts again after the header.
void CreateTableFromValues(jet::Database& db, const std::string& table, const std::string& key,
                           std::FILE* in, cli::CsvReader& reader, ImportPlan& plan,
                           Progress& progress, const std::string& csv) {
  std::vector<cli::TypeGuess> guesses(plan.header.size());
  std::vector<std::string> fields;
  size_t rows = 0;
  while (reader.Next(fields)) {
    CheckShape(fields, plan, reader, csv);
    for (size_t i = 0; i < fields.size(); ++i) {
      if (plan.fixed[i]) {
        try {
          cli::ParseField(plan.columns[i].column, fields[i]);
        } catch (const jet::Error& e) {
          throw jet::Error(e.number(), "Line " + std::to_string(reader.line()) + ": " + e.what());
        }
      } else {
        guesses[i].Add(fields[i]);
      }
    }
    progress.Update(reader.offset(), ++rows);
  }
  std::vector<jet::NewColumn> defs;
  for (size_t i = 0; i < plan.header.size(); ++i) {
    if (!plan.fixed[i]) {
      plan.columns[i].column = guesses[i].Result();
      plan.columns[i].column.name = plan.header[i];
    }
    defs.push_back(plan.columns[i].column);
  }
  db.CreateTable(table, defs,
                 key.empty() ? std::vector<std::string>{} : std::vector<std::string>{key});
  db.Commit();
  plan.table = db.Table(table);
  for (size_t i = 0; i < plan.header.size(); ++i) {
    plan.targets[i] = plan.table->FindColumn(plan.header[i]);
  }
  std::rewind(in);
  reader = cli::CsvReader(in);
  reader.Next(plan.header);
}

// Second pass: the rows, committed in batches. A failure rolls back what the
// current batch wrote and says how many rows were in before it. Returns the
// rows imported.
size_t ImportRows(jet::Database& db, cli::CsvReader& reader, const ImportPlan& plan,
                  Progress& progress, uint64_t base, const std::string& csv) {
  const size_t kBatch = 50000;
  size_t done = 0, committed = 0;
  std::vector<std::string> fields;
  std::vector<std::pair<const jet::Column*, jet::Value>> values;
  try {
    while (reader.Next(fields)) {
      CheckShape(fields, plan, reader, csv);
      values.clear();
      for (size_t i = 0; i < fields.size(); ++i) {
        jet::Value v = cli::ParseField(plan.columns[i].column, fields[i]);
        if (!v.is_null()) values.emplace_back(plan.targets[i], std::move(v));
      }
      db.InsertRow(*plan.table, values);
      if (++done % kBatch == 0) {
        db.Commit();
        committed = done;
      }
      progress.Update(base + reader.offset(), done);
    }
    db.Commit();
    committed = done;
  } catch (const jet::Error& e) {
    db.Rollback();
    progress.Done();
    throw jet::Error(e.number(), "Line " + std::to_string(reader.line()) + ": " + e.what() + " (" +
                                     std::to_string(committed) + " rows were imported before it)");
  }
  progress.Update(base + reader.offset(), done, true);
  progress.Done();
  return done;
}

int Import(const Args& a) {
  if (a.positional.size() != 3) throw UsageError("import needs DB, TABLE and FILE.csv");
  const std::string& path = a.positional[0];
  const std::string& table = a.positional[1];
  const std::string& csv = a.positional[2];
  const std::vector<std::pair<std::string, jet::NewColumn>> given = GivenTypes(a);
  const std::string key = a.Option("--key");
  std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(csv.c_str(), "rb"), &std::fclose);
  if (!in)
    throw jet::Error(jet::errnum::kGeneric,
                     "Cannot open '" + csv + "': " + std::strerror(errno) + ".");
  struct stat st {};
  fstat(fileno(in.get()), &st);

  jet::OpenOptions o;
  o.writable = true;
  auto db = OpenTelling(path, o);
  cli::CsvReader reader(in.get());
  std::vector<std::string> header;
  if (!reader.Next(header)) throw jet::Error(jet::errnum::kGeneric, "'" + csv + "' is empty.");
  const bool exists = UserTableExists(*db, table);
  ImportPlan plan = PlanFromHeader(std::move(header), given);
  if (exists) {
    if (!given.empty() || !key.empty()) {
      throw UsageError("--type and --key describe a new table; '" + table + "' exists already");
    }
    AdoptExistingTable(*db, table, plan);
  }
  Progress progress(static_cast<uint64_t>(st.st_size) * (exists ? 1 : 2));
  if (!exists) CreateTableFromValues(*db, table, key, in.get(), reader, plan, progress, csv);
  const uint64_t base = exists ? 0 : static_cast<uint64_t>(st.st_size);
  const size_t done = ImportRows(*db, reader, plan, progress, base, csv);
  std::printf("%zu rows imported into '%s'.\n", done, plan.table ? table.c_str() : "");
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
  const std::string password = a.Option("--password");
  if (password.empty()) throw UsageError("encrypt needs a non-empty --password");
  jet::EncryptDatabase(a.positional[0], password);
  return 0;
}

// Runs one command; throws UsageError for a bad command line.
int RunCommand(const std::string& cmd, int argc, char** argv) {
  if (cmd == "tables") return Tables(ParseArgs(argc, argv, {"--password"}, {}));
  if (cmd == "catalog") return Catalog(ParseArgs(argc, argv, {"--password"}, {}));
  if (cmd == "check") return Check(ParseArgs(argc, argv, {"--password"}, {}));
  if (cmd == "create") return Create(ParseArgs(argc, argv, {"--format"}, {}));
  if (cmd == "import") return Import(ParseArgs(argc, argv, {"--type", "--key"}, {}));
  if (cmd == "columns") return Columns(ParseArgs(argc, argv, {"--password"}, {}));
  if (cmd == "encrypt") return Encrypt(ParseArgs(argc, argv, {"--password"}, {}));
  if (cmd == "dump") return Dump(ParseArgs(argc, argv, {"--password", "--format"}, {}));
  return cli::MergeCommand(argc, argv);
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
    return RunCommand(cmd, argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "tessaly: %s\n%sRun 'tessaly help %s' for its options.\n", e.what(),
                 cli::ShortUsage(*command).c_str(), cmd.c_str());
    return 2;
  } catch (const jet::Error& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tessaly: %s (error %d)\n", e.what(), e.number());
    return 1;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "tessaly: %s\n", e.what());
    return 1;
  }
}
