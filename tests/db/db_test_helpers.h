// Helpers for the database layer tests: opening fixture copies and reading
// whole result sets.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "db/access.h"
#include "db/ado.h"
#include "jet/storage/error.h"
#include "jet/record/value.h"

namespace db_testing {

inline constexpr char kPeople2000[] = "generated/people_V2000_200.mdb";
inline constexpr char kPeople2007[] = "generated/people_V2007_300.accdb";

// A cell as the tests compare it: nullopt for Null, else the text form.
using Cell = std::optional<std::string>;
using Row = std::vector<Cell>;

inline Cell CellOf(const jet::Value& v) {
  if (v.is_null()) return std::nullopt;
  return jet::TextForm(v);
}

inline void OpenRw(db::Connection& c, const std::string& path, const std::string& password = "") {
  c.Mode = db::kModeReadWrite;
  c.Open(db::BuildConnectionString(path, password));
}

// Every row of a query, walked with EOF and MoveNext.
inline std::vector<Row> Query(db::Connection& c, const std::string& sql) {
  db::Recordset rs;
  rs.Open(sql, c, db::kOpenStatic, db::kLockReadOnly);
  std::vector<Row> rows;
  for (; !rs.Eof(); rs.MoveNext()) {
    Row row;
    for (int i = 0; i < rs.FieldCount(); ++i) row.push_back(CellOf(rs.Fields(i).Value()));
    rows.push_back(std::move(row));
  }
  return rows;
}

// The error number a statement fails with (0 when it does not fail).
template <typename F>
int32_t ErrorOf(F&& f, std::string* description = nullptr) {
  try {
    f();
  } catch (const jet::Error& e) {
    if (description) *description = e.description();
    return e.number();
  }
  return 0;
}

inline std::string Escape(const std::string& s) {
  std::string out;
  for (char ch : s) {
    out += ch;
    if (ch == '\'') out += '\'';
  }
  return out;
}

// The merge's own statements: add a memo column, then one UPDATE per
// distinct combination of `fields`, joining the values without separator.
inline long RunMerge(db::Connection& c, const std::string& table,
                     const std::vector<std::string>& fields, const std::string& result) {
  c.Execute("ALTER TABLE [" + table + "] ADD COLUMN [" + result + "] memo");
  std::string list;
  for (const auto& f : fields) list += (list.empty() ? "[" : ",[") + f + "]";
  db::Recordset rs;
  rs.Open("select distinct " + list + " from [" + table + "]", c, db::kOpenStatic,
          db::kLockOptimistic);
  long count = rs.RecordCount();
  for (long k = 0; k < count; ++k) {
    std::string merged, condition;
    for (const auto& f : fields) {
      jet::Value v = rs.Fields(f).Value();
      if (v.is_null()) {
        condition += "[" + f + "] is null and ";
      } else {
        condition += "[" + f + "]='" + Escape(jet::TextForm(v)) + "' and ";
        merged += Escape(jet::TextForm(v));
      }
    }
    condition.resize(condition.size() - 5);
    c.Execute("update [" + table + "] set [" + result + "]='" + merged + "' where " + condition);
    rs.MoveNext();
  }
  rs.Close();
  return count;
}

}  // namespace db_testing
