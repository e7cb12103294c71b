// Times the merge's database work on a copy of a large People table: add a
// memo column, select the distinct combinations of some text columns, then
// one UPDATE per combination writing the joined values, then the commit.
//
//   db_bench /path/to/people_V2003_100000.mdb [scratch-dir [First,Middle,...]]
//
// Without a field list it runs four cases, from few combinations to many:
// [First] (140 on the 100,000-row fixture), [First],[Middle],[Last] (17,034),
// the same with [City] (70,298) and with [City],[Notes] (82,566).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "db/access.h"
#include "db/ado.h"
#include "jet/storage/error.h"
#include "jet/record/value.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// Processor time of this process: on a machine shared with other work it
// shows what the wall-clock figures would be on an idle one.
double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '\'') out += '\'';
  }
  return out;
}

void RunCase(const std::string& source, const std::filesystem::path& scratch,
             const std::vector<std::string>& fields) {
  std::filesystem::path copy =
      scratch / ("db_bench_copy" + std::filesystem::path(source).extension().string());
  std::filesystem::remove(copy);
  std::filesystem::copy_file(source, copy);
  std::filesystem::permissions(copy, std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  const std::string table = "People";
  const std::string result = "Result_Column";
  std::string column_list;
  for (const auto& f : fields) column_list += (column_list.empty() ? "[" : ",[") + f + "]";

  auto start = Clock::now();
  double cpu_start = CpuSeconds();
  db::Connection conn;
  conn.Mode = db::kModeReadWrite;
  conn.Open(db::BuildConnectionString(copy.string(), ""));
  conn.Execute("ALTER TABLE [" + table + "] ADD COLUMN [" + result + "] memo");
  double t_alter = Seconds(start);

  auto t0 = Clock::now();
  db::Recordset rs;
  rs.Open("select distinct " + column_list + " from [" + table + "]", conn, db::kOpenStatic,
          db::kLockOptimistic);
  long count = rs.RecordCount();
  double t_distinct = Seconds(t0);

  t0 = Clock::now();
  long rows = 0;
  for (long k = 0; k < count; ++k) {
    std::string merged, condition;
    for (const auto& f : fields) {
      const jet::Value& v = rs.Fields(f).Value();
      if (v.is_null()) {
        condition += "[" + f + "] is null and ";
      } else {
        std::string e = Escape(jet::TextForm(v));
        condition += "[" + f + "]='" + e + "' and ";
        merged += e;
      }
    }
    condition.resize(condition.size() - 5);
    rows += conn.Execute("update [" + table + "] set [" + result + "]='" + merged + "' where " +
                         condition);
    rs.MoveNext();
  }
  rs.Close();
  double t_updates = Seconds(t0);
  t0 = Clock::now();
  conn.Close();
  double t_commit = Seconds(t0);
  double total = Seconds(start);
  double cpu_total = CpuSeconds() - cpu_start;

  // Every record must have received its merged value.
  db::Connection check;
  check.Open(db::BuildConnectionString(copy.string(), ""));
  db::Recordset left;
  left.Open("SELECT [ID] FROM [" + table + "] WHERE [" + result + "] IS NULL", check,
            db::kOpenStatic, db::kLockReadOnly);
  long unfilled = left.RecordCount();

  std::printf(
      "%-28s %6ld combinations  %6ld rows  alter %.3f s  distinct %.3f s  updates %.3f s "
      "(%.0f statements/s)  commit %.3f s  total %.3f s (processor %.3f s)%s\n",
      column_list.c_str(), count, rows, t_alter, t_distinct, t_updates,
      t_updates > 0 ? count / t_updates : 0.0, t_commit, total, cpu_total,
      unfilled ? "  UNFILLED ROWS!" : "");
  std::filesystem::remove(copy);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s PEOPLE_DB [SCRATCH_DIR]\n", argv[0]);
    return 2;
  }
  std::filesystem::path scratch = argc > 2 ? argv[2] : std::filesystem::temp_directory_path();
  try {
    if (argc > 3) {
      std::vector<std::string> fields;
      std::string list = argv[3];
      for (size_t at = 0; at <= list.size();) {
        size_t comma = std::min(list.find(',', at), list.size());
        fields.push_back(list.substr(at, comma - at));
        at = comma + 1;
      }
      RunCase(argv[1], scratch, fields);
      return 0;
    }
    RunCase(argv[1], scratch, {"First"});
    RunCase(argv[1], scratch, {"First", "Middle", "Last"});
    RunCase(argv[1], scratch, {"First", "Middle", "Last", "City"});
    RunCase(argv[1], scratch, {"First", "Middle", "Last", "City", "Notes"});
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "failed: %d %s\n", e.number(), e.description().c_str());
    return 1;
  }
  return 0;
}
