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
  out.reserve(s.size() + 2);
  out.push_back('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out.push_back('"');
  return out;
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
  jet::DateParts p = jet::SplitAccessDate(v);
  char buf[64];
  if (p.millisecond) {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second, p.millisecond);
  } else {
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second);
  }
  return buf;
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
    unsigned __int128 mag = x < 0 ? static_cast<unsigned __int128>(-(x + 1)) + 1
                                  : static_cast<unsigned __int128>(x);
    return jet::FormatScaled(x < 0, mag, 4, false);
  }
  return jet::FormatScaled(v.negative(), jet::DecimalMagnitude(v), v.scale(), false);
}

}  // namespace

std::string JsonValue(const jet::Column& c, const jet::Value& v) {
  using K = jet::Value::Kind;
  switch (v.kind()) {
    case K::kNull: return "null";
    case K::kBool: return v.as_bool() ? "true" : "false";
    case K::kInt:
      if (c.value_type() == jet::ColumnType::kBigInt) {
        return "\"" + std::to_string(v.as_int()) + "\"";
      }
      return std::to_string(v.as_int());
    case K::kFloat:
    case K::kDouble: return JsNumber(v.as_double());
    case K::kCurrency:
    case K::kDecimal: return "\"" + ScaledText(c, v) + "\"";
    case K::kDateTime: return "\"" + IsoDate(v.as_double()) + "\"";
    case K::kText: return JsonString(v.bytes());
    case K::kBinary: return "\"" + Hex(v.bytes()) + "\"";
    case K::kGuid: return "\"" + jet::FormatGuid(v.bytes()) + "\"";
    case K::kDateTimeExt: return "\"" + IsoDateExt(v.ext_ticks()) + "\"";
    case K::kComplex: return ComplexJson(v);
  }
  return "null";
}

std::string CsvField(const jet::Column& c, const jet::Value& v) {
  using K = jet::Value::Kind;
  std::string s;
  switch (v.kind()) {
    case K::kNull: return "";
    case K::kBool: return v.as_bool() ? "1" : "0";
    case K::kFloat:
    case K::kDouble: s = JsNumber(v.as_double()); break;
    case K::kCurrency:
    case K::kDecimal: s = ScaledText(c, v); break;
    case K::kDateTime: s = IsoDate(v.as_double()); break;
    case K::kBinary: s = Hex(v.bytes()); break;
    case K::kGuid: s = jet::FormatGuid(v.bytes()); break;
    case K::kInt: s = std::to_string(v.as_int()); break;
    case K::kDateTimeExt: s = IsoDateExt(v.ext_ticks()); break;
    case K::kComplex: s = jet::TextForm(v); break;
    default: s = v.bytes();
  }
  if (s.find_first_of(",\"\r\n") == std::string::npos && v.kind() != K::kText) return s;
  std::string out = "\"";
  for (char ch : s) {
    if (ch == '"') out += "\"\"";
    else out.push_back(ch);
  }
  return out + "\"";
}

}  // namespace cli
