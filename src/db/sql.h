// The SQL the database layer understands: a handful of Access-dialect
// statements, parsed into plain structures that the executor walks. Nothing
// here touches a database; Parse() only reads text.
//
// Accepted statements (keywords in any letter case, any whitespace between
// tokens, an optional final ";"):
//
//   ALTER TABLE t DROP [COLUMN] c
//   ALTER TABLE t ADD [COLUMN] c type [NOT NULL] [PRIMARY KEY]
//   SELECT [DISTINCT] a, b, ... FROM t [WHERE cond]
//   SELECT [DISTINCT] * FROM t [WHERE cond]
//   UPDATE t SET c = literal [, d = literal ...] [WHERE cond]
//   CREATE TABLE t (c type [NOT NULL] [PRIMARY KEY], ...
//                   [, CONSTRAINT name PRIMARY KEY (c, ...)])
//   INSERT INTO t (c, ...) VALUES (literal, ...)
//
// Names are either bracketed, [any text but a closing bracket], kept verbatim,
// or bare identifiers (letters, digits, underscore, not starting with a digit;
// bytes of non-ASCII UTF-8 characters count as letters). Bare names cannot be
// one of the statement keywords (SELECT, FROM, WHERE, AND, OR, NOT, NULL, IS,
// ...): bracket those.
//
// cond is one or more terms joined by AND; a term is `c = literal`,
// `c IS NULL` or `c IS NOT NULL`. Parentheses may enclose any term or any
// group of terms. There is no OR, no expression and no join.
//
// Literals:
//   'text' or "text"   a doubled quote inside stands for one quote
//   42, -7, 1.5, .5, 2., +1e-3
//                      optional sign, digits with optional fraction, optional
//                      exponent
//   #date#             #m/d/yyyy#, #m/d/yyyy h:mm[:ss]#, the same with AM/PM,
//                      #yyyy-mm-dd[ hh:mm[:ss]]#, time only #h:mm[:ss]# (day
//                      12/30/1899); seconds may carry a fraction (#...ss.mmm#,
//                      up to 17 digits). "/" and "-" separate date parts
//                      alike; years are 100 to 9999 and must be written in
//                      full.
//   True False Yes No On Off
//   NULL
//
// Any text outside this grammar throws jet::Error(jet::errnum::kSyntax, ...)
// whose description reads like
//   Syntax error in UPDATE statement at position 27: expected '=' after
//   column name, found 'x'.
// Positions are 1-based and count characters (UTF-8 code points), not bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace db::sql {

// A constant written in a statement. Only the members named for its kind are
// meaningful; the others keep their defaults.
struct Literal {
  enum class Kind { kText, kNumber, kDate, kBool, kNull };
  Kind kind = Kind::kNull;
  // The literal exactly as written, e.g. "'It''s'", "-1.50e3", "#1/2/2020#",
  // "yes", "Null". For numbers this is the text to use when the exact digits
  // matter (storing into a text or currency column).
  std::string source;
  // kText: the value, UTF-8, without the enclosing quotes and with each
  // doubled quote made single.
  std::string text;
  // kNumber: true when the value is a whole number that fits in int64,
  // whatever its form: "42", "-0", "1.0" and "2.5e1" are, "25e-1" and
  // "9223372036854775808" are not. int_value is then that number, computed
  // exactly from the digits.
  bool is_integer = false;
  int64_t int_value = 0;
  // kNumber: the nearest double to the written value (never infinite: numbers
  // beyond the double range are syntax errors; ones too small become 0).
  double double_value = 0;
  // kDate: an Access date, days since 12/30/1899 with the time of day as the
  // fraction. Before that day the fraction still counts forward from
  // midnight, so the value is day - fraction (#12/29/1899 6:00# is -1.25).
  // The value is the double nearest to the exact date and time written.
  double date_value = 0;
  // kBool: True, Yes and On are true; False, No and Off are false.
  bool bool_value = false;
};

// The column types of Access tables, with the names that choose them:
//   kText      TEXT(n), VARCHAR(n), CHAR(n)     (the size may be left out)
//   kMemo      MEMO, LONGTEXT
//   kByte      BYTE
//   kInteger   INTEGER, SHORT, SMALLINT, INTEGER2   (16-bit)
//   kLong      LONG, INT, INTEGER4                  (32-bit)
//   kCounter   COUNTER, AUTOINCREMENT               (32-bit, numbered)
//   kCurrency  CURRENCY, MONEY
//   kSingle    SINGLE, REAL
//   kDouble    DOUBLE, FLOAT
//   kDateTime  DATETIME, DATE
//   kYesNo     YESNO, BIT, LOGICAL
enum class ColumnType {
  kText,
  kMemo,
  kByte,
  kInteger,
  kLong,
  kCounter,
  kCurrency,
  kSingle,
  kDouble,
  kDateTime,
  kYesNo
};

struct DeclaredType {
  ColumnType type = ColumnType::kText;
  std::string name;  // the type name as written, e.g. "VarChar"
  // kText: the length in parentheses, 1 to 255; 0 when not written, leaving
  // the default (255 in Access) to the executor.
  int size = 0;
};

struct ColumnDef {
  std::string name;
  DeclaredType type;
  bool not_null = false;
  bool primary_key = false;  // the column alone is the table's primary key
};

// One term of a WHERE clause.
struct Term {
  enum class Kind { kEquals, kIsNull, kIsNotNull };
  std::string column;
  Kind kind = Kind::kEquals;
  // kEquals only. It may be a NULL literal: `c = NULL` is accepted and, as in
  // Access, is true for no row.
  Literal value;
};

// The terms of a WHERE clause, all of which must hold (parentheses are gone:
// with AND alone they change nothing). Empty when there is no WHERE.
using Condition = std::vector<Term>;

struct AlterDrop {
  std::string table;
  std::string column;
};

struct AlterAdd {
  std::string table;
  ColumnDef column;
};

struct Select {
  bool distinct = false;
  bool star = false;                 // SELECT *; columns is then empty
  std::vector<std::string> columns;  // in the order written, repeats kept
  std::string table;
  Condition where;
};

struct Assignment {
  std::string column;
  Literal value;
};

struct Update {
  std::string table;
  std::vector<Assignment> assignments;  // in the order written, never empty
  Condition where;
};

// CONSTRAINT name PRIMARY KEY (c, ...)
struct PrimaryKeyConstraint {
  std::string name;
  std::vector<std::string> columns;
};

// At most one primary key is declared: either one column has primary_key set
// or primary_key below is present, never both (the parser rejects the rest).
// Names are not checked against each other; that is left to the executor.
struct CreateTable {
  std::string table;
  std::vector<ColumnDef> columns;  // never empty
  std::optional<PrimaryKeyConstraint> primary_key;
};

// columns and values have the same, non-zero length.
struct Insert {
  std::string table;
  std::vector<std::string> columns;
  std::vector<Literal> values;
};

using Statement = std::variant<AlterDrop, AlterAdd, Select, Update, CreateTable, Insert>;

// Parses one statement. Throws jet::Error(jet::errnum::kSyntax, ...) for
// anything outside the grammar above, invalid UTF-8 included.
Statement Parse(std::string_view text);

// "[" + name + "]". Throws jet::Error(kSyntax) for an empty name or one
// holding "]", which no bracketed name can express.
std::string QuoteName(std::string_view name);

// The text as a single-quoted literal, inner quotes doubled.
std::string QuoteText(std::string_view text);

// Writes an Access date as "#m/d/yyyy h:mm:ss#", with a fraction of a second
// only when needed: ".mmm" for whole milliseconds, more digits (up to 17) for
// values that lie between milliseconds. The literal parses back to exactly the
// same double for every date Parse() can produce and for every double of at
// least one day in magnitude; the exception are values within a fraction of a
// second after midnight of 12/30/1899 that no decimal of 17 digits reaches,
// written as the nearest one. A value between -1 and 0 means the same moment
// as its magnitude and is written as that. Throws jet::Error(kTypeMismatch)
// for a value that is not finite or lies outside 1/1/100 to 12/31/9999.
std::string FormatDate(double date);

// Reads one date literal, "#...#" with nothing around it, into an Access date
// as Parse() would. Throws jet::Error(kSyntax) when it is not one.
double ParseDate(std::string_view literal);

}  // namespace db::sql
