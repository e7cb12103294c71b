// The merge run: adds a memo column to the chosen table and fills it, in
// every record, with the chosen fields' values joined in order. It writes one
// UPDATE per distinct combination of those values, not one per record.
//
//   merge::MergeRun run(page);
//   merge::MergeOutcome outcome = run.Press();  // the page's button was pressed
//
// The run is one transaction, from the DROP and ADD COLUMN to the last
// UPDATE, committed before the results grid and "Done.". Every step is a
// labelled step of an app::ReportingHandler. A step that reads or changes
// the database and fails shows the error report once, and the run rolls
// back and ends: the table is exactly as before, the button still reads
// "Start Merging". Values that cannot be compared end it the same way with
// "Please use fields of same datatype." instead of the report. A step that
// only changes the page is reported and the run goes on.
#pragma once

#include <memory>
#include <string>

#include "db/ado.h"
#include "merge/merge_page.h"

namespace merge {

// Where the run's statements go. This one hands them to the connection;
// a subclass may watch or refuse them (tests do).
class StatementRunner {
 public:
  virtual ~StatementRunner() = default;
  // ALTER TABLE and UPDATE; returns the records affected.
  virtual long Execute(db::Connection& connection, const std::string& sql);
  // The two queries.
  virtual void Open(db::Recordset& recordset, const std::string& sql, db::Connection& connection,
                    int cursor_type, int lock_type);
};

struct MergeOutcome {
  enum class Status {
    kFinished,  // committed and reached "Done." (reports only of page steps, or after the commit)
    kEnded,     // the button read "Exit": the program was asked to end
    kIgnored,   // a run was already under way
    kRefused,   // the name, table or fields were refused, or the replacement declined
    kStopped,   // values that cannot be compared; rolled back
    kFailed,    // a step of the database failed and was reported; rolled back
  };
  Status status = Status::kIgnored;
  int combinations = 0;       // rows of the distinct query
  int updates_failed = 0;     // UPDATEs that failed (the first one ends the run)
  long rows_written = 0;      // records the committed UPDATEs changed; 0 unless committed
  int failures_reported = 0;  // error reports shown
};

class MergeRun {
 public:
  // `page` and `runner` must outlive the run; no runner means the plain one.
  explicit MergeRun(MergePage& page, StatementRunner* runner = nullptr);
  ~MergeRun();
  MergeRun(const MergeRun&) = delete;
  MergeRun& operator=(const MergeRun&) = delete;

  // The work of the page's button. A press while a run is under way (from
  // inside the run's own DoEvents) does nothing.
  MergeOutcome Press();
  bool running() const { return running_; }

 private:
  MergeOutcome Run();
  // Ends the run's transaction when it is still open, silently.
  void EndTransaction(bool commit);
  // Rolls back and lets go of the run's connection and query.
  void Abandon();

  MergePage& page_;
  StatementRunner plain_runner_;
  StatementRunner& runner_;
  bool running_ = false;
  // The last run's connection and results query. They stay open after the
  // run: the results grid reads the table through them.
  std::unique_ptr<db::Connection> connection_;
  std::unique_ptr<db::Recordset> recordset_;
};

}  // namespace merge
