// Little-endian access to byte buffers. Every read is bounds-checked against
// the buffer so that damaged files end in an error, never in a stray read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "jet/storage/error.h"

namespace jet {

using Bytes = std::span<const uint8_t>;
using MutableBytes = std::span<uint8_t>;

inline void CheckRange(Bytes b, size_t off, size_t len, const char* what) {
  if (off > b.size() || len > b.size() - off) {
    ThrowDamaged(std::string(what) + " lies outside its page");
  }
}

inline uint8_t U8(Bytes b, size_t off) {
  CheckRange(b, off, 1, "a field");
  return b[off];
}
inline uint16_t U16(Bytes b, size_t off) {
  CheckRange(b, off, 2, "a field");
  return static_cast<uint16_t>(b[off] | (b[off + 1] << 8));
}
inline uint32_t U24(Bytes b, size_t off) {
  CheckRange(b, off, 3, "a field");
  return b[off] | (b[off + 1] << 8) | (static_cast<uint32_t>(b[off + 2]) << 16);
}
inline uint32_t U32(Bytes b, size_t off) {
  CheckRange(b, off, 4, "a field");
  return b[off] | (b[off + 1] << 8) | (static_cast<uint32_t>(b[off + 2]) << 16) |
         (static_cast<uint32_t>(b[off + 3]) << 24);
}
inline uint64_t U64(Bytes b, size_t off) {
  return U32(b, off) | (static_cast<uint64_t>(U32(b, off + 4)) << 32);
}
inline int16_t I16(Bytes b, size_t off) { return static_cast<int16_t>(U16(b, off)); }
inline int32_t I32(Bytes b, size_t off) { return static_cast<int32_t>(U32(b, off)); }
inline int64_t I64(Bytes b, size_t off) { return static_cast<int64_t>(U64(b, off)); }
inline double F64(Bytes b, size_t off) {
  uint64_t v = U64(b, off);
  double d;
  std::memcpy(&d, &v, 8);
  return d;
}
inline float F32(Bytes b, size_t off) {
  uint32_t v = U32(b, off);
  float f;
  std::memcpy(&f, &v, 4);
  return f;
}

inline void Put16(MutableBytes b, size_t off, uint16_t v) {
  CheckRange(b, off, 2, "a written field");
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
}
inline void Put24(MutableBytes b, size_t off, uint32_t v) {
  CheckRange(b, off, 3, "a written field");
  b[off] = static_cast<uint8_t>(v);
  b[off + 1] = static_cast<uint8_t>(v >> 8);
  b[off + 2] = static_cast<uint8_t>(v >> 16);
}
inline void Put32(MutableBytes b, size_t off, uint32_t v) {
  CheckRange(b, off, 4, "a written field");
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void Put64(MutableBytes b, size_t off, uint64_t v) {
  Put32(b, off, static_cast<uint32_t>(v));
  Put32(b, off + 4, static_cast<uint32_t>(v >> 32));
}
inline void PutF64(MutableBytes b, size_t off, double d) {
  uint64_t v;
  std::memcpy(&v, &d, 8);
  Put64(b, off, v);
}

// Appending to a growing byte string (rows and definitions being built).
inline void Append16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v));
  s.push_back(static_cast<char>(v >> 8));
}
inline void Append32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
}

// A row pointer: low byte the row number, upper three bytes the page.
struct RowId {
  uint32_t page = 0;
  uint8_t row = 0;
  uint32_t Packed() const { return (page << 8) | row; }
  static RowId Unpack(uint32_t v) { return RowId{v >> 8, static_cast<uint8_t>(v & 0xFF)}; }
  friend bool operator==(const RowId&, const RowId&) = default;
  friend auto operator<=>(const RowId&, const RowId&) = default;
};

}  // namespace jet
