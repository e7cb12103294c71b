// Column types and values. A value is null or one of the stored kinds; each
// has a text form (what the merge concatenates and the grid shows) matching
// how Access shows values in the en-US locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

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
// Types whose values live in the long-value area (memo, OLE).
inline bool IsLongValue(ColumnType t) { return t == ColumnType::kMemo || t == ColumnType::kOle; }
inline bool IsTextual(ColumnType t) { return t == ColumnType::kText || t == ColumnType::kMemo; }

class Value {
 public:
  enum class Kind : uint8_t {
    kNull,
    kBool,
    kInt,       // byte, integer, long, big integer, complex key: i_
    kCurrency,  // i_ in ten-thousandths
    kFloat,     // d_ holds the float exactly
    kDouble,
    kDateTime,  // d_ in Access's day numbering
    kText,      // s_ UTF-8
    kBinary,    // s_ raw bytes (binary, OLE, unknown types)
    kGuid,      // s_ 16 raw bytes as stored
    kDecimal,   // s_ 16 magnitude bytes, most significant first; i_ sign (1 negative); scale_
    kDateTimeExt,  // s_ the stored text
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
  static Value DateTimeExt(std::string stored);

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::kNull; }
  bool as_bool() const { return i_ != 0; }
  int64_t as_int() const { return i_; }
  double as_double() const { return d_; }
  const std::string& bytes() const { return s_; }  // text, binary, guid, decimal
  uint8_t scale() const { return scale_; }
  bool negative() const { return i_ != 0; }

  friend bool operator==(const Value& a, const Value& b);

 private:
  Kind kind_ = Kind::kNull;
  uint8_t scale_ = 0;
  int64_t i_ = 0;
  double d_ = 0;
  std::string s_;
};

// Text forms. `TextForm` is the display text (en-US General formats);
// binary values give a short placeholder, never their bytes.
std::string TextForm(const Value& v);
std::string FormatSingle(float f);     // 7 significant digits
std::string FormatDouble(double d);    // 15 significant digits
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

}  // namespace jet
