#include "jet/record/value.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "jet/record/column_descriptor.h"

namespace jet {

std::string TypeName(ColumnType t) {
  switch (t) {
    case ColumnType::kBoolean:
      return "boolean";
    case ColumnType::kByte:
      return "byte";
    case ColumnType::kInteger:
      return "integer";
    case ColumnType::kLong:
      return "long";
    case ColumnType::kCurrency:
      return "currency";
    case ColumnType::kFloat:
      return "float";
    case ColumnType::kDouble:
      return "double";
    case ColumnType::kDateTime:
      return "datetime";
    case ColumnType::kBinary:
      return "binary";
    case ColumnType::kText:
      return "text";
    case ColumnType::kOle:
      return "ole";
    case ColumnType::kMemo:
      return "memo";
    case ColumnType::kGuid:
      return "repid";
    case ColumnType::kNumeric:
      return "numeric";
    case ColumnType::kComplex:
      return "complex";
    case ColumnType::kBigInt:
      return "bigint";
    case ColumnType::kDateTimeExt:
      return "datetimextended";
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11:
      return "binary";
  }
  return "binary";
}

bool IsKnownType(uint8_t c) { return FindColumnType(c) != nullptr; }

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
Value Value::DateTimeExt(int64_t ticks) {
  Value v;
  v.kind_ = Kind::kDateTimeExt;
  v.i_ = ticks;
  return v;
}
Value Value::Complex(int32_t key, std::shared_ptr<const ComplexList> items) {
  Value v;
  v.kind_ = Kind::kComplex;
  v.i_ = key;
  v.complex_ = std::move(items);
  return v;
}

bool operator==(const Value& a, const Value& b) {
  if (a.kind_ != b.kind_) return false;
  switch (a.kind_) {
    case Value::Kind::kNull:
      return true;
    case Value::Kind::kBool:
    case Value::Kind::kInt:
    case Value::Kind::kCurrency:
    case Value::Kind::kDateTimeExt:
      return a.i_ == b.i_;
    case Value::Kind::kComplex:
      // The key names the items; whether they were read does not matter.
      return a.i_ == b.i_;
    case Value::Kind::kFloat:
    case Value::Kind::kDouble:
    case Value::Kind::kDateTime:
      return std::memcmp(&a.d_, &b.d_, sizeof(double)) == 0;
    case Value::Kind::kDecimal:
      return a.i_ == b.i_ && a.scale_ == b.scale_ && a.s_ == b.s_;
    default:
      return a.s_ == b.s_;
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
const int64_t kYearOneDays = DaysFromCivil(1, 1, 1);

// "h:mm:ss" on the 12-hour clock, `fraction` (100 ns units) after the seconds
// when not 0, then AM/PM.
std::string FormatClock(int hour, int minute, int second, int fraction) {
  char buf[48];
  int h12 = hour % 12 == 0 ? 12 : hour % 12;
  int n = std::snprintf(buf, sizeof buf, "%d:%02d:%02d", h12, minute, second);
  if (fraction != 0) n += std::snprintf(buf + n, sizeof buf - n, ".%07d", fraction);
  std::snprintf(buf + n, sizeof buf - n, " %s", hour < 12 ? "AM" : "PM");
  return buf;
}

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
  // Rounded half away from zero, as llround does: x minus its whole part is
  // exact for these magnitudes, so the half is compared exactly.
  const double x = frac * 86400000.0;
  int64_t ms = static_cast<int64_t>(x);
  if (x - static_cast<double>(ms) >= 0.5) ++ms;
  int64_t days = static_cast<int64_t>(day);
  if (ms >= 86400000) {
    ms -= 86400000;
    days += 1;
  }
  CivilFromDays(days + kEpochDays, p.year, p.month, p.day);
  // Less than a day: each part is taken off in turn, in 32 bits.
  uint32_t t = static_cast<uint32_t>(ms);
  const uint32_t hour = t / 3600000;
  t -= hour * 3600000;
  const uint32_t minute = t / 60000;
  t -= minute * 60000;
  const uint32_t second = t / 1000;
  p.hour = static_cast<int>(hour);
  p.minute = static_cast<int>(minute);
  p.second = static_cast<int>(second);
  p.millisecond = static_cast<int>(t - second * 1000);
  return p;
}

double JoinAccessDate(const DateParts& p) {
  int64_t days = DaysFromCivil(p.year, p.month, p.day) - kEpochDays;
  double frac =
      (p.hour * 3600000.0 + p.minute * 60000.0 + p.second * 1000.0 + p.millisecond) / 86400000.0;
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
    if (!out.empty()) out += " ";
    out += FormatClock(p.hour, p.minute, p.second, 0);
  }
  if (epoch_day && midnight) return "12:00:00 AM";
  return out;
}

DateTimeExtParts SplitDateTimeExt(int64_t ticks) {
  DateTimeExtParts p{};
  if (ticks < 0 || ticks >= kMaxDateTimeExtDays * kTicksPerDay) ticks = 0;
  int64_t days = ticks / kTicksPerDay;
  int64_t rest = ticks % kTicksPerDay;
  CivilFromDays(days + kYearOneDays, p.year, p.month, p.day);
  int64_t seconds = rest / kTicksPerSecond;
  p.hour = static_cast<int>(seconds / 3600);
  p.minute = static_cast<int>(seconds / 60 % 60);
  p.second = static_cast<int>(seconds % 60);
  p.fraction = static_cast<int>(rest % kTicksPerSecond);
  return p;
}

int64_t JoinDateTimeExt(const DateTimeExtParts& p) {
  int64_t days = DaysFromCivil(p.year, p.month, p.day) - kYearOneDays;
  int64_t seconds = p.hour * 3600LL + p.minute * 60LL + p.second;
  return days * kTicksPerDay + seconds * kTicksPerSecond + p.fraction;
}

std::optional<int64_t> ParseDateTimeExt(std::span<const uint8_t> s) {
  // DDDDDDDDDDDDDDDDDDD:SSSSSSSSSSSSFFFFFFF:7 and a NUL
  if (s.size() < 41 || s[19] != ':' || s[39] != ':' || s[40] != '7') return std::nullopt;
  if (s.size() > 41 && s[41] != 0) return std::nullopt;
  auto digits = [&](size_t from, size_t count, int64_t& out) {
    out = 0;
    for (size_t i = from; i < from + count; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      out = out * 10 + (s[i] - '0');
    }
    return true;
  };
  int64_t days, seconds, fraction;
  // Nineteen digits can exceed int64; the leading ones must be zeros anyway.
  for (size_t i = 0; i < 12; ++i) {
    if (s[i] != '0') return std::nullopt;
  }
  if (!digits(12, 7, days) || !digits(20, 12, seconds) || !digits(32, 7, fraction)) {
    return std::nullopt;
  }
  if (days >= kMaxDateTimeExtDays || seconds >= 86400) return std::nullopt;
  return days * kTicksPerDay + seconds * kTicksPerSecond + fraction;
}

std::string EncodeDateTimeExt(int64_t ticks) {
  if (ticks < 0 || ticks >= kMaxDateTimeExtDays * kTicksPerDay) ticks = 0;
  int64_t rest = ticks % kTicksPerDay;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%019lld:%012lld%07lld:7",
                static_cast<long long>(ticks / kTicksPerDay),
                static_cast<long long>(rest / kTicksPerSecond),
                static_cast<long long>(rest % kTicksPerSecond));
  return std::string(buf, 41) + std::string(1, '\0');
}

std::string FormatGeneralDateExt(int64_t ticks) {
  DateTimeExtParts p = SplitDateTimeExt(ticks);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d/%d/%d", p.month, p.day, p.year);
  std::string out = buf;
  if (p.hour != 0 || p.minute != 0 || p.second != 0 || p.fraction != 0) {
    out += " " + FormatClock(p.hour, p.minute, p.second, p.fraction);
  }
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
    case Value::Kind::kNull:
      return "";
    case Value::Kind::kBool:
      return v.as_bool() ? "True" : "False";
    case Value::Kind::kInt:
      return std::to_string(v.as_int());
    case Value::Kind::kCurrency: {
      int64_t c = v.as_int();
      unsigned __int128 mag =
          c < 0 ? static_cast<unsigned __int128>(-(c + 1)) + 1 : static_cast<unsigned __int128>(c);
      return FormatScaled(c < 0, mag, 4, true);
    }
    case Value::Kind::kFloat:
      return FormatSingle(static_cast<float>(v.as_double()));
    case Value::Kind::kDouble:
      return FormatDouble(v.as_double());
    case Value::Kind::kDateTime:
      return FormatGeneralDate(v.as_double());
    case Value::Kind::kText:
      return v.bytes();
    case Value::Kind::kBinary:
      return "Long binary data";
    case Value::Kind::kGuid:
      return FormatGuid(v.bytes());
    case Value::Kind::kDecimal:
      return FormatScaled(v.negative(), DecimalMagnitude(v), v.scale(), true);
    case Value::Kind::kDateTimeExt:
      return FormatGeneralDateExt(v.ext_ticks());
    case Value::Kind::kComplex: {
      const ComplexList* list = v.complex();
      if (!list) return std::to_string(v.complex_key());
      std::string out;
      for (const ComplexItem& item : list->items) {
        if (!out.empty()) out += "; ";
        out += list->kind == ComplexKind::kAttachment ? item.file_name : TextForm(item.value);
      }
      return out;
    }
  }
  return "";
}

double AccessDateNow() {
  std::time_t t = std::time(nullptr);
  std::tm local{};
  localtime_r(&t, &local);
  DateParts p{local.tm_year + 1900,
              local.tm_mon + 1,
              local.tm_mday,
              local.tm_hour,
              local.tm_min,
              local.tm_sec,
              0};
  return JoinAccessDate(p);
}

}  // namespace jet
