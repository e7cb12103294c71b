// Shared pieces of the merge tests: a statement runner that records and can
// refuse statements, reading a table back through the engine, and the merge
// rule written out independently of the run.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "jet/record/value.h"
#include "merge/merge_run.h"
#include "merge/recording_page.h"

namespace merge_test {

// Records every statement the run issues (ALTER, UPDATE, the two queries) in
// order, and fails those that `fail_if` picks with an ordinary error.
class RecordingRunner : public merge::StatementRunner {
 public:
  long Execute(db::Connection& connection, const std::string& sql) override;
  void Open(db::Recordset& recordset, const std::string& sql, db::Connection& connection,
            int cursor_type, int lock_type) override;

  std::vector<std::string> statements;
  std::function<bool(const std::string&)> fail_if;
  // Statements that start with `prefix`.
  std::vector<std::string> Starting(const std::string& prefix) const;

 private:
  void MaybeFail(const std::string& sql);
};

inline constexpr char kInjectedFailure[] = "Injected failure of the statement.";

// Runs statements on the database at `path` (test set-up), then closes it.
void ExecuteAll(const std::string& path, const std::vector<std::string>& statements);

// "`A`, `B`".
std::string FieldList(const std::vector<std::string>& fields);

// The values of `columns` (then of `extra`) in every row of `table`, read
// with the engine itself, not through the layer the run uses.
std::vector<std::vector<jet::Value>> ReadRows(const std::string& path, const std::string& table,
                                              const std::vector<std::string>& columns);

// Whether `table` has a column named `column`.
bool HasColumn(const std::string& path, const std::string& table, const std::string& column);

// The merged text of one record: the values' text forms in order, with one
// blank after each value (a null gives just the blank) and the last blank
// dropped when `spaced`, else the non-null texts run together.
std::string Merged(const std::vector<jet::Value>& values, bool spaced);

// A page set up for a merge of `fields` in `table` of the database at `path`.
void SetUp(merge::RecordingMergePage& page, const std::string& path, const std::string& table,
           const std::vector<std::string>& fields);

// The texts of the error reports the page showed, and of its other messages.
std::vector<std::string> Reports(const merge::RecordingMergePage& page);
std::vector<std::string> Notices(const merge::RecordingMergePage& page);

// The file at `path` is byte for byte `before` and passes the engine's check.
void ExpectUnchanged(const std::string& path, const std::string& before, const std::string& what);

// The line label an error report names ("... at line 194\r\r...").
int ReportedLabel(const std::string& report);

}  // namespace merge_test
