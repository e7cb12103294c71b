// Importing CSV files into tables: reading CSV, guessing column types from
// the values, and turning fields into values of a column's type.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "jet/record/value.h"
#include "jet/table/database.h"

namespace cli {

// Limits that keep the memory of an import bounded for any input: a field,
// a record (one line, or several when quotes hold line breaks) and the
// fields of one record.
inline constexpr size_t kMaxFieldBytes = size_t{1} << 20;   // 1 MiB
inline constexpr size_t kMaxRecordBytes = size_t{8} << 20;  // 8 MiB
inline constexpr size_t kMaxRecordFields = 1024;

// Reads RFC 4180 CSV: comma-separated, fields optionally in double quotes
// (doubled inside), line breaks inside quotes kept, CRLF or LF line ends, a
// UTF-8 byte-order mark skipped. Fields that are not valid UTF-8 are read as
// Windows-1252. Reads its input once, from start to end, so pipes and
// terminals do as well as files. Throws jet::Error for UTF-16 text (by its
// byte-order mark, or NUL bytes in the first record), a read that fails, and
// a record beyond the limits above; `name` names the input in messages.
class CsvReader {
 public:
  explicit CsvReader(std::FILE* in, std::string name = "the CSV file")
      : in_(in), name_(std::move(name)) {}
  // The next record; false at the end of the input.
  bool Next(std::vector<std::string>& fields);
  // Bytes consumed so far, and the line the last record started on (1-based).
  uint64_t offset() const { return offset_; }
  size_t line() const { return record_line_; }

 private:
  int Get();
  void Start();
  void Append(std::string& field, int c, size_t record_bytes);
  [[noreturn]] void Fail(const std::string& what) const;
  std::FILE* in_;
  std::string name_;
  uint64_t offset_ = 0;
  size_t line_ = 1;
  size_t record_line_ = 0;
  bool started_ = false;
  bool header_ = true;  // the first record is being read
  int peeked_ = -2;
};

struct ImportColumn {
  std::string name;
  jet::NewColumn column;
};

// Parses a type name: text, text(N), memo, byte, integer, long, counter,
// currency, single, double, datetime, yesno (any case). False otherwise.
bool ParseTypeName(const std::string& text, jet::NewColumn& out);
// The type name of a column as ParseTypeName reads it.
std::string TypeNameOf(const jet::NewColumn& c);

// Guesses a column's type from its fields, fed one by one: whole numbers
// that fit 32 bits give long, other numbers double, dates (yyyy-mm-dd or
// m/d/yyyy, with an optional time) datetime, anything else text(255), or
// memo when a value is longer than 255 characters. Empty fields are nulls
// and do not count.
class TypeGuess {
 public:
  void Add(const std::string& field);
  jet::NewColumn Result() const;

 private:
  bool any_ = false;
  bool all_long_ = true;
  bool all_number_ = true;
  bool all_date_ = true;
  size_t longest_ = 0;
};

// The value of a field for a column of the given type; an empty field is
// null. Throws jet::Error (type mismatch) for a field that does not fit.
jet::Value ParseField(const jet::NewColumn& column, const std::string& field);

// Date and time text as Access day numbers: yyyy-mm-dd[( |T)hh:mm[:ss[.fff]]]
// or m/d/yyyy[ h:mm[:ss][ AM|PM]]. False when the text is not one.
bool ParseDateText(const std::string& text, double& out);

}  // namespace cli
