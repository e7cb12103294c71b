#include "jet/record/row.h"

#include <unordered_set>

#include "jet/storage/pager.h"
#include "jet/record/text.h"
#include "jet/page/row_table.h"

namespace jet {

Bytes LongValueBytes(Pager& pager, const Layout& L, Bytes f, PagePtr& hold, std::string& chain) {
  if (f.size() < 12) return {};
  uint32_t len = U32(f, 0) & 0x3FFFFFFF;
  uint8_t kind = f[3];
  if (kind & 0x80) {
    if (len > f.size() - 12) ThrowDamaged("an inline long value is longer than its field");
    return f.subspan(12, len);
  }
  // Nothing stored in the file can be longer than the file; checked before
  // the length sizes a buffer.
  if (len > uint64_t{pager.page_count()} * pager.page_size()) {
    ThrowDamaged("a long value is longer than the file");
  }
  RowId at = RowId::Unpack(U32(f, 4));
  if (kind & 0x40) {
    hold = pager.Get(at.page);
    Bytes r = RowTable::RowAt(hold->bytes(), L, at.row);
    if (r.size() < len) ThrowDamaged("a long value is shorter than its header says");
    return r.first(len);
  }
  chain.clear();
  chain.reserve(len);
  std::unordered_set<uint32_t> seen;
  while (chain.size() < len) {
    if (at.page == 0 && at.row == 0) ThrowDamaged("a long value chain ends early");
    if (!seen.insert(at.Packed()).second) ThrowDamaged("a long value chain loops");
    PagePtr p = pager.Get(at.page);
    Bytes r = RowTable::RowAt(p->bytes(), L, at.row);
    if (r.size() < 4) ThrowDamaged("a long value chain row is too short");
    RowId next = RowId::Unpack(U32(r, 0));
    size_t take = std::min<size_t>(r.size() - 4, len - chain.size());
    chain.append(reinterpret_cast<const char*>(r.data()) + 4, take);
    at = next;  // the seen set ends a chain that loops, empty rows included
  }
  return Bytes(reinterpret_cast<const uint8_t*>(chain.data()), chain.size());
}

std::string ReadLongValue(Pager& pager, const Layout& L, Bytes f) {
  PagePtr hold;
  std::string chain;
  Bytes b = LongValueBytes(pager, L, f, hold, chain);
  if (!chain.empty() && b.data() == reinterpret_cast<const uint8_t*>(chain.data())) return chain;
  return std::string(reinterpret_cast<const char*>(b.data()), b.size());
}

void RowView::Load(Bytes row) {
  row_ = row;
  const size_t len = row.size();
  if (len < layout_->row_count_size + 1u) ThrowDamaged("a row is too short");
  col_count_ = layout_->jet3 ? row[0] : U16(row, 0);
  mask_size_ = (col_count_ + 7u) / 8u;
  if (mask_size_ + layout_->row_count_size > len) ThrowDamaged("a row's null mask does not fit");
  var_parsed_ = false;
  var_count_ = 0;
}

uint16_t RowView::var_count() const {
  ParseVariable();
  return var_count_;
}

void RowView::ParseVariable() const {
  if (var_parsed_) return;
  var_parsed_ = true;
  var_count_ = 0;  // the offsets count once all of them were read and checked
  const Bytes row = row_;
  const size_t len = row.size();
  if (table_->var_cols == 0) return;
  if (!layout_->jet3) {
    if (len < mask_size_ + 4) ThrowDamaged("a row is too short for its variable columns");
    uint16_t vc = U16(row, len - mask_size_ - 2);
    if (static_cast<size_t>(vc) * 2 + 4 + mask_size_ > len) {
      ThrowDamaged("a row's variable offsets do not fit");
    }
    var_offsets_.resize(vc + 1);
    // In range (checked just above): read without a check for each.
    const uint8_t* first = row.data() + len - mask_size_ - 4;
    for (uint16_t i = 0; i <= vc; ++i) {
      const uint8_t* at = first - 2u * i;
      uint16_t offset = static_cast<uint16_t>(at[0] | (at[1] << 8));
      if (offset > len) ThrowDamaged("a variable column lies outside its row");
      var_offsets_[i] = offset;
    }
    var_count_ = vc;
  } else {
    size_t e = len - 1;
    if (e < mask_size_ + 1) ThrowDamaged("a row is too short for its variable columns");
    uint16_t vc = row[e - mask_size_];
    size_t jumps = (len - 1) / 256;
    if (e < mask_size_ + jumps + 1 + vc) ThrowDamaged("a row's variable offsets do not fit");
    size_t p = e - mask_size_ - jumps - 1;
    size_t used_jumps = jumps;
    if (jumps > 0 && (p - vc) / 256 < jumps) --used_jumps;
    var_offsets_.resize(vc + 1);
    size_t used = 0;
    for (uint16_t i = 0; i <= vc; ++i) {
      while (used < used_jumps && row[e - mask_size_ - 1 - used] == i) ++used;
      var_offsets_[i] = static_cast<uint16_t>(row[p - i] + 256 * used);
      if (var_offsets_[i] > len) ThrowDamaged("a variable column lies outside its row");
    }
    var_count_ = vc;
  }
}

Bytes RowView::null_mask() const { return row_.subspan(row_.size() - mask_size_, mask_size_); }

std::string DecodeText(Bytes stored, const Layout& L, uint16_t code_page) {
  if (L.jet3) return CodePageToUtf8(stored, code_page);
  return DecodeUcs2Text(stored);
}

Value DecodeFixedValue(ColumnType type, Bytes raw, uint8_t scale) {
  // Date/Time Extended values are checked by their parse, which knows their
  // form; every other type kept in place needs its whole size.
  const ColumnTypeInfo& info = TypeInfo(type);
  if (info.storage == TypeStorage::kFixed && type != ColumnType::kDateTimeExt &&
      raw.size() < info.size) {
    ThrowDamaged("a value is shorter than its type");
  }
  switch (type) {
    case ColumnType::kByte:
      return Value::Int(raw[0]);
    case ColumnType::kInteger:
      return Value::Int(I16(raw, 0));
    case ColumnType::kLong:
      return Value::Int(I32(raw, 0));
    case ColumnType::kComplex:
      return Value::Complex(I32(raw, 0));
    case ColumnType::kCurrency:
      return Value::Currency(I64(raw, 0));
    case ColumnType::kBigInt:
      return Value::Int(I64(raw, 0));
    case ColumnType::kFloat:
      return Value::Float(F32(raw, 0));
    case ColumnType::kDouble:
      return Value::Double(F64(raw, 0));
    case ColumnType::kDateTime:
      return Value::DateTime(F64(raw, 0));
    case ColumnType::kGuid:
      return Value::Guid(std::string(raw.begin(), raw.begin() + 16));
    case ColumnType::kNumeric: {
      std::string mag(16, '\0');
      for (int w = 0; w < 4; ++w) {
        uint32_t word = U32(raw, 1 + 4 * w);
        for (int k = 0; k < 4; ++k) mag[4 * w + k] = static_cast<char>(word >> (24 - 8 * k));
      }
      return Value::Decimal((raw[0] & 0x80) != 0, std::move(mag), scale);
    }
    case ColumnType::kDateTimeExt: {
      std::optional<int64_t> ticks = ParseDateTimeExt(raw);
      if (!ticks) ThrowDamaged("a Date/Time Extended value is not in its stored form");
      return Value::DateTimeExt(*ticks);
    }
    default:
      return Value::Binary(std::string(raw.begin(), raw.end()));
  }
}

namespace {

// Calculated decimals carry their own scale: a 2-byte length (of what
// follows it), the scale, a sign byte, then the magnitude in whole 32-bit
// words. The magnitude's most significant part comes first: a lone 32-bit
// little-endian word when the length is not a multiple of 8, then 64-bit
// little-endian words.
Value DecodeCalculatedDecimal(Bytes data) {
  if (data.size() < 4) ThrowDamaged("a calculated decimal is too short");
  size_t n = U16(data, 0);
  if (n == 1) ThrowDamaged("a calculated decimal has an impossible length");
  n = (n > 0 ? n : data.size()) - 2;
  n = std::min<size_t>(n / 4 * 4, 16);
  uint8_t scale = data[2];
  bool negative = data[3] != 0;
  CheckRange(data, 4, n, "a calculated decimal");
  if (scale > 28) ThrowDamaged("a calculated decimal has an impossible scale");
  std::string mag(16, '\0');
  size_t out = 16 - n;
  size_t pos = 4;
  auto put_word = [&](size_t bytes) {
    for (size_t k = 0; k < bytes; ++k) mag[out + k] = static_cast<char>(data[pos + bytes - 1 - k]);
    out += bytes;
    pos += bytes;
  };
  if (n % 8 != 0) put_word(4);
  while (pos < 4 + n) put_word(8);
  return Value::Decimal(negative, std::move(mag), scale);
}

// A calculated column stores its last result wrapped: 16 bytes, the data's
// length at 16, the data from 20 (and 3 more bytes). Results of memo type are
// long values whose content is the wrapper.
Value DecodeCalculated(const Column& c, Bytes raw, Pager& pager, const Layout& L,
                       uint16_t code_page) {
  const ColumnType result = c.value_type();
  std::string long_value;
  if (IsLongValue(c.type) || IsLongValue(result)) {
    long_value = ReadLongValue(pager, L, raw);
    raw = Bytes(reinterpret_cast<const uint8_t*>(long_value.data()), long_value.size());
  }
  if (raw.size() < 20) return Value::Null();
  uint32_t n = U32(raw, 16);
  if (n > raw.size() - 20) ThrowDamaged("a calculated value is longer than its field");
  Bytes data = raw.subspan(20, n);
  if (IsTextual(result)) return Value::Text(DecodeText(data, L, code_page));
  if (data.empty()) return Value::Null();  // the expression gave Null
  switch (result) {
    case ColumnType::kBoolean:
      return Value::Bool(data[0] != 0);
    case ColumnType::kNumeric:
      return DecodeCalculatedDecimal(data);
    case ColumnType::kOle:
    case ColumnType::kBinary:
      return Value::Binary(std::string(data.begin(), data.end()));
    default:
      return DecodeFixedValue(result, data, c.scale);
  }
}

}  // namespace

Value DecodeValue(const Column& c, Bytes raw, Pager& pager, const Layout& L, uint16_t code_page) {
  if (c.calculated() && !L.jet3) return DecodeCalculated(c, raw, pager, L, code_page);
  switch (c.type) {
    case ColumnType::kText:
      return Value::Text(DecodeText(raw, L, c.code_page ? c.code_page : code_page));
    case ColumnType::kMemo: {
      std::string data = ReadLongValue(pager, L, raw);
      return Value::Text(
          DecodeText(Bytes(reinterpret_cast<const uint8_t*>(data.data()), data.size()), L,
                     c.code_page ? c.code_page : code_page));
    }
    case ColumnType::kOle:
      return Value::Binary(ReadLongValue(pager, L, raw));
    case ColumnType::kBinary:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11:
      return Value::Binary(std::string(raw.begin(), raw.end()));
    default:
      return DecodeFixedValue(c.type, raw, c.scale);
  }
}

Value ReadColumn(const RowView& row, const Column& c, Pager& pager, const Layout& L,
                 uint16_t code_page) {
  if (c.type == ColumnType::kBoolean && !c.calculated()) return Value::Bool(row.NullBit(c.number));
  std::optional<Bytes> raw = row.Raw(c);
  if (!raw) return Value::Null();
  return DecodeValue(c, *raw, pager, L, code_page);
}

}  // namespace jet
