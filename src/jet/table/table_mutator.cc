#include "jet/table/table_mutator.h"

#include <algorithm>
#include <cstring>

#include "jet/index/index.h"
#include "jet/index/index_key.h"
#include "jet/page/data_page.h"
#include "jet/record/text.h"
#include "jet/table/database.h"

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

void TableMutator::WriteTableDef(TableDef& t) {
  const uint32_t ps = pager_.page_size();
  std::vector<uint8_t>& buf = t.buffer;
  Put32(buf, 8, static_cast<uint32_t>(buf.size()));
  // How many pages: the first holds page-size bytes, each further one page-size - 8.
  size_t needed = 1;
  if (buf.size() > ps) needed += (buf.size() - ps + (ps - 8) - 1) / (ps - 8);
  std::vector<uint32_t> pages = t.pages;
  while (pages.size() < needed) {
    PagePtr np = allocator_.NewPage();
    StampPage(np->mutable_bytes(), PageType::kTableDefinition);
    pages.push_back(np->number);
  }
  size_t pos = 0;
  for (size_t i = 0; i < needed; ++i) {
    PagePtr p = pager_.GetForWrite(pages[i]);
    std::vector<uint8_t>& d = p->data;
    size_t start = i == 0 ? 0 : 8;
    size_t take = std::min<size_t>(ps - start, buf.size() - pos);
    if (i == 0) {
      std::memcpy(d.data(), buf.data(), take);
    } else {
      StampPage(d, PageType::kTableDefinition);
      std::memcpy(d.data() + 8, buf.data() + pos, take);
    }
    std::memset(d.data() + start + take, 0, ps - start - take);
    pos += take;
    Put32(d, 4, i + 1 < needed ? pages[i + 1] : 0);
    if (!layout_.jet3) {
      size_t occupied = (i == 0 ? 0 : 8) + take;
      size_t free = ps > occupied + 8 ? ps - occupied - 8 : 0;
      Put16(d, 2, static_cast<uint16_t>(free));
    }
  }
  // Pages the definition no longer needs go back to the file's free space.
  for (size_t i = needed; i < pages.size(); ++i) {
    PagePtr p = pager_.GetForWrite(pages[i]);
    std::memset(p->data.data(), 0, ps);
    allocator_.MarkGlobal(pages[i], true);
  }
  pages.resize(needed);
  t.pages = pages;
  db_.InvalidateTable(t.tdef_page);
}

uint32_t TableMutator::NewMapRow(const TableDef& t) {
  std::string row(layout_.usage_map_row, '\0');
  // Beside the table's own maps when there is room, as Access keeps them.
  uint32_t home = RowId::Unpack(t.owned_map).page;
  PagePtr p = pager_.GetForWrite(home);
  if (IsType(p->bytes(), PageType::kData)) {
    DataPage dp(p->mutable_bytes(), layout_);
    if (dp.CanAdd(row.size())) {
      uint16_t slot = dp.Add(row);
      dp.Store();
      return RowId{home, static_cast<uint8_t>(slot)}.Packed();
    }
  }
  PagePtr np = allocator_.NewPage();
  InitDataPage(np->mutable_bytes(), layout_, 0);
  DataPage dp(np->mutable_bytes(), layout_);
  uint16_t slot = dp.Add(row);
  dp.Store();
  return RowId{np->number, static_cast<uint8_t>(slot)}.Packed();
}

void TableMutator::AddColumn(const std::string& table, const std::string& column, ColumnType type,
                             uint16_t text_chars) {
  db_.RequireWritable();
  CheckObjectName(column, "field");
  TableDef t = *db_.Table(table);
  if (t.FindColumn(column)) {
    throw Error(errnum::kGeneric,
                "The field '" + column + "' already exists in table '" + table + "'.");
  }
  if (t.columns.size() >= 255) throw Error(errnum::kGeneric, "Too many fields defined.");
  if (t.max_cols >= 255) {
    throw Error(
        errnum::kGeneric,
        "The table '" + table + "' has used up its field numbers; compact the database first.");
  }
  const bool first_variable = IsVariableType(type) && t.var_cols == 0;
  InsertColumn(t, column, type, text_chars);
  WriteTableDef(t);
  if (first_variable) {
    // Rows written while the table had no variable columns have no variable
    // section at all. Access reads them by their column count, but other
    // readers expect the section and misread such rows, so every row is
    // written again in the current layout (its values unchanged).
    auto nt = db_.Table(table);
    std::vector<RowId> ids;
    TableScan scan(db_, nt);
    while (scan.Next()) ids.push_back(scan.id());
    for (RowId id : ids) db_.UpdateRow(*nt, id, {});
  }
}

void TableMutator::InsertColumn(TableDef& t, const std::string& column, ColumnType type,
                                uint16_t text_chars) {
  const ColumnTypeInfo& info = TypeInfo(type);
  if (!info.addable) throw Error(errnum::kGeneric, "Columns of this type cannot be added.");
  const bool variable = IsVariableType(type);
  uint16_t length = info.size;
  if (type == ColumnType::kText) {
    length = static_cast<uint16_t>(layout_.jet3 ? text_chars : 2 * text_chars);
  }
  const uint16_t number = t.max_cols;
  uint16_t var_index = 0;
  if (variable) {
    // The counter only grows, so the slot cannot be one a dropped column's
    // data still occupies in old rows.
    var_index = t.var_cols;
    for (const auto& c : t.columns) {
      if (!c.fixed() && c.var_index >= var_index) var_index = c.var_index + 1;
    }
  }
  uint16_t fixed_offset = (variable || type == ColumnType::kBoolean) ? 0 : t.fixed_area;
  // Collation as the table's text columns have it, else the database default.
  uint16_t lcid = db_.header().sort_order ? db_.header().sort_order : 0x0409;
  uint8_t sort_version = db_.header().sort_version;
  for (const auto& c : t.columns) {
    if (IsTextual(c.type) && c.lcid) {
      lcid = c.lcid;
      sort_version = c.sort_version;
      break;
    }
  }
  ColumnDescriptor fields;
  fields.type_code = static_cast<uint8_t>(type);
  fields.number = number;
  fields.var_index = var_index;
  fields.second_number = number;
  fields.lcid = lcid;
  fields.code_page = db_.header().code_page;
  fields.sort_version = sort_version;
  fields.flags = static_cast<uint8_t>((variable ? 0 : kColFixed) | kColUpdatable);
  fields.ext_flags = type == ColumnType::kText ? kColCompressible : 0;  // text may be compressed
  fields.fixed_offset = fixed_offset;
  fields.length = length;
  const std::string desc = fields.Encode(layout_);
  std::string name_bytes;
  if (layout_.jet3) {
    std::string cp = Utf8ToCodePage(column, db_.header().code_page);
    name_bytes.push_back(static_cast<char>(cp.size()));
    name_bytes += cp;
  } else {
    std::string u = EncodeUcs2Text(column, false);
    Append16(name_bytes, static_cast<uint16_t>(u.size()));
    name_bytes += u;
  }
  std::string map_entry;
  if (IsLongValue(type)) {
    uint32_t owned = NewMapRow(t);
    uint32_t freemap = NewMapRow(t);
    Append16(map_entry, number);
    Append32(map_entry, owned);
    Append32(map_entry, freemap);
  }
  // Insert from the back so earlier offsets stay valid.
  std::vector<uint8_t>& buf = t.buffer;
  buf.insert(buf.begin() + static_cast<long>(t.terminator_offset), map_entry.begin(),
             map_entry.end());
  buf.insert(buf.begin() + static_cast<long>(t.real_idx_offset), name_bytes.begin(),
             name_bytes.end());
  size_t desc_at = t.columns_offset + t.columns.size() * layout_.col_desc_size;
  buf.insert(buf.begin() + static_cast<long>(desc_at), desc.begin(), desc.end());
  Put16(buf, layout_.tdef_num_cols, static_cast<uint16_t>(t.columns.size() + 1));
  Put16(buf, layout_.tdef_max_cols, static_cast<uint16_t>(number + 1));
  if (variable)
    Put16(buf, layout_.tdef_var_cols,
          static_cast<uint16_t>(std::max<int>(t.var_cols, var_index + 1)));
}

void TableMutator::DropColumn(const std::string& table, const std::string& column) {
  db_.RequireWritable();
  TableDef t = *db_.Table(table);
  const Column* c = t.FindColumn(column);
  if (!c) {
    throw Error(errnum::kNoSuchColumn,
                "The field '" + column + "' does not exist in table '" + table + "'.");
  }
  if (t.ColumnIsIndexed(c->number)) {
    throw Error(
        errnum::kGeneric,
        "The field '" + c->name + "' cannot be deleted: it is part of an index or a relationship.");
  }
  if (c->type == ColumnType::kComplex) {
    throw Error(errnum::kGeneric,
                "The field '" + c->name +
                    "' holds attachments or multiple values and cannot be deleted here.");
  }
  CheckNoRelationship(table, c->name);
  const std::string dropped_name = c->name;
  RemoveColumn(t, *c);
  WriteTableDef(t);
  DropColumnProperties(t.tdef_page, dropped_name);
}

void TableMutator::CheckNoRelationship(const std::string& table, const std::string& column) {
  // Relationships name their columns in MSysRelationships.
  for (const auto& e : db_.Catalog()) {
    if (e.type != 1 || e.name != "MSysRelationships") continue;
    auto rel = std::make_shared<TableDef>(ReadTableDef(
        pager_, layout_, static_cast<uint32_t>(e.id) & 0xFFFFFF, db_.header().code_page));
    const Column* obj = rel->FindColumn("szObject");
    const Column* col = rel->FindColumn("szColumn");
    const Column* robj = rel->FindColumn("szReferencedObject");
    const Column* rcol = rel->FindColumn("szReferencedColumn");
    if (!obj || !col || !robj || !rcol) break;
    TableScan scan(db_, rel);
    while (scan.Next()) {
      auto is = [&](const Column* oc, const Column* cc) {
        Value o = scan.Get(*oc), v = scan.Get(*cc);
        return o.kind() == Value::Kind::kText && v.kind() == Value::Kind::kText &&
               NamesEqual(o.bytes(), table) && NamesEqual(v.bytes(), column);
      };
      if (is(obj, col) || is(robj, rcol)) {
        throw Error(errnum::kGeneric,
                    "The field '" + column + "' cannot be deleted: it is part of a relationship.");
      }
    }
  }
}

void TableMutator::RemoveColumn(TableDef& t, const Column& c) {
  const uint16_t number = c.number;
  const size_t index = static_cast<size_t>(&c - t.columns.data());
  std::vector<uint8_t>& buf = t.buffer;
  // The column map entry and its two map rows go, as Access removes them.
  // The column's long-value pages stay allocated: nothing refers to them
  // any more, and compacting the database reclaims them.
  size_t pos = t.column_maps_offset;
  for (const auto& m : t.column_maps) {
    if (m.column_number == number) {
      for (uint32_t map_row : {m.owned_map, m.free_map}) {
        RowId id = RowId::Unpack(map_row);
        PagePtr p = pager_.GetForWrite(id.page);
        DataPage dp(p->mutable_bytes(), layout_);
        if (id.row < dp.slot_count()) {
          dp.Delete(id.row);
          dp.Store();
        }
      }
      db_.long_values().ForgetColumn(t.tdef_page, number);
      buf.erase(buf.begin() + static_cast<long>(pos), buf.begin() + static_cast<long>(pos + 10));
      break;
    }
    pos += 10;
  }
  // The name: walk the names to find its extent.
  size_t npos = t.names_offset;
  for (size_t i = 0; i < t.columns.size(); ++i) {
    size_t len = layout_.jet3 ? 1u + buf[npos] : 2u + U16(buf, npos);
    if (i == index) {
      buf.erase(buf.begin() + static_cast<long>(npos), buf.begin() + static_cast<long>(npos + len));
      break;
    }
    npos += len;
  }
  size_t desc_at = t.columns_offset + index * layout_.col_desc_size;
  buf.erase(buf.begin() + static_cast<long>(desc_at),
            buf.begin() + static_cast<long>(desc_at + layout_.col_desc_size));
  Put16(buf, layout_.tdef_num_cols, static_cast<uint16_t>(t.columns.size() - 1));
}

void TableMutator::DropColumnProperties(uint32_t tdef_page, const std::string& column) {
  const CatalogEntry* e = db_.FindObject(static_cast<int32_t>(tdef_page));
  const Column* lv =
      db_.catalog().definition() ? db_.catalog().definition()->FindColumn("LvProp") : nullptr;
  if (!e || !lv) return;
  const std::string blob = db_.catalog().ReadLvProp(*e);
  bool removed = false;
  std::string rest =
      WithoutColumnBlock(Bytes(reinterpret_cast<const uint8_t*>(blob.data()), blob.size()), layout_,
                         db_.header().code_page, column, &removed);
  if (!removed) return;
  const RowId row = e->row;
  db_.UpdateRow(*db_.catalog().definition(), row, {{lv, Value::Binary(std::move(rest))}});
  db_.InvalidateCatalog();
}

uint32_t TableMutator::WriteNewTable(const TableDesign& design) {
  db_.RequireWritable();
  if (layout_.jet3) {
    throw Error(errnum::kGeneric, "Tables cannot be created in Access 97 databases.");
  }
  PagePtr tdef = allocator_.NewPage();
  StampPage(tdef->mutable_bytes(), PageType::kTableDefinition);
  const uint32_t tdef_page = tdef->number;
  // One page holds the table's maps, in the order Access keeps them: owned
  // pages, free pages, each index, each memo or OLE column (owned, free).
  PagePtr maps = allocator_.NewPage();
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
    PagePtr root = allocator_.NewPage();
    IndexNode empty;
    empty.page = root->number;
    WriteIndexNode(empty, tdef_page, layout_, root->mutable_bytes());
    allocator_.SetInMap(at.index_maps[i], root->number, true);
    at.index_roots.push_back(root->number);
  }
  TableDef t;
  t.tdef_page = tdef_page;
  t.pages = {tdef_page};
  std::vector<uint8_t> buffer = BuildTableDefinition(
      design, at, layout_, db_.header().sort_order ? db_.header().sort_order : 0x0409,
      db_.header().sort_version);
  t.buffer.assign(buffer.begin(), buffer.end());
  WriteTableDef(t);
  return tdef_page;
}

void TableMutator::AddCatalogRow(const CatalogRow& row) {
  db_.RequireWritable();
  db_.Catalog();
  auto cat = db_.catalog().definition();
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
  db_.InsertRow(*cat, cells);
  db_.InvalidateCatalog();
}

void TableMutator::CreateTable(const std::string& name, const std::vector<NewColumn>& columns,
                               const std::vector<std::string>& primary_key) {
  db_.RequireWritable();
  if (layout_.jet3) {
    throw Error(errnum::kGeneric, "Tables cannot be created in Access 97 databases.");
  }
  const int32_t parent_id = CheckNewTableName(name);
  TableDesign design = DesignColumns(columns);
  if (!primary_key.empty()) design.indexes.push_back(DesignPrimaryKey(columns, primary_key));
  uint32_t tdef_page = WriteNewTable(design);
  CatalogRow row;
  row.id = static_cast<int32_t>(tdef_page);
  row.parent_id = parent_id;
  row.name = name;
  row.type = 1;
  row.date = AccessDateNow();
  AddCatalogRow(row);
}

int32_t TableMutator::CheckNewTableName(const std::string& name) {
  CheckObjectName(name, "table");
  int32_t parent_id = kTablesContainer;
  for (const auto& e : db_.Catalog()) {
    if (e.parent_id == kContainersParent && e.name == "Tables") parent_id = e.id;
  }
  // The catalogue's unique index must take the name: names whose sort keys
  // are equal ("é" and "e" with a combining accent) count as the same name.
  // Refused here, before anything is written.
  const Column* name_column = db_.catalog().definition()->FindColumn("Name");
  const std::string name_key =
      name_column ? TextSortKey(name, name_column->sort_version, db_.version()) : std::string();
  for (const auto& e : db_.Catalog()) {
    if (e.parent_id != kTablesContainer && e.parent_id != parent_id) continue;
    if (NamesEqual(e.name, name) || (name_column && TextSortKey(e.name, name_column->sort_version,
                                                                db_.version()) == name_key)) {
      throw Error(errnum::kGeneric, "Table '" + e.name + "' already exists.");
    }
  }
  return parent_id;
}

TableDesign TableMutator::DesignColumns(const std::vector<NewColumn>& columns) {
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
  return design;
}

IndexDesign TableMutator::DesignPrimaryKey(const std::vector<NewColumn>& columns,
                                           const std::vector<std::string>& primary_key) {
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
      throw Error(errnum::kNoSuchColumn,
                  "The primary key names the field '" + key + "', which the table does not have.");
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
  return pk;
}

}  // namespace jet
