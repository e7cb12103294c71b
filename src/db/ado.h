// The connection and recordset objects the program talks to, shaped like the
// ActiveX Data Objects it was designed around, over our own engine.
//
//   db::Connection conn;
//   conn.Mode = db::kModeReadWrite;
//   conn.Open(BuildConnectionString(path, password));
//   conn.Execute("ALTER TABLE [People] ADD COLUMN [Full] memo");
//   db::Recordset rs;
//   rs.Open("select distinct [First],[Last] from [People]", conn, db::kOpenStatic,
//           db::kLockOptimistic);
//   for (; !rs.Eof(); rs.MoveNext()) use(rs.Fields("First").Value());
//
// Failures are jet::Error with the platform's numbers (jet/error.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/record/value.h"

namespace jet {
class Database;
}

namespace db {

inline constexpr int kModeReadWrite = 3;
inline constexpr int kUseClient = 3;
inline constexpr int kUseServer = 2;
inline constexpr int kSchemaTables = 20;
inline constexpr int kOpenKeyset = 1;
inline constexpr int kOpenDynamic = 2;
inline constexpr int kOpenStatic = 3;
inline constexpr int kLockReadOnly = 1;
inline constexpr int kLockOptimistic = 3;
inline constexpr int kLockUnspecified = -1;

// Failure numbers of the object layer itself, as the platform numbered them.
inline constexpr int32_t kErrOverflow = 6;
inline constexpr int32_t kErrNoCurrentRecord = 3021;   // at EOF (or BOF)
inline constexpr int32_t kErrNotCapable = 3251;        // e.g. a schema other than 20
inline constexpr int32_t kErrItemNotFound = 3265;      // no field of that name or position
inline constexpr int32_t kErrObjectClosed = 3704;      // operation on a closed object
inline constexpr int32_t kErrObjectOpen = 3705;        // Open on an open object
inline constexpr int32_t kErrConnectionClosed = 3709;  // recordset on a closed connection
inline constexpr int32_t kErrNoTransaction = 3034;     // CommitTrans or RollbackTrans outside one
inline constexpr int32_t kErrBadConnectionString = -2147217805;  // 0x80040E73

// What a grid binds to: the rows of a recordset, read lazily.
class RowSource {
 public:
  virtual ~RowSource() = default;
  virtual int RowCount() const = 0;
  virtual int ColumnCount() const = 0;
  virtual std::string ColumnName(int column) const = 0;
  virtual jet::ColumnType ColumnType(int column) const = 0;
  // The value at (row, column), both 0-based. Reading a row is cheap when
  // rows are asked for in order; any order works.
  virtual jet::Value Cell(int row, int column) = 0;
};

class Connection {
 public:
  Connection();
  ~Connection();  // rolls back a transaction still open; never commits
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int Mode = 0;                     // 3: read and write
  int CursorLocation = kUseServer;  // 3: client side (recorded; both behave alike)
  // Seconds to wait for another program's locks on the file (at Open, and
  // when a commit waits for readers to leave) before "in use".
  int ConnectionTimeout = 10;

  // Opens the database named by a connection string (see access.h). Mode 3
  // opens it for writing; any other mode for reading. Connections to one
  // file in this process share one open database and see each other's
  // changes at once. Creating a Connection throws only while a failure is
  // injected (InjectConnectionCreationFailure).
  void Open(const std::string& connection_string);
  // The tables schema rowset (schema 20): fields TABLE_NAME and TABLE_TYPE.
  class Recordset OpenSchema(int schema);
  // Runs one statement (ALTER TABLE, UPDATE, ...); returns the records
  // affected (-1 for a SELECT, which is only checked). A statement is
  // atomic: one that fails changes nothing. Outside a transaction it is
  // durable when Execute returns; inside one, at CommitTrans.
  long Execute(const std::string& sql);
  // Transactions, as ADO's: BeginTrans returns the new nesting level (1 for
  // the outermost). CommitTrans of the outermost makes every change since
  // its BeginTrans durable at once, of an inner one keeps its changes for the
  // outer one; RollbackTrans undoes the changes since the matching
  // BeginTrans. Without a transaction CommitTrans and RollbackTrans fail.
  long BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  long TransactionLevel() const;
  // Commits the open transactions, if any (every statement outside one is
  // durable already).
  void Commit();
  // Closes the connection; a transaction still open is rolled back.
  void Close();
  bool IsOpen() const;
  std::shared_ptr<jet::Database> database() const;

  struct State;  // the per-connection caches (row hash indexes)
 private:
  // Ends the innermost transaction; returns the savepoint it began at (0
  // for the outermost). Fails without a transaction.
  size_t EndTrans();

  std::shared_ptr<jet::Database> db_;
  std::unique_ptr<State> state_;
  friend class Recordset;
};

class Field {
 public:
  Field(std::string name, jet::Value value)
      : name_(std::move(name)), value_(std::move(value)), has_value_(true) {}
  // A field read while no record is current (at EOF): its name is known,
  // its value is not.
  explicit Field(std::string name) : name_(std::move(name)) {}
  const std::string& Name() const { return name_; }
  // Throws kErrNoCurrentRecord for a field read at EOF. Returned by value, so
  // `const auto& v = rs.Fields("x").Value();` does not dangle.
  jet::Value Value() const;

 private:
  std::string name_;
  jet::Value value_;
  bool has_value_ = false;
};

class Recordset {
 public:
  Recordset();
  ~Recordset();
  Recordset(Recordset&&) noexcept;
  Recordset& operator=(Recordset&&) noexcept;

  // Runs a SELECT on the connection and stands on the first row. Every
  // cursor type gives a snapshot of the rows and columns as they were at
  // Open. A plain SELECT reads the values when asked for, so later changes
  // to those rows show; SELECT DISTINCT keeps the values it found. Any other
  // statement is executed and the recordset stays closed.
  void Open(const std::string& source, Connection& connection, int cursor_type, int lock_type);
  bool Eof() const;  // the platform's EOF; the name EOF is a C macro
  void MoveNext();
  long RecordCount() const;
  int FieldCount() const;
  // The current row's field by name (as Access matches names) or position.
  Field Fields(const std::string& name) const;
  Field Fields(int index) const;
  // The rows for a grid; stays valid after Close.
  std::shared_ptr<RowSource> DataSource() const;
  void Close();
  bool IsOpen() const;

  struct Impl;

 private:
  friend class Connection;
  std::unique_ptr<Impl> impl_;
};

}  // namespace db
