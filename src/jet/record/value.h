// Column types and values. A value is null or one of the stored kinds; each
// has a text form (what the merge concatenates and the grid shows) matching
// how Access shows values in the en-US locale.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jet {

enum class ColumnType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,
  kLong = 0x04,
  kCurrency = 0x05,
  kFloat = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kUnknown0D = 0x0D,
  kGuid = 0x0F,
  kNumeric = 0x10,
  kUnknown11 = 0x11,
  kComplex = 0x12,
  kBigInt = 0x13,
  kDateTimeExt = 0x14,
};

// The names the dump format uses ("boolean", "long", "memo", "repid", ...).
std::string TypeName(ColumnType t);
bool IsKnownType(uint8_t code);
inline bool IsTextual(ColumnType t) { return t == ColumnType::kText || t == ColumnType::kMemo; }

struct ComplexList;

class Value {
 public:
  enum class Kind : uint8_t {
    kNull,
    kBool,
    kInt,       // byte, integer, long, big integer: i_
    kCurrency,  // i_ in ten-thousandths
    kFloat,     // d_ holds the float exactly
    kDouble,
    kDateTime,     // d_ in Access's day numbering
    kText,         // s_ UTF-8
    kBinary,       // s_ raw bytes (binary, OLE, unknown types)
    kGuid,         // s_ 16 raw bytes as stored
    kDecimal,      // s_ 16 magnitude bytes, most significant first; i_ sign (1 negative); scale_
    kDateTimeExt,  // i_ ticks of 100 ns since 0001-01-01 00:00:00
    kComplex,      // i_ the row's key into the flat table; complex_ its items once read
  };

  Value() = default;
  static Value Null() { return Value(); }
  static Value Bool(bool b);
  static Value Int(int64_t v);
  static Value Currency(int64_t ten_thousandths);
  static Value Float(float f);
  static Value Double(double d);
  static Value DateTime(double access_date);
  static Value Text(std::string utf8);
  static Value Binary(std::string bytes);
  static Value Guid(std::string raw16);
  static Value Decimal(bool negative, std::string magnitude16, uint8_t scale);
  static Value DateTimeExt(int64_t ticks);
  // A complex column's key; `items` is null until the flat table was read.
  static Value Complex(int32_t key, std::shared_ptr<const ComplexList> items = nullptr);

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::kNull; }
  bool as_bool() const { return i_ != 0; }
  int64_t as_int() const { return i_; }
  double as_double() const { return d_; }
  const std::string& bytes() const { return s_; }  // text, binary, guid, decimal
  uint8_t scale() const { return scale_; }
  bool negative() const { return i_ != 0; }
  int64_t ext_ticks() const { return i_; }  // Date/Time Extended
  int32_t complex_key() const { return static_cast<int32_t>(i_); }
  // The items behind a complex key, or null when they were not read.
  const ComplexList* complex() const { return complex_.get(); }

  friend bool operator==(const Value& a, const Value& b);

 private:
  Kind kind_ = Kind::kNull;
  uint8_t scale_ = 0;
  int64_t i_ = 0;
  double d_ = 0;
  std::string s_;
  std::shared_ptr<const ComplexList> complex_;
};

// What a complex column's key leads to, by the kind of its template table.
enum class ComplexKind : uint8_t { kUnknown, kAttachment, kMultiValue, kVersionHistory };

struct ComplexItem {
  Value value;     // multi-value: the value; version history: the text
  Value modified;  // version history: when the text was saved (a date)
  // Attachments: FileName, FileType and the file's content (inflated, without
  // its stored header).
  std::string file_name;
  std::string file_type;
  std::string file_data;
};

// The flat-table rows of one key, in flat-table order.
struct ComplexList {
  ComplexKind kind = ComplexKind::kUnknown;
  ColumnType value_type = ColumnType::kText;  // multi-value: the type of the values
  std::vector<ComplexItem> items;
};

// Text forms. `TextForm` is the display text (en-US General formats);
// binary values give a short placeholder, never their bytes. Date/Time
// Extended values read like General Date with the 100 ns fraction after the
// seconds when it is not 0 ("6/14/2021 10:45:12.3456789 PM"); the date is
// always shown, the time only when it is not exactly midnight. Complex values
// list their items joined by "; ": attachment file names, multi-value values in
// their own text form, version-history texts oldest first; a complex value
// whose items were not read shows its key.
std::string TextForm(const Value& v);
std::string FormatSingle(float f);   // 7 significant digits
std::string FormatDouble(double d);  // 15 significant digits
std::string FormatGeneralDate(double access_date);
// Decimal digits with exactly `scale` decimals ("12.5000"); `trim` drops
// trailing zeros and a bare point.
std::string FormatScaled(bool negative, unsigned __int128 magnitude, int scale, bool trim);
unsigned __int128 DecimalMagnitude(const Value& v);
std::string FormatGuid(std::string_view raw16);  // {XXXXXXXX-XXXX-...} in capitals

// Access day numbers: days since 1899-12-30, the fraction a positive time of
// day also before the epoch.
struct DateParts {
  int year, month, day, hour, minute, second, millisecond;
};
DateParts SplitAccessDate(double v);
double JoinAccessDate(const DateParts& p);
// The current local time to the second, as Access stamps new objects.
double AccessDateNow();

// Date/Time Extended: ticks of 100 ns since 0001-01-01 00:00:00 (proleptic
// Gregorian) up to the end of 9999-12-31.
struct DateTimeExtParts {
  int year, month, day, hour, minute, second;
  int fraction;  // 100 ns units, 0..9999999
};
inline constexpr int64_t kTicksPerSecond = 10'000'000;
inline constexpr int64_t kTicksPerDay = 86'400 * kTicksPerSecond;
inline constexpr int64_t kMaxDateTimeExtDays = 3'652'059;  // 0001-01-01 .. 9999-12-31
DateTimeExtParts SplitDateTimeExt(int64_t ticks);
int64_t JoinDateTimeExt(const DateTimeExtParts& p);
// The stored form: 42 ASCII bytes "<19-digit days>:<12-digit seconds><7-digit
// fraction>:7" and a NUL. Parse gives nullopt for anything else.
std::optional<int64_t> ParseDateTimeExt(std::span<const uint8_t> stored);
std::string EncodeDateTimeExt(int64_t ticks);
std::string FormatGeneralDateExt(int64_t ticks);

}  // namespace jet
