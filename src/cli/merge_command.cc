#include "cli/merge_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/help.h"
#include "cli/password.h"
#include "db/access.h"
#include "db/ado.h"
#include "db/sql.h"
#include "jet/storage/error.h"
#include "jet/table/database.h"
#include "merge/merge_page.h"
#include "merge/statements.h"

namespace cli {
namespace {

constexpr char kMismatchMessage[] = "Please use fields of same datatype.";

struct MergeArgs {
  std::string db;
  std::string table;
  std::vector<std::string> fields;
  std::string into = merge::kDefaultResultName;
  std::optional<std::string> password;
  std::optional<std::string> password_file;
  bool spaces = false;
  bool yes = false;
};

// Empty when the arguments are fine, else what is wrong with them.
std::string Parse(int argc, char** argv, MergeArgs& a) {
  std::vector<std::string> positional;
  for (int i = 2; i < argc; ++i) {
    const std::string s = argv[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (s == "--field") {
      if (!value(v)) return "--field needs a value";
      a.fields.push_back(v);
    } else if (s == "--into") {
      if (!value(a.into)) return "--into needs a value";
    } else if (s == "--password" || s == "--password-file") {
      if (!value(v)) return s + " needs a value";
      (s == "--password" ? a.password : a.password_file) = v;
    } else if (s == "--spaces") {
      a.spaces = true;
    } else if (s == "--yes") {
      a.yes = true;
    } else if (s.rfind("--", 0) == 0) {
      return "unknown option '" + s + "'";
    } else {
      positional.push_back(s);
    }
  }
  if (positional.size() != 2) return "merge needs DB and TABLE";
  if (a.fields.empty()) return "merge needs at least one --field";
  if (a.password && a.password_file) return "give --password or --password-file, not both";
  for (const auto& f : a.fields) {
    // The wizard hands fields on marked with grave accents and separated by
    // ", ", so a name holding either could not be merged there either.
    if (f.empty() || f.find('`') != std::string::npos || f.find(", ") != std::string::npos) {
      return "cannot merge a field named \"" + f + "\"";
    }
  }
  a.db = positional[0];
  a.table = positional[1];
  return "";
}

// A refusal is the tool's own: its message has no engine error number.
[[noreturn]] void Refuse(const std::string& text) { throw std::runtime_error(text); }

// Types whose values no condition can match: the merge could not write them.
bool Mergeable(jet::ColumnType t) {
  using jet::ColumnType;
  return t != ColumnType::kBinary && t != ColumnType::kOle && t != ColumnType::kGuid &&
         t != ColumnType::kComplex && t != ColumnType::kUnknown0D && t != ColumnType::kUnknown11;
}

bool IsSystemTable(jet::Database& database, const std::string& table) {
  if (table.size() >= 4 && jet::NamesEqual(table.substr(0, 4), "MSys")) return true;
  for (const auto& row : database.TablesRowset()) {
    if (jet::NamesEqual(row.table_name, table)) {
      return row.table_type == "SYSTEM TABLE" || row.table_type == "ACCESS TABLE";
    }
  }
  return false;
}

// Everything that can be known before the file changes is checked here, so
// that a refusal leaves the file untouched. Returns whether the result column
// exists already (and is to be replaced).
bool CheckBeforeChanging(jet::Database& database, const MergeArgs& a) {
  if (IsSystemTable(database, a.table)) {
    Refuse("'" + a.table +
           "' is a system table, which holds the database's own catalogue; merging into it "
           "is refused.");
  }
  auto table = database.Table(a.table);  // a clear error for a missing table or a query
  if (std::optional<std::string> problem = merge::NameProblem(a.into, a.fields)) Refuse(*problem);
  for (const auto& f : a.fields) {
    const jet::Column* c = table->FindColumn(f);
    if (!c) Refuse("The table '" + a.table + "' has no field named '" + f + "'.");
    if (!Mergeable(c->type)) {
      Refuse(std::string(kMismatchMessage) + " The field '" + f + "' holds " +
             jet::TypeName(c->type) + " values, which cannot be merged.");
    }
  }
  const std::string name = merge::TrimBlanks(a.into);
  if (!table->FindColumn(name)) return false;
  if (!a.yes) {
    Refuse("The table \"" + a.table + "\" already has a field named \"" + name +
           "\"; give --yes to replace it with the merged results (everything it now contains "
           "will be lost).");
  }
  return true;
}

// A text progress bar on standard error while the combinations are written,
// drawn only on a terminal and only when what it shows changes.
class ProgressBar {
 public:
  explicit ProgressBar(long total) : total_(total), on_(isatty(STDERR_FILENO) == 1 && total > 0) {}
  ~ProgressBar() {
    if (shown_) std::fprintf(stderr, "\r%*s\r", kWidth + 30, "");
  }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;
  void Show(long done) {
    if (!on_) return;
    const int percent = static_cast<int>(done * 100 / total_);
    if (shown_ && percent == percent_) return;
    const int filled = static_cast<int>(done * kWidth / total_);
    percent_ = percent;
    shown_ = true;
    std::fprintf(stderr, "\r[%s%s] %3d%% %ld/%ld", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), percent, done, total_);
    std::fflush(stderr);
  }

 private:
  static constexpr int kWidth = 40;
  long total_;
  bool on_;
  bool shown_ = false;
  int percent_ = -1;
};

struct Counts {
  long combinations = 0;
  long rows = 0;
};

// One UPDATE per distinct combination of the fields' values, as the wizard's
// merge page writes them.
Counts WriteCombinations(db::Connection& c, const MergeArgs& a, const std::string& name) {
  db::Recordset rs;
  rs.Open("select distinct " + merge::ColumnList(a.fields) + " from [" + a.table + "]", c,
          db::kOpenStatic, db::kLockOptimistic);
  Counts counts;
  const long total = rs.RecordCount();
  ProgressBar bar(total);
  const std::string head = "update [" + a.table + "] set [" + name + "]=";
  std::string merged, condition;
  for (; counts.combinations < total && !rs.Eof(); rs.MoveNext()) {
    merged.clear();
    condition.clear();
    for (const auto& f : a.fields) {
      const jet::Value v = rs.Fields(f).Value();
      if (!condition.empty()) condition += " and ";
      if (v.is_null()) {
        condition += "[" + f + "] is null";
      } else {
        condition += "[" + f + "]=" + merge::ConditionLiteral(v);
        merged += jet::TextForm(v);
      }
      if (a.spaces) merged += ' ';
    }
    if (a.spaces) merged.pop_back();
    counts.rows += c.Execute(head + db::sql::QuoteText(merged) + " where " + condition);
    bar.Show(++counts.combinations);
  }
  rs.Close();
  return counts;
}

// The whole merge in one transaction: the first failure undoes everything,
// so the table is either complete or exactly as it was.
Counts MergeInOneTransaction(db::Connection& c, const MergeArgs& a, bool replace) {
  const std::string name = merge::TrimBlanks(a.into);
  c.BeginTrans();
  try {
    if (replace) c.Execute("ALTER TABLE [" + a.table + "] DROP [" + name + "]");
    c.Execute("ALTER TABLE [" + a.table + "] ADD COLUMN [" + name + "] memo");
    const Counts counts = WriteCombinations(c, a, name);
    c.CommitTrans();
    return counts;
  } catch (const jet::Error& e) {
    if (c.TransactionLevel() > 0) c.RollbackTrans();
    const int32_t n = e.number() < 0 ? -e.number() : e.number();
    if (n == -jet::errnum::kTypeMismatch) {
      Refuse(std::string(kMismatchMessage) + " (" + e.what() + ") Nothing was changed.");
    }
    throw jet::Error(e.number(), std::string(e.what()) + " Nothing was changed.");
  }
}

}  // namespace

int MergeCommand(int argc, char** argv, int wait_ms) {
  MergeArgs args;
  if (std::string problem = Parse(argc, argv, args); !problem.empty()) {
    std::fprintf(stderr, "tessaly: %s\n%s", problem.c_str(),
                 ShortUsage(*FindCommand("merge")).c_str());
    return 2;
  }
  // A missing file is named as one; a file that is there but out of reach
  // (a folder without access) says why instead.
  if (struct stat st{}; ::stat(args.db.c_str(), &st) != 0) {
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR) {
      std::fprintf(stderr, "tessaly: %s: no such file\n", args.db.c_str());
    } else {
      std::fprintf(stderr, "tessaly: %s: cannot be reached: %s\n", args.db.c_str(),
                   std::strerror(e));
    }
    return 1;
  }
  db::Connection c;
  c.Mode = db::kModeReadWrite;
  c.ConnectionTimeout = (wait_ms + 999) / 1000;
  OpenWithPassword(GivenPassword(args.password, args.password_file), args.db,
                   [&](const std::string& pw) { c.Open(db::BuildConnectionString(args.db, pw)); });
  const bool replace = CheckBeforeChanging(*c.database(), args);
  const Counts counts = MergeInOneTransaction(c, args, replace);
  std::printf("%ld combinations, %ld rows written\n", counts.combinations, counts.rows);
  std::fflush(stdout);
  return 0;
}

}  // namespace cli
