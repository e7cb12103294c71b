// The write half of Database, continued: new tables and new rows.
#include <algorithm>
#include <cstring>
#include <random>

#include "jet/table/database.h"
#include "jet/index/index.h"
#include "jet/index/index_key.h"
#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"

namespace jet {

namespace {

// An empty inline usage map: type 0, first page 0, no page set.
std::string EmptyMapRow(const Layout& L) { return std::string(L.usage_map_row, '\0'); }

bool Indexable(ColumnType t) {
  switch (t) {
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kFloat:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kText:
    case ColumnType::kBoolean:
      return true;
    default:
      return false;
  }
}

}  // namespace

uint32_t Database::WriteNewTable(const TableDesign& design) {
  RequireWritable();
  if (layout_.jet3) {
    throw Error(errnum::kGeneric, "Tables cannot be created in Access 97 databases.");
  }
  PagePtr tdef = allocator_->NewPage();
  StampPage(tdef->mutable_bytes(), PageType::kTableDefinition);
  const uint32_t tdef_page = tdef->number;
  // One page holds the table's maps, in the order Access keeps them: owned
  // pages, free pages, each index, each memo or OLE column (owned, free).
  PagePtr maps = allocator_->NewPage();
  InitDataPage(maps->mutable_bytes(), layout_, 0);
  TablePlacement at;
  const size_t lv_columns = LongValueColumns(design);
  const size_t rows = 2 + design.indexes.size() + 2 * lv_columns;
  if (rows * (layout_.usage_map_row + 2) > layout_.page_size - layout_.data_header) {
    throw Error(errnum::kGeneric, "The table has too many indexes and memo fields.");
  }
  {
    DataPage dp(maps->mutable_bytes(), layout_);
    auto add = [&]() {
      return RowId{maps->number, static_cast<uint8_t>(dp.Add(EmptyMapRow(layout_)))}.Packed();
    };
    at.owned_map = add();
    at.free_map = add();
    for (size_t i = 0; i < design.indexes.size(); ++i) at.index_maps.push_back(add());
    for (size_t i = 0; i < lv_columns; ++i) {
      uint32_t owned = add();
      uint32_t free = add();
      at.long_value_maps.emplace_back(owned, free);
    }
    dp.Store();
  }
  for (size_t i = 0; i < design.indexes.size(); ++i) {
    PagePtr root = allocator_->NewPage();
    IndexNode empty;
    empty.page = root->number;
    WriteIndexNode(empty, tdef_page, layout_, root->mutable_bytes());
    allocator_->SetInMap(at.index_maps[i], root->number, true);
    at.index_roots.push_back(root->number);
  }
  TableDef t;
  t.tdef_page = tdef_page;
  t.pages = {tdef_page};
  std::vector<uint8_t> buffer = BuildTableDefinition(
      design, at, layout_, header_.sort_order ? header_.sort_order : 0x0409, header_.sort_version);
  t.buffer.assign(buffer.begin(), buffer.end());
  WriteTableDef(t);
  return tdef_page;
}

void Database::AddCatalogRow(const CatalogRow& row) {
  RequireWritable();
  Catalog();
  auto cat = catalog_def_;
  std::vector<std::pair<std::string, Value>> values = {
      {"Id", Value::Int(row.id)},
      {"ParentId", Value::Int(row.parent_id)},
      {"Name", Value::Text(row.name)},
      {"Type", Value::Int(row.type)},
      {"DateCreate", Value::DateTime(row.date)},
      {"DateUpdate", Value::DateTime(row.date)},
      {"Flags", Value::Int(static_cast<int32_t>(row.flags))},
  };
  if (!row.lv_prop.empty()) values.emplace_back("LvProp", Value::Binary(row.lv_prop));
  std::vector<std::pair<const Column*, Value>> cells;
  for (auto& [name, v] : values) {
    const Column* c = cat->FindColumn(name);
    if (!c) ThrowDamaged("the catalogue lacks its column '" + name + "'");
    cells.emplace_back(c, std::move(v));
  }
  InsertRow(*cat, cells);
  InvalidateCatalog();
}

void Database::CreateTable(const std::string& name, const std::vector<NewColumn>& columns,
                           const std::vector<std::string>& primary_key) {
  RequireWritable();
  if (layout_.jet3) {
    throw Error(errnum::kGeneric, "Tables cannot be created in Access 97 databases.");
  }
  CheckObjectName(name, "table");
  int32_t parent_id = kTablesContainer;
  for (const auto& e : Catalog()) {
    if (e.parent_id == kContainersParent && e.name == "Tables") parent_id = e.id;
  }
  // The catalogue's unique index must take the name: names whose sort keys
  // are equal ("é" and "e" with a combining accent) count as the same name.
  // Refused here, before anything is written.
  const Column* name_column = catalog_def_->FindColumn("Name");
  const std::string name_key =
      name_column ? TextSortKey(name, name_column->sort_version, version()) : std::string();
  for (const auto& e : Catalog()) {
    if (e.parent_id != kTablesContainer && e.parent_id != parent_id) continue;
    if (NamesEqual(e.name, name) ||
        (name_column && TextSortKey(e.name, name_column->sort_version, version()) == name_key)) {
      throw Error(errnum::kGeneric, "Table '" + e.name + "' already exists.");
    }
  }
  if (columns.empty()) throw Error(errnum::kGeneric, "A table needs at least one field.");
  if (columns.size() > 255) throw Error(errnum::kGeneric, "Too many fields defined.");
  TableDesign design;
  for (size_t i = 0; i < columns.size(); ++i) {
    const NewColumn& n = columns[i];
    CheckObjectName(n.name, "field");
    for (size_t j = 0; j < i; ++j) {
      if (NamesEqual(columns[j].name, n.name)) {
        throw Error(errnum::kGeneric, "The field '" + n.name + "' is defined twice.");
      }
    }
    ColumnDesign c;
    c.name = n.name;
    c.type = n.type;
    switch (n.type) {
      case ColumnType::kText:
        if (n.text_chars < 1 || n.text_chars > 255) {
          throw Error(errnum::kGeneric, "The size of the text field '" + n.name +
                                            "' must be between 1 and 255 characters.");
        }
        c.length = static_cast<uint16_t>(2 * n.text_chars);
        c.ext_flags = kColCompressible;
        break;
      case ColumnType::kMemo:
        break;
      case ColumnType::kBoolean:
      case ColumnType::kByte:
      case ColumnType::kInteger:
      case ColumnType::kLong:
      case ColumnType::kCurrency:
      case ColumnType::kFloat:
      case ColumnType::kDouble:
      case ColumnType::kDateTime:
        c.length = FixedLength(n.type);
        c.flags |= kColFixed;
        break;
      default:
        throw Error(errnum::kGeneric, "Fields of type " + TypeName(n.type) +
                                          " cannot be created ('" + n.name + "').");
    }
    if (n.autonumber) {
      if (n.type != ColumnType::kLong) {
        throw Error(errnum::kGeneric,
                    "Only Long Integer fields can be AutoNumber ('" + n.name + "').");
      }
      for (const auto& other : design.columns) {
        if (other.flags & kColAutonumber) {
          throw Error(errnum::kGeneric, "A table can have only one AutoNumber field.");
        }
      }
      c.flags |= kColAutonumber;
    }
    design.columns.push_back(std::move(c));
  }
  if (!primary_key.empty()) {
    IndexDesign pk;
    pk.name = "PrimaryKey";
    pk.flags = kIndexBase | kIndexUnique | kIndexRequired;
    pk.kind = 1;
    if (primary_key.size() > 10) {
      throw Error(errnum::kGeneric, "A primary key can have at most 10 fields.");
    }
    for (const auto& key : primary_key) {
      auto it = std::find_if(columns.begin(), columns.end(),
                             [&](const NewColumn& n) { return NamesEqual(n.name, key); });
      if (it == columns.end()) {
        throw Error(errnum::kNoSuchColumn, "The primary key names the field '" + key +
                                               "', which the table does not have.");
      }
      if (!Indexable(it->type)) {
        throw Error(errnum::kGeneric, "The field '" + it->name + "' of type " + TypeName(it->type) +
                                          " cannot be part of a primary key.");
      }
      uint16_t number = static_cast<uint16_t>(it - columns.begin());
      if (std::find(pk.columns.begin(), pk.columns.end(), number) != pk.columns.end()) {
        throw Error(errnum::kGeneric, "The primary key names the field '" + key + "' twice.");
      }
      pk.columns.push_back(number);
    }
    design.indexes.push_back(std::move(pk));
  }
  uint32_t tdef_page = WriteNewTable(design);
  CatalogRow row;
  row.id = static_cast<int32_t>(tdef_page);
  row.parent_id = parent_id;
  row.name = name;
  row.type = 1;
  row.date = AccessDateNow();
  AddCatalogRow(row);
}

PagePtr Database::InsertPage(const TableDef& t, size_t len) {
  auto fits = [&](uint32_t page) {
    if (page == 0 || page >= pager_->page_count()) return false;
    PagePtr p = pager_->Get(page);
    Bytes b = p->bytes();
    return IsDataPageOf(b, layout_, t.tdef_page) && U16(b, layout_.data_free) >= len + 2 &&
           RowTable::Count(b, layout_) < kMaxSlots;
  };
  auto it = insert_page_.find(t.tdef_page);
  uint32_t candidate = 0;
  if (it != insert_page_.end()) {
    candidate = it->second;
  } else {
    // The table's last page takes new rows until it is full.
    std::vector<uint32_t> pages = UsageMap(*pager_, layout_).Pages(t.owned_map);
    if (!pages.empty()) candidate = pages.back();
  }
  if (fits(candidate)) return pager_->GetForWrite(candidate);
  if (candidate && candidate < pager_->page_count() && allocator_->InMap(t.free_map, candidate)) {
    // A page that cannot take a row leaves the free-space map.
    PagePtr p = pager_->Get(candidate);
    if (IsDataPageOf(p->bytes(), layout_, t.tdef_page)) {
      allocator_->SetInMap(t.free_map, candidate, false);
    }
  }
  PagePtr np = allocator_->NewPage();
  InitDataPage(np->mutable_bytes(), layout_, t.tdef_page);
  allocator_->SetInMap(t.owned_map, np->number, true);
  allocator_->SetInMap(t.free_map, np->number, true);
  insert_page_[t.tdef_page] = np->number;
  return pager_->GetForWrite(np->number);
}

RowId Database::InsertRow(const std::string& table,
                          const std::vector<std::pair<std::string, Value>>& values) {
  std::shared_ptr<const TableDef> t = Table(table);
  std::vector<std::pair<const Column*, Value>> cells;
  for (const auto& [name, v] : values) {
    const Column* c = t->FindColumn(name);
    if (!c) {
      throw Error(errnum::kNoSuchColumn,
                  "The field '" + name + "' does not exist in table '" + table + "'.");
    }
    cells.emplace_back(c, v);
  }
  return InsertRow(*t, cells);
}

RowId Database::InsertRow(const TableDef& t,
                          const std::vector<std::pair<const Column*, Value>>& values) {
  RequireWritable();
  if (layout_.jet3 && !t.real_indexes.empty()) {
    throw Error(errnum::kGeneric, "Rows cannot be added to indexed tables of Access 97 databases.");
  }
  std::vector<Value> row(t.max_cols);
  std::vector<bool> given(t.max_cols, false);
  for (const auto& [c, v] : values) {
    if (c->number >= t.max_cols) ThrowDamaged("a column lies beyond the table's column count");
    if (given[c->number]) {
      throw Error(errnum::kGeneric, "The field '" + c->name + "' is given twice.");
    }
    if (c->calculated() || c->type == ColumnType::kComplex) {
      throw Error(errnum::kGeneric,
                  "Values of the field '" + c->name + "' cannot be written here.");
    }
    given[c->number] = true;
    row[c->number] = v;
  }
  // Counters as they are now on the definition's first page.
  PagePtr first = pager_->Get(t.tdef_page);
  const uint32_t row_count = U32(first->bytes(), layout_.tdef_row_count);
  uint32_t autonumber = U32(first->bytes(), layout_.tdef_autonumber);
  for (const Column& c : t.columns) {
    if (c.number >= t.max_cols) continue;
    Value& v = row[c.number];
    if (c.type == ColumnType::kBoolean && v.is_null()) v = Value::Bool(false);
    if (c.type == ColumnType::kGuid && (c.flags & 0x40) && v.is_null()) {
      // A replication id: a new random GUID.
      static thread_local std::mt19937_64 rng(std::random_device{}());
      std::string g(16, '\0');
      for (auto& ch : g) ch = static_cast<char>(rng());
      v = Value::Guid(g);
    }
    if (!c.autonumber() || c.type != ColumnType::kLong) continue;
    if (v.is_null()) {
      if (autonumber == 0x7FFFFFFF) {
        throw Error(errnum::kGeneric,
                    "The AutoNumber field '" + c.name + "' has run out of numbers.");
      }
      v = Value::Int(++autonumber);
    } else if (v.kind() == Value::Kind::kInt && v.as_int() > static_cast<int64_t>(autonumber) &&
               v.as_int() <= 0x7FFFFFFF) {
      autonumber = static_cast<uint32_t>(v.as_int());
    }
  }
  // Index keys, and every refusal, before anything changes.
  struct Pending {
    size_t index;
    std::string key;
    bool existed;
  };
  std::vector<Pending> keys;
  for (size_t i = 0; i < t.real_indexes.size(); ++i) {
    const RealIndex& r = t.real_indexes[i];
    if ((r.flags & kIndexRequired) && KeyHasNull(r, row)) {
      throw Error(errnum::kGeneric, "Index or primary key cannot contain a Null value.");
    }
    if ((r.flags & kIndexIgnoreNulls) && KeyAllNull(r, row)) continue;
    std::string key = IndexKey(t, r, row, version());
    IndexTree tree(*pager_, *allocator_, layout_, t.tdef_page, r.first_page, r.usage_map,
                   &index_cache_);
    bool existed = tree.ContainsKey(key);
    if (existed && (r.flags & kIndexUnique) && !KeyHasNull(r, row)) {
      std::string what;
      for (const auto& [number, order] : r.columns) {
        for (const auto& c : t.columns) {
          if (c.number == number) what += (what.empty() ? "" : ", ") + c.name;
        }
      }
      const CatalogEntry* e = FindObject(static_cast<int32_t>(t.tdef_page));
      throw Error(errnum::kGeneric,
                  "The changes were not successful because they would create duplicate values in "
                  "the index, primary key, or relationship (" +
                      what + " in table '" + (e ? e->name : std::string("?")) + "').");
    }
    keys.push_back({i, std::move(key), existed});
  }
  // Enforced relationships where this table refers to another: the row
  // referred to must exist (a key with a null refers to nothing).
  for (const LogicalIndex& li : t.logical_indexes) {
    if (li.kind != 2 || li.related_type != 2) continue;
    if (li.real_index >= t.real_indexes.size()) ThrowDamaged("an index names no real index");
    const RealIndex& mine = t.real_indexes[li.real_index];
    if (KeyHasNull(mine, row)) continue;
    auto other = TableById(static_cast<int32_t>(li.related_table));
    const LogicalIndex* theirs = nullptr;
    for (const auto& o : other->logical_indexes) {
      if (static_cast<int32_t>(o.number) == li.related_index) theirs = &o;
    }
    if (!theirs || theirs->real_index >= other->real_indexes.size() ||
        other->real_indexes[theirs->real_index].columns.size() != mine.columns.size()) {
      ThrowDamaged("a relationship names an index its other table does not have");
    }
    const RealIndex& key_index = other->real_indexes[theirs->real_index];
    std::vector<Value> referred(other->max_cols);
    for (size_t k = 0; k < mine.columns.size(); ++k) {
      referred[key_index.columns[k].first] = row[mine.columns[k].first];
    }
    IndexTree tree(*pager_, *allocator_, layout_, other->tdef_page, key_index.first_page,
                   key_index.usage_map, &index_cache_);
    if (!tree.ContainsKey(IndexKey(*other, key_index, referred, version()))) {
      const CatalogEntry* e = FindObject(static_cast<int32_t>(other->tdef_page));
      throw Error(errnum::kGeneric,
                  "You cannot add or change a record because a related record is required in "
                  "table '" +
                      (e ? e->name : std::string("?")) + "'.");
    }
  }
  RowCells cells;
  cells.cells.resize(t.max_cols);
  std::vector<std::pair<const Column*, std::string>> pending_long;
  for (const Column& c : t.columns) {
    if (c.number >= t.max_cols) continue;
    SetCell(c, row[c.number], cells.cells[c.number], pending_long);
  }
  std::string image = EncodeRowImage(t, cells, pending_long);
  PagePtr page = InsertPage(t, image.size());
  RowId id;
  {
    DataPage dp(page->mutable_bytes(), layout_);
    uint16_t slot = dp.Add(std::move(image));
    dp.Store();
    id = RowId{page->number, static_cast<uint8_t>(slot)};
  }
  for (const Pending& p : keys) {
    const RealIndex& r = t.real_indexes[p.index];
    IndexTree tree(*pager_, *allocator_, layout_, t.tdef_page, r.first_page, r.usage_map,
                   &index_cache_);
    tree.Insert(p.key, id.Packed());
  }
  PagePtr w = pager_->GetForWrite(t.tdef_page);
  MutableBytes b = w->mutable_bytes();
  Put32(b, layout_.tdef_row_count, row_count + 1);
  Put32(b, layout_.tdef_autonumber, autonumber);
  // Per index: entries, and distinct keys.
  for (const Pending& p : keys) {
    size_t at = layout_.tdef_header_end + p.index * layout_.real_idx_count_entry;
    Put32(b, at, U32(b, at) + 1);
    if (!p.existed) Put32(b, at + 4, U32(b, at + 4) + 1);
  }
  InvalidateTable(t.tdef_page);
  return id;
}

}  // namespace jet
