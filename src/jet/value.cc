#include "jet/value.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace jet {

std::string TypeName(ColumnType t) {
  switch (t) {
    case ColumnType::kBoolean: return "boolean";
    case ColumnType::kByte: return "byte";
    case ColumnType::kInteger: return "integer";
    case ColumnType::kLong: return "long";
    case ColumnType::kCurrency: return "currency";
    case ColumnType::kFloat: return "float";
    case ColumnType::kDouble: return "double";
    case ColumnType::kDateTime: return "datetime";
    case ColumnType::kBinary: return "binary";
    case ColumnType::kText: return "text";
    case ColumnType::kOle: return "ole";
    case ColumnType::kMemo: return "memo";
    case ColumnType::kGuid: return "repid";
    case ColumnType::kNumeric: return "numeric";
    case ColumnType::kComplex: return "complex";
    case ColumnType::kBigInt: return "bigint";
    case ColumnType::kDateTimeExt: return "datetimextended";
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11: return "binary";
  }
  return "binary";
}

bool IsKnownType(uint8_t c) { return (c >= 0x01 && c <= 0x14 && c != 0x0E); }

Value Value::Bool(bool b) {
  Value v;
  v.kind_ = Kind::kBool;
  v.i_ = b;
  return v;
}
Value Value::Int(int64_t i) {
  Value v;
  v.kind_ = Kind::kInt;
  v.i_ = i;
  return v;
}
Value Value::Currency(int64_t c) {
  Value v;
  v.kind_ = Kind::kCurrency;
  v.i_ = c;
  return v;
}
Value Value::Float(float f) {
  Value v;
  v.kind_ = Kind::kFloat;
  v.d_ = f;
  return v;
}
Value Value::Double(double d) {
  Value v;
  v.kind_ = Kind::kDouble;
  v.d_ = d;
  return v;
}
Value Value::DateTime(double d) {
  Value v;
  v.kind_ = Kind::kDateTime;
  v.d_ = d;
  return v;
}
Value Value::Text(std::string s) {
  Value v;
  v.kind_ = Kind::kText;
  v.s_ = std::move(s);
  return v;
}
Value Value::Binary(std::string s) {
  Value v;
  v.kind_ = Kind::kBinary;
  v.s_ = std::move(s);
  return v;
}
Value Value::Guid(std::string s) {
  Value v;
  v.kind_ = Kind::kGuid;
  v.s_ = std::move(s);
  return v;
}
Value Value::Decimal(bool negative, std::string magnitude16, uint8_t scale) {
  Value v;
  v.kind_ = Kind::kDecimal;
  v.i_ = negative;
  v.s_ = std::move(magnitude16);
  v.scale_ = scale;
  return v;
}
Value Value::DateTimeExt(std::string stored) {
  Value v;
  v.kind_ = Kind::kDateTimeExt;
  v.s_ = std::move(stored);
  return v;
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Value::Kind::kNull: return true;
    case Value::Kind::kBool:
    case Value::Kind::kInt:
    case Value::Kind::kCurrency: return a.i_ == b.i_;
    case Value::Kind::kFloat:
    case Value::Kind::kDouble:
    case Value::Kind::kDateTime: return std::memcmp(&a.d_, &b.d_, sizeof(double)) == 0;
    case Value::Kind::kDecimal: return a.i_ == b.i_ && a.scale_ == b.scale_ && a.s_ == b.s_;
    default: return a.s_ == b.s_;
  }
}

namespace {

// Formats with `digits` significant digits the way the platform's General
// Number format does: fixed notation for ordinary magnitudes, otherwise
// d.dddE+XX; trailing zeros dropped.
std::string FormatSignificant(double d, int digits) {
  if (std::isnan(d)) return "NaN";
  if (std::isinf(d)) return d < 0 ? "-Infinity" : "Infinity";
  if (d == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", digits - 1, d);
  // buf: [-]D.DDDDe[+-]XX
  std::string s(buf);
  bool neg = s[0] == '-';
  if (neg) s.erase(0, 1);
  size_t e = s.find('e');
  int exp = std::atoi(s.c_str() + e + 1);
  std::string mant = s.substr(0, 1) + s.substr(2, e - 2);
  while (mant.size() > 1 && mant.back() == '0') mant.pop_back();
  std::string out = neg ? "-" : "";
  if (exp >= digits || exp < -5) {
    out += mant.substr(0, 1);
    if (mant.size() > 1) out += "." + mant.substr(1);
    char eb[16];
    std::snprintf(eb, sizeof eb, "E%c%02d", exp < 0 ? '-' : '+', std::abs(exp));
    return out + eb;
  }
  if (exp < 0) {
    out += "0." + std::string(-exp - 1, '0') + mant;
  } else if (static_cast<int>(mant.size()) <= exp + 1) {
    out += mant + std::string(exp + 1 - mant.size(), '0');
  } else {
    out += mant.substr(0, exp + 1) + "." + mant.substr(exp + 1);
  }
  return out;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}

const int64_t kEpochDays = DaysFromCivil(1899, 12, 30);

}  // namespace

std::string FormatSingle(float f) { return FormatSignificant(f, 7); }
std::string FormatDouble(double d) { return FormatSignificant(d, 15); }

DateParts SplitAccessDate(double v) {
  DateParts p{};
  if (!std::isfinite(v) || std::fabs(v) > 3.0e6) {  // outside any calendar Access knows
    v = 0;
  }
  double day = std::trunc(v);
  double frac = std::fabs(v - day);
  int64_t ms = static_cast<int64_t>(std::llround(frac * 86400000.0));
  int64_t days = static_cast<int64_t>(day);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += 1;
  }
  CivilFromDays(days + kEpochDays, p.year, p.month, p.day);
  p.hour = static_cast<int>(ms / 3600000);
  p.minute = static_cast<int>(ms / 60000 % 60);
  p.second = static_cast<int>(ms / 1000 % 60);
  p.millisecond = static_cast<int>(ms % 1000);
  return p;
}

double JoinAccessDate(const DateParts& p) {
  int64_t days = DaysFromCivil(p.year, p.month, p.day) - kEpochDays;
  double frac = (p.hour * 3600000.0 + p.minute * 60000.0 + p.second * 1000.0 + p.millisecond) /
                86400000.0;
  return days >= 0 ? days + frac : days - frac;
}

std::string FormatGeneralDate(double v) {
  DateParts p = SplitAccessDate(v);
  bool epoch_day = p.year == 1899 && p.month == 12 && p.day == 30;
  bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0;
  char buf[64];
  std::string out;
  if (!epoch_day || midnight) {
    std::snprintf(buf, sizeof buf, "%d/%d/%d", p.month, p.day, p.year);
    out = buf;
  }
  if (!midnight || epoch_day) {
    int h12 = p.hour % 12 == 0 ? 12 : p.hour % 12;
    std::snprintf(buf, sizeof buf, "%d:%02d:%02d %s", h12, p.minute, p.second,
                  p.hour < 12 ? "AM" : "PM");
    if (!out.empty()) out += " ";
    out += buf;
  }
  if (epoch_day && midnight) return "12:00:00 AM";
  return out;
}

std::string FormatScaled(bool negative, unsigned __int128 mag, int scale, bool trim) {
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(mag % 10)));
    mag /= 10;
  } while (mag != 0);
  if (scale > 0) {
    if (static_cast<int>(digits.size()) <= scale) {
      digits.insert(0, scale + 1 - digits.size(), '0');
    }
    digits.insert(digits.size() - scale, ".");
    if (trim) {
      while (digits.back() == '0') digits.pop_back();
      if (digits.back() == '.') digits.pop_back();
    }
  }
  bool zero = digits.find_first_not_of("0.") == std::string::npos;
  return (negative && !zero ? "-" : "") + digits;
}

unsigned __int128 DecimalMagnitude(const Value& v) {
  unsigned __int128 m = 0;
  for (unsigned char c : v.bytes()) m = (m << 8) | c;
  return m;
}

std::string FormatGuid(std::string_view r) {
  if (r.size() != 16) return "{}";
  auto b = [&](int i) { return static_cast<unsigned>(static_cast<unsigned char>(r[i])); };
  char buf[64];
  std::snprintf(buf, sizeof buf,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b(3),
                b(2), b(1), b(0), b(5), b(4), b(7), b(6), b(8), b(9), b(10), b(11), b(12), b(13),
                b(14), b(15));
  return buf;
}

std::string TextForm(const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kNull: return "";
    case Value::Kind::kBool: return v.as_bool() ? "True" : "False";
    case Value::Kind::kInt: return std::to_string(v.as_int());
    case Value::Kind::kCurrency: {
      int64_t c = v.as_int();
      unsigned __int128 mag = c < 0 ? static_cast<unsigned __int128>(-(c + 1)) + 1
                                    : static_cast<unsigned __int128>(c);
      return FormatScaled(c < 0, mag, 4, true);
    }
    case Value::Kind::kFloat: return FormatSingle(static_cast<float>(v.as_double()));
    case Value::Kind::kDouble: return FormatDouble(v.as_double());
    case Value::Kind::kDateTime: return FormatGeneralDate(v.as_double());
    case Value::Kind::kText: return v.bytes();
    case Value::Kind::kBinary: return "Long binary data";
    case Value::Kind::kGuid: return FormatGuid(v.bytes());
    case Value::Kind::kDecimal:
      return FormatScaled(v.negative(), DecimalMagnitude(v), v.scale(), true);
    case Value::Kind::kDateTimeExt: return v.bytes();
  }
  return "";
}

}  // namespace jet
