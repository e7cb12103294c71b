#include "jet/record/tdef.h"

#include <unordered_set>

#include "jet/page/page_type.h"
#include "jet/record/text.h"
#include "jet/storage/pager.h"

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

namespace {

// Gathers the definition's pages into one buffer: the first page whole, then
// each further page after its 8-byte header.
void ReadDefinitionPages(Pager& pager, const Layout& L, uint32_t page, TableDef& t) {
  PagePtr first = pager.Get(page);
  if (!IsType(first->bytes(), PageType::kTableDefinition) || first->data[1] != kPageTag) {
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
    if (!IsType(p->bytes(), PageType::kTableDefinition))
      ThrowDamaged("a table definition continues on a page of another kind");
    t.buffer.insert(t.buffer.end(), p->data.begin() + 8, p->data.end());
    t.pages.push_back(next);
    next = U32(p->bytes(), 4);
  }
  t.buffer.resize(length);
}

// The header's counts and maps; returns the number of column descriptors.
uint16_t ReadHeader(Bytes b, const Layout& L, TableDef& t) {
  t.row_count = U32(b, L.tdef_row_count);
  t.autonumber = U32(b, L.tdef_autonumber);
  t.table_type = U8(b, L.tdef_table_type);
  t.max_cols = U16(b, L.tdef_max_cols);
  t.var_cols = U16(b, L.tdef_var_cols);
  t.num_logical_idx = U32(b, L.tdef_num_idx);
  t.num_real_idx = U32(b, L.tdef_num_real_idx);
  t.owned_map = U32(b, L.tdef_owned_map);
  t.free_map = U32(b, L.tdef_free_map);
  if (t.num_real_idx > 1000 || t.num_logical_idx > 1000) {
    ThrowDamaged("table definition on page " + std::to_string(t.tdef_page) +
                 " has impossible index counts");
  }
  return U16(b, L.tdef_num_cols);
}

Column ColumnFromDescriptor(const ColumnDescriptor& d, const Layout& L, uint16_t code_page) {
  Column c;
  c.type_code = d.type_code;
  c.type = IsKnownType(d.type_code) ? static_cast<ColumnType>(d.type_code) : ColumnType::kBinary;
  c.number = d.number;
  c.var_index = d.var_index;
  c.flags = d.flags;
  c.fixed_offset = d.fixed_offset;
  c.length = d.length;
  c.lcid = d.lcid;
  c.precision = d.precision;
  c.scale = d.scale;
  c.complex_id = d.complex_id;
  c.sort_version = d.sort_version;
  c.ext_flags = d.ext_flags;
  c.code_page = d.code_page;
  // Jet 3 text columns may name their own code page; the rest use the database's.
  if (L.jet3 && (c.code_page == 0 || !IsTextual(c.type))) c.code_page = code_page;
  return c;
}

void ReadColumns(Bytes b, const Layout& L, uint16_t code_page, uint16_t count, size_t& pos,
                 TableDef& t) {
  t.columns_offset = pos;
  t.columns.reserve(count);
  for (uint16_t i = 0; i < count; ++i) {
    ColumnDescriptor d = ColumnDescriptor::Read(b, pos, L);
    pos += L.col_desc_size;
    if (d.number >= t.max_cols && t.max_cols != 0) {
      ThrowDamaged("a column number exceeds the table's column count");
    }
    t.columns.push_back(ColumnFromDescriptor(d, L, code_page));
  }
}

// A column or index name: Jet 3 a byte of length and code-page text, Jet 4 two
// bytes of length and UTF-16.
std::string ReadName(Bytes b, const Layout& L, uint16_t code_page, size_t& pos) {
  std::string name;
  if (L.jet3) {
    uint8_t n = U8(b, pos);
    CheckRange(b, pos + 1, n, "a name");
    name = CodePageToUtf8(b.subspan(pos + 1, n), code_page);
    pos += 1 + n;
  } else {
    uint16_t n = U16(b, pos);
    CheckRange(b, pos + 2, n, "a name");
    name = Utf16LeToUtf8(b.subspan(pos + 2, n));
    pos += 2 + n;
  }
  return name;
}

void ReadRealIndexes(Bytes b, const Layout& L, size_t& pos, TableDef& t) {
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
}

void ReadLogicalIndexes(Bytes b, const Layout& L, uint16_t code_page, size_t& pos, TableDef& t) {
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
  for (auto& li : t.logical_indexes) li.name = ReadName(b, L, code_page, pos);
}

// Column usage-map entries run up to the 0xFFFF terminator.
void ReadColumnMaps(Bytes b, size_t& pos, TableDef& t) {
  t.column_maps_offset = pos;
  while (pos + 2 <= b.size() && U16(b, pos) != 0xFFFF && pos + 10 <= b.size() - 2) {
    ColumnMap m;
    m.column_number = U16(b, pos);
    m.owned_map = U32(b, pos + 2);
    m.free_map = U32(b, pos + 6);
    t.column_maps.push_back(m);
    pos += 10;
  }
  t.terminator_offset = pos;
}

// The fixed area must hold every fixed column; one reaching far past a row
// is damage.
uint16_t FixedAreaSize(const TableDef& t, const Layout& L) {
  uint16_t area = 0;
  for (const auto& c : t.columns) {
    if (c.fixed() && c.type != ColumnType::kBoolean) {
      uint32_t end = static_cast<uint32_t>(c.fixed_offset) + c.length;
      if (end > L.max_row + 100u) ThrowDamaged("a column lies outside the row");
      if (end > area) area = static_cast<uint16_t>(end);
    }
  }
  return area;
}

}  // namespace

TableDef ReadTableDef(Pager& pager, const Layout& L, uint32_t page, uint16_t code_page) {
  TableDef t;
  t.tdef_page = page;
  ReadDefinitionPages(pager, L, page, t);
  Bytes b(t.buffer);
  const uint16_t num_cols = ReadHeader(b, L, t);
  size_t pos = L.tdef_header_end + static_cast<size_t>(t.num_real_idx) * L.real_idx_count_entry;
  ReadColumns(b, L, code_page, num_cols, pos, t);
  t.names_offset = pos;
  for (auto& c : t.columns) c.name = ReadName(b, L, code_page, pos);
  ReadRealIndexes(b, L, pos, t);
  ReadLogicalIndexes(b, L, code_page, pos, t);
  ReadColumnMaps(b, pos, t);
  t.fixed_area = FixedAreaSize(t, L);
  return t;
}

}  // namespace jet
