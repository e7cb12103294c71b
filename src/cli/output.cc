#include "cli/output.h"

#include <openssl/evp.h>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "jet/record/text.h"

namespace cli {

namespace {

char* Put(char* p, std::string_view s) {
  std::memcpy(p, s.data(), s.size());
  return p + s.size();
}

}  // namespace

char* WriteJsNumber(char* p, double d) {
  if (std::isnan(d) || std::isinf(d)) return Put(p, "null");
  if (d == 0) return Put(p, "0");
  // The shortest digits that read back as `d`, then placed the way
  // JavaScript places them.
  char buf[48];
  const char* s = buf;
  const char* end = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific).ptr;
  if (*s == '-') {
    *p++ = '-';
    ++s;
  }
  const char* e = std::find(s, end, 'e');
  const char* x = e + 1;
  bool exp_negative = *x == '-';
  if (*x == '-' || *x == '+') ++x;
  int exp = 0;
  for (; x < end; ++x) exp = exp * 10 + (*x - '0');
  if (exp_negative) exp = -exp;
  char digits[24];
  int k = 0;
  digits[k++] = s[0];
  for (const char* q = s + 2; q < e; ++q) digits[k++] = *q;
  while (k > 1 && digits[k - 1] == '0') --k;
  const int n = exp + 1;
  if (k <= n && n <= 21) {
    p = Put(p, {digits, static_cast<size_t>(k)});
    std::memset(p, '0', n - k);
    return p + (n - k);
  }
  if (0 < n && n <= 21) {
    p = Put(p, {digits, static_cast<size_t>(n)});
    *p++ = '.';
    return Put(p, {digits + n, static_cast<size_t>(k - n)});
  }
  if (-6 < n && n <= 0) {
    p = Put(p, "0.");
    std::memset(p, '0', -n);
    p += -n;
    return Put(p, {digits, static_cast<size_t>(k)});
  }
  *p++ = digits[0];
  if (k > 1) {
    *p++ = '.';
    p = Put(p, {digits + 1, static_cast<size_t>(k - 1)});
  }
  *p++ = 'e';
  *p++ = n - 1 >= 0 ? '+' : '-';
  return std::to_chars(p, p + 8, std::abs(n - 1)).ptr;
}

std::string JsNumber(double d) {
  char buf[kMaxNumberText];
  return std::string(buf, WriteJsNumber(buf, d));
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
  char buf[kMaxNumberText];
  out.append(buf, WriteIsoDate(buf, v));
}

char* WriteIsoDate(char* p, double v) {
  jet::DateParts d = jet::SplitAccessDate(v);
  if (d.year < 0 || d.year > 9999) {
    p += std::snprintf(p, kMaxNumberText - 4, "%04d-%02d-%02d %02d:%02d:%02d", d.year, d.month,
                       d.day, d.hour, d.minute, d.second);
  } else {
    // Digits by hand: dates are the most frequent non-text values of a dump.
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    auto pair = [&](int at, int value) { std::memcpy(p + at, kPairs + 2 * value, 2); };
    pair(0, d.year / 100);
    pair(2, d.year % 100);
    p[4] = '-';
    pair(5, d.month);
    p[7] = '-';
    pair(8, d.day);
    p[10] = ' ';
    pair(11, d.hour);
    p[13] = ':';
    pair(14, d.minute);
    p[16] = ':';
    pair(17, d.second);
    p += 19;
  }
  if (d.millisecond) {
    *p++ = '.';
    *p++ = static_cast<char>('0' + d.millisecond / 100);
    *p++ = static_cast<char>('0' + d.millisecond / 10 % 10);
    *p++ = static_cast<char>('0' + d.millisecond % 10);
  }
  return p;
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

OutBuffer::OutBuffer(std::FILE* file) : file_(file) {}

OutBuffer::~OutBuffer() { Flush(); }

void OutBuffer::Append(std::string_view s) {
  char* p = Room(s.size());
  if (!s.empty()) std::memcpy(p, s.data(), s.size());
  size_ += s.size();
}

void OutBuffer::Grow(size_t n) {
  size_t cap = std::max({cap_ * 2, size_ + n, 2 * kBlock});
  auto data = std::make_unique_for_overwrite<char[]>(cap);
  if (size_) std::memcpy(data.get(), data_.get(), size_);
  data_ = std::move(data);
  cap_ = cap;
}

void OutBuffer::Flush() {
  if (!file_ || !size_) return;
  std::fwrite(data_.get(), 1, size_, file_);
  size_ = 0;
}

namespace {

// Texts are checked for characters to escape eight bytes at a time: most
// need none, and are short.
constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;
constexpr uint64_t kSpaces = 0x20 * kOnes;
inline uint64_t Word(const char* p) {
  uint64_t w;
  std::memcpy(&w, p, 8);
  return w;
}
// Nonzero when a byte of w is zero.
inline uint64_t ZeroBytes(uint64_t w) { return (w - kOnes) & ~w & kHighs; }
// Nonzero when a byte of w is below 0x20.
inline uint64_t ControlBytes(uint64_t w) { return (w - kSpaces) & ~w & kHighs; }

// Nonzero when a byte of w needs an escape.
inline uint64_t CsvEscapes(uint64_t w) { return ZeroBytes(w ^ ('"' * kOnes)); }
inline uint64_t JsonEscapes(uint64_t w) {
  return ZeroBytes(w ^ ('"' * kOnes)) | ZeroBytes(w ^ ('\\' * kOnes)) | ControlBytes(w);
}

// Whether any byte of the text from `at` to the end of `block` needs an
// escape. A last part shorter than a word is read as the end of the word
// before the block's end (bytes already written), with the bytes ahead of the
// text made spaces, which never need one.
template <uint64_t (*Escapes)(uint64_t)>
bool AnyToEscape(std::string_view block, size_t at) {
  static_assert(std::endian::native == std::endian::little);
  const char* p = block.data() + at;
  const char* const end = block.data() + block.size();
  for (; end - p >= 8; p += 8) {
    if (Escapes(Word(p))) return true;
  }
  const size_t left = static_cast<size_t>(end - p);
  if (left == 0) return false;
  if (block.size() >= 8) {
    uint64_t w = Word(end - 8) >> (8 * (8 - left));
    return Escapes(w | (kSpaces << (8 * left)));
  }
  for (; p < end; ++p) {
    uint64_t w = kSpaces;
    std::memcpy(&w, p, 1);
    if (Escapes(w)) return true;
  }
  return false;
}

// As jet::FormatScaled writes currency: four decimals, a sign unless zero.
char* WriteCurrency(char* p, int64_t x) {
  const uint64_t mag = x < 0 ? static_cast<uint64_t>(-(x + 1)) + 1 : static_cast<uint64_t>(x);
  if (x < 0) *p++ = '-';
  p = std::to_chars(p, p + 24, mag / 10000).ptr;
  *p++ = '.';
  uint32_t frac = static_cast<uint32_t>(mag % 10000);
  for (int i = 4; i-- > 0; frac /= 10) p[i] = static_cast<char>('0' + frac % 10);
  return p + 4;
}

}  // namespace

FieldWriter::FieldWriter(jet::Database& db, jet::TableScan& scan,
                         std::vector<const jet::Column*> columns)
    : db_(db), scan_(scan) {
  using T = jet::ColumnType;
  for (const jet::Column* c : columns) {
    Field f{c, Form::kValue, c->code_page ? c->code_page : db.code_page(),
            JsonString(c->name) + ":"};
    // Calculated columns store a wrapped result; Value reads those.
    if (!c->calculated()) {
      switch (c->type) {
        case T::kBoolean:
          f.form = Form::kBool;
          break;
        case T::kText:
          f.form = Form::kText;
          break;
        case T::kMemo:
          f.form = Form::kMemo;
          break;
        case T::kByte:
          f.form = Form::kByte;
          break;
        case T::kInteger:
          f.form = Form::kInteger;
          break;
        case T::kLong:
          f.form = Form::kLong;
          break;
        case T::kBigInt:
          f.form = Form::kBigInt;
          break;
        case T::kCurrency:
          f.form = Form::kCurrency;
          break;
        case T::kFloat:
          f.form = Form::kFloat;
          break;
        case T::kDouble:
          f.form = Form::kDouble;
          break;
        case T::kDateTime:
          f.form = Form::kDateTime;
          break;
        default:
          break;
      }
    }
    fields_.push_back(std::move(f));
  }
}

char* FieldWriter::WriteFixed(char* p, Form form, jet::Bytes raw, bool json) {
  // The sizes jet::DecodeFixedValue needs.
  switch (form) {
    case Form::kByte:
      if (raw.size() < 1) return nullptr;
      return std::to_chars(p, p + kMaxNumberText, raw[0]).ptr;
    case Form::kInteger:
      if (raw.size() < 2) return nullptr;
      return std::to_chars(p, p + kMaxNumberText, jet::I16(raw, 0)).ptr;
    case Form::kLong:
      if (raw.size() < 4) return nullptr;
      return std::to_chars(p, p + kMaxNumberText, jet::I32(raw, 0)).ptr;
    case Form::kBigInt:
      // Quoted in JSON: they can lie beyond a JSON reader's doubles.
      if (raw.size() < 8) return nullptr;
      if (json) *p++ = '"';
      p = std::to_chars(p, p + kMaxNumberText, jet::I64(raw, 0)).ptr;
      if (json) *p++ = '"';
      return p;
    case Form::kCurrency:
      if (raw.size() < 8) return nullptr;
      if (json) *p++ = '"';
      p = WriteCurrency(p, jet::I64(raw, 0));
      if (json) *p++ = '"';
      return p;
    case Form::kFloat:
      if (raw.size() < 4) return nullptr;
      return WriteJsNumber(p, jet::F32(raw, 0));
    case Form::kDouble:
      if (raw.size() < 8) return nullptr;
      return WriteJsNumber(p, jet::F64(raw, 0));
    case Form::kDateTime:
      if (raw.size() < 8) return nullptr;
      if (json) *p++ = '"';
      p = WriteIsoDate(p, jet::F64(raw, 0));
      if (json) *p++ = '"';
      return p;
    default:
      return nullptr;
  }
}

size_t FieldWriter::PutText(OutBuffer& out, const Field& f, jet::Bytes raw) {
  jet::Bytes stored = f.form == Form::kText
                          ? raw
                          : jet::LongValueBytes(db_.pager(), db_.layout(), raw, hold_, chain_);
  out.Push('"');
  char* start = out.Room(stored.size() * jet::kMaxUtf8PerStoredByte + 1);
  size_t at = out.view().size();
  out.Advance(jet::WriteDecodedText(start, stored, db_.layout(), f.code_page));
  return at;
}

void FieldWriter::QuotedText(OutBuffer& out, const Field& f, jet::Bytes raw, bool json) {
  size_t at = PutText(out, f, raw);
  const bool escape =
      json ? AnyToEscape<JsonEscapes>(out.view(), at) : AnyToEscape<CsvEscapes>(out.view(), at);
  if (!escape) {
    out.Push('"');
    return;
  }
  // Quotes (and in JSON control characters) are rare: the text is written
  // again the slow way.
  scratch_.assign(out.view().substr(at));
  out.Truncate(at - 1);
  escaped_.clear();
  if (json) {
    AppendJsonString(escaped_, scratch_);
  } else {
    AppendCsvQuoted(escaped_, scratch_);
  }
  out.Append(escaped_);
}

void FieldWriter::CsvRecord(OutBuffer& out) {
  const jet::RowView& row = scan_.row();
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Field& f = fields_[i];
    // Room for the separator and any number or date.
    char* p = out.Room(kMaxNumberText + 4);
    if (i) *p++ = ',';
    if (f.form == Form::kBool) {
      *p++ = row.NullBit(f.column->number) ? '1' : '0';
      out.Advance(p);
      continue;
    }
    out.Advance(p);
    if (f.form == Form::kValue) {
      CsvFromValue(out, f);
      continue;
    }
    std::optional<jet::Bytes> raw = row.Raw(*f.column);
    if (!raw) continue;  // null: nothing
    if (f.form == Form::kText || f.form == Form::kMemo) {
      QuotedText(out, f, *raw, false);
    } else if (char* end = WriteFixed(p, f.form, *raw, false)) {
      out.Advance(end);
    } else {
      CsvFromValue(out, f);
    }
  }
  out.Push('\n');
}

void FieldWriter::JsonObject(OutBuffer& out) {
  const jet::RowView& row = scan_.row();
  out.Push('{');
  for (size_t i = 0; i < fields_.size(); ++i) {
    const Field& f = fields_[i];
    if (i) out.Push(',');
    out.Append(f.key);
    char* p = out.Room(kMaxNumberText + 4);
    if (f.form == Form::kBool) {
      out.Append(row.NullBit(f.column->number) ? "true" : "false");
      continue;
    }
    if (f.form == Form::kValue) {
      JsonFromValue(out, f);
      continue;
    }
    std::optional<jet::Bytes> raw = row.Raw(*f.column);
    if (!raw) {
      out.Append("null");
    } else if (f.form == Form::kText || f.form == Form::kMemo) {
      QuotedText(out, f, *raw, true);
    } else if (char* end = WriteFixed(p, f.form, *raw, true)) {
      out.Advance(end);
    } else {
      JsonFromValue(out, f);
    }
  }
  out.Push('}');
}

void FieldWriter::CsvFromValue(OutBuffer& out, const Field& f) {
  scratch_.clear();
  AppendCsvField(scratch_, *f.column, scan_.Get(*f.column));
  out.Append(scratch_);
}

void FieldWriter::JsonFromValue(OutBuffer& out, const Field& f) {
  scratch_.clear();
  AppendJsonValue(scratch_, *f.column, scan_.Get(*f.column));
  out.Append(scratch_);
}

}  // namespace cli
