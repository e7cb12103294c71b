// Fills a new memo column of every row of a table with one update per row
// and reports updates per second (commits included) and file growth.
//   write_bench DB TABLE COLUMN [COLUMN...]   (works on a copy of DB)
//   write_bench --generate [ROWS]             (a new table of ROWS people,
//                                              1,000,000 by default)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/table/check.h"
#include "jet/table/create.h"
#include "jet/table/database.h"

namespace {

// A table of people made on the spot: an autonumber key and three names.
void Generate(const std::string& path, size_t rows) {
  std::filesystem::remove(path);
  jet::CreateDatabase(path, jet::FileFormat::kAccdb2016);
  auto db = jet::Database::Open(path, jet::OpenOptions{"", true});
  db->CreateTable("People",
                  {{"ID", jet::ColumnType::kLong, 255, true},
                   {"First", jet::ColumnType::kText, 50},
                   {"Last", jet::ColumnType::kText, 50},
                   {"City", jet::ColumnType::kText, 50}},
                  {"ID"});
  auto t = db->Table("People");
  const char* first[] = {"Anna", "Brendan", "Chloé", "David", "Elena", "Farid", "Grace"};
  const char* last[] = {"O'Connor", "Müller", "Okafor", "García", "Tanaka", "Nowak"};
  for (size_t i = 0; i < rows; ++i) {
    db->InsertRow(*t,
                  {{t->FindColumn("First"), jet::Value::Text(first[i % 7])},
                   {t->FindColumn("Last"), jet::Value::Text(last[i % 6])},
                   {t->FindColumn("City"), jet::Value::Text("City " + std::to_string(i % 500))}});
    if (i % 100000 == 99999) db->Commit();
  }
  db->Commit();
}

}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string source, table;
  std::vector<std::string> columns;
  std::string generated;
  if (argc >= 2 && std::string(argv[1]) == "--generate") {
    size_t rows = argc >= 3 ? std::stoul(argv[2]) : 1000000;
    generated = (fs::temp_directory_path() / "tessaly-write-bench-source.accdb").string();
    auto g0 = std::chrono::steady_clock::now();
    Generate(generated, rows);
    double gs = std::chrono::duration<double>(std::chrono::steady_clock::now() - g0).count();
    std::printf("generated %zu rows in %.3f s (%.0f rows/s)\n", rows, gs, rows / gs);
    source = generated;
    table = "People";
    columns = {"First", "Last", "City"};
  } else if (argc >= 4) {
    source = argv[1];
    table = argv[2];
    for (int i = 3; i < argc; ++i) columns.push_back(argv[i]);
  } else {
    std::fprintf(stderr,
                 "usage: write_bench DB TABLE COLUMN [COLUMN...]\n"
                 "       write_bench --generate [ROWS]\n");
    return 2;
  }
  std::string copy = (fs::temp_directory_path() / "tessaly-write-bench.db").string();
  fs::copy_file(source, copy, fs::copy_options::overwrite_existing);
  fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
  if (!generated.empty()) fs::remove(generated);
  const uintmax_t before = fs::file_size(copy);
  auto t0 = std::chrono::steady_clock::now();
  size_t updates = 0;
  {
    auto db = jet::Database::Open(copy, jet::OpenOptions{"", true});
    db->AddColumn(table, "Merged", jet::ColumnType::kMemo);
    db->Commit();
    auto t = db->Table(table);
    const jet::Column* merged = t->FindColumn("Merged");
    std::vector<const jet::Column*> parts;
    for (const auto& name : columns) parts.push_back(t->FindColumn(name));
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
  std::printf(
      "%zu updates in %.3f s (%.0f updates/s), file %.1f MB -> %.1f MB (+%.1f %%), peak RSS %.1f "
      "MB\n",
      updates, secs, updates / secs, before / 1e6, after / 1e6,
      100.0 * (double(after) - double(before)) / double(before), ru.ru_maxrss / 1024.0);
  auto db = jet::Database::Open(copy, jet::OpenOptions{"", false});
  jet::CheckReport r = jet::CheckDatabase(*db);
  std::printf("check: %s (%zu rows)\n", r.ok() ? "ok" : r.problems[0].c_str(), r.rows);
  fs::remove(copy);
  return r.ok() ? 0 : 1;
}
