// `tessaly import`, `tessaly encrypt` and a `tessaly merge` that replaces a
// column, killed at random instants: the file is always as before or
// complete, sound, and an encryption's copy does not outlive the next run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_util.h"
#include "jet/table/database.h"
#include "jet/table/table_scan.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFile;
using testing_support::ScratchDir;
using Clock = std::chrono::steady_clock;

// Starts `tessaly args...` in `dir` and kills it after `wait` (lets it end
// when `wait` is negative); returns how long it ran.
std::chrono::microseconds Child(const std::string& dir, const std::vector<std::string>& args,
                                std::chrono::microseconds wait) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(TESSALY_CLI)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(TESSALY_CLI, argv.data());
    _exit(127);
  }
  if (wait.count() >= 0) {
    std::this_thread::sleep_for(wait);
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
}

enum class State { kBefore, kComplete };

// Kills the command `rounds` times at instants spread over 1.5 times a whole
// run, each time on a fresh `prepare`d folder, and asks `judge` what it left.
// Both outcomes must occur.
void KillAtRandom(const std::string& what, int rounds,
                  const std::function<std::vector<std::string>(const std::string&)>& prepare,
                  const std::function<State(const std::string&, const std::string&)>& judge) {
  std::chrono::microseconds whole{0};
  {
    ScratchDir dir;
    const auto args = prepare(dir.path().string());
    whole = Child(dir.path().string(), args, std::chrono::microseconds(-1));
    ASSERT_EQ(judge(dir.path().string(), what + " unkilled"), State::kComplete);
  }
  std::mt19937 rng(1414);
  int before = 0, complete = 0;
  auto round = [&](int n, std::chrono::microseconds wait) {
    ScratchDir dir;
    const auto args = prepare(dir.path().string());
    Child(dir.path().string(), args, wait);
    const State s = judge(dir.path().string(), what + " round " + std::to_string(n));
    (s == State::kBefore ? before : complete)++;
  };
  for (int n = 0; n < rounds; ++n) {
    round(n, std::chrono::microseconds(rng() % (whole.count() * 3 / 2 + 1)));
  }
  // On a loaded machine a run can take much longer than the one measured:
  // then later kills, or earlier ones, until both outcomes were seen.
  auto late = whole * 2;
  auto early = whole / 4;
  for (int n = rounds; n < rounds + 10 && (complete == 0 || before == 0); ++n) {
    if (complete == 0) {
      round(n, late);
      late *= 2;
    } else {
      round(n, early);
      early /= 4;
    }
  }
  EXPECT_GT(before, 0) << what;
  EXPECT_GT(complete, 0) << what;
}

constexpr int kImportRows = 20000;

TEST(KilledCommands, ImportLeavesNoTableOrAllItsRows) {
  KillAtRandom(
      "import", 30,
      [](const std::string& dir) {
        testing_support::WriteFile(
            dir + "/t.mdb", ReadFile(testing_support::DataPath("generated/people_V2000_200.mdb")));
        std::string csv = "n,name,when\n";
        for (int i = 1; i <= kImportRows; ++i) {
          csv += std::to_string(i) + ",name " + std::to_string(i) + ",2020-01-0" +
                 std::to_string(1 + i % 9) + "\n";
        }
        testing_support::WriteFile(dir + "/rows.csv", csv);
        testing_support::WriteFile(dir + "/original", ReadFile(dir + "/t.mdb"));
        return std::vector<std::string>{"import", "t.mdb", "New", "rows.csv"};
      },
      [](const std::string& dir, const std::string& what) {
        auto db = jet::Database::Open(dir + "/t.mdb", jet::OpenOptions{});
        const auto tables = db->UserTables();
        const bool made = std::find(tables.begin(), tables.end(), "New") != tables.end();
        const uint32_t rows = made ? db->Table("New")->row_count : 0;
        db.reset();
        EXPECT_TRUE(cli_test::CheckClean(dir, dir + "/t.mdb")) << what;
        if (!made) {
          EXPECT_TRUE(ReadFile(dir + "/t.mdb") == ReadFile(dir + "/original")) << what;
          return State::kBefore;
        }
        EXPECT_EQ(rows, static_cast<uint32_t>(kImportRows)) << what;
        return State::kComplete;
      });
}

bool Encrypted(const std::string& dir, const std::string& db) {
  return cli_test::Tessaly(dir, "tables " + cli_test::Q(db)).code != 0;
}

TEST(KilledCommands, EncryptLeavesThePlainOrTheEncryptedFileAndNoCopyPastTheNextRun) {
  KillAtRandom(
      "encrypt", 24,
      [](const std::string& dir) {
        testing_support::WriteFile(
            dir + "/e.accdb",
            ReadFile(testing_support::DataPath("generated/people_V2007_300.accdb")));
        testing_support::WriteFile(dir + "/pw", "Kill-Me-Not\n");
        return std::vector<std::string>{"encrypt", "e.accdb", "--password-file", "pw"};
      },
      [](const std::string& dir, const std::string& what) {
        const std::string db = dir + "/e.accdb";
        const bool encrypted = Encrypted(dir, db);
        EXPECT_TRUE(cli_test::CheckClean(dir, db, encrypted ? "Kill-Me-Not" : "")) << what;
        if (!encrypted) {
          EXPECT_TRUE(ReadFile(db) ==
                      ReadFile(testing_support::DataPath("generated/people_V2007_300.accdb")))
              << what;
        }
        // The next run (which refuses an encrypted file) leaves no copy.
        cli_test::Tessaly(dir, "encrypt e.accdb --password-file pw");
        for (const auto& e : fs::directory_iterator(dir)) {
          EXPECT_EQ(e.path().filename().string().find(".encrypting-"), std::string::npos)
              << what << ": " << e.path();
        }
        EXPECT_TRUE(Encrypted(dir, db)) << what;
        return encrypted ? State::kComplete : State::kBefore;
      });
}

TEST(KilledCommands, AMergeReplacingAColumnKeepsItsOldValuesOrAllTheNew) {
  const std::string people = testing_support::DataPath("generated/people_V2000_200.mdb");
  ScratchDir seed;
  const std::string seeded = seed.path().string() + "/p.mdb";
  testing_support::WriteFile(seeded, ReadFile(people));
  // The column to be replaced holds the first names.
  ASSERT_EQ(
      cli_test::Tessaly(seed.path().string(), "merge p.mdb People --field First --into Full").code,
      0);
  const std::string with_full = ReadFile(seeded);
  KillAtRandom(
      "merge", 24,
      [&](const std::string& dir) {
        testing_support::WriteFile(dir + "/p.mdb", with_full);
        return std::vector<std::string>{"merge", "p.mdb",  "People", "--field",
                                        "Last",  "--into", "Full",   "--yes"};
      },
      [&](const std::string& dir, const std::string& what) {
        const std::string db = dir + "/p.mdb";
        EXPECT_TRUE(cli_test::CheckClean(dir, db)) << what;
        auto d = jet::Database::Open(db, jet::OpenOptions{});
        auto t = d->Table("People");
        jet::TableScan scan(*d, t);
        int first = 0, last = 0, rows = 0;
        while (scan.Next()) {
          ++rows;
          const std::string full = jet::TextForm(scan.Get(*t->FindColumn("Full")));
          first += full == jet::TextForm(scan.Get(*t->FindColumn("First")));
          last += full == jet::TextForm(scan.Get(*t->FindColumn("Last")));
        }
        d.reset();
        if (ReadFile(db) == with_full) return State::kBefore;
        // Not as before: then every row has the new value (rows whose first
        // and last names agree count for both).
        EXPECT_EQ(last, rows) << what << " (" << first << " rows still hold the first name)";
        return State::kComplete;
      });
}

}  // namespace
