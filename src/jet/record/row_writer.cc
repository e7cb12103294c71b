#include "jet/record/row_writer.h"

#include <cmath>
#include <cstring>

#include "jet/record/text.h"
#include "jet/storage/bytes.h"
#include "jet/storage/error.h"

namespace jet {

namespace {

[[noreturn]] void Mismatch(const Column& c) {
  throw Error(errnum::kTypeMismatch,
              "Data type mismatch: the value cannot be stored in the column '" + c.name + "'.");
}

}  // namespace

std::string EncodeText(const Column& c, std::string_view utf8, const Layout& L,
                       uint16_t code_page) {
  if (L.jet3) return Utf8ToCodePage(utf8, c.code_page ? c.code_page : code_page);
  // Access compresses text columns that allow it, and short memo values.
  bool may = c.type == ColumnType::kMemo || c.compressible();
  return EncodeUcs2Text(utf8, may);
}

std::string EncodeValue(const Column& c, const Value& v, const Layout& L, uint16_t code_page) {
  std::string out;
  auto fixed = [&](uint64_t bits, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char>(bits >> (8 * i)));
  };
  using K = Value::Kind;
  switch (c.type) {
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kBigInt: {
      if (v.kind() != K::kInt && v.kind() != K::kBool) Mismatch(c);
      int64_t x = v.kind() == K::kBool ? (v.as_bool() ? -1 : 0) : v.as_int();
      const int n = FixedLength(c.type);
      if (n < 8) {
        int64_t lo = c.type == ColumnType::kByte ? 0 : -(int64_t{1} << (8 * n - 1));
        int64_t hi = c.type == ColumnType::kByte ? 255 : (int64_t{1} << (8 * n - 1)) - 1;
        if (x < lo || x > hi) {
          throw Error(errnum::kTypeMismatch, "The value " + std::to_string(x) +
                                                 " is out of range for the column '" + c.name +
                                                 "'.");
        }
      }
      fixed(static_cast<uint64_t>(x), n);
      return out;
    }
    case ColumnType::kCurrency:
      if (v.kind() == K::kCurrency || v.kind() == K::kInt) {
        int64_t units = v.kind() == K::kCurrency ? v.as_int() : v.as_int() * 10000;
        fixed(static_cast<uint64_t>(units), 8);
        return out;
      }
      Mismatch(c);
    case ColumnType::kFloat:
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      double d;
      if (v.kind() == K::kDouble || v.kind() == K::kFloat || v.kind() == K::kDateTime) {
        d = v.as_double();
      } else if (v.kind() == K::kInt) {
        d = static_cast<double>(v.as_int());
      } else {
        Mismatch(c);
      }
      if (c.type == ColumnType::kFloat) {
        float f = static_cast<float>(d);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        fixed(bits, 4);
      } else {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        fixed(bits, 8);
      }
      return out;
    }
    case ColumnType::kText:
    case ColumnType::kMemo:
      if (v.kind() != K::kText) Mismatch(c);
      out = EncodeText(c, v.bytes(), L, code_page);
      if (c.type == ColumnType::kText) {
        // Jet 4 stores UTF-16, two bytes a unit, and a character beyond the
        // first plane takes two units; a Jet 3 code page has a byte a character.
        size_t chars = L.jet3 ? Utf8Length(v.bytes()) : Utf16Length(v.bytes());
        size_t max_chars = L.jet3 ? c.length : c.length / 2u;
        if (c.length && chars > max_chars) {
          throw Error(errnum::kGeneric, "The text is too long for the column '" + c.name + "' (" +
                                            std::to_string(max_chars) + " characters at most).");
        }
      }
      return out;
    case ColumnType::kGuid:
      if (v.kind() != K::kGuid || v.bytes().size() != 16) Mismatch(c);
      return v.bytes();
    case ColumnType::kNumeric: {
      // Sign byte, then the 128-bit magnitude as four little-endian words,
      // the most significant first.
      if (v.kind() != K::kDecimal || v.bytes().size() != 16 || v.scale() != c.scale) Mismatch(c);
      out.push_back(v.negative() ? '\x80' : '\0');
      const std::string& m = v.bytes();
      for (int w = 0; w < 4; ++w) {
        for (int k = 3; k >= 0; --k) out.push_back(m[4 * w + k]);
      }
      return out;
    }
    case ColumnType::kBinary:
    case ColumnType::kOle:
      if (v.kind() != K::kBinary) Mismatch(c);
      return v.bytes();
    default:
      Mismatch(c);
  }
}

std::string EncodeRow(const TableDef& t, const Layout& L, const RowCells& rc) {
  const uint16_t ncols = t.max_cols;
  const uint16_t nvar = t.var_cols;
  const uint32_t cs = L.row_count_size;
  std::string row;
  if (cs == 1) {
    row.push_back(static_cast<char>(ncols));
  } else {
    Append16(row, ncols);
  }
  // Fixed area: as long as the furthest live fixed column.
  std::string fixed_area(t.fixed_area, '\0');
  std::vector<const std::string*> var(nvar, nullptr);
  std::string mask((ncols + 7) / 8, '\0');
  for (const Column& c : t.columns) {
    const RowCells::Cell* cell = c.number < rc.cells.size() ? &rc.cells[c.number] : nullptr;
    if (!cell || !cell->present) continue;
    mask[c.number / 8] = static_cast<char>(mask[c.number / 8] | (1 << (c.number % 8)));
    if (c.type == ColumnType::kBoolean) continue;
    if (c.fixed()) {
      if (cell->bytes.size() != c.length || c.fixed_offset + c.length > fixed_area.size()) {
        ThrowDamaged("a fixed value does not match its column");
      }
      std::memcpy(fixed_area.data() + c.fixed_offset, cell->bytes.data(), c.length);
    } else {
      if (c.var_index >= nvar) ThrowDamaged("a variable column lies beyond the table's slots");
      var[c.var_index] = &cell->bytes;
    }
  }
  row += fixed_area;
  if (nvar == 0) {
    row += mask;
    while (row.size() < 5) row.insert(row.size() - mask.size(), 1, '\0');
    if (row.size() > L.max_row) throw Error(errnum::kGeneric, "The record is too large.");
    return row;
  }
  std::vector<uint32_t> offsets(nvar + 1);
  for (uint16_t i = 0; i < nvar; ++i) {
    offsets[i] = static_cast<uint32_t>(row.size());
    if (var[i]) row += *var[i];
  }
  offsets[nvar] = static_cast<uint32_t>(row.size());
  if (cs == 2) {
    uint32_t tail = 2 + 2u * nvar + 2 + static_cast<uint32_t>(mask.size());
    while (row.size() + tail < 5) row.push_back('\0');
    if (row.size() + tail > L.max_row) throw Error(errnum::kGeneric, "The record is too large.");
    Append16(row, static_cast<uint16_t>(offsets[nvar]));
    for (int i = nvar - 1; i >= 0; --i) Append16(row, static_cast<uint16_t>(offsets[i]));
    Append16(row, nvar);
    row += mask;
    return row;
  }
  // Jet 3: one-byte offsets and a jump table for every 256-byte boundary.
  const uint32_t eod = offsets[nvar];
  const uint32_t real = eod / 256;
  uint32_t jumps = real;
  uint32_t len = 0;
  for (int iter = 0; iter < 4; ++iter) {
    len = eod + 1 + nvar + jumps + 1 + static_cast<uint32_t>(mask.size());
    uint32_t want = (len - 1) / 256;
    if (want == jumps) break;
    jumps = want;
  }
  if (jumps > real + 1 || (len - 1) / 256 != jumps) {
    throw Error(errnum::kGeneric, "The record cannot be laid out in this database's format.");
  }
  if (len > L.max_row) throw Error(errnum::kGeneric, "The record is too large.");
  std::string tail;
  tail.push_back(static_cast<char>(eod & 0xFF));
  for (int i = nvar - 1; i >= 0; --i) tail.push_back(static_cast<char>(offsets[i] & 0xFF));
  // Jump entries are stored last-first; entry k is the first slot at or past 256 * (k + 1).
  std::vector<uint8_t> entries;
  for (uint32_t k = 0; k < real; ++k) {
    uint32_t bound = 256 * (k + 1);
    uint16_t first = nvar;
    for (uint16_t i = 0; i <= nvar; ++i) {
      if (offsets[i] >= bound) {
        first = i;
        break;
      }
    }
    entries.push_back(static_cast<uint8_t>(first));
  }
  if (jumps == real + 1) entries.push_back(0xFF);
  for (int k = static_cast<int>(entries.size()) - 1; k >= 0; --k)
    tail.push_back(static_cast<char>(entries[k]));
  tail.push_back(static_cast<char>(nvar));
  row += tail;
  row += mask;
  return row;
}

}  // namespace jet
