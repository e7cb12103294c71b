#include "cli/import.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "jet/record/text.h"
#include "jet/storage/error.h"

namespace cli {

namespace {

bool ValidUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n;
    if (c < 0x80) {
      n = 0;
    } else if (c >= 0xC2 && c <= 0xDF) {
      n = 1;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2;
    } else if (c >= 0xF0 && c <= 0xF4) {
      n = 3;
    } else {
      return false;
    }
    if (i + n >= s.size() && n > 0) return false;
    for (size_t k = 1; k <= n; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += n + 1;
  }
  return true;
}

std::string Lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trim(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return s.substr(a, b - a);
}

bool ParseLong(const std::string& s, int64_t& out) {
  if (s.empty()) return false;
  size_t i = (s[0] == '-' || s[0] == '+') ? 1 : 0;
  if (i == s.size()) return false;
  for (size_t k = i; k < s.size(); ++k) {
    if (!std::isdigit(static_cast<unsigned char>(s[k]))) return false;
  }
  if (s.size() - i > 18) return false;
  out = std::strtoll(s.c_str(), nullptr, 10);
  return true;
}

// A decimal number: optional sign, digits with at most one point, optional
// exponent. No thousands separators, no hexadecimal, no "inf" or "nan".
bool ParseNumber(const std::string& s, double& out) {
  size_t i = 0;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
  size_t digits = 0;
  bool point = false;
  for (; i < s.size(); ++i) {
    if (std::isdigit(static_cast<unsigned char>(s[i]))) {
      ++digits;
    } else if (s[i] == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    size_t exp = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++exp;
    if (!exp) return false;
  }
  if (i != s.size()) return false;
  errno = 0;
  out = std::strtod(s.c_str(), nullptr);
  return errno != ERANGE && std::isfinite(out);
}

bool ReadInt(const std::string& s, size_t& i, size_t min_digits, size_t max_digits, int& out) {
  size_t start = i;
  out = 0;
  while (i < s.size() && i - start < max_digits && std::isdigit(static_cast<unsigned char>(s[i]))) {
    out = out * 10 + (s[i] - '0');
    ++i;
  }
  return i - start >= min_digits;
}

bool Expect(const std::string& s, size_t& i, char c) {
  if (i < s.size() && s[i] == c) {
    ++i;
    return true;
  }
  return false;
}

[[noreturn]] void Mismatch(const jet::NewColumn& c, const std::string& field, const char* why) {
  throw jet::Error(jet::errnum::kTypeMismatch, "The value '" + field +
                                                   "' cannot be stored in the field '" + c.name +
                                                   "' (" + TypeNameOf(c) + "): " + why + ".");
}

}  // namespace

// Counts bytes and lines as they come from the file; a character put back
// is not counted again.
int CsvReader::Get() {
  if (peeked_ != -2) {
    int c = peeked_;
    peeked_ = -2;
    return c;
  }
  int c = std::getc(in_);
  if (c == EOF && std::ferror(in_)) {
    Fail("cannot be read: " + std::string(std::strerror(errno)) + ".");
  }
  if (c != EOF) ++offset_;
  if (c == '\n') ++line_;
  return c;
}

void CsvReader::Fail(const std::string& what) const {
  throw jet::Error(jet::errnum::kGeneric, "'" + name_ + "' " + what);
}

// A byte-order mark: UTF-8 is skipped, UTF-16 refused (its NUL bytes would
// make every name and value wrong).
void CsvReader::Start() {
  started_ = true;
  const int a = Get();
  if (a == 0xEF) {
    if (Get() != 0xBB || Get() != 0xBF) Fail("starts with a broken byte-order mark.");
    return;
  }
  if (a == 0xFF || a == 0xFE) {
    const int b = Get();
    if ((a == 0xFF && b == 0xFE) || (a == 0xFE && b == 0xFF)) {
      Fail("is UTF-16 text; save it as UTF-8 (or Windows-1252) and import it again.");
    }
    // Not a mark after all: both bytes are data. The second goes back into
    // the stream (and is counted again when read), the first is replayed.
    if (b != EOF) {
      std::ungetc(b, in_);
      --offset_;
      if (b == '\n') --line_;
    }
  }
  if (a != EOF) peeked_ = a;
}

void CsvReader::Append(std::string& field, int c, size_t record_bytes) {
  if (c == '\0' && header_) {
    Fail(
        "holds NUL bytes in its first line, so it is not CSV text (UTF-16 text without a "
        "byte-order mark looks like this); save it as UTF-8 and import it again.");
  }
  if (field.size() >= kMaxFieldBytes) {
    Fail("has a field longer than " + std::to_string(kMaxFieldBytes) + " bytes on line " +
         std::to_string(record_line_) + "; that is more than an import takes.");
  }
  if (record_bytes >= kMaxRecordBytes) {
    Fail("has a record longer than " + std::to_string(kMaxRecordBytes) +
         " bytes starting on line " + std::to_string(record_line_) +
         "; that is more than an import takes.");
  }
  field.push_back(static_cast<char>(c));
}

bool CsvReader::Next(std::vector<std::string>& fields) {
  fields.clear();
  if (!started_) Start();
  record_line_ = line_;
  const uint64_t record_start = offset_ - (peeked_ >= 0 ? 1 : 0);
  int c = Get();
  if (c == EOF) return false;
  std::string field;
  auto finish = [&]() {
    if (fields.size() >= kMaxRecordFields) {
      Fail("has more than " + std::to_string(kMaxRecordFields) + " fields on line " +
           std::to_string(record_line_) + ".");
    }
    if (!ValidUtf8(field)) {
      field = jet::CodePageToUtf8(
          std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(field.data()), field.size()),
          1252);
    }
    fields.push_back(std::move(field));
    field.clear();
  };
  auto used = [&] { return static_cast<size_t>(offset_ - record_start); };
  for (;; c = Get()) {
    if (c == EOF) {
      finish();
      header_ = false;
      return true;
    }
    if (c == '"' && field.empty()) {
      // Inside quotes until a lone closing quote.
      for (;;) {
        int d = Get();
        if (d == EOF) {
          throw jet::Error(jet::errnum::kGeneric,
                           "The CSV file ends inside a quoted field that starts on line " +
                               std::to_string(record_line_) + ".");
        }
        if (d == '"') {
          int e = Get();
          if (e == '"') {
            Append(field, '"', used());
            continue;
          }
          peeked_ = e;
          break;
        }
        Append(field, d, used());
      }
      continue;
    }
    if (c == ',') {
      finish();
      continue;
    }
    if (c == '\r' || c == '\n') {
      if (c == '\r') {
        int d = Get();
        if (d != '\n') peeked_ = d;
      }
      finish();
      header_ = false;
      return true;
    }
    Append(field, c, used());
  }
}

bool ParseTypeName(const std::string& text, jet::NewColumn& out) {
  using jet::ColumnType;
  std::string t = Lower(Trim(text));
  out.autonumber = false;
  out.text_chars = 255;
  if (t.rfind("text", 0) == 0) {
    out.type = ColumnType::kText;
    if (t.size() == 4) return true;
    if (t[4] != '(' || t.back() != ')') return false;
    int64_t n;
    if (!ParseLong(t.substr(5, t.size() - 6), n) || n < 1 || n > 255) return false;
    out.text_chars = static_cast<uint16_t>(n);
    return true;
  }
  static const std::pair<const char*, ColumnType> kNames[] = {
      {"memo", ColumnType::kMemo},         {"byte", ColumnType::kByte},
      {"integer", ColumnType::kInteger},   {"long", ColumnType::kLong},
      {"counter", ColumnType::kLong},      {"currency", ColumnType::kCurrency},
      {"single", ColumnType::kFloat},      {"double", ColumnType::kDouble},
      {"datetime", ColumnType::kDateTime}, {"yesno", ColumnType::kBoolean},
  };
  for (const auto& [name, type] : kNames) {
    if (t == name) {
      out.type = type;
      out.autonumber = t == "counter";
      return true;
    }
  }
  return false;
}

std::string TypeNameOf(const jet::NewColumn& c) {
  using jet::ColumnType;
  switch (c.type) {
    case ColumnType::kText:
      return "text(" + std::to_string(c.text_chars) + ")";
    case ColumnType::kMemo:
      return "memo";
    case ColumnType::kByte:
      return "byte";
    case ColumnType::kInteger:
      return "integer";
    case ColumnType::kLong:
      return c.autonumber ? "counter" : "long";
    case ColumnType::kCurrency:
      return "currency";
    case ColumnType::kFloat:
      return "single";
    case ColumnType::kDouble:
      return "double";
    case ColumnType::kDateTime:
      return "datetime";
    case ColumnType::kBoolean:
      return "yesno";
    default:
      return jet::TypeName(c.type);
  }
}

bool ParseDateText(const std::string& text, double& out) {
  const std::string s = Trim(text);
  size_t i = 0;
  int y, m, d, hh = 0, mm = 0, ss = 0, ms = 0;
  int first;
  if (!ReadInt(s, i, 1, 4, first)) return false;
  if (i == 4 && Expect(s, i, '-')) {
    y = first;
    if (!ReadInt(s, i, 1, 2, m) || !Expect(s, i, '-') || !ReadInt(s, i, 1, 2, d)) return false;
  } else if (i <= 2 && Expect(s, i, '/')) {
    m = first;
    if (!ReadInt(s, i, 1, 2, d) || !Expect(s, i, '/') || !ReadInt(s, i, 4, 4, y)) return false;
  } else {
    return false;
  }
  if (i < s.size()) {
    if (s[i] != ' ' && s[i] != 'T') return false;
    ++i;
    while (i < s.size() && s[i] == ' ') ++i;
    if (!ReadInt(s, i, 1, 2, hh) || !Expect(s, i, ':') || !ReadInt(s, i, 2, 2, mm)) return false;
    if (Expect(s, i, ':')) {
      if (!ReadInt(s, i, 2, 2, ss)) return false;
      if (Expect(s, i, '.')) {
        size_t start = i;
        int frac;
        if (!ReadInt(s, i, 1, 3, frac)) return false;
        for (size_t k = i - start; k < 3; ++k) frac *= 10;
        ms = frac;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
      }
    }
    while (i < s.size() && s[i] == ' ') ++i;
    std::string rest = Lower(s.substr(i));
    if (rest == "am" || rest == "pm") {
      if (hh < 1 || hh > 12) return false;
      hh = hh % 12 + (rest == "pm" ? 12 : 0);
    } else if (!rest.empty()) {
      return false;
    }
  }
  static const int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 100 || y > 9999 || m < 1 || m > 12 || d < 1 || d > kDays[m - 1]) return false;
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (m == 2 && d == 29 && !leap) return false;
  if (hh > 23 || mm > 59 || ss > 59) return false;
  out = jet::JoinAccessDate(jet::DateParts{y, m, d, hh, mm, ss, ms});
  return true;
}

void TypeGuess::Add(const std::string& field) {
  if (field.empty()) return;
  any_ = true;
  longest_ = std::max(longest_, jet::Utf16Length(field));
  int64_t n;
  double x;
  if (all_long_ && !(ParseLong(field, n) && n >= INT32_MIN && n <= INT32_MAX)) all_long_ = false;
  if (all_number_ && !ParseNumber(field, x)) all_number_ = false;
  if (all_date_ && !ParseDateText(field, x)) all_date_ = false;
}

jet::NewColumn TypeGuess::Result() const {
  jet::NewColumn c;
  if (any_ && all_long_) {
    c.type = jet::ColumnType::kLong;
  } else if (any_ && all_number_) {
    c.type = jet::ColumnType::kDouble;
  } else if (any_ && all_date_) {
    c.type = jet::ColumnType::kDateTime;
  } else if (longest_ > 255) {
    c.type = jet::ColumnType::kMemo;
  } else {
    c.type = jet::ColumnType::kText;
    c.text_chars = 255;
  }
  return c;
}

jet::Value ParseField(const jet::NewColumn& c, const std::string& field) {
  using jet::ColumnType;
  using jet::Value;
  if (field.empty()) return Value::Null();
  const std::string s =
      c.type == ColumnType::kText || c.type == ColumnType::kMemo ? field : Trim(field);
  switch (c.type) {
    case ColumnType::kText:
      if (jet::Utf16Length(s) > c.text_chars) Mismatch(c, field, "it is too long");
      return Value::Text(s);
    case ColumnType::kMemo:
      return Value::Text(s);
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong: {
      int64_t n;
      if (!ParseLong(s, n)) Mismatch(c, field, "it is not a whole number");
      int64_t lo = c.type == ColumnType::kByte      ? 0
                   : c.type == ColumnType::kInteger ? -32768
                                                    : INT32_MIN;
      int64_t hi = c.type == ColumnType::kByte      ? 255
                   : c.type == ColumnType::kInteger ? 32767
                                                    : INT32_MAX;
      if (n < lo || n > hi) Mismatch(c, field, "it is out of range");
      return Value::Int(n);
    }
    case ColumnType::kCurrency: {
      // Exact: whole and fractional digits, up to four decimals.
      size_t i = 0;
      bool negative = false;
      if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
      int64_t units = 0;
      int decimals = -1;
      size_t digits = 0;
      for (; i < s.size(); ++i) {
        if (s[i] == '.' && decimals < 0) {
          decimals = 0;
          continue;
        }
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
          Mismatch(c, field, "it is not a number");
        if (decimals >= 4) Mismatch(c, field, "it has more than four decimals");
        if (units > 92233720368547LL) Mismatch(c, field, "it is out of range");
        units = units * 10 + (s[i] - '0');
        ++digits;
        if (decimals >= 0) ++decimals;
      }
      if (!digits) Mismatch(c, field, "it is not a number");
      for (int k = std::max(decimals, 0); k < 4; ++k) units *= 10;
      return Value::Currency(negative ? -units : units);
    }
    case ColumnType::kFloat:
    case ColumnType::kDouble: {
      double x;
      if (!ParseNumber(s, x)) Mismatch(c, field, "it is not a number");
      if (c.type == ColumnType::kFloat) {
        if (std::fabs(x) > 3.402823466e38) Mismatch(c, field, "it is out of range");
        return Value::Float(static_cast<float>(x));
      }
      return Value::Double(x);
    }
    case ColumnType::kDateTime: {
      double d;
      if (!ParseDateText(s, d)) Mismatch(c, field, "it is not a date");
      return Value::DateTime(d);
    }
    case ColumnType::kBoolean: {
      std::string l = Lower(s);
      if (l == "true" || l == "yes" || l == "1" || l == "-1" || l == "on") return Value::Bool(true);
      if (l == "false" || l == "no" || l == "0" || l == "off") return Value::Bool(false);
      Mismatch(c, field, "it is not yes or no");
    }
    default:
      Mismatch(c, field, "the type cannot be imported");
  }
}

}  // namespace cli
