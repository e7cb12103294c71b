// The merge run: adds a memo column to the chosen table and fills it, in
// every record, with the chosen fields' values joined in order. It writes one
// UPDATE per distinct combination of those values, not one per record.
//
//   merge::MergeRun run(page);
//   merge::MergeOutcome outcome = run.Press();  // the page's button was pressed
//
// Every step is a labelled step of an app::ReportingHandler: a failure shows
// the error report and the run goes on with its next step, so one bad UPDATE
// costs one combination, not the whole merge. Values that cannot be compared
// stop the run with "Please use fields of same datatype." instead.
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
    kFinished,  // reached "Done." (possibly after error reports)
    kEnded,     // the button read "Exit": the program was asked to end
    kIgnored,   // a run was already under way
    kRefused,   // the name was refused or the replacement declined; nothing changed
    kStopped,   // stopped on values that cannot be compared
  };
  Status status = Status::kIgnored;
  int combinations = 0;       // rows of the distinct query
  int updates_failed = 0;     // UPDATEs that failed (each one reported)
  long rows_written = 0;      // records changed by the UPDATEs that succeeded
  int failures_reported = 0;  // error reports shown, failed UPDATEs included
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
