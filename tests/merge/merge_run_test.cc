// The merge run end to end on copies of the generated fixtures: its exact
// statements, what the page sees, the result in every record, and the ways a
// run can fail or be refused.
#include "merge/merge_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "app/message_sink.h"
#include "merge/recording_page.h"
#include "merge/run_util.h"
#include "support/test_support.h"

namespace {

using merge::MergeOutcome;
using merge::RecordingMergePage;
using merge_test::ExecuteAll;
using merge_test::ReadRows;
using merge_test::RecordingRunner;
using Status = MergeOutcome::Status;
using Strings = std::vector<std::string>;

constexpr char kPeopleMdb[] = "generated/people_V2000_200.mdb";
constexpr char kPeopleAccdb[] = "generated/people_V2007_300.accdb";
constexpr char kMismatch[] = "Please use fields of same datatype.";

// The example combination: First Anna, Middle null, Last O'Hara, shared by
// the seven O'Hara records of the fixture.
constexpr char kExampleUpdate[] =
    "update [People] set [Result_Column]='AnnaO''Hara' where [First]='Anna' and [Middle] is "
    "null and [Last]='O''Hara'";
constexpr char kExampleSpacedUpdate[] =
    "update [People] set [Result_Column]='Anna  O''Hara' where [First]='Anna' and [Middle] is "
    "null and [Last]='O''Hara'";

class WorkedExampleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = scratch_.Copy(kPeopleAccdb);
    ExecuteAll(path_, {"UPDATE [People] SET [First]='Anna', [Middle]=NULL WHERE [Last]='O''Hara'"});
    merge_test::SetUp(page_, path_, "People", {"First", "Middle", "Last"});
  }

  // The results of the O'Hara records.
  Strings ExampleResults() {
    Strings out;
    for (const auto& row : ReadRows(path_, "People", {"Last", "Result_Column"})) {
      if (row[0].is_null() || row[0].bytes() != "O'Hara") continue;
      EXPECT_EQ(row[1].kind(), jet::Value::Kind::kText);
      out.push_back(jet::TextForm(row[1]));
    }
    return out;
  }

  static size_t Count(const Strings& all, const std::string& one) {
    return static_cast<size_t>(std::count(all.begin(), all.end(), one));
  }

  testing_support::ScratchDir scratch_;
  std::string path_;
  RecordingMergePage page_;
  RecordingRunner runner_;
};

TEST_F(WorkedExampleTest, IssuesExactlyTheseStatements) {
  merge::MergeRun run(page_, &runner_);
  MergeOutcome outcome = run.Press();
  EXPECT_EQ(outcome.status, Status::kFinished);
  EXPECT_EQ(outcome.rows_written, 300);
  EXPECT_EQ(outcome.failures_reported, 0);
  const Strings& s = runner_.statements;
  ASSERT_EQ(s.size(), static_cast<size_t>(outcome.combinations) + 3);
  EXPECT_EQ(s[0], "ALTER TABLE [People] ADD COLUMN [Result_Column] memo");
  EXPECT_EQ(s[1], "select distinct [First],[Middle],[Last] from [People]");
  EXPECT_EQ(s.back(), "SELECT * FROM [People];");
  EXPECT_EQ(runner_.Starting("update").size(), static_cast<size_t>(outcome.combinations));
  EXPECT_EQ(Count(s, kExampleUpdate), 1u);
  EXPECT_EQ(ExampleResults(), Strings(7, "AnnaO'Hara"));
}

TEST_F(WorkedExampleTest, SecondRunDropsTheColumnAndMergesWithSpaces) {
  {
    merge::MergeRun run(page_, &runner_);
    ASSERT_EQ(run.Press().status, Status::kFinished);
  }
  // As after a new start of the program: a fresh page, the old column left.
  RecordingMergePage page;
  merge_test::SetUp(page, path_, "People", {"First", "Middle", "Last"});
  page.space_option = 1;
  page.messages.Answer(app::msgbox::kYes);
  RecordingRunner runner;
  merge::MergeRun run(page, &runner);
  MergeOutcome outcome = run.Press();
  EXPECT_EQ(outcome.status, Status::kFinished);
  EXPECT_EQ(outcome.rows_written, 300);
  const Strings& s = runner.statements;
  ASSERT_GE(s.size(), 4u);
  EXPECT_EQ(s[0], "ALTER TABLE [People] DROP [Result_Column]");
  EXPECT_EQ(s[1], "ALTER TABLE [People] ADD COLUMN [Result_Column] memo");
  EXPECT_EQ(s[2], "select distinct [First],[Middle],[Last] from [People]");
  EXPECT_EQ(Count(s, kExampleSpacedUpdate), 1u);
  EXPECT_EQ(ExampleResults(), Strings(7, "Anna  O'Hara"));
}

TEST_F(WorkedExampleTest, ThePageSeesEveryStepInOrder) {
  page_.window_state = merge::kWindowMinimized;
  merge::MergeRun run(page_, &runner_);
  const int count = run.Press().combinations;
  ASSERT_GT(count, 1);
  Strings expected = {"lock 1",    "pointer 11",       "progress.max " + std::to_string(count + 1),
                      "pointer 0", "progress.value 0", "progress.text Progress Bar"};
  for (int k = 1; k <= count; ++k) {
    expected.push_back("events");
    expected.push_back("progress.value " + std::to_string(k + 1));
  }
  for (const char* line :
       {"results 300x9", "caption Exit", "merge_done 1", "window 0", "pointer 0",
        "progress.value 0", "progress.text Progress Bar", "message Done.", "lock 0"}) {
    expected.push_back(line);
  }
  EXPECT_EQ(page_.log, expected);
  ASSERT_EQ(page_.messages.shown().size(), 1u);
  EXPECT_EQ(page_.messages.shown()[0].title, "Tessaly");
  EXPECT_EQ(page_.messages.shown()[0].style, app::msgbox::kOkOnly);
  // The grid shows the table with its new column, filled.
  ASSERT_TRUE(page_.results);
  ASSERT_EQ(page_.results->ColumnName(8), "Result_Column");
  for (int r = 0; r < page_.results->RowCount(); ++r) {
    EXPECT_EQ(jet::TextForm(page_.results->Cell(r, 8)),
              merge_test::Merged(
                  {page_.results->Cell(r, 1), page_.results->Cell(r, 2), page_.results->Cell(r, 3)},
                  false));
  }
}

TEST_F(WorkedExampleTest, EveryChosenFieldNull) {
  ExecuteAll(path_, {"UPDATE [People] SET [First]=NULL, [Middle]=NULL, [City]=NULL WHERE [ID]=5"});
  auto result_of_5 = [&] {
    for (const auto& row : ReadRows(path_, "People", {"ID", "Result_Column"})) {
      if (row[0].as_int() == 5) return row[1];
    }
    return jet::Value::Binary("no record 5");
  };
  merge_test::SetUp(page_, path_, "People", {"First", "Middle", "City"});
  merge::MergeRun run(page_, &runner_);
  run.Press();
  EXPECT_EQ(Count(runner_.statements,
                  "update [People] set [Result_Column]='' where [First] is null and [Middle] is "
                  "null and [City] is null"),
            1u);
  // An empty text, not null.
  EXPECT_EQ(result_of_5(), jet::Value::Text(""));

  RecordingMergePage page;
  merge_test::SetUp(page, path_, "People", {"First", "Middle", "City"});
  page.space_option = 1;
  page.messages.Answer(app::msgbox::kYes);
  merge::MergeRun again(page);
  again.Press();
  EXPECT_EQ(result_of_5(), jet::Value::Text("  "));
}

TEST_F(WorkedExampleTest, PressingExitEndsTheProgramWithoutOpeningTheDatabase) {
  page_.caption = merge::kExitCaption;
  page_.connection_string = "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/nonexistent/x.mdb";
  merge::MergeRun run(page_, &runner_);
  EXPECT_EQ(run.Press().status, Status::kEnded);
  EXPECT_TRUE(page_.ended);
  EXPECT_EQ(page_.log, Strings{"end"});
  EXPECT_TRUE(runner_.statements.empty());
}

// ---------------------------------------------------------------------------
// The invariant: after a run, every record's result is its own values'
// text forms joined by the merge rule.

struct InvariantCase {
  const char* fixture;
  const char* table;
  Strings fields;
  bool spaced;
};

std::ostream& operator<<(std::ostream& os, const InvariantCase& c) {
  os << c.fixture << " " << c.table << " [";
  for (const auto& f : c.fields) os << f << ";";
  return os << "] spaced=" << c.spaced;
}

// Values the fixtures lack: case and trailing-blank variants, empty texts
// next to nulls, quotes, characters beyond the first plane, and numbers and
// dates that look alike in their text form but are different values.
const Strings kPeopleEdits = {
    "UPDATE [People] SET [First]='anna', [Middle]='Lee', [City]='Kim' WHERE [ID]=1",
    "UPDATE [People] SET [First]='Anna', [Middle]='Lee', [City]='Kim' WHERE [ID]=2",
    "UPDATE [People] SET [First]='ANNA', [Middle]='Lee', [City]='Kim' WHERE [ID]=3",
    "UPDATE [People] SET [First]='Anna ', [Middle]='Lee', [City]='Kim' WHERE [ID]=4",
    "UPDATE [People] SET [First]='Anna', [Middle]='lee', [City]='Kim' WHERE [ID]=5",
    "UPDATE [People] SET [First]='', [Middle]='', [City]='' WHERE [ID]=6",
    "UPDATE [People] SET [First]=NULL, [Middle]=NULL, [City]=NULL WHERE [ID]=7",
    "UPDATE [People] SET [First]='''', [Middle]='it''s', [City]='\"q\"' WHERE [ID]=8",
    "UPDATE [People] SET [First]='Zoë', [Middle]=NULL, [City]='😀 北京' WHERE [ID]=9",
    "UPDATE [People] SET [First]='Anna', [Middle]='', [City]='Kim' WHERE [ID]=10",
    "UPDATE [People] SET [First]='Anna', [Middle]=NULL, [City]='Kim' WHERE [ID]=11",
    "UPDATE [People] SET [Age]=NULL WHERE [ID]=12",
    "UPDATE [People] SET [Born]=#1/2/2003 4:05:06.5# WHERE [ID]=13",
    "UPDATE [People] SET [Born]=#1/2/2003 4:05:06# WHERE [ID]=14",
};
// Row 2 holds the lowest currency value, which the layer does not match yet;
// it is moved one unit up.
const Strings kTypesEdits = {
    "UPDATE [Types] SET [DoubleVal]=0.30000000000000004, [TextVal]='a', "
    "[MoneyVal]=-922337203685477.5807 WHERE [ID]=2",
    "UPDATE [Types] SET [DoubleVal]=0.3, [TextVal]='A', [DateVal]=#1/2/2003 4:05:06.5#, "
    "[MoneyVal]=1234.5678, [SingleVal]=3.25 WHERE [ID]=4",
};

// A key that tells apart exactly the values the run must tell apart.
std::string Key(const std::vector<jet::Value>& values) {
  std::string key;
  for (const auto& v : values) {
    key += static_cast<char>(v.kind());
    key += std::to_string(v.as_int());
    char bits[sizeof(double)];
    double d = v.as_double();
    std::memcpy(bits, &d, sizeof d);
    key.append(bits, sizeof bits);
    key += v.bytes();
    key += '\x1f';
  }
  return key;
}

class MergeInvariantTest : public ::testing::TestWithParam<InvariantCase> {};

TEST_P(MergeInvariantTest, EveryRecordHoldsItsOwnValuesMerged) {
  const InvariantCase& c = GetParam();
  testing_support::ScratchDir scratch;
  const std::string path = scratch.Copy(c.fixture);
  ExecuteAll(path, std::string(c.table) == "People" ? kPeopleEdits : kTypesEdits);

  RecordingMergePage page;
  merge_test::SetUp(page, path, c.table, c.fields);
  page.space_option = c.spaced ? 1 : 0;
  RecordingRunner runner;
  merge::MergeRun run(page, &runner);
  MergeOutcome outcome = run.Press();
  ASSERT_EQ(outcome.status, Status::kFinished);
  EXPECT_EQ(outcome.failures_reported, 0);
  EXPECT_EQ(merge_test::Notices(page), Strings{"Done."});

  Strings columns = c.fields;
  columns.push_back("Result_Column");
  const auto rows = ReadRows(path, c.table, columns);
  std::set<std::string> combinations;
  for (const auto& row : rows) {
    std::vector<jet::Value> values(row.begin(), row.end() - 1);
    combinations.insert(Key(values));
    ASSERT_EQ(row.back().kind(), jet::Value::Kind::kText) << jet::TextForm(values[0]);
    EXPECT_EQ(row.back().bytes(), merge_test::Merged(values, c.spaced))
        << "values: " << jet::TextForm(values[0]);
  }
  // One UPDATE per distinct combination, together writing every record once.
  EXPECT_EQ(outcome.combinations, static_cast<int>(combinations.size()));
  EXPECT_EQ(runner.Starting("update").size(), combinations.size());
  EXPECT_EQ(outcome.rows_written, static_cast<long>(rows.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, MergeInvariantTest,
    ::testing::Values(InvariantCase{kPeopleMdb, "People", {"First", "Middle", "City"}, false},
                      InvariantCase{kPeopleMdb, "People", {"First", "Middle", "City"}, true},
                      InvariantCase{kPeopleAccdb, "People", {"First", "Middle", "City"}, false},
                      InvariantCase{kPeopleAccdb, "People", {"First", "Middle", "City"}, true},
                      InvariantCase{kPeopleAccdb, "People", {"Last", "First", "Middle"}, false},
                      InvariantCase{kPeopleMdb, "People", {"Last"}, true},
                      InvariantCase{kPeopleAccdb, "People", {"City", "Age", "Born", "First"}, true},
                      InvariantCase{kPeopleMdb, "People", {"Born", "Age", "Notes"}, false},
                      InvariantCase{kPeopleMdb,
                                    "Types",
                                    {"YesNo", "ByteVal", "IntVal", "LongVal", "MoneyVal",
                                     "SingleVal", "DoubleVal", "DateVal", "TextVal"},
                                    true},
                      InvariantCase{kPeopleAccdb,
                                    "Types",
                                    {"TextVal", "DateVal", "DoubleVal", "SingleVal", "MoneyVal",
                                     "LongVal", "IntVal", "ByteVal", "YesNo", "MemoVal"},
                                    false}));

// ---------------------------------------------------------------------------
// Read back by independent readers.

std::string Shell(const std::string& command) {
  return std::to_string(std::system(command.c_str()));
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

class IndependentReaderTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    path_ = scratch_.Copy(GetParam());
    ExecuteAll(path_, kPeopleEdits);
    merge_test::SetUp(page_, path_, "People", {"First", "Middle", "City"});
    page_.space_option = 1;
    merge::MergeRun run(page_);
    ASSERT_EQ(run.Press().status, Status::kFinished);
  }
  testing_support::ScratchDir scratch_;
  std::string path_;
  RecordingMergePage page_;
};

// mdb-reader reads the merged table exactly as our engine does, so the
// invariant checked through the engine holds for it too.
TEST_P(IndependentReaderTest, MdbReaderSeesTheSameTable) {
  const std::string oracle = std::string(TESSALY_TEST_DATA) + "/../oracle";
  if (!std::filesystem::exists(oracle + "/node_modules/mdb-reader")) {
    GTEST_SKIP() << "mdb-reader is not installed (npm install in tests/oracle)";
  }
  const std::string theirs = (scratch_.path() / "mdb-reader.json").string();
  const std::string ours = (scratch_.path() / "tessaly.json").string();
  ASSERT_EQ(Shell("node " + Quote(oracle + "/dump.mjs") + " " + Quote(path_) + " People > " +
                  Quote(theirs) + " 2>/dev/null"),
            "0");
  ASSERT_EQ(Shell(std::string(TESSALY_CLI) + " dump " + Quote(path_) + " People > " + Quote(ours)),
            "0");
  const std::string json = testing_support::ReadFile(theirs);
  EXPECT_NE(json.find("{\"name\":\"Result_Column\",\"type\":\"memo\"}"), std::string::npos);
  EXPECT_NE(json.find("\"Result_Column\":\"Zoë  😀 北京\""), std::string::npos);
  EXPECT_NE(json.find("\"Result_Column\":\"' it's \\\"q\\\"\""), std::string::npos);
  EXPECT_EQ(json, testing_support::ReadFile(ours));
}

// mdb-export CSV: quoted fields with doubled quotes, \N for null.
std::vector<Strings> ParseCsv(const std::string& text) {
  std::vector<Strings> rows;
  Strings row;
  std::string field;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char ch = text[i];
    if (quoted) {
      if (ch == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        field += '"';
        ++i;
      } else if (ch == '"') {
        quoted = false;
      } else {
        field += ch;
      }
    } else if (ch == '"') {
      quoted = true;
    } else if (ch == ',') {
      row.push_back(field);
      field.clear();
    } else if (ch == '\n') {
      row.push_back(field);
      field.clear();
      rows.push_back(row);
      row.clear();
    } else {
      field += ch;
    }
  }
  return rows;
}

// mdbtools prints a character outside the first plane as "??".
std::string AsMdbtoolsPrints(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (static_cast<unsigned char>(utf8[i]) >= 0xF0) {
      out += "??";
      i += 3;
    } else {
      out += utf8[i];
    }
  }
  return out;
}

TEST_P(IndependentReaderTest, MdbExportSeesEveryRecordsOwnValuesMerged) {
  if (std::system("command -v mdb-export > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "mdbtools is not installed";
  }
  const std::string csv = (scratch_.path() / "people.csv").string();
  ASSERT_EQ(Shell("mdb-export -0 '\\N' " + Quote(path_) + " People > " + Quote(csv)), "0");
  std::vector<Strings> rows = ParseCsv(testing_support::ReadFile(csv));
  ASSERT_FALSE(rows.empty());
  const Strings& header = rows[0];
  auto column = [&](const std::string& name) {
    for (size_t i = 0; i < header.size(); ++i) {
      if (header[i] == name) return i;
    }
    ADD_FAILURE() << "no column " << name;
    return size_t{0};
  };
  const size_t id = column("ID");
  const size_t result = column("Result_Column");

  std::map<std::string, std::string> expected;
  for (const auto& row : ReadRows(path_, "People", {"ID", "First", "Middle", "City"})) {
    expected[jet::TextForm(row[0])] = AsMdbtoolsPrints(
        merge_test::Merged(std::vector<jet::Value>(row.begin() + 1, row.end()), true));
  }
  ASSERT_EQ(rows.size() - 1, expected.size());
  for (size_t r = 1; r < rows.size(); ++r) {
    ASSERT_EQ(rows[r].size(), header.size()) << "row " << r;
    EXPECT_EQ(rows[r][result], expected[rows[r][id]]) << "ID " << rows[r][id];
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, IndependentReaderTest,
                         ::testing::Values(kPeopleMdb, kPeopleAccdb));

// ---------------------------------------------------------------------------
// Failures and refusals.

class MergeFailureTest : public ::testing::Test {
 protected:
  void SetUp() override { path_ = scratch_.Copy(kPeopleMdb); }
  void Prepare(RecordingMergePage& page, const char* table, const Strings& fields) {
    merge_test::SetUp(page, path_, table, fields);
  }
  testing_support::ScratchDir scratch_;
  std::string path_;
};

std::string ReportAt(int label) {
  return std::string(merge_test::kInjectedFailure) +
         "\r\nin Korvane2021/08/31.Form4.PushButton4_Click at line " + std::to_string(label) +
         "\r\rPlease email screenshot of this message to support@ombrisk.example";
}

// Each statement that can fail, in a run that replaces a column the table
// already had: the first failure is reported once and everything is undone,
// the replaced column back with its contents.
TEST_F(MergeFailureTest, TheFirstFailingStatementIsReportedOnceAndEverythingIsUndone) {
  ExecuteAll(path_, {"ALTER TABLE [People] ADD COLUMN [Result_Column] memo",
                     "UPDATE [People] SET [Result_Column]='old'"});
  const std::string before = testing_support::ReadFile(path_);
  std::set<std::string> combinations;
  for (const auto& row : ReadRows(path_, "People", {"First", "Last"})) {
    combinations.insert(Key(row));
  }
  const int last = static_cast<int>(combinations.size());
  ASSERT_GT(last, 2);
  struct Case {
    const char* prefix;  // the statement that fails
    int nth;             // its occurrence
    int label;
  };
  for (const Case& c :
       {Case{"ALTER TABLE [People] DROP", 1, 122}, Case{"ALTER TABLE [People] ADD", 1, 124},
        Case{"select distinct", 1, 140}, Case{"update", 1, 194}, Case{"update", 2, 194},
        Case{"update", last, 194}}) {
    SCOPED_TRACE(std::string(c.prefix) + " #" + std::to_string(c.nth));
    RecordingMergePage page;
    Prepare(page, "People", {"First", "Last"});
    page.messages.Answer(app::msgbox::kYes);  // replace the column
    RecordingRunner runner;
    int seen = 0;
    runner.fail_if = [&](const std::string& sql) {
      return sql.rfind(c.prefix, 0) == 0 && ++seen == c.nth;
    };
    merge::MergeRun run(page, &runner);
    const MergeOutcome outcome = run.Press();
    EXPECT_EQ(outcome.status, Status::kFailed);
    EXPECT_EQ(outcome.failures_reported, 1);
    EXPECT_EQ(outcome.rows_written, 0) << "nothing was committed";
    ASSERT_EQ(merge_test::Reports(page), Strings{ReportAt(c.label)});
    EXPECT_EQ(page.Lines("events").size(), static_cast<size_t>(c.nth - 1));
    // Nothing after the failing statement was tried.
    EXPECT_EQ(runner.statements.back().rfind(c.prefix, 0), 0u);
    EXPECT_EQ(page.messages.shown().size(), 2u) << "the question, then the one report";
    const Strings tail(page.log.end() - 4, page.log.end());
    EXPECT_EQ(tail,
              (Strings{"pointer 0", "progress.value 0", "progress.text Progress Bar", "lock 0"}));
    EXPECT_EQ(page.caption, merge::kStartCaption);
    EXPECT_FALSE(page.merge_done);
    EXPECT_FALSE(page.results);
    merge_test::ExpectUnchanged(path_, before, c.prefix);
    EXPECT_FALSE(run.running());
  }
  // The run can be pressed again and then does the whole merge.
  RecordingMergePage page;
  Prepare(page, "People", {"First", "Last"});
  page.messages.Answer(app::msgbox::kYes);
  merge::MergeRun run(page);
  EXPECT_EQ(run.Press().status, Status::kFinished);
  for (const auto& row : ReadRows(path_, "People", {"First", "Last", "Result_Column"})) {
    EXPECT_EQ(row[2].bytes(), merge_test::Merged({row[0], row[1]}, false));
  }
}

TEST_F(MergeFailureTest, TableAndFieldsAreCheckedBeforeAnythingChanges) {
  const std::string before = testing_support::ReadFile(path_);
  struct Case {
    const char* table;
    Strings fields;
    const char* says;
  };
  for (const Case& c :
       {Case{"People", {"First", "NoSuchField"}, "has no field named \"NoSuchField\""},
        // A name holding ", " comes back from the field list as two names.
        Case{"People", {"Full, Name"}, "has no field named \"Full\""},
        Case{"NoSuchTable", {"First"}, "\"NoSuchTable\" is not one of the database's own tables"},
        Case{"MSysObjects", {"Name"}, "\"MSysObjects\" is not one of the database's own tables"},
        Case{"msysobjects", {"Name"}, "is not one of the database's own tables"}}) {
    SCOPED_TRACE(c.table);
    RecordingMergePage page;
    Prepare(page, c.table, {});
    page.field_list = merge_test::FieldList(c.fields);
    RecordingRunner runner;
    merge::MergeRun run(page, &runner);
    EXPECT_EQ(run.Press().status, Status::kRefused);
    EXPECT_TRUE(runner.statements.empty());
    EXPECT_TRUE(merge_test::Reports(page).empty());
    const Strings notices = merge_test::Notices(page);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_NE(notices[0].find(c.says), std::string::npos) << notices[0];
    EXPECT_EQ(page.pointer, merge::kPointerDefault);
    EXPECT_EQ(page.caption, merge::kStartCaption);
    merge_test::ExpectUnchanged(path_, before, c.table);
  }
}

TEST_F(MergeFailureTest, ADatabaseMovedAwayIsOneReportAndNothingElse) {
  RecordingMergePage page;
  Prepare(page, "People", {"First", "Last"});
  std::filesystem::rename(path_, path_ + ".moved");
  RecordingRunner runner;
  merge::MergeRun run(page, &runner);
  EXPECT_EQ(run.Press().status, Status::kFailed);
  const Strings reports = merge_test::Reports(page);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(merge_test::ReportedLabel(reports[0]), 118);
  EXPECT_NE(reports[0].find("Could not find file"), std::string::npos) << reports[0];
  EXPECT_EQ(page.messages.shown().size(), 1u);
  EXPECT_TRUE(runner.statements.empty());
  EXPECT_EQ(page.caption, merge::kStartCaption);
  EXPECT_EQ(page.pointer, merge::kPointerDefault);
  EXPECT_FALSE(std::filesystem::exists(path_)) << "nothing was made in its place";
}

// A page that fails on cue: the steps that touch only the page keep going on
// after their report.
class FailingPage : public RecordingMergePage {
 public:
  void SetProgressMax(int max) override {
    if (fail_progress_max) throw std::runtime_error("The progress bar refused.");
    RecordingMergePage::SetProgressMax(max);
  }
  void DoEvents() override {
    if (++events == fail_events_at) throw std::runtime_error("The window went away.");
    RecordingMergePage::DoEvents();
  }
  bool fail_progress_max = false;
  int fail_events_at = 0;
  int events = 0;
};

TEST_F(MergeFailureTest, AFailingPageStepIsReportedAndTheMergeStillCompletes) {
  FailingPage page;
  Prepare(page, "People", {"First", "Last"});
  page.fail_progress_max = true;
  page.fail_events_at = 3;
  merge::MergeRun run(page);
  const MergeOutcome outcome = run.Press();
  EXPECT_EQ(outcome.status, Status::kFinished);
  EXPECT_EQ(outcome.rows_written, 200);
  const Strings reports = merge_test::Reports(page);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(merge_test::ReportedLabel(reports[0]), 148);
  EXPECT_EQ(merge_test::ReportedLabel(reports[1]), 198);
  EXPECT_EQ(merge_test::Notices(page), Strings{"Done."});
  EXPECT_EQ(page.caption, merge::kExitCaption);
  for (const auto& row : ReadRows(path_, "People", {"First", "Last", "Result_Column"})) {
    EXPECT_EQ(row[2].bytes(), merge_test::Merged({row[0], row[1]}, false));
  }
}

// The window closed while the run let events run: the program's end leaves
// the run at once, and what it wrote is rolled back.
TEST_F(MergeFailureTest, ARunBrokenOffByTheProgramsEndLeavesTheTableAsBefore) {
  const std::string before = testing_support::ReadFile(path_);
  struct ProgramEnds {};
  RecordingMergePage page;
  Prepare(page, "People", {"First", "Last"});
  int events = 0;
  page.on_events = [&] {
    if (++events == 10) throw ProgramEnds{};
  };
  auto run = std::make_unique<merge::MergeRun>(page);
  EXPECT_THROW(run->Press(), ProgramEnds);
  EXPECT_FALSE(run->running());
  run.reset();
  EXPECT_TRUE(merge_test::Notices(page).empty());
  merge_test::ExpectUnchanged(path_, before, "broken off");
}

class DataTypeMismatchTest : public ::testing::TestWithParam<const char*> {};

TEST_P(DataTypeMismatchTest, ValuesThatCannotBeComparedStopTheRun) {
  testing_support::ScratchDir scratch;
  const std::string path = scratch.Copy(kPeopleMdb);
  const std::string before = testing_support::ReadFile(path);
  RecordingMergePage page;
  merge_test::SetUp(page, path, "Types", {"TextVal", GetParam()});
  RecordingRunner runner;
  merge::MergeRun run(page, &runner);
  MergeOutcome outcome = run.Press();
  EXPECT_EQ(outcome.status, Status::kStopped);

  EXPECT_EQ(merge_test::Notices(page), Strings{kMismatch});
  EXPECT_TRUE(merge_test::Reports(page).empty());
  // Only a combination where the field is null can come before the stop.
  EXPECT_LE(runner.Starting("update").size(), 1u);
  EXPECT_GT(outcome.combinations, 1);
  const Strings tail(page.log.end() - 5, page.log.end());
  EXPECT_EQ(tail, (Strings{"message Please use fields of same datatype.", "pointer 0",
                           "progress.value 0", "progress.text Progress Bar", "lock 0"}));
  EXPECT_EQ(page.caption, merge::kStartCaption);
  EXPECT_FALSE(page.merge_done);
  EXPECT_FALSE(page.results);
  EXPECT_EQ(outcome.rows_written, 0);
  // The column it added is gone again; the next press merges other fields.
  merge_test::ExpectUnchanged(path, before, GetParam());
  page.field_list = merge_test::FieldList({"TextVal", "LongVal"});
  EXPECT_EQ(run.Press().status, Status::kFinished);
  EXPECT_EQ(page.caption, merge::kExitCaption);
}

INSTANTIATE_TEST_SUITE_P(Fields, DataTypeMismatchTest,
                         ::testing::Values("BinVal", "OleVal", "GuidVal"));

TEST_F(MergeFailureTest, ATableWithoutRows) {
  RecordingMergePage page;
  Prepare(page, "Empty", {"Name", "Amount"});
  RecordingRunner runner;
  merge::MergeRun run(page, &runner);
  MergeOutcome outcome = run.Press();
  EXPECT_EQ(outcome.status, Status::kFinished);
  EXPECT_EQ(outcome.combinations, 0);
  EXPECT_EQ(runner.statements,
            (Strings{"ALTER TABLE [Empty] ADD COLUMN [Result_Column] memo",
                     "select distinct [Name],[Amount] from [Empty]", "SELECT * FROM [Empty];"}));
  EXPECT_EQ(page.Lines("progress.max"), Strings{"progress.max 1"});
  EXPECT_EQ(page.Lines("results"), Strings{"results 0x5"});
  EXPECT_EQ(page.Lines("events"), Strings{});
  EXPECT_EQ(merge_test::Notices(page), Strings{"Done."});
  EXPECT_TRUE(merge_test::HasColumn(path_, "Empty", "Result_Column"));
}

TEST_F(MergeFailureTest, RefusedNamesChangeNothing) {
  const std::string before = testing_support::ReadFile(path_);
  const Strings names = {
      "",      "   ",  " Lead", "a.b", "a!b", "a`b", "a[b]", "tab\there", std::string(65, 'n'),
      "FIRST", "last "};
  for (const auto& name : names) {
    RecordingMergePage page;
    Prepare(page, "People", {"First", "Middle", "Last"});
    page.name = name;
    RecordingRunner runner;
    merge::MergeRun run(page, &runner);
    EXPECT_EQ(run.Press().status, Status::kRefused) << name;
    ASSERT_EQ(page.log.size(), 1u) << name;
    EXPECT_EQ(page.log[0].rfind("message ", 0), 0u) << name;
    EXPECT_EQ(page.messages.shown()[0].title, "Tessaly");
    EXPECT_TRUE(runner.statements.empty()) << name;
    EXPECT_FALSE(page.merge_done);
  }
  EXPECT_EQ(testing_support::ReadFile(path_), before);
}

TEST_F(MergeFailureTest, TheNameIsUsedTrimmedInEveryStatement) {
  RecordingMergePage page;
  Prepare(page, "People", {"First"});
  page.name = "Full name   ";
  RecordingRunner runner;
  merge::MergeRun run(page, &runner);
  MergeOutcome outcome = run.Press();
  EXPECT_EQ(outcome.failures_reported, 0);
  EXPECT_EQ(runner.statements.at(0), "ALTER TABLE [People] ADD COLUMN [Full name] memo");
  for (const auto& update : runner.Starting("update")) {
    EXPECT_EQ(update.rfind("update [People] set [Full name]=", 0), 0u) << update;
  }
  EXPECT_TRUE(merge_test::HasColumn(path_, "People", "Full name"));
}

TEST_F(MergeFailureTest, ReplacingAnotherColumnNeedsAYes) {
  const auto notes_before = ReadRows(path_, "People", {"Notes"});
  RecordingMergePage page;
  Prepare(page, "People", {"First", "Last"});
  page.name = "notes";
  page.messages.Answer(app::msgbox::kNo);
  RecordingRunner runner;
  merge::MergeRun run(page, &runner);
  EXPECT_EQ(run.Press().status, Status::kRefused);
  ASSERT_EQ(page.messages.shown().size(), 1u);
  const auto& question = page.messages.shown()[0];
  EXPECT_EQ(question.style,
            app::msgbox::kYesNo + app::msgbox::kQuestion + app::msgbox::kDefaultButton2);
  EXPECT_NE(question.text.find("\"notes\""), std::string::npos) << question.text;
  EXPECT_NE(question.text.find("will be lost"), std::string::npos) << question.text;
  EXPECT_TRUE(runner.statements.empty());
  EXPECT_EQ(page.pointer, merge::kPointerDefault);
  EXPECT_FALSE(page.inputs_locked);
  EXPECT_EQ(page.caption, merge::kStartCaption);
  EXPECT_TRUE(ReadRows(path_, "People", {"Notes"}) == notes_before);

  page.messages.Answer(app::msgbox::kYes);
  EXPECT_EQ(run.Press().status, Status::kFinished);
  EXPECT_EQ(runner.statements.at(0), "ALTER TABLE [People] DROP [notes]");
  for (const auto& row : ReadRows(path_, "People", {"First", "Last", "Notes"})) {
    EXPECT_EQ(row[2].bytes(), merge_test::Merged({row[0], row[1]}, false));
  }
}

TEST_F(MergeFailureTest, PressesAndEditsDuringARunDoNothing) {
  RecordingMergePage page;
  Prepare(page, "People", {"First", "Middle", "Last"});
  RecordingRunner runner;
  merge::MergeRun run(page, &runner);
  int events = 0;
  std::vector<Status> nested;
  page.on_events = [&] {
    if (++events != 3) return;
    EXPECT_TRUE(run.running());
    nested.push_back(run.Press().status);
    page.TypeName("Other");
    page.ClickSpaceOption();
    // Even a page that let the edits through would not change this run.
    page.name = "Sneaky";
    page.space_option = 1;
  };
  MergeOutcome outcome = run.Press();
  EXPECT_EQ(outcome.status, Status::kFinished);
  EXPECT_FALSE(run.running());
  EXPECT_EQ(nested, std::vector<Status>{Status::kIgnored});
  EXPECT_EQ(page.Lines("ignored"), (Strings{"ignored name Other", "ignored option"}));
  EXPECT_EQ(merge_test::Notices(page), Strings{"Done."});
  EXPECT_EQ(page.Lines("lock"), (Strings{"lock 1", "lock 0"}));
  EXPECT_EQ(static_cast<int>(runner.Starting("update").size()), outcome.combinations);
  for (const auto& update : runner.Starting("update")) {
    EXPECT_EQ(update.rfind("update [People] set [Result_Column]=", 0), 0u) << update;
  }
  for (const auto& row : ReadRows(path_, "People", {"First", "Middle", "Last", "Result_Column"})) {
    EXPECT_EQ(row[3].bytes(), merge_test::Merged({row[0], row[1], row[2]}, false));
  }
  // After the run the page takes edits again.
  page.TypeName("Other");
  EXPECT_EQ(page.name, "Other");
}

}  // namespace
