// A column descriptor: the fixed-size entry a table definition keeps for each
// of its columns, and what the engine knows about each column type.
//
// Byte layout (little-endian), Jet 3 and Jet 4/ACE:
//
//   Jet 3  Jet 4  size  field
//   -----  -----  ----  -----------------------------------------------------
//   0x00   0x00   1     type code
//   -      0x01   4     marker, 0x659 in every descriptor
//   0x01   0x05   2     column number (row layout and null-mask bit)
//   0x03   0x07   2     variable-area slot (fixed columns: the next free one)
//   0x05   0x09   2     second number: the column number in user tables,
//                       0 in system tables; not read
//   0x07   -      2     marker, 0x0001 in every descriptor
//   0x09   0x0B   2     collation LCID (written for every type but Decimal)
//   0x0B   -      2     code page of a text column (0: the database's)
//   0x0B   0x0B   1     Decimal: precision      (shares bytes with the LCID
//   0x0C   0x0C   1     Decimal: scale           or the code page)
//   -      0x0B   4     complex column: its ComplexID (over the LCID, the
//                       unknown byte and the sort-order version)
//   -      0x0D   1     unknown, 0
//   -      0x0E   1     sort-order version of the collation
//   0x0D   0x0F   1     flags (kColFixed, kColUpdatable, kColAutonumber, ...)
//   -      0x10   1     extended flags (kColCompressible, 0xC0 calculated)
//   -      0x11   4     unknown, 0
//   0x0E   0x15   2     offset in the fixed area (fixed columns only; other
//                       columns may hold anything here)
//   0x10   0x17   2     length in bytes (text: Jet 3 one a character, Jet 4
//                       two; memo and OLE 0)
//   0x12   0x19         descriptor size
#pragma once

#include <cstdint>
#include <string>

#include "jet/record/value.h"
#include "jet/storage/bytes.h"
#include "jet/storage/format.h"

namespace jet {

// Column descriptor flags.
inline constexpr uint8_t kColFixed = 0x01;
inline constexpr uint8_t kColUpdatable = 0x02;
inline constexpr uint8_t kColAutonumber = 0x04;
inline constexpr uint8_t kColSystem = 0x10;
// Extended flags.
inline constexpr uint8_t kColCompressible = 0x01;

// Where the values of a type live in a row.
enum class TypeStorage : uint8_t {
  kNullMask,   // Yes/No: the value is the column's null-mask bit
  kFixed,      // a value of `size` bytes
  kVariable,   // as many bytes as the value has, up to the column's length
  kLongValue,  // a 12-byte reference; the data in long-value rows
};

struct ColumnTypeInfo {
  ColumnType type;
  TypeStorage storage;
  // kFixed: bytes of a value; kNullMask: the length the descriptor gives
  // (the value takes no room); otherwise 0, the column's length decides.
  uint16_t size;
  // ALTER TABLE ... ADD COLUMN can make a column of the type.
  bool addable;
};

// One row for every type code the engine knows; the rest read as binary.
// clang-format off
inline constexpr ColumnTypeInfo kColumnTypes[] = {
    // type                      storage                   size  addable
    {ColumnType::kBoolean,       TypeStorage::kNullMask,    1,    true},
    {ColumnType::kByte,          TypeStorage::kFixed,       1,    true},
    {ColumnType::kInteger,       TypeStorage::kFixed,       2,    true},
    {ColumnType::kLong,          TypeStorage::kFixed,       4,    true},
    {ColumnType::kCurrency,      TypeStorage::kFixed,       8,    true},
    {ColumnType::kFloat,         TypeStorage::kFixed,       4,    true},
    {ColumnType::kDouble,        TypeStorage::kFixed,       8,    true},
    {ColumnType::kDateTime,      TypeStorage::kFixed,       8,    true},
    {ColumnType::kBinary,        TypeStorage::kVariable,    0,    false},
    {ColumnType::kText,          TypeStorage::kVariable,    0,    true},
    {ColumnType::kOle,           TypeStorage::kLongValue,   0,    true},
    {ColumnType::kMemo,          TypeStorage::kLongValue,   0,    true},
    {ColumnType::kUnknown0D,     TypeStorage::kVariable,    0,    false},
    {ColumnType::kGuid,          TypeStorage::kFixed,       16,   false},
    {ColumnType::kNumeric,       TypeStorage::kFixed,       17,   false},
    {ColumnType::kUnknown11,     TypeStorage::kVariable,    0,    false},
    {ColumnType::kComplex,       TypeStorage::kFixed,       4,    false},
    {ColumnType::kBigInt,        TypeStorage::kFixed,       8,    false},
    {ColumnType::kDateTimeExt,   TypeStorage::kFixed,       42,   false},
};
// clang-format on

// The row for `code`, or null for a code the engine does not know.
constexpr const ColumnTypeInfo* FindColumnType(uint8_t code) {
  for (const auto& info : kColumnTypes) {
    if (static_cast<uint8_t>(info.type) == code) return &info;
  }
  return nullptr;
}

// The row for `type`; types outside the table read as binary.
constexpr const ColumnTypeInfo& TypeInfo(ColumnType type) {
  const ColumnTypeInfo* info = FindColumnType(static_cast<uint8_t>(type));
  return info ? *info : *FindColumnType(static_cast<uint8_t>(ColumnType::kBinary));
}

// Types whose values live in the long-value area (memo, OLE).
constexpr bool IsLongValue(ColumnType t) { return TypeInfo(t).storage == TypeStorage::kLongValue; }
// Types a new column keeps in the variable area of a row.
constexpr bool IsVariableType(ColumnType t) {
  return TypeInfo(t).storage == TypeStorage::kVariable ||
         TypeInfo(t).storage == TypeStorage::kLongValue;
}

// Length in bytes of a fixed column of this type (0 for variable types).
constexpr uint16_t FixedLength(ColumnType type) { return TypeInfo(type).size; }

// One descriptor's fields as stored. Bytes with no known meaning are kept so
// that a descriptor written back is the one read.
struct ColumnDescriptor {
  uint8_t type_code = 0;
  uint16_t number = 0;
  uint16_t var_index = 0;
  uint16_t second_number = 0;
  uint16_t lcid = 0;
  uint16_t code_page = 0;  // Jet 3
  uint8_t precision = 0;
  uint8_t scale = 0;
  int32_t complex_id = 0;  // Jet 4
  uint8_t sort_version = 0;
  uint8_t flags = 0;
  uint8_t ext_flags = 0;
  uint16_t fixed_offset = 0;
  uint16_t length = 0;
  // Unknown bytes, as found: the Jet 4 marker at 0x01 and the bytes at 0x0D
  // and 0x11, the Jet 3 marker at 0x07.
  uint32_t marker = 0x659;
  uint8_t unknown_0d = 0;
  uint32_t unknown_11 = 0;
  uint16_t jet3_marker = 0x0001;

  // Size of a descriptor in the given layout.
  static size_t Size(const Layout& layout) { return layout.col_desc_size; }

  // Reads the descriptor at `offset` of `definition`; throws "damaged" when
  // it does not fit. The bytes the LCID, the code page, the Decimal fields
  // and the complex id share are read as each of them.
  static ColumnDescriptor Read(Bytes definition, size_t offset, const Layout& layout);

  // The descriptor's bytes. Where fields share bytes, the column's type
  // decides: Decimal writes its precision and scale, a complex column its
  // id, any other type its LCID (and, in Jet 3, its code page).
  std::string Encode(const Layout& layout) const;
  // The same bytes written at `out` (Size(layout) of them).
  void Write(MutableBytes out, const Layout& layout) const;
};

}  // namespace jet
