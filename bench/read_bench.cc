// Reading speed: the engine alone, or another program, with their peak memory.
//
//   read_bench DB TABLE [--password PW] [--repeat N] [--text]
//       Scans TABLE N times (default 5), reading every column of every row;
//       --text also makes each value's display text, as the wizard's grid
//       does. The database is opened once.
//   read_bench --run N -- COMMAND [ARGS...]
//       Runs COMMAND N times with its output going to /dev/null.
//
// Both print the best wall and CPU (user + system) seconds and the peak
// resident memory. CPU time is the fairer figure on a shared machine.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "jet/table/database.h"
#include "jet/storage/error.h"

namespace {

double Seconds(const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; }

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

int RunCommand(int runs, char** argv) {
  double best_wall = 1e300, best_cpu = 1e300;
  long peak_kb = 0;
  for (int r = 0; r < runs; ++r) {
    double start = Now();
    pid_t pid = fork();
    if (pid < 0) {
      std::perror("read_bench: fork");
      return 1;
    }
    if (pid == 0) {
      int null = open("/dev/null", O_WRONLY);
      if (null >= 0) dup2(null, 1);
      execvp(argv[0], argv);
      std::perror("read_bench: exec");
      _exit(127);
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) < 0) {
      std::perror("read_bench: wait");
      return 1;
    }
    double wall = Now() - start;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "read_bench: %s failed\n", argv[0]);
      return 1;
    }
    best_wall = std::min(best_wall, wall);
    best_cpu = std::min(best_cpu, Seconds(ru.ru_utime) + Seconds(ru.ru_stime));
    peak_kb = std::max(peak_kb, ru.ru_maxrss);
  }
  std::printf("wall=%.4f cpu=%.4f peak_rss_kb=%ld\n", best_wall, best_cpu, peak_kb);
  return 0;
}

int ScanTable(int argc, char** argv) {
  std::string db_path = argv[1], table = argv[2];
  jet::OpenOptions options;
  int repeat = 5;
  bool text = false;
  for (int i = 3; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--password" && i + 1 < argc) {
      options.password = argv[++i];
    } else if (a == "--repeat" && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    } else if (a == "--text") {
      text = true;
    } else {
      std::fprintf(stderr, "read_bench: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  try {
    auto db = jet::Database::Open(db_path, options);
    auto t = db->Table(table);
    double best_wall = 1e300, best_cpu = 1e300;
    uint64_t rows = 0, checksum = 0;
    for (int r = 0; r < repeat; ++r) {
      double wall = Now(), cpu = ProcessCpuSeconds();
      jet::TableScan scan(*db, t);
      rows = 0;
      while (scan.Next()) {
        ++rows;
        for (const auto& c : t->columns) {
          jet::Value v = scan.Get(c);
          // Something of every value, so that no read can be left out.
          checksum += text ? jet::TextForm(v).size() : v.bytes().size() + (v.is_null() ? 0 : 1);
        }
      }
      best_wall = std::min(best_wall, Now() - wall);
      best_cpu = std::min(best_cpu, ProcessCpuSeconds() - cpu);
    }
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    std::printf("rows=%llu wall=%.4f cpu=%.4f peak_rss_kb=%ld checksum=%llu\n",
                static_cast<unsigned long long>(rows), best_wall, best_cpu, ru.ru_maxrss,
                static_cast<unsigned long long>(checksum));
  } catch (const jet::Error& e) {
    std::fprintf(stderr, "read_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--run") == 0 && std::strcmp(argv[3], "--") == 0 &&
      argc >= 5) {
    return RunCommand(std::max(1, std::atoi(argv[2])), argv + 4);
  }
  if (argc < 3 || argv[1][0] == '-') {
    std::fprintf(stderr,
                 "usage: read_bench DB TABLE [--password PW] [--repeat N] [--text]\n"
                 "       read_bench --run N -- COMMAND [ARGS...]\n");
    return 2;
  }
  return ScanTable(argc, argv);
}
