#include "cli/import_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>

#include "cli/help.h"
#include "cli/import.h"
#include "cli/password.h"
#include "jet/storage/error.h"

namespace cli {
namespace {

using Record = std::vector<std::string>;

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
  std::vector<ImportColumn> columns;
  std::vector<bool> fixed;
  std::shared_ptr<const jet::TableDef> table;
  std::vector<const jet::Column*> targets;
};

ImportPlan PlanFromHeader(Record header,
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

// A progress bar on a terminal: the share of the file read so far (only for
// a file whose size is known).
class Progress {
 public:
  explicit Progress(uint64_t total) : total_(total), on_(isatty(fileno(stderr)) && total > 0) {}
  ~Progress() {
    if (shown_) std::fputc('\n', stderr);
  }
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  void Update(uint64_t done, size_t rows, bool force = false) {
    if (!on_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    shown_ = true;
    const int width = 30;
    const uint64_t part = std::min<uint64_t>(done, total_);
    const int filled = static_cast<int>(width * part / total_);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.append(static_cast<size_t>(width - filled), '-');
    std::fprintf(stderr, "\rimporting [%s] %3d%% %zu rows", bar.c_str(),
                 static_cast<int>(100 * part / total_), rows);
    std::fflush(stderr);
  }

 private:
  uint64_t total_;
  bool on_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// The input, opened once: a file, a FIFO or standard input. A folder is
// named as one (fopen would take it and then fail every read).
class Input {
 public:
  explicit Input(const std::string& csv) : name_(csv == "-" ? "standard input" : csv) {
    if (csv == "-") {
      file_ = stdin;
    } else {
      file_ = std::fopen(csv.c_str(), "rb");
      if (!file_) {
        throw jet::Error(jet::errnum::kGeneric,
                         "Cannot open '" + csv + "': " + std::strerror(errno) + ".");
      }
      owned_ = true;
    }
    struct stat st {};
    if (fstat(fileno(file_), &st) == 0) {
      if (S_ISDIR(st.st_mode)) {
        throw jet::Error(jet::errnum::kGeneric, "'" + csv + "' is a folder, not a CSV file.");
      }
      if (S_ISREG(st.st_mode)) size_ = static_cast<uint64_t>(st.st_size);
    }
  }
  ~Input() {
    if (owned_) std::fclose(file_);
  }
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  std::FILE* file() const { return file_; }
  const std::string& name() const { return name_; }
  uint64_t size() const { return size_; }  // 0 when not a regular file

 private:
  std::string name_;
  std::FILE* file_ = nullptr;
  bool owned_ = false;
  uint64_t size_ = 0;
};

// Reads records and says where a failure happened.
class Records {
 public:
  Records(Input& in, Progress& progress)
      : in_(in), reader_(in.file(), in.name()), progress_(progress) {}
  bool Next(Record& fields) {
    if (!reader_.Next(fields)) return false;
    ++count_;
    progress_.Update(reader_.offset(), count_);
    return true;
  }
  size_t line() const { return reader_.line(); }
  const std::string& name() const { return in_.name(); }

 private:
  Input& in_;
  CsvReader reader_;
  Progress& progress_;
  size_t count_ = 0;
};

// A record may be shorter than the header, never longer.
void CheckShape(const Record& fields, const ImportPlan& plan, size_t line,
                const std::string& name) {
  if (fields.size() > plan.header.size()) {
    throw jet::Error(jet::errnum::kGeneric, "Line " + std::to_string(line) + " of '" + name +
                                                "' has more fields than the header.");
  }
}

struct Buffered {
  Record fields;
  size_t line;
};

// A new table: the first records (kGuessRows, at most kGuessBytes of them)
// give the types of the columns that --type left open, then the table is
// made. Returns those records, to be written first.
std::deque<Buffered> CreateTableFromFirstRecords(jet::Database& db, const ImportRequest& r,
                                                 Records& records, ImportPlan& plan) {
  std::deque<Buffered> first;
  std::vector<TypeGuess> guesses(plan.header.size());
  size_t bytes = 0;
  Record fields;
  while (first.size() < kGuessRows && bytes < kGuessBytes && records.Next(fields)) {
    CheckShape(fields, plan, records.line(), records.name());
    for (size_t i = 0; i < fields.size(); ++i) {
      bytes += fields[i].size();
      if (!plan.fixed[i]) guesses[i].Add(fields[i]);
    }
    first.push_back({std::move(fields), records.line()});
  }
  std::vector<jet::NewColumn> defs;
  for (size_t i = 0; i < plan.header.size(); ++i) {
    if (!plan.fixed[i]) {
      plan.columns[i].column = guesses[i].Result();
      plan.columns[i].column.name = plan.header[i];
    }
    defs.push_back(plan.columns[i].column);
  }
  db.CreateTable(r.table, defs,
                 r.key.empty() ? std::vector<std::string>{} : std::vector<std::string>{r.key});
  plan.table = db.Table(r.table);
  for (size_t i = 0; i < plan.header.size(); ++i) {
    plan.targets[i] = plan.table->FindColumn(plan.header[i]);
  }
  return first;
}

void InsertRecord(jet::Database& db, const ImportPlan& plan, const Record& fields,
                  std::vector<std::pair<const jet::Column*, jet::Value>>& values) {
  values.clear();
  for (size_t i = 0; i < fields.size(); ++i) {
    jet::Value v = ParseField(plan.columns[i].column, fields[i]);
    if (!v.is_null()) values.emplace_back(plan.targets[i], std::move(v));
  }
  db.InsertRow(*plan.table, values);
}

// Where a record failed; for a value that does not fit a guessed type, how
// to give the type instead.
jet::Error AtLine(const jet::Error& e, size_t line, bool guessed) {
  std::string text = "Line " + std::to_string(line) + ": " + e.what();
  if (guessed && e.number() == jet::errnum::kTypeMismatch) {
    text += " The types of the new table's columns were guessed from its first " +
            std::to_string(kGuessRows) + " records; --type NAME=TYPE names them.";
  }
  return jet::Error(e.number(), text);
}

}  // namespace

size_t Import(const ImportRequest& r) {
  Input in(r.csv);
  jet::OpenOptions o;
  o.writable = true;
  o.busy_timeout_ms = r.wait_ms;
  std::shared_ptr<jet::Database> db;
  OpenWithPassword(r.password, r.db, [&](const std::string& pw) {
    o.password = pw;
    db = jet::Database::Open(r.db, o);
  });
  if (!db->notice().empty()) std::fprintf(stderr, "tessaly: %s\n", db->notice().c_str());
  Progress progress(in.size());
  Records records(in, progress);
  Record header;
  if (!records.Next(header))
    throw jet::Error(jet::errnum::kGeneric, "'" + in.name() + "' is empty.");
  const bool exists = UserTableExists(*db, r.table);
  ImportPlan plan = PlanFromHeader(std::move(header), r.given);
  if (exists && (!r.given.empty() || !r.key.empty())) {
    throw UsageError("--type and --key describe a new table; '" + r.table + "' exists already");
  }
  // Nothing is committed until the last record is in: a failure, or a kill,
  // leaves the database as it was.
  size_t done = 0;
  try {
    std::deque<Buffered> first;
    if (exists) {
      AdoptExistingTable(*db, r.table, plan);
    } else {
      first = CreateTableFromFirstRecords(*db, r, records, plan);
    }
    std::vector<std::pair<const jet::Column*, jet::Value>> values;
    auto insert = [&](const Record& fields, size_t line) {
      try {
        InsertRecord(*db, plan, fields, values);
      } catch (const jet::Error& e) {
        throw AtLine(e, line, !exists);
      }
      ++done;
    };
    for (; !first.empty(); first.pop_front()) insert(first.front().fields, first.front().line);
    Record fields;
    while (records.Next(fields)) {
      CheckShape(fields, plan, records.line(), records.name());
      insert(fields, records.line());
    }
    db->Commit();
  } catch (const jet::Error& e) {
    db->Rollback();
    throw jet::Error(e.number(), std::string(e.what()) + " Nothing was imported.");
  }
  return done;
}

}  // namespace cli
