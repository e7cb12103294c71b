#include "merge/merge_run.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/product.h"
#include "app/reporting_handler.h"
#include "db/access.h"
#include "db/sql.h"
#include "jet/storage/error.h"
#include "jet/table/database.h"
#include "merge/statements.h"

namespace merge {

long StatementRunner::Execute(db::Connection& connection, const std::string& sql) {
  return connection.Execute(sql);
}

void StatementRunner::Open(db::Recordset& recordset, const std::string& sql,
                           db::Connection& connection, int cursor_type, int lock_type) {
  recordset.Open(sql, connection, cursor_type, lock_type);
}

MergeRun::MergeRun(MergePage& page, StatementRunner* runner)
    : page_(page), runner_(runner ? *runner : plain_runner_) {}

MergeRun::~MergeRun() = default;

MergeOutcome MergeRun::Press() {
  if (running_) return MergeOutcome{};
  running_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{running_};
  return Run();
}

namespace {

constexpr char kWindow[] = "Form4";
constexpr char kHandler[] = "PushButton4_Click";
constexpr char kMismatchMessage[] = "Please use fields of same datatype.";
constexpr int32_t kMismatchMagnitude = 2147217913;

template <typename T>
T& Need(const std::unique_ptr<T>& object) {
  if (!object) throw jet::Error(jet::errnum::kGeneric, "Object variable not set");
  return *object;
}

// Keeps the page's inputs locked for as long as it lives.
class InputLock {
 public:
  explicit InputLock(MergePage& page) : page_(page) { page_.LockInputs(true); }
  ~InputLock() { page_.LockInputs(false); }
  InputLock(const InputLock&) = delete;
  InputLock& operator=(const InputLock&) = delete;

 private:
  MergePage& page_;
};

}  // namespace

void MergeRun::EndTransaction(bool commit) {
  if (!connection_ || !connection_->IsOpen() || connection_->TransactionLevel() == 0) return;
  try {
    if (commit) {
      connection_->CommitTrans();
    } else {
      connection_->RollbackTrans();
    }
  } catch (const std::exception&) {
    // Closing rolls back whatever is still pending; the file stays as of
    // its last commit either way.
    try {
      connection_->Close();
    } catch (const std::exception&) {
    }
  }
}

void MergeRun::Abandon() {
  EndTransaction(false);
  // Nothing of a failed run is shown, so nothing of it needs to stay open.
  recordset_.reset();
  connection_.reset();
}

namespace {

// Steps that change only the page (pointer, progress, window, caption): a
// failure there is reported and the run goes on, as every step's did once.
// Any other step reads or changes the database; after its failure the
// statements still to come would work on a table in an unknown state.
bool TouchesOnlyThePage(int label) {
  switch (label) {
    case 108:
    case 110:
    case 112:
    case 114:
    case 148:
    case 150:
    case 198:
    case 200:
      return true;
    default:
      return false;
  }
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Why the merge of `fields` into `table` cannot start, as a message for the
// user; nothing when it can. Checked before anything is changed: a table
// that is not a user table (the catalogue, say) is never written to, and a
// field that is not a column of the table (one chosen for another table, or
// a name the field list split in two) would only fail later.
std::optional<std::string> TargetProblem(jet::Database& database, const std::string& table,
                                         const std::vector<std::string>& fields) {
  const std::vector<std::string> tables = database.UserTables();
  if (std::none_of(tables.begin(), tables.end(),
                   [&](const std::string& t) { return SameName(t, table); })) {
    return "\"" + table +
           "\" is not one of the database's own tables, so no field can be added to it.";
  }
  std::shared_ptr<const jet::TableDef> def = database.Table(table);
  for (const std::string& f : fields) {
    if (def->FindColumn(f) == nullptr) {
      return "The table \"" + table + "\" has no field named \"" + f +
             "\".\r\n\r\nPlease go back and choose the fields to merge again.";
    }
  }
  return std::nullopt;
}

}  // namespace

MergeOutcome MergeRun::Run() {
  MergeOutcome outcome;
  app::MessageSink& sink = page_.Messages();
  const std::string title = app::ApplicationTitle(app::kProductName);
  auto notice = [&](const std::string& text) { sink.Show(text, title, app::msgbox::kOkOnly); };

  app::ReportingHandler h(sink, kWindow, kHandler);
  bool stopped_on_mismatch = false;
  bool committed = false;
  h.SetFilter([&](const app::ReportingHandler::Failure& failure) {
    if (!committed &&
        (failure.number == -kMismatchMagnitude || failure.number == kMismatchMagnitude)) {
      notice(kMismatchMessage);
      stopped_on_mismatch = true;
      return app::ReportingHandler::Verdict::kStopHandler;
    }
    // Once committed, the merge is done whatever the grid's query does.
    if (committed || TouchesOnlyThePage(failure.label)) {
      return app::ReportingHandler::Verdict::kReport;
    }
    return app::ReportingHandler::Verdict::kReportAndStop;
  });
  auto finish = [&](MergeOutcome::Status status) {
    outcome.status = status;
    outcome.failures_reported = h.reported();
    return outcome;
  };
  // The end of a run that failed or was refused after the database was
  // opened: the table exactly as before, the page ready for another press.
  auto abandon = [&](MergeOutcome::Status status) {
    Abandon();
    outcome.rows_written = 0;
    page_.SetMousePointer(kPointerDefault);
    if (status != MergeOutcome::Status::kRefused) {
      page_.SetProgressValue(0);
      page_.SetProgressText(kProgressText);
    }
    return finish(status);
  };
  auto failed = [&] {
    return abandon(stopped_on_mismatch ? MergeOutcome::Status::kStopped
                                       : MergeOutcome::Status::kFailed);
  };

  // The previous run's objects go first: a run works on fresh ones.
  h.Step(100, [&] {
    recordset_.reset();
    connection_.reset();
    connection_ = std::make_unique<db::Connection>();
  });
  h.Step(102, [&] { recordset_ = std::make_unique<db::Recordset>(); });
  if (h.stopped()) return finish(MergeOutcome::Status::kFailed);

  if (h.Test(108, [&] { return page_.ButtonCaption() == kExitCaption; })) {
    h.Step(110, [&] { page_.EndProgram(); });
    return finish(MergeOutcome::Status::kEnded);
  }

  // Everything the run reads from the page is read once, here: edits made
  // while it works (the page yields once per combination) cannot change the
  // name between the ALTER TABLE and the UPDATEs.
  std::string table;
  std::string name;
  std::vector<std::string> fields;
  bool spaced = false;
  bool refused = false;
  const bool read = h.Step(112, [&] {
    table = page_.TableName();
    const std::string typed = page_.NameText();
    spaced = page_.SpaceOption() == 1;
    fields = SplitFieldList(page_.MergeFieldList());
    std::optional<std::string> problem = NameProblem(typed, fields);
    if (problem) {
      notice(*problem);
      refused = true;
    }
    name = TrimBlanks(typed);
  });
  if (!read || refused) return finish(MergeOutcome::Status::kRefused);
  InputLock lock(page_);
  // However the run ends without its commit (a failure, or the program's
  // end while it let events run), nothing it did stays.
  struct RollBackUnlessCommitted {
    MergeRun& run;
    ~RollBackUnlessCommitted() { run.EndTransaction(false); }
  } roll_back{*this};

  h.Step(114, [&] { page_.SetMousePointer(kPointerBusy); });
  h.Step(116, [&] { Need(connection_).Mode = db::kModeReadWrite; });
  std::optional<std::string> problem;
  // One transaction from the ALTER TABLE to the last UPDATE, committed
  // before the grid and "Done.".
  h.Step(118, [&] {
    Need(connection_).Open(page_.ConnectionString());
    problem = TargetProblem(*Need(connection_).database(), table, fields);
    if (!problem) Need(connection_).BeginTrans();
  });
  if (h.stopped()) return failed();
  if (problem) {
    notice(*problem);
    return abandon(MergeOutcome::Status::kRefused);
  }

  if (h.Test(120, [&] { return db::TableHasField(table, name, page_.ConnectionString()); })) {
    // The column is not one of the chosen fields (the name check saw to
    // that), but whatever it holds is about to go: the user says so first.
    bool declined = false;
    h.Step(120, [&] {
      const std::string question = "The table \"" + table + "\" already has a field named \"" +
                                   name + "\".\r\n\r\nReplace it with the merged results? " +
                                   "Everything it now contains will be lost.";
      declined = sink.Show(question, title,
                           app::msgbox::kYesNo + app::msgbox::kQuestion +
                               app::msgbox::kDefaultButton2) != app::msgbox::kYes;
    });
    if (declined) return abandon(MergeOutcome::Status::kRefused);
    h.Step(122, [&] {
      runner_.Execute(Need(connection_), "ALTER TABLE [" + table + "] DROP [" + name + "]");
    });
  }
  h.Step(124, [&] {
    runner_.Execute(Need(connection_),
                    "ALTER TABLE [" + table + "] ADD COLUMN [" + name + "] memo");
  });

  h.Step(126, [&] { fields = SplitFieldList(page_.MergeFieldList()); });
  std::string columns;
  h.Step(128, [&] {
    if (fields.empty())
      throw jet::Error(jet::errnum::kGeneric, "Invalid procedure call or argument");
    columns = ColumnList(fields);
  });

  h.Step(140, [&] {
    runner_.Open(Need(recordset_), "select distinct " + columns + " from [" + table + "]",
                 Need(connection_), db::kOpenStatic, db::kLockOptimistic);
  });
  int32_t count = 0;
  h.Step(144, [&] { count = static_cast<int32_t>(Need(recordset_).RecordCount()); });
  if (h.stopped()) return failed();
  outcome.combinations = count;
  h.Step(148, [&] {
    page_.SetProgressMax(count + 1);
    page_.SetMousePointer(kPointerDefault);
  });
  h.Step(150, [&] {
    page_.SetProgressValue(0);
    page_.SetProgressText(kProgressText);
  });

  const std::string update_head = "update [" + table + "] set [" + name + "]=";
  std::string merged;
  std::string condition;
  std::string statement;
  for (int32_t k = 1; k <= count && !h.stopped(); ++k) {
    h.Step(154, [&] { merged.clear(); });
    h.Step(156, [&] { condition.clear(); });
    for (const auto& f : fields) {
      if (h.stopped()) break;
      jet::Value v;
      if (h.Test(160, [&] {
            v = Need(recordset_).Fields(f).Value();
            return v.is_null();
          })) {
        h.Step(162, [&] { condition += "[" + f + "] is null and "; });
        if (spaced) h.Step(172, [&] { merged += ' '; });
      } else {
        h.Step(166, [&] { condition += "[" + f + "]=" + ConditionLiteral(v) + " and "; });
        h.Step(172, [&] {
          merged += jet::TextForm(v);
          if (spaced) merged += ' ';
        });
      }
    }
    if (spaced) h.Step(184, [&] { merged.pop_back(); });
    h.Step(188, [&] {
      if (condition.size() < 5) throw jet::Error(jet::errnum::kGeneric, "Invalid procedure call");
      condition.resize(condition.size() - 5);
    });
    if (h.stopped()) break;
    statement = update_head;
    statement += db::sql::QuoteText(merged);
    statement += " where ";
    statement += condition;
    const bool updated =
        h.Step(194, [&] { outcome.rows_written += runner_.Execute(Need(connection_), statement); });
    if (!updated) ++outcome.updates_failed;
    h.Step(196, [&] { Need(recordset_).MoveNext(); });
    h.Step(198, [&] { page_.DoEvents(); });
    h.Step(200, [&] { page_.SetProgressValue(k + 1); });
  }
  // Every change is on disk before the grid shows it and the user is told.
  h.Step(202, [&] { Need(connection_).CommitTrans(); });
  if (h.stopped()) return failed();
  committed = true;

  h.Step(204, [&] { Need(recordset_).Close(); });
  h.Step(206, [&] { Need(connection_).CursorLocation = db::kUseClient; });
  h.Step(208, [&] {
    runner_.Open(Need(recordset_), "SELECT * FROM [" + table + "];", Need(connection_),
                 db::kOpenKeyset, db::kLockReadOnly);
  });
  h.Step(210, [&] { page_.SetResults(Need(recordset_).DataSource()); });
  h.Step(212, [&] { page_.SetButtonCaption(kExitCaption); });
  h.Step(214, [&] { page_.SetMergeDone(true); });
  if (h.Test(216, [&] { return page_.WindowState() == kWindowMinimized; })) {
    h.Step(216, [&] { page_.SetWindowState(kWindowNormal); });
  }
  h.Step(218, [&] { page_.SetMousePointer(kPointerDefault); });
  h.Step(220, [&] {
    page_.SetProgressValue(0);
    page_.SetProgressText(kProgressText);
  });
  h.Step(226, [&] { notice("Done."); });
  return finish(MergeOutcome::Status::kFinished);
}

}  // namespace merge
