#include "db/sql.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

#include "jet/storage/error.h"

namespace db::sql {
namespace {

using U128 = unsigned __int128;

// ---------------------------------------------------------------------------
// Characters

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
// Bytes of multi-byte UTF-8 characters count as letters so that names such as
// Prénom need no brackets.
bool IsIdentStart(char c) {
  return IsAsciiLetter(c) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsIdentChar(char c) { return IsIdentStart(c) || IsDigit(c); }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// 1-based character position of a byte offset in valid UTF-8.
size_t CharPosition(std::string_view text, size_t offset) {
  size_t chars = 0;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++chars;
  }
  return chars + 1;
}

// Offset of the first byte that does not start a well-formed UTF-8 sequence
// (overlong forms, surrogates and values past U+10FFFF included), or npos.
size_t FindInvalidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len;
    uint32_t cp;
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return i;
    }
    if (i + len > s.size()) return i;
    for (size_t k = 1; k < len; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return i;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
      return i;
    }
    i += len;
  }
  return std::string_view::npos;
}

// A piece of the statement for an error message, cut short at a character
// boundary when long.
std::string Excerpt(std::string_view s) {
  constexpr size_t kMax = 40;
  if (s.size() <= kMax) return std::string(s);
  size_t cut = kMax;
  while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  return std::string(s.substr(0, cut)) + "...";
}

// ---------------------------------------------------------------------------
// Dates

constexpr int kMinYear = 100;
constexpr int kMaxYear = 9999;
constexpr int kMaxSecondDigits = 17;

// Days since 1970-01-01 of a proleptic Gregorian date.
constexpr int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

constexpr int64_t kAccessEpoch = DaysFromCivil(1899, 12, 30);
constexpr int64_t kMinDay = DaysFromCivil(kMinYear, 1, 1) - kAccessEpoch;
constexpr int64_t kMaxDay = DaysFromCivil(kMaxYear, 12, 31) - kAccessEpoch;
constexpr int64_t kSecondsPerDay = 86400;

int DaysInMonth(int y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

U128 Pow10(int k) {
  U128 r = 1;
  while (k-- > 0) r *= 10;
  return r;
}

// p / q rounded to the nearest double, ties to even. Needs q < 2^126.
double RatioToDouble(U128 p, U128 q) {
  if (p == 0) return 0;
  int exponent = 0;
  while (p >= 2 * q) {
    q <<= 1;
    ++exponent;
  }
  while (p < q) {
    p <<= 1;
    --exponent;
  }
  // Now 1 <= p/q < 2: take 53 bits of the quotient by long division.
  uint64_t mantissa = 0;
  for (int i = 0; i < 53; ++i) {
    mantissa <<= 1;
    if (p >= q) {
      mantissa |= 1;
      p -= q;
    }
    p <<= 1;
  }
  // p is now twice the remainder: compare it with q to round.
  if (p > q || (p == q && (mantissa & 1))) ++mantissa;
  return std::ldexp(static_cast<double>(mantissa), exponent - 52);
}

// The Access date for a day (relative to 12/30/1899) and a time of day given
// as whole seconds plus a decimal fraction frac / 10^digits of a second.
double DateValue(int64_t day, int64_t seconds, U128 frac, int digits) {
  const U128 unit = static_cast<U128>(kSecondsPerDay) * Pow10(digits);
  const U128 magnitude = static_cast<U128>(day < 0 ? -day : day) * unit +
                         static_cast<U128>(seconds) * Pow10(digits) + frac;
  double v = RatioToDouble(magnitude, unit);
  return day < 0 ? -v : v;
}

// Reads the text between the two '#' of a date literal. Returns an empty
// string and sets *value, or returns what is wrong.
class DateReader {
 public:
  explicit DateReader(std::string_view s) : s_(s) {}

  std::string Read(double* value) {
    SkipSpaces();
    int first, first_digits;
    if (!ReadNumber(&first, &first_digits)) {
      return "expected a date (m/d/yyyy or yyyy-mm-dd) or a time (h:mm:ss)";
    }
    int64_t day = 0;
    int hour = first, hour_digits = first_digits;
    const bool has_date = Peek() == '/' || Peek() == '-';
    if (has_date) {
      const char sep = s_[i_++];
      int second, second_digits, third, third_digits;
      if (!ReadNumber(&second, &second_digits)) return Expected("a number after '" + Sep(sep));
      if (Peek() != sep) return Expected("'" + std::string(1, sep) + "' after the second number");
      ++i_;
      if (!ReadNumber(&third, &third_digits)) return Expected("a number after '" + Sep(sep));
      int y, m, d, year_digits, month_digits, day_digits;
      if (first_digits >= 3) {
        y = first, m = second, d = third;
        year_digits = first_digits, month_digits = second_digits, day_digits = third_digits;
      } else {
        m = first, d = second, y = third;
        month_digits = first_digits, day_digits = second_digits, year_digits = third_digits;
      }
      if (year_digits > 4 || y < kMinYear || y > kMaxYear) {
        return "the year must be written in full and lie between 100 and 9999";
      }
      if (month_digits > 2 || m < 1 || m > 12) return "there is no month " + std::to_string(m);
      if (day_digits > 2 || d < 1 || d > DaysInMonth(y, m)) {
        return "month " + std::to_string(m) + " of " + std::to_string(y) + " has no day " +
               std::to_string(d);
      }
      day = DaysFromCivil(y, m, d) - kAccessEpoch;
      const bool spaced = SkipSpaces();
      if (AtEnd()) {
        *value = static_cast<double>(day);
        return {};
      }
      if (!spaced) return Expected("a space between the date and the time");
      if (!ReadNumber(&hour, &hour_digits)) return Expected("a time (h:mm:ss) after the date");
    }
    if (Peek() != ':') {
      return Expected(has_date ? "':' after the hour" : "'/', '-' or ':' after the first number");
    }
    ++i_;
    int minute, minute_digits, second = 0, second_digits = 1, frac_digits = 0;
    U128 frac = 0;
    if (!ReadNumber(&minute, &minute_digits)) return Expected("minutes after ':'");
    if (Peek() == ':') {
      ++i_;
      if (!ReadNumber(&second, &second_digits)) return Expected("seconds after ':'");
      if (Peek() == '.') {
        ++i_;
        while (!AtEnd() && IsDigit(s_[i_])) {
          if (++frac_digits > kMaxSecondDigits) {
            return "at most " + std::to_string(kMaxSecondDigits) +
                   " digits may follow the seconds' decimal point";
          }
          frac = frac * 10 + static_cast<unsigned>(s_[i_++] - '0');
        }
        if (frac_digits == 0) return Expected("digits after the seconds' decimal point");
      }
    }
    SkipSpaces();
    int half = 0;  // 1 for AM, 2 for PM
    if (!AtEnd() && IsAsciiLetter(s_[i_])) {
      size_t start = i_;
      while (!AtEnd() && IsAsciiLetter(s_[i_])) ++i_;
      std::string_view word = s_.substr(start, i_ - start);
      if (EqualsIgnoreCase(word, "AM")) {
        half = 1;
      } else if (EqualsIgnoreCase(word, "PM")) {
        half = 2;
      } else {
        return "expected AM or PM after the time, found '" + Excerpt(word) + "'";
      }
      SkipSpaces();
    }
    if (!AtEnd()) return Expected("the end of the date after the time");
    if (hour_digits > 2 || (half == 0 && hour > 23) || (half != 0 && hour > 12)) {
      return "there is no hour " + std::to_string(hour) + (half ? " in AM/PM time" : "");
    }
    if (minute_digits > 2 || minute > 59) return "there is no minute " + std::to_string(minute);
    if (second_digits > 2 || second > 59) return "there is no second " + std::to_string(second);
    if (half == 1 && hour == 12) hour = 0;
    if (half == 2 && hour < 12) hour += 12;
    *value = DateValue(day, hour * 3600 + minute * 60 + second, frac, frac_digits);
    return {};
  }

 private:
  static std::string Sep(char sep) { return std::string(1, sep) + "'"; }
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  bool SkipSpaces() {
    size_t start = i_;
    while (!AtEnd() && IsSpace(s_[i_])) ++i_;
    return i_ > start;
  }
  // Reads a run of digits; the value saturates, the count does not.
  bool ReadNumber(int* value, int* digits) {
    *value = 0;
    *digits = 0;
    while (!AtEnd() && IsDigit(s_[i_])) {
      *value = std::min(*value * 10 + (s_[i_] - '0'), 1000000);
      ++*digits;
      ++i_;
    }
    return *digits > 0;
  }
  std::string Expected(const std::string& what) const {
    if (AtEnd()) return "expected " + what + ", found the end of the literal";
    size_t len = 1;  // the whole UTF-8 character
    while (i_ + len < s_.size() && (static_cast<unsigned char>(s_[i_ + len]) & 0xC0) == 0x80) {
      ++len;
    }
    return "expected " + what + ", found '" + std::string(s_.substr(i_, len)) + "'";
  }

  std::string_view s_;
  size_t i_ = 0;
};

// ---------------------------------------------------------------------------
// Lexer and parser

enum class Tok {
  kEnd,
  kWord,
  kName,
  kString,
  kNumber,
  kDate,
  kLParen,
  kRParen,
  kComma,
  kSemicolon,
  kEquals,
  kStar,
  kOther  // any other character
};

struct Token {
  Tok kind = Tok::kEnd;
  size_t begin = 0;  // byte offsets in the statement
  size_t end = 0;
  std::string value;  // kWord: the word; kName: the name without brackets
  Literal literal;    // kString, kNumber, kDate
};

// Words that start or shape a statement; as bare names they would make the
// grammar ambiguous, so they have to be bracketed.
bool IsReserved(std::string_view word) {
  static constexpr std::string_view kReserved[] = {
      "ADD",    "ALTER",  "AND",   "COLUMN", "CONSTRAINT", "CREATE", "DISTINCT", "DROP",
      "FROM",   "INSERT", "INTO",  "IS",     "NOT",        "NULL",   "OR",       "PRIMARY",
      "SELECT", "SET",    "TABLE", "UPDATE", "VALUES",     "WHERE"};
  for (std::string_view r : kReserved) {
    if (EqualsIgnoreCase(word, r)) return true;
  }
  return false;
}

struct TypeName {
  std::string_view name;
  ColumnType type;
};
constexpr TypeName kTypeNames[] = {
    {"TEXT", ColumnType::kText},
    {"VARCHAR", ColumnType::kText},
    {"CHAR", ColumnType::kText},
    {"MEMO", ColumnType::kMemo},
    {"LONGTEXT", ColumnType::kMemo},
    {"BYTE", ColumnType::kByte},
    {"INTEGER", ColumnType::kInteger},
    {"SHORT", ColumnType::kInteger},
    {"SMALLINT", ColumnType::kInteger},
    {"INTEGER2", ColumnType::kInteger},
    {"LONG", ColumnType::kLong},
    {"INT", ColumnType::kLong},
    {"INTEGER4", ColumnType::kLong},
    {"COUNTER", ColumnType::kCounter},
    {"AUTOINCREMENT", ColumnType::kCounter},
    {"CURRENCY", ColumnType::kCurrency},
    {"MONEY", ColumnType::kCurrency},
    {"SINGLE", ColumnType::kSingle},
    {"REAL", ColumnType::kSingle},
    {"DOUBLE", ColumnType::kDouble},
    {"FLOAT", ColumnType::kDouble},
    {"DATETIME", ColumnType::kDateTime},
    {"DATE", ColumnType::kDateTime},
    {"YESNO", ColumnType::kYesNo},
    {"BIT", ColumnType::kYesNo},
    {"LOGICAL", ColumnType::kYesNo},
};

constexpr int kMaxTextSize = 255;
constexpr int kMaxNesting = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  Statement ParseStatement() {
    size_t bad = FindInvalidUtf8(text_);
    if (bad != std::string_view::npos) Fail(bad, "the text is not valid UTF-8");
    Advance();
    if (IsKeyword("SELECT")) {
      label_ = "SELECT";
      Advance();
      return ParseSelect();
    }
    if (IsKeyword("UPDATE")) {
      label_ = "UPDATE";
      Advance();
      return ParseUpdate();
    }
    if (IsKeyword("INSERT")) {
      label_ = "INSERT INTO";
      Advance();
      return ParseInsert();
    }
    if (IsKeyword("CREATE")) {
      label_ = "CREATE TABLE";
      Advance();
      return ParseCreate();
    }
    if (IsKeyword("ALTER")) {
      label_ = "ALTER TABLE";
      Advance();
      return ParseAlter();
    }
    FailExpected("a statement (ALTER, CREATE, INSERT, SELECT or UPDATE)");
  }

  double ParseDateOnly() {
    size_t bad = FindInvalidUtf8(text_);
    if (bad != std::string_view::npos) Fail(bad, "the text is not valid UTF-8");
    if (text_.empty() || text_[0] != '#') Fail(0, "expected '#' to open a date literal");
    Advance();
    if (tok_.kind != Tok::kDate) FailExpected("a date literal");
    double value = tok_.literal.date_value;
    Advance();
    if (tok_.kind != Tok::kEnd) FailExpected("nothing after the date literal");
    return value;
  }

 private:
  // ---- errors

  [[noreturn]] void Fail(size_t offset, const std::string& what) const {
    std::string message = "Syntax error";
    if (!label_.empty()) message += " in " + label_ + " statement";
    message += " at position " + std::to_string(CharPosition(text_, offset)) + ": " + what + ".";
    throw jet::Error(jet::errnum::kSyntax, message);
  }

  std::string Describe(const Token& t) const {
    std::string_view source = text_.substr(t.begin, t.end - t.begin);
    switch (t.kind) {
      case Tok::kEnd:
        return "the end of the statement";
      case Tok::kWord:
      case Tok::kName:
        return "'" + Excerpt(source) + "'";
      case Tok::kString:
        return "the text " + Excerpt(source);
      case Tok::kNumber:
        return "the number " + Excerpt(source);
      case Tok::kDate:
        return "the date " + Excerpt(source);
      case Tok::kOther:
        if (static_cast<unsigned char>(source[0]) < 0x20 || source[0] == 0x7F) {
          char buf[32];
          std::snprintf(buf, sizeof buf, "the character U+%04X", static_cast<unsigned>(source[0]));
          return buf;
        }
        return "the character '" + std::string(source) + "'";
      default:
        return "'" + std::string(source) + "'";
    }
  }

  [[noreturn]] void FailExpected(const std::string& what) const {
    Fail(tok_.begin, "expected " + what + ", found " + Describe(tok_));
  }

  // ---- lexer

  void Advance() {
    while (pos_ < text_.size() && IsSpace(text_[pos_])) ++pos_;
    tok_ = Token();
    tok_.begin = pos_;
    if (pos_ >= text_.size()) {
      tok_.end = pos_;
      return;
    }
    const char c = text_[pos_];
    const char next = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
    const char after = pos_ + 2 < text_.size() ? text_[pos_ + 2] : '\0';
    if (IsIdentStart(c)) {
      while (pos_ < text_.size() && IsIdentChar(text_[pos_])) ++pos_;
      tok_.kind = Tok::kWord;
      tok_.value = std::string(text_.substr(tok_.begin, pos_ - tok_.begin));
    } else if (IsDigit(c) || (c == '.' && IsDigit(next)) ||
               ((c == '+' || c == '-') && (IsDigit(next) || (next == '.' && IsDigit(after))))) {
      LexNumber();
    } else if (c == '\'' || c == '"') {
      LexString(c);
    } else if (c == '[') {
      size_t close = text_.find(']', pos_ + 1);
      if (close == std::string_view::npos) {
        Fail(pos_, "unterminated name: the closing ']' is missing");
      }
      if (close == pos_ + 1) Fail(pos_, "a name cannot be empty");
      tok_.kind = Tok::kName;
      tok_.value = std::string(text_.substr(pos_ + 1, close - pos_ - 1));
      pos_ = close + 1;
    } else if (c == '#') {
      LexDate();
    } else {
      switch (c) {
        case '(':
          tok_.kind = Tok::kLParen;
          break;
        case ')':
          tok_.kind = Tok::kRParen;
          break;
        case ',':
          tok_.kind = Tok::kComma;
          break;
        case ';':
          tok_.kind = Tok::kSemicolon;
          break;
        case '=':
          tok_.kind = Tok::kEquals;
          break;
        case '*':
          tok_.kind = Tok::kStar;
          break;
        default:
          // Left to the parser, which knows what it expected instead.
          tok_.kind = Tok::kOther;
          while (pos_ + 1 < text_.size() &&
                 (static_cast<unsigned char>(text_[pos_ + 1]) & 0xC0) == 0x80) {
            ++pos_;
          }
          break;
      }
      ++pos_;
    }
    tok_.end = pos_;
  }

  void LexString(char quote) {
    const size_t begin = pos_;
    std::string value;
    size_t i = pos_ + 1;
    for (;;) {
      if (i >= text_.size()) {
        Fail(begin, std::string("unterminated text: the closing ") + quote + " is missing");
      }
      if (text_[i] == quote) {
        if (i + 1 < text_.size() && text_[i + 1] == quote) {
          value += quote;
          i += 2;
          continue;
        }
        ++i;
        break;
      }
      value += text_[i++];
    }
    pos_ = i;
    tok_.kind = Tok::kString;
    tok_.literal.kind = Literal::Kind::kText;
    tok_.literal.source = std::string(text_.substr(begin, i - begin));
    tok_.literal.text = std::move(value);
  }

  void LexDate() {
    const size_t begin = pos_;
    size_t close = text_.find('#', pos_ + 1);
    if (close == std::string_view::npos) {
      Fail(begin, "unterminated date: the closing '#' is missing");
    }
    std::string_view source = text_.substr(begin, close + 1 - begin);
    double value = 0;
    std::string problem = DateReader(source.substr(1, source.size() - 2)).Read(&value);
    if (!problem.empty()) Fail(begin, "invalid date " + Excerpt(source) + ": " + problem);
    pos_ = close + 1;
    tok_.kind = Tok::kDate;
    tok_.literal.kind = Literal::Kind::kDate;
    tok_.literal.source = std::string(source);
    tok_.literal.date_value = value;
  }

  void LexNumber() {
    const size_t begin = pos_;
    size_t i = pos_;
    bool negative = false;
    if (text_[i] == '+' || text_[i] == '-') negative = text_[i++] == '-';
    std::string digits;  // integer and fraction digits, without the point
    int64_t fraction_digits = 0;
    while (i < text_.size() && IsDigit(text_[i])) digits += text_[i++];
    if (i < text_.size() && text_[i] == '.') {
      ++i;
      while (i < text_.size() && IsDigit(text_[i])) {
        digits += text_[i++];
        ++fraction_digits;
      }
    }
    int64_t exponent = 0;
    if (i < text_.size() && (text_[i] == 'e' || text_[i] == 'E')) {
      const size_t mark = i++;
      bool exponent_negative = false;
      if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) {
        exponent_negative = text_[i++] == '-';
      }
      if (i >= text_.size() || !IsDigit(text_[i])) {
        Fail(mark,
             "expected the digits of an exponent after '" + std::string(1, text_[mark]) + "'");
      }
      // Saturating: anything this large over- or underflows a double anyway.
      while (i < text_.size() && IsDigit(text_[i])) {
        exponent = std::min<int64_t>(exponent * 10 + (text_[i++] - '0'), 100000000);
      }
      if (exponent_negative) exponent = -exponent;
    }
    if (i < text_.size() && (IsIdentChar(text_[i]) || text_[i] == '.')) {
      Fail(i, "unexpected character after the number " + Excerpt(text_.substr(begin, i - begin)));
    }

    Literal& lit = tok_.literal;
    lit.kind = Literal::Kind::kNumber;
    lit.source = std::string(text_.substr(begin, i - begin));

    // Exact value: digits * 10^scale, with zeros trimmed on both sides.
    int64_t scale = exponent - fraction_digits;
    size_t lead = digits.find_first_not_of('0');
    if (lead == std::string::npos) {
      lit.is_integer = true;
      lit.int_value = 0;
      lit.double_value = negative ? -0.0 : 0.0;
    } else {
      digits.erase(0, lead);
      size_t last = digits.find_last_not_of('0');
      scale += static_cast<int64_t>(digits.size() - 1 - last);
      digits.erase(last + 1);
      const int64_t magnitude = static_cast<int64_t>(digits.size()) + scale;
      if (scale >= 0 && magnitude <= 19) {
        U128 v = 0;
        for (char d : digits) v = v * 10 + static_cast<unsigned>(d - '0');
        v *= Pow10(static_cast<int>(scale));
        const U128 limit = static_cast<U128>(std::numeric_limits<int64_t>::max()) + negative;
        if (v <= limit) {
          lit.is_integer = true;
          lit.int_value =
              negative ? static_cast<int64_t>(-static_cast<__int128>(v)) : static_cast<int64_t>(v);
        }
      }
      std::string normal = digits + "e" + std::to_string(scale);
      double d = 0;
      auto [end, ec] = std::from_chars(normal.data(), normal.data() + normal.size(), d);
      if (ec == std::errc::result_out_of_range) {
        if (magnitude > 0) Fail(begin, "the number " + Excerpt(lit.source) + " is too large");
        d = 0;
      }
      lit.double_value = negative ? -d : d;
    }
    pos_ = i;
    tok_.kind = Tok::kNumber;
  }

  // ---- grammar helpers

  bool IsKeyword(std::string_view word) const {
    return tok_.kind == Tok::kWord && EqualsIgnoreCase(tok_.value, word);
  }

  void ExpectKeyword(std::string_view word, const std::string& what) {
    if (!IsKeyword(word)) FailExpected(what);
    Advance();
  }

  void Expect(Tok kind, const std::string& what) {
    if (tok_.kind != kind) FailExpected(what);
    Advance();
  }

  std::string ParseName(const std::string& what) {
    if (tok_.kind == Tok::kWord && IsReserved(tok_.value)) {
      Fail(tok_.begin, "expected " + what + ", found the keyword '" + tok_.value + "' (write [" +
                           tok_.value + "] to use it as a name)");
    }
    if (tok_.kind != Tok::kWord && tok_.kind != Tok::kName) FailExpected(what);
    std::string name = std::move(tok_.value);
    Advance();
    return name;
  }

  Literal ParseLiteral(const std::string& context) {
    Literal lit;
    if (tok_.kind == Tok::kString || tok_.kind == Tok::kNumber || tok_.kind == Tok::kDate) {
      lit = std::move(tok_.literal);
    } else if (IsKeyword("TRUE") || IsKeyword("YES") || IsKeyword("ON")) {
      lit.kind = Literal::Kind::kBool;
      lit.bool_value = true;
    } else if (IsKeyword("FALSE") || IsKeyword("NO") || IsKeyword("OFF")) {
      lit.kind = Literal::Kind::kBool;
      lit.bool_value = false;
    } else if (IsKeyword("NULL")) {
      lit.kind = Literal::Kind::kNull;
    } else {
      FailExpected("a value (text, number, #date#, True, False or NULL) " + context);
    }
    if (lit.source.empty()) lit.source = tok_.value;
    Advance();
    return lit;
  }

  // Optional ";" and then nothing.
  void ExpectEnd(const std::string& what) {
    if (tok_.kind == Tok::kSemicolon) {
      Advance();
      if (tok_.kind != Tok::kEnd) FailExpected("nothing after ';'");
      return;
    }
    if (tok_.kind != Tok::kEnd) FailExpected(what);
  }

  // ---- conditions

  Condition ParseWhere() {
    Condition out;
    ParseConjunction(&out, 0);
    return out;
  }

  void ParseConjunction(Condition* out, int depth) {
    for (;;) {
      ParseFactor(out, depth);
      if (IsKeyword("AND")) {
        Advance();
        continue;
      }
      if (IsKeyword("OR")) Fail(tok_.begin, "OR is not supported; terms can only be joined by AND");
      return;
    }
  }

  void ParseFactor(Condition* out, int depth) {
    if (tok_.kind == Tok::kLParen) {
      if (depth >= kMaxNesting) Fail(tok_.begin, "parentheses are nested too deeply");
      Advance();
      ParseConjunction(out, depth + 1);
      Expect(Tok::kRParen, "AND or ')'");
      return;
    }
    Term term;
    term.column = ParseName("a column name or '(' in the condition");
    if (tok_.kind == Tok::kEquals) {
      Advance();
      term.kind = Term::Kind::kEquals;
      term.value = ParseLiteral("after '='");
    } else if (IsKeyword("IS")) {
      Advance();
      if (IsKeyword("NOT")) {
        Advance();
        ExpectKeyword("NULL", "NULL after IS NOT");
        term.kind = Term::Kind::kIsNotNull;
      } else {
        ExpectKeyword("NULL", "NULL or NOT after IS");
        term.kind = Term::Kind::kIsNull;
      }
    } else {
      FailExpected("'=' or IS after the column name");
    }
    out->push_back(std::move(term));
  }

  // WHERE cond, if present, then the end of the statement.
  Condition ParseOptionalWhere(const std::string& expected_otherwise) {
    Condition where;
    if (IsKeyword("WHERE")) {
      Advance();
      where = ParseWhere();
      ExpectEnd("AND or the end of the statement");
    } else {
      ExpectEnd(expected_otherwise);
    }
    return where;
  }

  // ---- statements

  Select ParseSelect() {
    Select s;
    if (IsKeyword("DISTINCT")) {
      s.distinct = true;
      Advance();
    }
    if (tok_.kind == Tok::kStar) {
      s.star = true;
      Advance();
      ExpectKeyword("FROM", "FROM after '*'");
    } else {
      s.columns.push_back(ParseName("a column name or '*'"));
      while (tok_.kind == Tok::kComma) {
        Advance();
        s.columns.push_back(ParseName("a column name after ','"));
      }
      ExpectKeyword("FROM", "',' or FROM after the column name");
    }
    s.table = ParseName("a table name after FROM");
    s.where = ParseOptionalWhere("WHERE or the end of the statement after the table name");
    return s;
  }

  Update ParseUpdate() {
    Update u;
    u.table = ParseName("a table name after UPDATE");
    ExpectKeyword("SET", "SET after the table name");
    do {
      if (!u.assignments.empty()) Advance();
      Assignment a;
      a.column =
          ParseName(u.assignments.empty() ? "a column name after SET" : "a column name after ','");
      Expect(Tok::kEquals, "'=' after column name");
      a.value = ParseLiteral("after '='");
      u.assignments.push_back(std::move(a));
    } while (tok_.kind == Tok::kComma);
    u.where = ParseOptionalWhere("',', WHERE or the end of the statement");
    return u;
  }

  Insert ParseInsert() {
    Insert ins;
    ExpectKeyword("INTO", "INTO after INSERT");
    ins.table = ParseName("a table name after INSERT INTO");
    Expect(Tok::kLParen, "'(' and a column list after the table name");
    ins.columns.push_back(ParseName("a column name"));
    while (tok_.kind == Tok::kComma) {
      Advance();
      ins.columns.push_back(ParseName("a column name after ','"));
    }
    Expect(Tok::kRParen, "',' or ')' after the column name");
    ExpectKeyword("VALUES", "VALUES after the column list");
    const size_t open = tok_.begin;
    Expect(Tok::kLParen, "'(' after VALUES");
    ins.values.push_back(ParseLiteral("in the VALUES list"));
    while (tok_.kind == Tok::kComma) {
      Advance();
      ins.values.push_back(ParseLiteral("after ','"));
    }
    Expect(Tok::kRParen, "',' or ')' after the value");
    if (ins.values.size() != ins.columns.size()) {
      Fail(open, "the column list names " + std::to_string(ins.columns.size()) +
                     " column(s) but VALUES gives " + std::to_string(ins.values.size()) +
                     " value(s)");
    }
    ExpectEnd("the end of the statement after ')'");
    return ins;
  }

  DeclaredType ParseType() {
    DeclaredType declared;
    const std::string kTypes =
        "a column type (TEXT, MEMO, BYTE, INTEGER, LONG, COUNTER, CURRENCY, SINGLE, DOUBLE, "
        "DATETIME or YESNO)";
    if (tok_.kind != Tok::kWord) FailExpected(kTypes);
    const TypeName* found = nullptr;
    for (const TypeName& t : kTypeNames) {
      if (EqualsIgnoreCase(tok_.value, t.name)) {
        found = &t;
        break;
      }
    }
    if (found == nullptr) FailExpected(kTypes);
    declared.type = found->type;
    declared.name = tok_.value;
    Advance();
    if (tok_.kind == Tok::kLParen) {
      if (declared.type != ColumnType::kText) {
        Fail(tok_.begin, "the type " + declared.name + " takes no size");
      }
      Advance();
      const Literal& n = tok_.literal;
      if (tok_.kind != Tok::kNumber || !n.is_integer ||
          n.source.find_first_not_of("0123456789") != std::string::npos || n.int_value < 1 ||
          n.int_value > kMaxTextSize) {
        FailExpected("a text size from 1 to " + std::to_string(kMaxTextSize));
      }
      declared.size = static_cast<int>(n.int_value);
      Advance();
      Expect(Tok::kRParen, "')' after the size");
    }
    return declared;
  }

  // name type [NOT NULL] [PRIMARY KEY], the two in either order. Sets
  // *key_at to the position of PRIMARY when there is one.
  ColumnDef ParseColumnDef(const std::string& what, size_t* key_at) {
    ColumnDef col;
    col.name = ParseName(what);
    col.type = ParseType();
    for (;;) {
      if (IsKeyword("NOT")) {
        if (col.not_null) Fail(tok_.begin, "NOT NULL is given twice");
        Advance();
        ExpectKeyword("NULL", "NULL after NOT");
        col.not_null = true;
      } else if (IsKeyword("PRIMARY")) {
        if (col.primary_key) Fail(tok_.begin, "PRIMARY KEY is given twice");
        *key_at = tok_.begin;
        Advance();
        ExpectKeyword("KEY", "KEY after PRIMARY");
        col.primary_key = true;
      } else {
        return col;
      }
    }
  }

  CreateTable ParseCreate() {
    CreateTable c;
    ExpectKeyword("TABLE", "TABLE after CREATE");
    c.table = ParseName("a table name after CREATE TABLE");
    Expect(Tok::kLParen, "'(' after the table name");
    bool has_key = false;
    for (;;) {
      if (IsKeyword("CONSTRAINT")) {
        const size_t at = tok_.begin;
        Advance();
        PrimaryKeyConstraint key;
        key.name = ParseName("a constraint name after CONSTRAINT");
        ExpectKeyword("PRIMARY", "PRIMARY KEY after the constraint name");
        ExpectKeyword("KEY", "KEY after PRIMARY");
        Expect(Tok::kLParen, "'(' after PRIMARY KEY");
        key.columns.push_back(ParseName("a column name"));
        while (tok_.kind == Tok::kComma) {
          Advance();
          key.columns.push_back(ParseName("a column name after ','"));
        }
        Expect(Tok::kRParen, "',' or ')' after the column name");
        if (has_key) Fail(at, "the table has a primary key already");
        has_key = true;
        c.primary_key = std::move(key);
        if (tok_.kind != Tok::kComma && tok_.kind != Tok::kRParen) {
          FailExpected("',' or ')' after the constraint");
        }
      } else {
        size_t key_at = 0;
        ColumnDef col = ParseColumnDef("a column name or CONSTRAINT", &key_at);
        if (col.primary_key) {
          if (has_key) Fail(key_at, "the table has a primary key already");
          has_key = true;
        }
        c.columns.push_back(std::move(col));
        if (tok_.kind != Tok::kComma && tok_.kind != Tok::kRParen) {
          FailExpected("NOT NULL, PRIMARY KEY, ',' or ')' after the column type");
        }
      }
      if (tok_.kind == Tok::kRParen) break;
      Advance();
    }
    if (c.columns.empty()) Fail(tok_.begin, "the table needs at least one column");
    Advance();
    ExpectEnd("the end of the statement after ')'");
    return c;
  }

  Statement ParseAlter() {
    ExpectKeyword("TABLE", "TABLE after ALTER");
    std::string table = ParseName("a table name after ALTER TABLE");
    if (IsKeyword("DROP")) {
      Advance();
      if (IsKeyword("COLUMN")) Advance();
      AlterDrop drop;
      drop.table = std::move(table);
      drop.column = ParseName("a column name after DROP");
      ExpectEnd("the end of the statement after the column name");
      return drop;
    }
    if (IsKeyword("ADD")) {
      Advance();
      if (IsKeyword("COLUMN")) Advance();
      AlterAdd add;
      add.table = std::move(table);
      size_t key_at = 0;
      add.column = ParseColumnDef("a column name after ADD", &key_at);
      ExpectEnd("NOT NULL, PRIMARY KEY or the end of the statement");
      return add;
    }
    FailExpected("ADD or DROP after the table name");
  }

  std::string_view text_;
  size_t pos_ = 0;
  Token tok_;
  std::string label_;  // the statement being read, for error messages
};

}  // namespace

Statement Parse(std::string_view text) { return Parser(text).ParseStatement(); }

double ParseDate(std::string_view literal) { return Parser(literal).ParseDateOnly(); }

std::string QuoteName(std::string_view name) {
  if (name.empty() || name.find(']') != std::string_view::npos) {
    throw jet::Error(jet::errnum::kSyntax,
                     "The name '" + std::string(name) + "' cannot be written in brackets.");
  }
  return "[" + std::string(name) + "]";
}

std::string QuoteText(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  out += '\'';
  return out;
}

std::string FormatDate(double date) {
  const double whole = std::trunc(date);
  if (!std::isfinite(date) || whole < static_cast<double>(kMinDay) ||
      whole > static_cast<double>(kMaxDay)) {
    throw jet::Error(jet::errnum::kTypeMismatch,
                     "The value " + std::to_string(date) + " is not a date between 1/1/" +
                         std::to_string(kMinYear) + " and 12/31/" + std::to_string(kMaxYear) + ".");
  }
  const int64_t day = static_cast<int64_t>(whole);
  // Between -1 and 0 the sign carries no meaning a literal could express.
  const double target = day == 0 ? std::fabs(date) : date;
  int year, month, mday;
  CivilFromDays(day + kAccessEpoch, &year, &month, &mday);

  // The time of day, exactly: fraction = mantissa / 2^shift.
  const double fraction = std::fabs(date - whole);
  uint64_t mantissa = 0;
  int shift = 0;
  if (fraction > 0) {
    int e;
    const double m = std::frexp(fraction, &e);
    mantissa = static_cast<uint64_t>(std::ldexp(m, 53));
    shift = 53 - e;
  }

  std::string best;
  for (int digits = 0; digits <= kMaxSecondDigits; digits = digits == 0 ? 3 : digits + 1) {
    const U128 unit = Pow10(digits);
    const U128 per_day = static_cast<U128>(kSecondsPerDay) * unit;
    // Nearest multiple of 10^-digits seconds.
    U128 n = 0;
    if (mantissa != 0 && shift < 128) {
      const U128 product = static_cast<U128>(mantissa) * per_day;
      n = (product >> shift) + ((product >> (shift - 1)) & 1);
    }
    if (n >= per_day) continue;  // rounds up to the next midnight
    const int64_t seconds = static_cast<int64_t>(n / unit);
    U128 frac = n % unit;
    char buf[96];
    std::snprintf(buf, sizeof buf, "#%d/%d/%04d %d:%02d:%02d", month, mday, year,
                  static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                  static_cast<int>(seconds % 60));
    std::string text = buf;
    if (digits > 0) {
      std::string f(static_cast<size_t>(digits), '0');
      for (int i = digits - 1; i >= 0; --i) {
        f[static_cast<size_t>(i)] = static_cast<char>('0' + static_cast<int>(frac % 10));
        frac /= 10;
      }
      text += "." + f;
    }
    text += "#";
    if (DateValue(day, seconds, n % unit, digits) == target) return text;
    best = std::move(text);
  }
  return best;
}

}  // namespace db::sql
