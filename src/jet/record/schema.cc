#include "jet/record/schema.h"

#include <algorithm>
#include <numeric>

#include "jet/page/page_type.h"
#include "jet/record/tdef.h"
#include "jet/record/text.h"
#include "jet/storage/bytes.h"
#include "jet/storage/error.h"

namespace jet {

namespace {

constexpr uint32_t kConstant1625 = 0x659;
constexpr uint32_t kConstant1923 = 0x783;

bool NameOrder(const std::string& a, const std::string& b) {
  std::string fa = FoldName(a), fb = FoldName(b);
  if (fa != fb) return fa < fb;
  return a < b;
}

void AppendName(std::string& out, const std::string& name) {
  std::string u = EncodeUcs2Text(name, false);
  Append16(out, static_cast<uint16_t>(u.size()));
  out += u;
}

}  // namespace

void CheckObjectName(const std::string& name, const std::string& what) {
  auto refuse = [&](const std::string& why) {
    throw Error(errnum::kGeneric, "'" + name + "' is not a valid " + what + " name: " + why + ".");
  };
  if (name.empty()) refuse("it is empty");
  if (Utf16Length(name) > 64) refuse("it is longer than 64 characters");
  if (name[0] == ' ') refuse("it starts with a blank");
  for (unsigned char ch : name) {
    if (ch < 0x20 || ch == 0x7F) refuse("it contains a control character");
    if (ch == '.' || ch == '!' || ch == '`' || ch == '[' || ch == ']') {
      refuse("it contains one of the characters . ! ` [ ]");
    }
  }
}

size_t LongValueColumns(const TableDesign& design) {
  size_t n = 0;
  for (const auto& c : design.columns) n += IsLongValue(c.type) ? 1 : 0;
  return n;
}

namespace {

// Where each column's values go: variable slots in column order, a fixed
// column carrying the slot the next variable column would take; fixed
// columns follow each other in the fixed area, Yes/No fields taking no room
// there.
struct RowPlaces {
  std::vector<uint16_t> var_index;
  std::vector<uint16_t> fixed_offset;
  uint16_t var_count = 0;
};

RowPlaces PlaceColumns(const TableDesign& design) {
  const size_t ncols = design.columns.size();
  RowPlaces p{std::vector<uint16_t>(ncols), std::vector<uint16_t>(ncols, 0), 0};
  uint16_t offset = 0;
  for (size_t i = 0; i < ncols; ++i) {
    const ColumnDesign& c = design.columns[i];
    p.var_index[i] = p.var_count;
    if (c.flags & kColFixed) {
      if (c.type != ColumnType::kBoolean) {
        p.fixed_offset[i] = offset;
        offset = static_cast<uint16_t>(offset + c.length);
      }
    } else {
      ++p.var_count;
    }
  }
  return p;
}

// Indices into `items` in the order the definition lists them: system tables
// and logical indexes by name, user tables' columns as given.
template <typename Named>
std::vector<size_t> ListingOrder(const std::vector<Named>& items, bool by_name) {
  std::vector<size_t> order(items.size());
  std::iota(order.begin(), order.end(), 0);
  if (by_name) {
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return NameOrder(items[a].name, items[b].name); });
  }
  return order;
}

void AppendHeader(std::string& b, const TableDesign& design, const TablePlacement& placement,
                  const Layout& L, uint16_t var_count) {
  const size_t ncols = design.columns.size();
  const size_t nidx = design.indexes.size();
  b.resize(static_cast<size_t>(L.tdef_header_end), '\0');
  MutableBytes h(reinterpret_cast<uint8_t*>(b.data()), b.size());
  StampPage(h, PageType::kTableDefinition);
  Put32(h, 0x0C, kConstant1625);
  h[0x18] = 0x01;  // set in every table Access writes
  h[L.tdef_table_type] = design.table_type;
  Put16(h, L.tdef_max_cols, static_cast<uint16_t>(ncols));
  Put16(h, L.tdef_var_cols, var_count);
  Put16(h, L.tdef_num_cols, static_cast<uint16_t>(ncols));
  Put32(h, L.tdef_num_idx, static_cast<uint32_t>(nidx));
  Put32(h, L.tdef_num_real_idx, static_cast<uint32_t>(nidx));
  Put32(h, L.tdef_owned_map, placement.owned_map);
  Put32(h, L.tdef_free_map, placement.free_map);
  b.append(nidx * L.real_idx_count_entry, '\0');
}

void AppendColumns(std::string& b, const TableDesign& design, const std::vector<size_t>& order,
                   const RowPlaces& places, const Layout& L, uint16_t lcid, uint8_t sort_version) {
  for (size_t i : order) {
    const ColumnDesign& c = design.columns[i];
    ColumnDescriptor d;
    d.type_code = static_cast<uint8_t>(c.type);
    d.number = static_cast<uint16_t>(i);
    d.var_index = places.var_index[i];
    d.second_number = design.system_layout ? 0 : static_cast<uint16_t>(i);
    d.lcid = lcid;
    d.precision = c.precision;
    d.scale = c.scale;
    d.sort_version = sort_version;
    d.flags = c.flags;
    d.ext_flags = c.ext_flags;
    d.fixed_offset = places.fixed_offset[i];
    d.length = c.length;
    b += d.Encode(L);
  }
  for (size_t i : order) AppendName(b, design.columns[i].name);
}

void AppendRealIndexes(std::string& b, const TableDesign& design, const TablePlacement& placement,
                       const Layout& L) {
  for (size_t k = 0; k < design.indexes.size(); ++k) {
    const IndexDesign& x = design.indexes[k];
    if (x.columns.empty() || x.columns.size() > 10) ThrowDamaged("an index needs 1 to 10 columns");
    std::string d(L.real_idx_def_size, '\0');
    MutableBytes m(reinterpret_cast<uint8_t*>(d.data()), d.size());
    Put32(m, 0, kConstant1923);
    for (size_t s = 0; s < 10; ++s) {
      Put16(m, 4 + 3 * s, s < x.columns.size() ? x.columns[s] : 0xFFFF);
      m[4 + 3 * s + 2] = s < x.columns.size() ? 0x01 : 0x00;
    }
    Put32(m, 0x22, placement.index_maps[k]);
    Put32(m, 0x26, placement.index_roots[k]);
    m[0x2E] = x.flags;
    b += d;
  }
}

void AppendLogicalIndexes(std::string& b, const TableDesign& design, const Layout& L) {
  const std::vector<size_t> logical = ListingOrder(design.indexes, true);
  for (size_t k : logical) {
    const IndexDesign& x = design.indexes[k];
    std::string d(L.logical_idx_def_size, '\0');
    MutableBytes m(reinterpret_cast<uint8_t*>(d.data()), d.size());
    Put32(m, 0, kConstant1625);
    Put32(m, 4, x.number);
    Put32(m, 8, static_cast<uint32_t>(k));
    Put32(m, 0x0D, 0xFFFFFFFF);  // no related index
    m[0x15] = 0x04;              // both bytes hold 4 in every index Access wrote
    m[0x16] = 0x04;
    m[0x17] = x.kind;
    b += d;
  }
  for (size_t k : logical) AppendName(b, design.indexes[k].name);
}

// Each memo or OLE column's two maps, then the terminator.
void AppendColumnMaps(std::string& b, const TableDesign& design, const TablePlacement& placement) {
  size_t lv = 0;
  for (size_t i = 0; i < design.columns.size(); ++i) {
    if (!IsLongValue(design.columns[i].type)) continue;
    Append16(b, static_cast<uint16_t>(i));
    Append32(b, placement.long_value_maps[lv].first);
    Append32(b, placement.long_value_maps[lv].second);
    ++lv;
  }
  Append16(b, 0xFFFF);
}

}  // namespace

std::vector<uint8_t> BuildTableDefinition(const TableDesign& design,
                                          const TablePlacement& placement, const Layout& L,
                                          uint16_t lcid, uint8_t sort_version) {
  if (L.jet3) throw Error(errnum::kGeneric, "Tables of Access 97 databases cannot be created.");
  const size_t ncols = design.columns.size();
  const size_t nidx = design.indexes.size();
  if (ncols == 0 || ncols > 255) ThrowDamaged("a table needs 1 to 255 columns");
  if (placement.index_maps.size() != nidx || placement.index_roots.size() != nidx ||
      placement.long_value_maps.size() != LongValueColumns(design)) {
    ThrowDamaged("a new table's maps do not match its columns and indexes");
  }
  const RowPlaces places = PlaceColumns(design);
  std::string b;
  AppendHeader(b, design, placement, L, places.var_count);
  AppendColumns(b, design, ListingOrder(design.columns, design.system_layout), places, L, lcid,
                sort_version);
  AppendRealIndexes(b, design, placement, L);
  AppendLogicalIndexes(b, design, L);
  AppendColumnMaps(b, design, placement);
  Put32(MutableBytes(reinterpret_cast<uint8_t*>(b.data()), b.size()), 8,
        static_cast<uint32_t>(b.size()));
  return std::vector<uint8_t>(b.begin(), b.end());
}

}  // namespace jet
