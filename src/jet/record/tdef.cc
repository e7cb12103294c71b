#include "jet/record/tdef.h"

#include <unordered_set>

#include "jet/storage/pager.h"
#include "jet/record/text.h"

namespace jet {

namespace {

char32_t FoldChar(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0x80) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 &&
      c != 0x17F) {
    // Latin Extended-A pairs upper/lower as even/odd, except for a shifted run.
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c % 2 == 1) ? c + 1 : c;
    return (c % 2 == 0) ? c + 1 : c;
  }
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;  // Greek
  if (c >= 0x410 && c <= 0x42F) return c + 32;                // Cyrillic
  if (c >= 0x400 && c <= 0x40F) return c + 80;
  return c;
}

}  // namespace

std::string FoldName(std::string_view s) {
  std::u16string u = Utf8ToUtf16(s);
  for (auto& c : u) {
    if (c < 0xD800 || c > 0xDFFF) c = static_cast<char16_t>(FoldChar(c));
  }
  return Utf16ToUtf8(u);
}

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() == b.size()) {
    bool same = true;
    for (size_t i = 0; i < a.size() && same; ++i) same = a[i] == b[i];
    if (same) return true;
  }
  return FoldName(a) == FoldName(b);
}

const Column* TableDef::FindColumn(std::string_view name) const {
  for (const auto& c : columns) {
    if (c.name == name) return &c;
  }
  for (const auto& c : columns) {
    if (NamesEqual(c.name, name)) return &c;
  }
  return nullptr;
}

const ColumnMap* TableDef::MapFor(uint16_t number) const {
  for (const auto& m : column_maps) {
    if (m.column_number == number) return &m;
  }
  return nullptr;
}

bool TableDef::ColumnIsIndexed(uint16_t number) const {
  for (const auto& r : real_indexes) {
    for (const auto& [col, order] : r.columns) {
      if (col == number) return true;
    }
  }
  return false;
}

TableDef ReadTableDef(Pager& pager, const Layout& L, uint32_t page, uint16_t code_page) {
  TableDef t;
  t.tdef_page = page;
  PagePtr first = pager.Get(page);
  if (first->data[0] != 0x02 || first->data[1] != 0x01) {
    ThrowDamaged("page " + std::to_string(page) + " is not a table definition");
  }
  uint32_t length = U32(first->bytes(), 8);
  if (length < L.tdef_header_end + 2 || length > 64u * 1024 * 1024) {
    ThrowDamaged("table definition on page " + std::to_string(page) + " has an impossible length");
  }
  t.buffer.assign(first->data.begin(), first->data.end());
  t.pages.push_back(page);
  std::unordered_set<uint32_t> seen{page};
  uint32_t next = U32(first->bytes(), 4);
  while (t.buffer.size() < length) {
    if (next == 0)
      ThrowDamaged("table definition on page " + std::to_string(page) + " is cut short");
    if (!seen.insert(next).second) ThrowDamaged("table definition pages form a loop");
    PagePtr p = pager.Get(next);
    if (p->data[0] != 0x02) ThrowDamaged("a table definition continues on a page of another kind");
    t.buffer.insert(t.buffer.end(), p->data.begin() + 8, p->data.end());
    t.pages.push_back(next);
    next = U32(p->bytes(), 4);
  }
  t.buffer.resize(length);
  Bytes b(t.buffer);

  t.row_count = U32(b, L.tdef_row_count);
  t.autonumber = U32(b, L.tdef_autonumber);
  t.table_type = U8(b, L.tdef_table_type);
  t.max_cols = U16(b, L.tdef_max_cols);
  t.var_cols = U16(b, L.tdef_var_cols);
  uint16_t num_cols = U16(b, L.tdef_num_cols);
  t.num_logical_idx = U32(b, L.tdef_num_idx);
  t.num_real_idx = U32(b, L.tdef_num_real_idx);
  t.owned_map = U32(b, L.tdef_owned_map);
  t.free_map = U32(b, L.tdef_free_map);
  if (t.num_real_idx > 1000 || t.num_logical_idx > 1000) {
    ThrowDamaged("table definition on page " + std::to_string(page) +
                 " has impossible index counts");
  }

  size_t pos = L.tdef_header_end + static_cast<size_t>(t.num_real_idx) * L.real_idx_count_entry;
  t.columns_offset = pos;
  t.columns.resize(num_cols);
  for (uint16_t i = 0; i < num_cols; ++i) {
    Column& c = t.columns[i];
    size_t d = pos + static_cast<size_t>(i) * L.col_desc_size;
    CheckRange(b, d, L.col_desc_size, "a column descriptor");
    c.type_code = b[d + L.col_type];
    c.type = IsKnownType(c.type_code) ? static_cast<ColumnType>(c.type_code) : ColumnType::kBinary;
    c.number = U16(b, d + L.col_number);
    c.var_index = U16(b, d + L.col_var_index);
    c.flags = b[d + L.col_flags];
    c.fixed_offset = U16(b, d + L.col_fixed_offset);
    c.length = U16(b, d + L.col_length);
    if (L.jet3) {
      c.lcid = U16(b, d + 9);
      c.code_page = U16(b, d + 11);
      c.precision = b[d + 11];
      c.scale = b[d + 12];
      if (c.code_page == 0 || !IsTextual(c.type)) c.code_page = code_page;
    } else {
      c.lcid = U16(b, d + 11);
      c.precision = b[d + 11];
      c.scale = b[d + 12];
      c.complex_id = I32(b, d + 11);
      c.sort_version = b[d + 14];
      c.ext_flags = b[d + 16];
    }
    if (c.number >= t.max_cols && t.max_cols != 0) {
      ThrowDamaged("a column number exceeds the table's column count");
    }
  }
  pos += static_cast<size_t>(num_cols) * L.col_desc_size;
  t.names_offset = pos;
  auto read_name = [&](size_t& p) {
    std::string name;
    if (L.jet3) {
      uint8_t n = U8(b, p);
      CheckRange(b, p + 1, n, "a name");
      name = CodePageToUtf8(b.subspan(p + 1, n), code_page);
      p += 1 + n;
    } else {
      uint16_t n = U16(b, p);
      CheckRange(b, p + 2, n, "a name");
      name = Utf16LeToUtf8(b.subspan(p + 2, n));
      p += 2 + n;
    }
    return name;
  };
  for (auto& c : t.columns) c.name = read_name(pos);

  t.real_idx_offset = pos;
  for (uint32_t i = 0; i < t.num_real_idx; ++i) {
    size_t d = pos + static_cast<size_t>(i) * L.real_idx_def_size;
    CheckRange(b, d, L.real_idx_def_size, "an index definition");
    size_t base = L.jet3 ? d : d + 4;
    RealIndex r;
    for (int k = 0; k < 10; ++k) {
      uint16_t col = U16(b, base + 3 * k);
      if (col != 0xFFFF) r.columns.emplace_back(col, b[base + 3 * k + 2]);
    }
    r.usage_map = U32(b, base + 30);
    r.first_page = U32(b, base + 34);
    r.flags = b[L.jet3 ? base + 38 : base + 42];
    t.real_indexes.push_back(std::move(r));
  }
  pos += static_cast<size_t>(t.num_real_idx) * L.real_idx_def_size;
  for (uint32_t i = 0; i < t.num_logical_idx; ++i) {
    size_t d = pos + static_cast<size_t>(i) * L.logical_idx_def_size;
    CheckRange(b, d, L.logical_idx_def_size, "an index definition");
    size_t base = L.jet3 ? d : d + 4;
    LogicalIndex li;
    li.number = U32(b, base);
    li.real_index = U32(b, base + 4);
    li.related_type = U8(b, base + 8);
    li.related_index = I32(b, base + 9);
    li.related_table = U32(b, base + 13);
    li.kind = b[base + 19];
    t.logical_indexes.push_back(li);
  }
  pos += static_cast<size_t>(t.num_logical_idx) * L.logical_idx_def_size;
  for (auto& li : t.logical_indexes) li.name = read_name(pos);

  t.column_maps_offset = pos;
  // Column usage-map entries run up to the 0xFFFF terminator.
  while (pos + 2 <= t.buffer.size() && U16(b, pos) != 0xFFFF && pos + 10 <= t.buffer.size() - 2) {
    ColumnMap m;
    m.column_number = U16(b, pos);
    m.owned_map = U32(b, pos + 2);
    m.free_map = U32(b, pos + 6);
    t.column_maps.push_back(m);
    pos += 10;
  }
  t.terminator_offset = pos;

  for (const auto& c : t.columns) {
    if (c.fixed() && c.type != ColumnType::kBoolean) {
      uint32_t end = static_cast<uint32_t>(c.fixed_offset) + c.length;
      if (end > L.max_row + 100u) ThrowDamaged("a column lies outside the row");
      if (end > t.fixed_area) t.fixed_area = static_cast<uint16_t>(end);
    }
  }
  return t;
}

}  // namespace jet
