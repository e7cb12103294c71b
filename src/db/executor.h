// Runs parsed statements against an open database. Text equality is exact
// (case and trailing blanks count), nulls match only IS NULL, and a literal
// must suit its column's kind:
//
//   column            compared with / assigned from
//   text, memo        'text'                      (assignment also takes a number)
//   byte ... double   numbers, #dates#, True/False
//   currency          numbers, #dates#, True/False
//   date/time         #dates#, numbers
//   Yes/No            True/False, numbers (-1 and 0 compare; any non-zero sets Yes)
//
// Anything else fails with the type-mismatch error (jet::errnum::kTypeMismatch),
// in particular text against a number, date or Yes/No column and a number
// against a text column.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/packed_rows.h"
#include "db/shared_state.h"
#include "db/sql.h"
#include "jet/table/database.h"

namespace db::internal {

struct ResultColumn {
  std::string name;
  jet::ColumnType type = jet::ColumnType::kText;
  uint16_t number = 0;
};

// What a SELECT found. Plain selects name their rows by identity, in storage
// order, and are read later; distinct selects carry their values, one entry
// per combination in the order first met.
struct QueryResult {
  std::string table_name;
  std::shared_ptr<const jet::TableDef> table;
  std::vector<ResultColumn> columns;
  bool distinct = false;
  std::vector<uint32_t> row_ids;
  PackedRows combinations;
};

QueryResult RunSelect(jet::Database& db, SharedState& state, const sql::Select& select);

// Runs ALTER TABLE, CREATE TABLE, INSERT or UPDATE and returns the number of
// records changed. Nothing is committed here: the connection decides when
// (after the statement outside a transaction, at CommitTrans inside one).
long RunChange(jet::Database& db, SharedState& state, const sql::Statement& statement);

// Commits the database. When the commit fails the database is back at its
// last commit, so every cached row index is dropped before the error goes on.
void CommitDatabase(jet::Database& db, SharedState& state);

}  // namespace db::internal
