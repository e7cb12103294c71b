#include "db/ado.h"

#include <algorithm>

#include <mutex>

#include "db/access.h"
#include "db/executor.h"
#include "db/packed_rows.h"
#include "db/shared_state.h"
#include "db/sql.h"
#include "jet/storage/error.h"
#include "jet/table/database.h"

namespace db {

namespace {

std::mutex g_inject_mu;
int g_inject_number = 0;
std::string g_inject_description;

[[noreturn]] void Fail(int32_t number, const std::string& text) { throw jet::Error(number, text); }

[[noreturn]] void ClosedObject() {
  Fail(kErrObjectClosed, "Operation is not allowed when the object is closed.");
}

// Rows whose values were copied out at Open: distinct results, the schema.
class CopiedRows : public RowSource {
 public:
  CopiedRows(std::vector<std::string> names, std::vector<jet::ColumnType> types,
             internal::PackedRows rows)
      : names_(std::move(names)), types_(std::move(types)), rows_(std::move(rows)) {}
  int RowCount() const override { return static_cast<int>(rows_.size()); }
  int ColumnCount() const override { return static_cast<int>(names_.size()); }
  std::string ColumnName(int column) const override { return names_.at(Check(column)); }
  jet::ColumnType ColumnType(int column) const override { return types_.at(Check(column)); }
  jet::Value Cell(int row, int column) override {
    size_t col = Check(column);
    if (row < 0 || row >= RowCount()) {
      Fail(kErrNoCurrentRecord, "There is no record at that position.");
    }
    return rows_.Get(static_cast<size_t>(row), col);
  }

 private:
  size_t Check(int column) const {
    if (column < 0 || column >= ColumnCount()) {
      Fail(kErrItemNotFound,
           "Item cannot be found in the collection corresponding to the requested name or "
           "ordinal.");
    }
    return static_cast<size_t>(column);
  }
  std::vector<std::string> names_;
  std::vector<jet::ColumnType> types_;
  internal::PackedRows rows_;
};

// Rows named by identity at Open and read one at a time when asked for. Holds
// the database, so it outlives the recordset and connection that made it.
class TableRows : public RowSource {
 public:
  TableRows(std::shared_ptr<jet::Database> db, std::shared_ptr<internal::SharedState> state,
            internal::QueryResult result)
      : db_(std::move(db)), state_(std::move(state)), result_(std::move(result)) {}
  int RowCount() const override { return static_cast<int>(result_.row_ids.size()); }
  int ColumnCount() const override { return static_cast<int>(result_.columns.size()); }
  std::string ColumnName(int column) const override {
    return result_.columns.at(Check(column)).name;
  }
  jet::ColumnType ColumnType(int column) const override {
    return result_.columns.at(Check(column)).type;
  }
  jet::Value Cell(int row, int column) override {
    size_t col = Check(column);
    if (row < 0 || row >= RowCount())
      Fail(kErrNoCurrentRecord, "There is no record at that position.");
    if (row != cached_row_ || state_->generation() != cached_generation_) Load(row);
    return values_[col];
  }

 private:
  size_t Check(int column) const {
    if (column < 0 || column >= ColumnCount()) {
      Fail(
          kErrItemNotFound,
          "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    }
    return static_cast<size_t>(column);
  }

  void Load(int row) {
    cached_row_ = -1;
    // The table may have been redefined since Open; its columns are found
    // again by number, and one dropped since reads as Null.
    std::shared_ptr<const jet::TableDef> current = db_->Table(result_.table_name);
    if (current != current_) {
      current_ = current;
      columns_.clear();
      for (const auto& rc : result_.columns) {
        const jet::Column* found = nullptr;
        for (const auto& c : current_->columns) {
          if (c.number == rc.number) found = &c;
        }
        columns_.push_back(found);
      }
    }
    values_.assign(columns_.size(), jet::Value::Null());
    internal::RowReader reader(*db_, *current_);
    if (reader.Load(result_.row_ids[row])) {
      for (size_t i = 0; i < columns_.size(); ++i) {
        if (columns_[i]) values_[i] = reader.Get(*columns_[i]);
      }
    }
    cached_row_ = row;
    cached_generation_ = state_->generation();
  }

  std::shared_ptr<jet::Database> db_;
  std::shared_ptr<internal::SharedState> state_;
  internal::QueryResult result_;
  std::shared_ptr<const jet::TableDef> current_;
  std::vector<const jet::Column*> columns_;
  int cached_row_ = -1;
  uint64_t cached_generation_ = 0;
  std::vector<jet::Value> values_;
};

}  // namespace

jet::Value Field::Value() const {
  if (!has_value_) {
    Fail(kErrNoCurrentRecord,
         "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
         "requires a current record.");
  }
  return value_;
}

void InjectConnectionCreationFailure(int number, const std::string& description) {
  std::lock_guard<std::mutex> lock(g_inject_mu);
  g_inject_number = number;
  g_inject_description = description;
}

// ---------------------------------------------------------------------------
// Connection

struct Recordset::Impl {
  std::shared_ptr<RowSource> source;
  int position = 0;
};

struct Connection::State {
  std::shared_ptr<internal::SharedState> shared;
  bool writable = false;
  // Open transactions, outermost first: the savepoint each inner one began
  // at (0 for the outermost, which begins at the last commit).
  std::vector<size_t> transactions;
};

namespace {

// Undoes every change since the last commit, and the row indexes built on it.
void RollBackAll(jet::Database& db, internal::SharedState& shared) {
  shared.ForgetAll();
  db.Rollback();
}

// Connections to one file in this process share its open database, and a
// transaction is everything since its last commit.
[[noreturn]] void RefuseOthersTransaction() {
  Fail(jet::errnum::kGeneric,
       "Another connection to this database has a transaction open; it must end first.");
}

}  // namespace

Connection::Connection() {
  {
    std::lock_guard<std::mutex> lock(g_inject_mu);
    if (g_inject_number != 0) Fail(g_inject_number, g_inject_description);
  }
  state_ = std::make_unique<State>();
}

Connection::~Connection() {
  if (!db_ || state_->transactions.empty()) return;
  try {
    RollBackAll(*db_, *state_->shared);
  } catch (...) {
    // A destructor cannot report; the file stays as of its last commit.
  }
}

void Connection::Open(const std::string& connection_string) {
  if (db_) Fail(kErrObjectOpen, "Operation is not allowed when the object is open.");
  ConnectionTarget target = ParseConnectionString(connection_string);
  jet::OpenOptions options;
  options.password = target.password;
  options.writable = Mode == kModeReadWrite;
  options.busy_timeout_ms = std::max(0, ConnectionTimeout) * 1000;
  std::shared_ptr<jet::Database> db = jet::Database::Open(target.data_source, options);
  state_->shared = internal::StateOf(db);
  state_->writable = options.writable;
  db_ = std::move(db);
}

Recordset Connection::OpenSchema(int schema) {
  if (!db_) ClosedObject();
  if (schema != kSchemaTables) {
    Fail(kErrNotCapable,
         "Object or provider is not capable of performing requested operation (schema " +
             std::to_string(schema) + ").");
  }
  internal::PackedRows rows(2);
  std::string packed;
  for (const auto& r : db_->TablesRowset()) {
    packed.clear();
    internal::PackedRows::Pack(jet::Value::Text(r.table_name), packed);
    internal::PackedRows::Pack(jet::Value::Text(r.table_type), packed);
    rows.Append(packed);
  }
  Recordset rs;
  rs.impl_ = std::make_unique<Recordset::Impl>();
  rs.impl_->source = std::make_shared<CopiedRows>(
      std::vector<std::string>{"TABLE_NAME", "TABLE_TYPE"},
      std::vector<jet::ColumnType>{jet::ColumnType::kText, jet::ColumnType::kText},
      std::move(rows));
  return rs;
}

long Connection::Execute(const std::string& text) {
  if (!db_) {
    Fail(kErrConnectionClosed,
         "The connection cannot be used to perform this operation. It is either closed or invalid "
         "in this context.");
  }
  sql::Statement statement = sql::Parse(text);
  if (auto* select = std::get_if<sql::Select>(&statement)) {
    internal::RunSelect(*db_, *state_->shared, *select);
    return -1;
  }
  if (!state_->writable) {
    Fail(jet::errnum::kReadOnly,
         "The connection was opened for reading only; set Mode to 3 before Open to change the "
         "database.");
  }
  // Outside a transaction a statement commits, which must not take another
  // connection's open transaction with it.
  if (state_->transactions.empty() && db_->pager().in_transaction()) RefuseOthersTransaction();
  internal::SharedState& shared = *state_->shared;
  const size_t mark = db_->Savepoint();
  long affected = 0;
  try {
    affected = internal::RunChange(*db_, shared, statement);
  } catch (...) {
    // The statement is undone to its own start; what came before it in the
    // transaction stays. Outside one nothing came before it.
    shared.ForgetAll();
    try {
      if (state_->transactions.empty()) {
        RollBackAll(*db_, shared);
      } else {
        db_->RollbackToSavepoint(mark);
        db_->ReleaseSavepoint(mark);
      }
    } catch (...) {
      RollBackAll(*db_, shared);
      state_->transactions.clear();
    }
    throw;
  }
  db_->ReleaseSavepoint(mark);
  if (state_->transactions.empty()) internal::CommitDatabase(*db_, shared);
  return affected;
}

long Connection::BeginTrans() {
  if (!db_) ClosedObject();
  if (state_->transactions.empty()) {
    // An outermost transaction cannot begin inside another connection's.
    if (db_->pager().in_transaction()) RefuseOthersTransaction();
    state_->transactions.push_back(0);
  } else {
    state_->transactions.push_back(db_->Savepoint());
  }
  return static_cast<long>(state_->transactions.size());
}

size_t Connection::EndTrans() {
  if (!db_) ClosedObject();
  if (state_->transactions.empty()) {
    Fail(kErrNoTransaction,
         "You tried to commit or rollback a transaction without first beginning a transaction.");
  }
  const size_t mark = state_->transactions.back();
  state_->transactions.pop_back();
  return mark;
}

void Connection::CommitTrans() {
  const size_t mark = EndTrans();
  if (mark != 0) {
    db_->ReleaseSavepoint(mark);
    return;
  }
  internal::CommitDatabase(*db_, *state_->shared);
}

void Connection::RollbackTrans() {
  const size_t mark = EndTrans();
  if (mark != 0) {
    state_->shared->ForgetAll();
    db_->RollbackToSavepoint(mark);
    db_->ReleaseSavepoint(mark);
    return;
  }
  RollBackAll(*db_, *state_->shared);
}

long Connection::TransactionLevel() const { return static_cast<long>(state_->transactions.size()); }

void Connection::Commit() {
  if (!db_) ClosedObject();
  while (!state_->transactions.empty()) CommitTrans();
}

void Connection::Close() {
  if (!db_) ClosedObject();
  std::shared_ptr<jet::Database> db = std::move(db_);
  db_.reset();
  std::shared_ptr<internal::SharedState> shared = std::move(state_->shared);
  if (!state_->transactions.empty()) {
    state_->transactions.clear();
    RollBackAll(*db, *shared);
  }
}

bool Connection::IsOpen() const { return db_ != nullptr; }

std::shared_ptr<jet::Database> Connection::database() const { return db_; }

// ---------------------------------------------------------------------------
// Recordset

Recordset::Recordset() = default;
Recordset::~Recordset() = default;
Recordset::Recordset(Recordset&&) noexcept = default;
Recordset& Recordset::operator=(Recordset&&) noexcept = default;

void Recordset::Open(const std::string& source, Connection& connection, int cursor_type,
                     int lock_type) {
  if (impl_) Fail(kErrObjectOpen, "Operation is not allowed when the object is open.");
  if (!connection.IsOpen()) {
    Fail(kErrConnectionClosed,
         "The connection cannot be used to perform this operation. It is either closed or invalid "
         "in this context.");
  }
  sql::Statement statement = sql::Parse(source);
  auto* select = std::get_if<sql::Select>(&statement);
  if (!select) {
    connection.Execute(source);
    return;
  }
  internal::QueryResult result =
      internal::RunSelect(*connection.db_, *connection.state_->shared, *select);
  auto impl = std::make_unique<Impl>();
  if (result.distinct) {
    std::vector<std::string> names;
    std::vector<jet::ColumnType> types;
    for (const auto& c : result.columns) {
      names.push_back(c.name);
      types.push_back(c.type);
    }
    impl->source = std::make_shared<CopiedRows>(std::move(names), std::move(types),
                                                std::move(result.combinations));
  } else {
    impl->source =
        std::make_shared<TableRows>(connection.db_, connection.state_->shared, std::move(result));
  }
  impl_ = std::move(impl);
}

bool Recordset::Eof() const {
  if (!impl_) ClosedObject();
  return impl_->position >= impl_->source->RowCount();
}

void Recordset::MoveNext() {
  if (Eof()) {
    Fail(kErrNoCurrentRecord,
         "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
         "requires a current record.");
  }
  ++impl_->position;
}

long Recordset::RecordCount() const {
  if (!impl_) ClosedObject();
  return impl_->source->RowCount();
}

int Recordset::FieldCount() const {
  if (!impl_) ClosedObject();
  return impl_->source->ColumnCount();
}

Field Recordset::Fields(const std::string& name) const {
  if (!impl_) ClosedObject();
  const RowSource& src = *impl_->source;
  int n = src.ColumnCount();
  for (int i = 0; i < n; ++i) {
    if (src.ColumnName(i) == name) return Fields(i);
  }
  for (int i = 0; i < n; ++i) {
    if (jet::NamesEqual(src.ColumnName(i), name)) return Fields(i);
  }
  Fail(kErrItemNotFound,
       "Item cannot be found in the collection corresponding to the requested name or ordinal ('" +
           name + "').");
}

Field Recordset::Fields(int index) const {
  if (!impl_) ClosedObject();
  RowSource& src = *impl_->source;
  if (index < 0 || index >= src.ColumnCount()) {
    Fail(kErrItemNotFound,
         "Item cannot be found in the collection corresponding to the requested name or ordinal (" +
             std::to_string(index) + ").");
  }
  if (Eof()) return Field(src.ColumnName(index));
  return Field(src.ColumnName(index), src.Cell(impl_->position, index));
}

std::shared_ptr<RowSource> Recordset::DataSource() const {
  if (!impl_) ClosedObject();
  return impl_->source;
}

void Recordset::Close() {
  if (!impl_) ClosedObject();
  impl_.reset();
}

bool Recordset::IsOpen() const { return impl_ != nullptr; }

}  // namespace db
