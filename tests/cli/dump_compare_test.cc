// Runs the `tessaly` tool on every fixture that has expected outputs from
// the independent readers (tests/data/expected, see NOTES.md there) and
// compares table lists, column lists and dumps; then its error reports and
// exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using testing_support::DataPath;

// Fixtures whose dumps cannot match yet, with the reason. Deleting a line
// turns that fixture's dump comparison on.
const std::map<std::string, std::string>& PendingDumps() {
  static const std::map<std::string, std::string> pending = {};
  return pending;
}

std::string PasswordFor(const std::string& rel) {
  if (rel == "mdb-reader/V2000_with-password.mdb" || rel == "mdb-reader/office-agile-4.4.accdb") {
    return "password";
  }
  return "";
}

// ---------------------------------------------------------------------------
// Running the tool

struct ToolRun {
  int status = -1;  // exit code, or -1 when the tool did not exit normally
  std::string out;
  std::string err;
};

ToolRun RunTool(const std::vector<std::string>& args) {
  std::vector<std::string> argv_store = {TESSALY_CLI};
  argv_store.insert(argv_store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argv_store) argv.push_back(a.data());
  argv.push_back(nullptr);

  int out_pipe[2], err_pipe[2];
  if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return {};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out_pipe[1]);
  close(err_pipe[1]);
  ToolRun run;
  if (rc != 0) {
    close(out_pipe[0]);
    close(err_pipe[0]);
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
    return run;
  }
  // Both pipes are drained together so that a large dump cannot block the
  // tool on a full stderr pipe, or the other way round.
  std::array<pollfd, 2> fds = {pollfd{out_pipe[0], POLLIN, 0}, pollfd{err_pipe[0], POLLIN, 0}};
  std::array<std::string*, 2> sinks = {&run.out, &run.err};
  int open_fds = 2;
  char buf[65536];
  while (open_fds > 0) {
    if (poll(fds.data(), fds.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (size_t i = 0; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        sinks[i]->append(buf, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open_fds;
      }
    }
  }
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
  }
  run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  return run;
}

std::vector<std::string> WithPassword(std::vector<std::string> args, const std::string& rel) {
  std::string pw = PasswordFor(rel);
  if (!pw.empty()) {
    args.push_back("--password");
    args.push_back(pw);
  }
  return args;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// ---------------------------------------------------------------------------
// A small JSON reader: just enough to split the dump's lines into keys and the
// raw text of their values (values may be nested lists or objects).

// Returns the position just past the JSON value that starts at `pos`.
size_t SkipValue(std::string_view s, size_t pos) {
  if (pos >= s.size()) throw std::runtime_error("value expected at the end");
  if (s[pos] == '"') {
    for (size_t i = pos + 1; i < s.size(); ++i) {
      if (s[i] == '\\') {
        ++i;
      } else if (s[i] == '"') {
        return i + 1;
      }
    }
    throw std::runtime_error("unterminated string");
  }
  if (s[pos] == '[' || s[pos] == '{') {
    int depth = 0;
    for (size_t i = pos; i < s.size(); ++i) {
      char c = s[i];
      if (c == '"') {
        i = SkipValue(s, i) - 1;
      } else if (c == '[' || c == '{') {
        ++depth;
      } else if (c == ']' || c == '}') {
        if (--depth == 0) return i + 1;
      }
    }
    throw std::runtime_error("unterminated list or object");
  }
  size_t end = s.find_first_of(",]}", pos);
  if (end == pos) throw std::runtime_error("empty value");
  return end == std::string_view::npos ? s.size() : end;
}

void AppendUtf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The text of a JSON string token (with its quotes).
std::string DecodeString(std::string_view token) {
  if (token.size() < 2 || token.front() != '"' || token.back() != '"') {
    throw std::runtime_error("not a string: " + std::string(token));
  }
  std::string out;
  auto hex4 = [&](size_t at) {
    if (at + 4 > token.size() - 1) throw std::runtime_error("short \\u escape");
    return static_cast<uint32_t>(std::stoul(std::string(token.substr(at, 4)), nullptr, 16));
  };
  for (size_t i = 1; i + 1 < token.size(); ++i) {
    char c = token[i];
    if (c != '\\') {
      out.push_back(c);
      continue;
    }
    char e = token[++i];
    switch (e) {
      case 'b':
        out.push_back('\b');
        break;
      case 'f':
        out.push_back('\f');
        break;
      case 'n':
        out.push_back('\n');
        break;
      case 'r':
        out.push_back('\r');
        break;
      case 't':
        out.push_back('\t');
        break;
      case 'u': {
        uint32_t cp = hex4(i + 1);
        i += 4;
        if (cp >= 0xD800 && cp < 0xDC00 && i + 6 < token.size() && token[i + 1] == '\\' &&
            token[i + 2] == 'u') {
          uint32_t low = hex4(i + 3);
          if (low >= 0xDC00 && low < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            i += 6;
          }
        }
        AppendUtf8(out, cp);
        break;
      }
      default:
        out.push_back(e);  // \" \\ \/
    }
  }
  return out;
}

using Members = std::map<std::string, std::string>;  // key -> raw value text

Members SplitObject(std::string_view s) {
  Members m;
  if (s.empty() || s.front() != '{') throw std::runtime_error("object expected: " + std::string(s));
  size_t pos = 1;
  if (pos < s.size() && s[pos] == '}') return m;
  while (true) {
    size_t key_end = SkipValue(s, pos);
    std::string key = DecodeString(s.substr(pos, key_end - pos));
    if (key_end >= s.size() || s[key_end] != ':') throw std::runtime_error("':' expected");
    size_t value_end = SkipValue(s, key_end + 1);
    if (!m.emplace(key, std::string(s.substr(key_end + 1, value_end - key_end - 1))).second) {
      throw std::runtime_error("duplicate key " + key);
    }
    if (value_end >= s.size()) throw std::runtime_error("unterminated object");
    if (s[value_end] == '}') {
      if (value_end + 1 != s.size()) throw std::runtime_error("text after the object");
      return m;
    }
    if (s[value_end] != ',') throw std::runtime_error("',' expected");
    pos = value_end + 1;
  }
}

std::vector<std::string> SplitList(std::string_view s) {
  std::vector<std::string> items;
  if (s.size() < 2 || s.front() != '[' || s.back() != ']')
    throw std::runtime_error("list expected");
  size_t pos = 1;
  while (pos < s.size() - 1) {
    size_t end = SkipValue(s, pos);
    items.emplace_back(s.substr(pos, end - pos));
    pos = end + 1;  // past the comma (or onto the closing bracket)
  }
  return items;
}

struct Dump {
  std::string table;
  std::vector<std::pair<std::string, std::string>> columns;  // name, type; in file order
  long row_count = -1;
  std::vector<Members> rows;
};

// Reads the canonical form: a header line, one row a line (a comma after all
// but the last), and a closing line.
Dump ParseDump(const std::string& text) {
  std::vector<std::string> lines = Lines(text);
  if (text.empty() || text.back() != '\n') throw std::runtime_error("no final line break");
  if (lines.size() < 2) throw std::runtime_error("fewer than two lines");
  const std::string& head = lines.front();
  const std::string kRowsOpen = "\"rows\":[";
  if (head.size() < kRowsOpen.size() ||
      head.compare(head.size() - kRowsOpen.size(), kRowsOpen.size(), kRowsOpen) != 0) {
    throw std::runtime_error("the first line does not open the rows");
  }
  if (lines.back() != "]}") throw std::runtime_error("the last line is not ]}");
  Members h = SplitObject(head + "]}");
  Dump d;
  d.table = DecodeString(h.at("table"));
  for (const auto& col : SplitList(h.at("columns"))) {
    Members c = SplitObject(col);
    d.columns.emplace_back(DecodeString(c.at("name")), DecodeString(c.at("type")));
  }
  d.row_count = std::stol(h.at("rowCount"));
  for (size_t i = 1; i + 1 < lines.size(); ++i) {
    std::string_view line = lines[i];
    bool last = i + 2 == lines.size();
    if (!last) {
      if (line.empty() || line.back() != ',') throw std::runtime_error("row line without comma");
      line.remove_suffix(1);
    }
    d.rows.push_back(SplitObject(line));
  }
  return d;
}

// ---------------------------------------------------------------------------
// CSV records: the field text and whether it was quoted.

struct CsvField {
  std::string text;
  bool quoted = false;
};

std::vector<std::vector<CsvField>> ParseCsv(const std::string& s) {
  std::vector<std::vector<CsvField>> records;
  std::vector<CsvField> record;
  size_t i = 0;
  while (i < s.size()) {
    CsvField f;
    if (s[i] == '"') {
      f.quoted = true;
      ++i;
      while (true) {
        if (i >= s.size()) throw std::runtime_error("unterminated quoted field");
        if (s[i] == '"') {
          if (i + 1 < s.size() && s[i + 1] == '"') {
            f.text.push_back('"');
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        f.text.push_back(s[i++]);
      }
    } else {
      while (i < s.size() && s[i] != ',' && s[i] != '\n') {
        if (s[i] == '"' || s[i] == '\r') throw std::runtime_error("quote or CR in a bare field");
        f.text.push_back(s[i++]);
      }
    }
    record.push_back(std::move(f));
    if (i >= s.size()) throw std::runtime_error("last record without line break");
    if (s[i] == '\n') {
      records.push_back(std::move(record));
      record.clear();
    } else if (s[i] != ',') {
      throw std::runtime_error("text after a closing quote");
    }
    ++i;
  }
  return records;
}

// ---------------------------------------------------------------------------
// The fixtures: every folder below expected/ with an index.tsv.

struct Fixture {
  std::string rel;                                          // path below tests/data
  std::vector<std::pair<std::string, std::string>> tables;  // name, expected JSON file
};

std::string ExpectedDir(const std::string& rel) { return DataPath("expected/" + rel); }

std::vector<std::string> FixtureNames() {
  std::vector<std::string> names;
  fs::path root = DataPath("expected");
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.path().filename() == "index.tsv") {
      names.push_back(fs::relative(e.path().parent_path(), root).generic_string());
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

Fixture LoadFixture(const std::string& rel) {
  Fixture f;
  f.rel = rel;
  std::istringstream in(testing_support::ReadFile(ExpectedDir(rel) + "/index.tsv"));
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    size_t tab = line.find('\t');
    if (tab == std::string::npos) throw std::runtime_error("bad index line: " + line);
    f.tables.emplace_back(line.substr(0, tab), line.substr(tab + 1));
  }
  return f;
}

class ExpectedOutputs : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override { fixture_ = LoadFixture(GetParam()); }
  std::string Db() const { return DataPath(fixture_.rel); }
  Fixture fixture_;
};

TEST_P(ExpectedOutputs, TablesListsTheSameTables) {
  ToolRun r = RunTool(WithPassword({"tables", Db()}, fixture_.rel));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::vector<std::string> got = Lines(r.out);
  std::vector<std::string> want =
      Lines(testing_support::ReadFile(ExpectedDir(fixture_.rel) + "/tables.txt"));
  // The order differs where catalogue rows were moved (see NOTES.md).
  std::sort(got.begin(), got.end());
  std::sort(want.begin(), want.end());
  EXPECT_EQ(got, want);
}

TEST_P(ExpectedOutputs, ColumnsListsEveryColumnWithItsType) {
  for (const auto& [table, file] : fixture_.tables) {
    SCOPED_TRACE(table);
    ToolRun r = RunTool(WithPassword({"columns", Db(), table}, fixture_.rel));
    ASSERT_EQ(r.status, 0) << r.err;
    Dump want = ParseDump(testing_support::ReadFile(ExpectedDir(fixture_.rel) + "/" + file));
    std::vector<std::pair<std::string, std::string>> got;
    for (const auto& line : Lines(r.out)) {
      size_t tab = line.find('\t');
      ASSERT_NE(tab, std::string::npos) << line;
      got.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    // Ours are in display order, the expected ones in column-number order.
    std::sort(got.begin(), got.end());
    std::sort(want.columns.begin(), want.columns.end());
    EXPECT_EQ(got, want.columns);
  }
}

// Compares every row as a map from column name to the value's text; rows
// are compared in order.
TEST_P(ExpectedOutputs, JsonDumpsMatch) {
  if (auto it = PendingDumps().find(fixture_.rel); it != PendingDumps().end()) {
    GTEST_SKIP() << it->second;
  }
  for (const auto& [table, file] : fixture_.tables) {
    SCOPED_TRACE(table);
    ToolRun r = RunTool(WithPassword({"dump", Db(), table, "--format", "json"}, fixture_.rel));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    Dump got, want;
    ASSERT_NO_THROW(got = ParseDump(r.out)) << r.out.substr(0, 2000);
    want = ParseDump(testing_support::ReadFile(ExpectedDir(fixture_.rel) + "/" + file));
    EXPECT_EQ(got.table, want.table);
    EXPECT_EQ(got.row_count, static_cast<long>(got.rows.size()));
    EXPECT_EQ(got.row_count, want.row_count);
    auto got_cols = got.columns, want_cols = want.columns;
    std::sort(got_cols.begin(), got_cols.end());
    std::sort(want_cols.begin(), want_cols.end());
    EXPECT_EQ(got_cols, want_cols);
    int reported = 0;
    for (size_t i = 0; i < std::min(got.rows.size(), want.rows.size()) && reported < 5; ++i) {
      if (got.rows[i] == want.rows[i]) continue;
      ++reported;
      std::ostringstream diff;
      for (const auto& [key, value] : want.rows[i]) {
        auto g = got.rows[i].find(key);
        std::string mine = g == got.rows[i].end() ? "(missing)" : g->second;
        if (mine != value) diff << "\n  " << key << ": got " << mine << ", want " << value;
      }
      for (const auto& [key, value] : got.rows[i]) {
        if (!want.rows[i].count(key)) diff << "\n  " << key << ": unexpected " << value;
      }
      ADD_FAILURE() << "row " << i << " differs:" << diff.str();
    }
  }
}

// The CSV form carries the same values: text always quoted (so that an empty
// text differs from NULL, an empty bare field), quotes doubled, line breaks
// kept inside the quotes, booleans as 1/0.
TEST_P(ExpectedOutputs, CsvDumpsCarryTheSameValues) {
  if (auto it = PendingDumps().find(fixture_.rel); it != PendingDumps().end()) {
    GTEST_SKIP() << it->second;
  }
  for (const auto& [table, file] : fixture_.tables) {
    SCOPED_TRACE(table);
    ToolRun r = RunTool(WithPassword({"dump", Db(), table, "--format", "csv"}, fixture_.rel));
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::vector<CsvField>> records;
    ASSERT_NO_THROW(records = ParseCsv(r.out));
    Dump want = ParseDump(testing_support::ReadFile(ExpectedDir(fixture_.rel) + "/" + file));
    ASSERT_EQ(records.size(), want.rows.size() + 1);
    std::map<std::string, std::string> types(want.columns.begin(), want.columns.end());
    const auto& names = records.front();
    ASSERT_EQ(names.size(), want.columns.size());
    for (const auto& n : names) {
      EXPECT_TRUE(n.quoted);
      EXPECT_TRUE(types.count(n.text)) << n.text;
    }
    int reported = 0;
    for (size_t i = 0; i < want.rows.size() && reported < 5; ++i) {
      const auto& rec = records[i + 1];
      ASSERT_EQ(rec.size(), names.size()) << "record " << i;
      std::ostringstream diff;
      for (size_t k = 0; k < names.size(); ++k) {
        const std::string& name = names[k].text;
        const std::string& raw = want.rows[i].at(name);
        const std::string& type = types[name];
        const CsvField& f = rec[k];
        bool bad = false;
        if (raw == "null") {
          bad = f.quoted || !f.text.empty();
        } else if (raw == "true" || raw == "false") {
          bad = f.text != (raw == "true" ? "1" : "0");
        } else if (raw.front() == '"') {
          bad = f.text != DecodeString(raw) || ((type == "text" || type == "memo") && !f.quoted);
        } else {
          bad = f.text != raw;
        }
        if (bad) {
          diff << "\n  " << name << ": got " << (f.quoted ? "quoted " : "bare ") << "'" << f.text
               << "', want " << raw;
        }
      }
      if (!diff.str().empty()) {
        ++reported;
        ADD_FAILURE() << "record " << i << " differs:" << diff.str();
      }
    }
  }
}

std::string ParamName(const testing::TestParamInfo<std::string>& info) {
  std::string name;
  for (char c : info.param) name.push_back(std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  return name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExpectedOutputs, testing::ValuesIn(FixtureNames()), ParamName);

// `columns` lists columns in the order Access shows them, the order of the
// definition's descriptors; dumps list them by column number, as the other
// readers do. The two differ here.
TEST(ToolColumns, FollowTheDisplayOrder) {
  ToolRun r = RunTool({"columns", DataPath("mdb-reader/withdeletedcol.accdb"), "Table1"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> names;
  for (const auto& line : Lines(r.out)) names.push_back(line.substr(0, line.find('\t')));
  EXPECT_EQ(names,
            (std::vector<std::string>{"col1", "col2", "col3", "col5", "col6", "col7", "col8"}));
  ToolRun dump =
      RunTool({"dump", DataPath("mdb-reader/withdeletedcol.accdb"), "Table1", "--format", "csv"});
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(Lines(dump.out).at(0),
            "\"col2\",\"col3\",\"col5\",\"col6\",\"col7\",\"col8\",\"col1\"");
}

// ---------------------------------------------------------------------------
// Errors: a message on stderr naming the problem, nothing on stdout, exit
// status 1 (2 for a wrong command line).

void ExpectFailure(const ToolRun& r, const std::string& needle) {
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(Lower(r.err).find(Lower(needle)), std::string::npos) << r.err;
}

TEST(ToolErrors, WrongOrMissingPasswordIsRefused) {
  for (const std::string rel :
       {"mdb-reader/V2000_with-password.mdb", "mdb-reader/office-agile-4.4.accdb"}) {
    SCOPED_TRACE(rel);
    ExpectFailure(RunTool({"tables", DataPath(rel)}), "password");
    ExpectFailure(RunTool({"tables", DataPath(rel), "--password", "Password"}), "password");
    ExpectFailure(RunTool({"dump", DataPath(rel), "Table1", "--password", "wrong"}), "password");
    ToolRun ok = RunTool({"tables", DataPath(rel), "--password", "password"});
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.out, "Table1\n");
  }
}

TEST(ToolErrors, MissingFileIsNamed) {
  testing_support::ScratchDir dir;
  std::string path = (dir.path() / "nothing here.mdb").string();
  ExpectFailure(RunTool({"tables", path}), path);
  ExpectFailure(RunTool({"dump", path, "T"}), "could not find");
}

TEST(ToolErrors, NonDatabaseFilesAreRecognised) {
  testing_support::ScratchDir dir;
  std::string text = (dir.path() / "notes.mdb").string();
  testing_support::WriteFile(text, testing_support::ReadFile(DataPath("expected/NOTES.md")));
  ExpectFailure(RunTool({"tables", text}), "not an Access database");
  std::string empty = (dir.path() / "empty.accdb").string();
  testing_support::WriteFile(empty, "");
  ExpectFailure(RunTool({"tables", empty}), "not an Access database");
  // A real header on a file cut after its first page.
  std::string cut = (dir.path() / "cut.mdb").string();
  testing_support::WriteFile(
      cut, testing_support::ReadFile(DataPath("generated/people_V2000_200.mdb")).substr(0, 4096));
  ExpectFailure(RunTool({"tables", cut}), "damaged");
  ExpectFailure(RunTool({"tables", dir.path().string()}), "folder");
}

TEST(ToolErrors, UnknownTableIsNamed) {
  std::string db = DataPath("generated/people_V2000_200.mdb");
  ExpectFailure(RunTool({"dump", db, "Peoples"}), "'Peoples' does not exist");
  ExpectFailure(RunTool({"columns", db, "No Such Table"}), "'No Such Table' does not exist");
  // Names match without regard to case, as in Access.
  ToolRun r = RunTool({"columns", db, "PEOPLE"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Lines(r.out).at(0), "ID\tlong");
}

TEST(ToolErrors, BadCommandLinesShowTheUsage) {
  std::string db = DataPath("generated/people_V2000_200.mdb");
  for (const auto& args :
       std::vector<std::vector<std::string>>{{"tables"},
                                             {"frobnicate", db},
                                             {"dump", db, "People", "--format", "xml"},
                                             {"dump", db, "People", "--password"},
                                             {"tables", db, "--verbose"}}) {
    ToolRun r = RunTool(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("usage:"), std::string::npos) << r.err;
  }
}

}  // namespace
