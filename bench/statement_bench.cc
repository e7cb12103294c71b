// What a statement costs on its own: single-row UPDATEs through a
// connection, each committed when Execute returns (journal made, synced
// twice, pages written, the database synced, the journal removed), against
// the same UPDATEs inside one transaction committed once.
//   statement_bench DB TABLE KEY COLUMN [COUNT]
// DB is changed: give it a copy. KEY must be a numeric column with values
// 1..COUNT; COLUMN a text or memo column.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "db/access.h"
#include "db/ado.h"

namespace {

double Run(db::Connection& c, const std::string& table, const std::string& key,
           const std::string& column, int count, int round, bool in_transaction) {
  const auto start = std::chrono::steady_clock::now();
  if (in_transaction) c.BeginTrans();
  for (int i = 1; i <= count; ++i) {
    c.Execute("update [" + table + "] set [" + column + "]='r" + std::to_string(round) + "' where [" +
              key + "]=" + std::to_string(i));
  }
  if (in_transaction) c.CommitTrans();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: statement_bench DB TABLE KEY COLUMN [COUNT]\n");
    return 2;
  }
  const int count = argc > 5 ? std::atoi(argv[5]) : 200;
  db::Connection c;
  c.Mode = db::kModeReadWrite;
  c.Open(db::BuildConnectionString(argv[1], ""));
  const double alone = Run(c, argv[2], argv[3], argv[4], count, 1, false);
  const double together = Run(c, argv[2], argv[3], argv[4], count, 2, true);
  std::printf("%d single-row updates, each committed: %.3f s (%.2f ms a statement)\n", count,
              alone, alone * 1000 / count);
  std::printf("%d single-row updates in one transaction: %.3f s (%.3f ms a statement)\n", count,
              together, together * 1000 / count);
  return 0;
}
