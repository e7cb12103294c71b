// Printing values for the dump command: JSON in one canonical form (a row a
// line) and CSV.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/record/tdef.h"
#include "jet/record/value.h"
#include "jet/table/database.h"

namespace cli {

// JavaScript's Number#toString form of a double, so that dumps compare
// byte for byte with other tools' JSON.
std::string JsNumber(double d);
std::string JsonString(std::string_view s);
// The JSON form of a value of column `c`. Complex values are lists: attachments
// as {"name","type","size","sha256"} of the file content, multi-value values in
// their own form, version history as {"value","modified"}.
std::string JsonValue(const jet::Column& c, const jet::Value& v);
// The CSV form: complex values as their text form (items joined by "; ").
std::string CsvField(const jet::Column& c, const jet::Value& v);
// "YYYY-MM-DD HH:MM:SS" with ".mmm" only when the milliseconds are not 0.
std::string IsoDate(double access_date);
// "YYYY-MM-DD HH:MM:SS.fffffff", always the seven digits of 100 ns.
std::string IsoDateExt(int64_t ticks);
std::string Sha256Hex(std::string_view data);
std::string Hex(const std::string& bytes);

// The same, appended to `out`: a dump formats every value of every row, so
// it builds its lines in place.
void AppendJsonString(std::string& out, std::string_view s);
void AppendJsonValue(std::string& out, const jet::Column& c, const jet::Value& v);
void AppendCsvField(std::string& out, const jet::Column& c, const jet::Value& v);
void AppendIsoDate(std::string& out, double access_date);

// Room for the longest text WriteJsNumber and WriteIsoDate give.
inline constexpr size_t kMaxNumberText = 40;
// Into memory the caller provides (kMaxNumberText bytes); return the end.
char* WriteJsNumber(char* p, double d);
char* WriteIsoDate(char* p, double access_date);

// What a dump prints, collected in one block that goes out in large writes.
// Values are formatted in place: Room(n) gives space for n bytes, Advance
// takes what was written.
class OutBuffer {
 public:
  // `file` null keeps everything in memory (for tests).
  explicit OutBuffer(std::FILE* file = nullptr);
  ~OutBuffer();
  OutBuffer(const OutBuffer&) = delete;
  OutBuffer& operator=(const OutBuffer&) = delete;

  char* Room(size_t n) {
    if (cap_ - size_ < n) Grow(n);
    return data_.get() + size_;
  }
  void Advance(char* end) { size_ = static_cast<size_t>(end - data_.get()); }
  void Push(char c) {
    *Room(1) = c;
    ++size_;
  }
  void Append(std::string_view s);
  std::string_view view() const { return {data_.get(), size_}; }
  // Drops what was collected after the first `size` bytes.
  void Truncate(size_t size) { size_ = size; }
  // Writes out what was collected once it is a large block.
  void FlushIfFull() {
    if (size_ >= kBlock) Flush();
  }
  void Flush();

 private:
  static constexpr size_t kBlock = 64 * 1024;
  void Grow(size_t n);
  std::FILE* file_;
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
  size_t cap_ = 0;
};

// Writes the values of a scan's current row as a CSV record or a JSON object
// straight from the stored bytes: the same text AppendCsvField and
// AppendJsonValue make of TableScan::Get, without a jet::Value or an
// allocation per value for the common types (Yes/No, whole numbers, floating
// point, currency, dates, text, memo). Other types and calculated columns go
// through TableScan::Get.
class FieldWriter {
 public:
  // The row's values go out in the order of `columns`.
  FieldWriter(jet::Database& db, jet::TableScan& scan, std::vector<const jet::Column*> columns);
  // Fields separated by commas, then a line break.
  void CsvRecord(OutBuffer& out);
  // {"name":value,...} with the names in JSON form.
  void JsonObject(OutBuffer& out);

 private:
  // How a column's values are read and written, decided once.
  enum class Form : uint8_t {
    kValue,  // through TableScan::Get
    kBool,
    kText,
    kMemo,
    kByte,
    kInteger,
    kLong,
    kBigInt,
    kCurrency,
    kFloat,
    kDouble,
    kDateTime,
  };
  struct Field {
    const jet::Column* column;
    Form form;
    uint16_t code_page;  // text and memo
    std::string key;     // "name": for JSON
  };
  // Writes the number, date or currency of a fixed-size field at `p`, which
  // has room for kMaxNumberText bytes; null when the bytes are too short for
  // it (the Value path reports that) or the form is not one of these.
  static char* WriteFixed(char* p, Form form, jet::Bytes raw, bool json);
  // Puts '"' and the decoded text of a text or memo field at the end of
  // `out`; returns where the text starts.
  size_t PutText(OutBuffer& out, const Field& f, jet::Bytes raw);
  // The text in double quotes, escaped for JSON or CSV.
  void QuotedText(OutBuffer& out, const Field& f, jet::Bytes raw, bool json);
  void CsvFromValue(OutBuffer& out, const Field& f);
  void JsonFromValue(OutBuffer& out, const Field& f);

  jet::Database& db_;
  jet::TableScan& scan_;
  std::vector<Field> fields_;
  jet::PagePtr hold_;  // the page a memo's data lies on
  std::string chain_;  // a memo gathered from several pages
  std::string scratch_;
  std::string escaped_;
};

}  // namespace cli
