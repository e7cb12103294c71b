// Fills a new memo column of every row of a table with one update per row
// and reports updates per second (commits included) and file growth.
//   write_bench DB TABLE COLUMN [COLUMN...]   (works on a copy of DB)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/check.h"
#include "jet/database.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: write_bench DB TABLE COLUMN [COLUMN...]\n");
    return 2;
  }
  namespace fs = std::filesystem;
  std::string copy = (fs::temp_directory_path() / "tessaly-write-bench.db").string();
  fs::copy_file(argv[1], copy, fs::copy_options::overwrite_existing);
  fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
  const uintmax_t before = fs::file_size(copy);
  std::string table = argv[2];
  auto t0 = std::chrono::steady_clock::now();
  size_t updates = 0;
  {
    auto db = jet::Database::Open(copy, jet::OpenOptions{"", true});
    db->AddColumn(table, "Merged", jet::ColumnType::kMemo);
    db->Commit();
    auto t = db->Table(table);
    const jet::Column* merged = t->FindColumn("Merged");
    std::vector<const jet::Column*> parts;
    for (int i = 3; i < argc; ++i) parts.push_back(t->FindColumn(argv[i]));
    std::vector<std::pair<jet::RowId, std::string>> work;
    {
      jet::TableScan scan(*db, t);
      while (scan.Next()) {
        std::string v;
        for (auto* c : parts) v += jet::TextForm(scan.Get(*c));
        work.emplace_back(scan.id(), std::move(v));
      }
    }
    for (auto& [id, v] : work) {
      db->UpdateRow(*t, id, {{merged, jet::Value::Text(v)}});
      ++updates;
      if (db->pending_pages() > 4096) db->Commit();
    }
    db->Commit();
  }
  double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const uintmax_t after = fs::file_size(copy);
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  std::printf("%zu updates in %.3f s (%.0f updates/s), file %.1f MB -> %.1f MB (+%.1f %%), peak RSS %.1f MB\n",
              updates, secs, updates / secs, before / 1e6, after / 1e6,
              100.0 * (double(after) - double(before)) / double(before), ru.ru_maxrss / 1024.0);
  auto db = jet::Database::Open(copy, jet::OpenOptions{"", false});
  jet::CheckReport r = jet::CheckDatabase(*db);
  std::printf("check: %s (%zu rows)\n", r.ok() ? "ok" : r.problems[0].c_str(), r.rows);
  fs::remove(copy);
  return r.ok() ? 0 : 1;
}
