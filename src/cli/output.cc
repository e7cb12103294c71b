#include "cli/output.h"

#include <openssl/evp.h>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace cli {

std::string JsNumber(double d) {
  if (std::isnan(d)) return "null";
  if (std::isinf(d)) return "null";
  if (d == 0) return "0";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
  std::string s(buf, res.ptr);
  bool neg = s[0] == '-';
  if (neg) s.erase(0, 1);
  size_t e = s.find('e');
  int exp = std::stoi(s.substr(e + 1));
  std::string digits = s.substr(0, 1) + (e > 2 ? s.substr(2, e - 2) : "");
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int k = static_cast<int>(digits.size());
  int n = exp + 1;
  std::string out = neg ? "-" : "";
  if (k <= n && n <= 21) {
    out += digits + std::string(n - k, '0');
  } else if (0 < n && n <= 21) {
    out += digits.substr(0, n) + "." + digits.substr(n);
  } else if (-6 < n && n <= 0) {
    out += "0." + std::string(-n, '0') + digits;
  } else {
    out += digits.substr(0, 1);
    if (k > 1) out += "." + digits.substr(1);
    out += "e";
    out += (n - 1 >= 0 ? "+" : "-");
    out += std::to_string(std::abs(n - 1));
  }
  return out;
}

std::string JsonString(std::string_view s) {
  std::string out;
  AppendJsonString(out, s);
  return out;
}

void AppendJsonString(std::string& out, std::string_view s) {
  out.reserve(out.size() + s.size() + 2);
  out.push_back('"');
  size_t run = 0;  // start of the characters not yet copied
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      default: {
        char buf[8];
        std::snprintf(buf, sizeof buf, "\\u%04x", c);
        out += buf;
      }
    }
  }
  out.append(s.data() + run, s.size() - run);
  out.push_back('"');
}

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out = "0x";
  out.reserve(2 + bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

std::string IsoDate(double v) {
  std::string out;
  AppendIsoDate(out, v);
  return out;
}

void AppendIsoDate(std::string& out, double v) {
  jet::DateParts p = jet::SplitAccessDate(v);
  if (p.year < 0 || p.year > 9999) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
    out += buf;
  } else {
    // Digits by hand: dates are the most frequent non-text values of a dump.
    char buf[19];
    auto put = [&](int at, int value, int width) {
      for (int i = width - 1; i >= 0; --i, value /= 10)
        buf[at + i] = static_cast<char>('0' + value % 10);
    };
    put(0, p.year, 4);
    buf[4] = '-';
    put(5, p.month, 2);
    buf[7] = '-';
    put(8, p.day, 2);
    buf[10] = ' ';
    put(11, p.hour, 2);
    buf[13] = ':';
    put(14, p.minute, 2);
    buf[16] = ':';
    put(17, p.second, 2);
    out.append(buf, sizeof buf);
  }
  if (p.millisecond) {
    char ms[4] = {'.', static_cast<char>('0' + p.millisecond / 100),
                  static_cast<char>('0' + p.millisecond / 10 % 10),
                  static_cast<char>('0' + p.millisecond % 10)};
    out.append(ms, 4);
  }
}

std::string IsoDateExt(int64_t ticks) {
  jet::DateTimeExtParts p = jet::SplitDateTimeExt(ticks);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%07d", p.year, p.month, p.day,
                p.hour, p.minute, p.second, p.fraction);
  return buf;
}

std::string Sha256Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data.data(), data.size(), digest, &size, EVP_sha256(), nullptr) != 1) {
    throw std::runtime_error("SHA-256 failed");
  }
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out.push_back(digits[digest[i] >> 4]);
    out.push_back(digits[digest[i] & 15]);
  }
  return out;
}

namespace {

std::string ComplexJson(const jet::Value& v) {
  const jet::ComplexList* list = v.complex();
  if (!list) return std::to_string(v.complex_key());
  jet::Column value_column;
  value_column.type = list->value_type;
  jet::Column date_column;
  date_column.type = jet::ColumnType::kDateTime;
  std::string out = "[";
  for (const jet::ComplexItem& item : list->items) {
    if (out.size() > 1) out += ",";
    switch (list->kind) {
      case jet::ComplexKind::kAttachment:
        out += "{\"name\":" + JsonString(item.file_name) +
               ",\"type\":" + JsonString(item.file_type) +
               ",\"size\":" + std::to_string(item.file_data.size()) + ",\"sha256\":\"" +
               Sha256Hex(item.file_data) + "\"}";
        break;
      case jet::ComplexKind::kVersionHistory:
        out += "{\"value\":" + JsonValue(value_column, item.value) +
               ",\"modified\":" + JsonValue(date_column, item.modified) + "}";
        break;
      case jet::ComplexKind::kMultiValue:
      case jet::ComplexKind::kUnknown:
        out += JsonValue(value_column, item.value);
        break;
    }
  }
  return out + "]";
}

std::string ScaledText(const jet::Column& c, const jet::Value& v) {
  using K = jet::Value::Kind;
  if (v.kind() == K::kCurrency) {
    int64_t x = v.as_int();
    unsigned __int128 mag =
        x < 0 ? static_cast<unsigned __int128>(-(x + 1)) + 1 : static_cast<unsigned __int128>(x);
    return jet::FormatScaled(x < 0, mag, 4, false);
  }
  return jet::FormatScaled(v.negative(), jet::DecimalMagnitude(v), v.scale(), false);
}

}  // namespace

std::string JsonValue(const jet::Column& c, const jet::Value& v) {
  std::string out;
  AppendJsonValue(out, c, v);
  return out;
}

namespace {

void AppendInt(std::string& out, int64_t i) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, i);
  out.append(buf, res.ptr);
}

// Quoted with inner quotes doubled.
void AppendCsvQuoted(std::string& out, std::string_view s) {
  out.push_back('"');
  size_t start = 0;
  for (size_t q; (q = s.find('"', start)) != std::string_view::npos; start = q + 1) {
    out.append(s.data() + start, q + 1 - start);
    out.push_back('"');
  }
  out.append(s.data() + start, s.size() - start);
  out.push_back('"');
}

}  // namespace

void AppendJsonValue(std::string& out, const jet::Column& c, const jet::Value& v) {
  using K = jet::Value::Kind;
  switch (v.kind()) {
    case K::kNull:
      out += "null";
      return;
    case K::kBool:
      out += v.as_bool() ? "true" : "false";
      return;
    case K::kInt:
      if (c.value_type() == jet::ColumnType::kBigInt) {
        out.push_back('"');
        AppendInt(out, v.as_int());
        out.push_back('"');
      } else {
        AppendInt(out, v.as_int());
      }
      return;
    case K::kFloat:
    case K::kDouble:
      out += JsNumber(v.as_double());
      return;
    case K::kCurrency:
    case K::kDecimal:
      out += "\"" + ScaledText(c, v) + "\"";
      return;
    case K::kDateTime:
      out.push_back('"');
      AppendIsoDate(out, v.as_double());
      out.push_back('"');
      return;
    case K::kText:
      AppendJsonString(out, v.bytes());
      return;
    case K::kBinary:
      out += "\"" + Hex(v.bytes()) + "\"";
      return;
    case K::kGuid:
      out += "\"" + jet::FormatGuid(v.bytes()) + "\"";
      return;
    case K::kDateTimeExt:
      out += "\"" + IsoDateExt(v.ext_ticks()) + "\"";
      return;
    case K::kComplex:
      out += ComplexJson(v);
      return;
  }
  out += "null";
}

std::string CsvField(const jet::Column& c, const jet::Value& v) {
  std::string out;
  AppendCsvField(out, c, v);
  return out;
}

// Text is always quoted, so that an empty text differs from NULL (nothing);
// other values only when they hold a separator, a quote or a line break.
void AppendCsvField(std::string& out, const jet::Column& c, const jet::Value& v) {
  using K = jet::Value::Kind;
  switch (v.kind()) {
    case K::kNull:
      return;
    case K::kBool:
      out.push_back(v.as_bool() ? '1' : '0');
      return;
    case K::kInt:
      AppendInt(out, v.as_int());
      return;
    case K::kDateTime:
      AppendIsoDate(out, v.as_double());
      return;
    case K::kText:
      AppendCsvQuoted(out, v.bytes());
      return;
    default:
      break;
  }
  std::string s;
  switch (v.kind()) {
    case K::kFloat:
    case K::kDouble:
      s = JsNumber(v.as_double());
      break;
    case K::kCurrency:
    case K::kDecimal:
      s = ScaledText(c, v);
      break;
    case K::kBinary:
      s = Hex(v.bytes());
      break;
    case K::kGuid:
      s = jet::FormatGuid(v.bytes());
      break;
    case K::kDateTimeExt:
      s = IsoDateExt(v.ext_ticks());
      break;
    case K::kComplex:
      s = ComplexJson(v);  // the list, as in the JSON dump
      break;
    default:
      s = v.bytes();
  }
  if (s.find_first_of(",\"\r\n") == std::string::npos) {
    out += s;
  } else {
    AppendCsvQuoted(out, s);
  }
}

}  // namespace cli
