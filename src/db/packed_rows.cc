#include "db/packed_rows.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace db::internal {

namespace {

using K = jet::Value::Kind;

void PutU64(std::string& out, uint64_t x) {
  char b[8];
  std::memcpy(b, &x, 8);
  out.append(b, 8);
}

uint64_t GetU64(const char*& p) {
  uint64_t x;
  std::memcpy(&x, p, 8);
  p += 8;
  return x;
}

void PutLength(std::string& out, size_t n) {
  while (n >= 0x80) {
    out.push_back(static_cast<char>(0x80 | (n & 0x7F)));
    n >>= 7;
  }
  out.push_back(static_cast<char>(n));
}

size_t GetLength(const char*& p) {
  size_t n = 0;
  for (int shift = 0;; shift += 7) {
    unsigned char c = static_cast<unsigned char>(*p++);
    n |= static_cast<size_t>(c & 0x7F) << shift;
    if (!(c & 0x80)) return n;
  }
}

std::string GetBytes(const char*& p) {
  size_t n = GetLength(p);
  std::string s(p, n);
  p += n;
  return s;
}

// Moves past one packed value.
void Skip(const char*& p) {
  switch (static_cast<K>(*p++)) {
    case K::kNull:
      return;
    case K::kBool:
    case K::kInt:
    case K::kCurrency:
    case K::kFloat:
    case K::kDouble:
    case K::kDateTime:
    case K::kDateTimeExt:
    case K::kComplex:
      p += 8;
      return;
    case K::kDecimal:
      p += 2;
      [[fallthrough]];
    default:
      p += GetLength(p);
      return;
  }
}

}  // namespace

void PackedRows::Pack(const jet::Value& v, std::string& out) {
  out.push_back(static_cast<char>(v.kind()));
  switch (v.kind()) {
    case K::kNull:
      return;
    case K::kBool:
    case K::kInt:
    case K::kCurrency:
      PutU64(out, static_cast<uint64_t>(v.as_int()));
      return;
    case K::kDateTimeExt:
      PutU64(out, static_cast<uint64_t>(v.ext_ticks()));
      return;
    case K::kComplex:
      // Only the key: the items behind it are not part of a row's identity.
      PutU64(out, static_cast<uint64_t>(v.complex_key()));
      return;
    case K::kFloat:
    case K::kDouble:
    case K::kDateTime: {
      double d = v.as_double();
      if (d == 0) d = 0;  // -0 is 0
      if (std::isnan(d)) d = std::numeric_limits<double>::quiet_NaN();
      uint64_t bits;
      std::memcpy(&bits, &d, 8);
      PutU64(out, bits);
      return;
    }
    case K::kDecimal:
      out.push_back(static_cast<char>(v.negative()));
      out.push_back(static_cast<char>(v.scale()));
      [[fallthrough]];
    default:
      PutLength(out, v.bytes().size());
      out += v.bytes();
      return;
  }
}

void PackedRows::Append(std::string_view packed) {
  starts_.push_back(bytes_.size());
  bytes_ += packed;
}

std::string_view PackedRows::Row(size_t row) const {
  size_t end = row + 1 < starts_.size() ? starts_[row + 1] : bytes_.size();
  return std::string_view(bytes_).substr(starts_[row], end - starts_[row]);
}

jet::Value PackedRows::Get(size_t row, size_t column) const {
  const char* p = bytes_.data() + starts_[row];
  for (size_t i = 0; i < column; ++i) Skip(p);
  K kind = static_cast<K>(*p++);
  switch (kind) {
    case K::kNull:
      return jet::Value::Null();
    case K::kBool:
      return jet::Value::Bool(GetU64(p) != 0);
    case K::kInt:
      return jet::Value::Int(static_cast<int64_t>(GetU64(p)));
    case K::kCurrency:
      return jet::Value::Currency(static_cast<int64_t>(GetU64(p)));
    case K::kFloat:
    case K::kDouble:
    case K::kDateTime: {
      uint64_t bits = GetU64(p);
      double d;
      std::memcpy(&d, &bits, 8);
      if (kind == K::kFloat) return jet::Value::Float(static_cast<float>(d));
      return kind == K::kDouble ? jet::Value::Double(d) : jet::Value::DateTime(d);
    }
    case K::kText:
      return jet::Value::Text(GetBytes(p));
    case K::kGuid:
      return jet::Value::Guid(GetBytes(p));
    case K::kDateTimeExt:
      return jet::Value::DateTimeExt(static_cast<int64_t>(GetU64(p)));
    case K::kComplex:
      return jet::Value::Complex(static_cast<int32_t>(GetU64(p)), nullptr);
    case K::kDecimal: {
      bool negative = *p++ != 0;
      auto scale = static_cast<uint8_t>(*p++);
      return jet::Value::Decimal(negative, GetBytes(p), scale);
    }
    case K::kBinary:
      break;
  }
  return jet::Value::Binary(GetBytes(p));
}

}  // namespace db::internal
