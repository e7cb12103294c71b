// The write half of Database: column definitions, row updates, long values.
#include <algorithm>
#include <cstring>

#include "jet/table/database.h"
#include "jet/page/data_page.h"
#include "jet/record/row_writer.h"
#include "jet/record/text.h"
#include "jet/page/usage_map.h"

namespace jet {

namespace {

constexpr size_t kInlineLimit = 64;

MutableBytes Mut(std::string& s) {
  return MutableBytes(reinterpret_cast<uint8_t*>(s.data()), s.size());
}

}  // namespace

void Database::RequireWritable() {
  if (!writable_) throw Error(errnum::kReadOnly, "The database is open for reading only.");
  if (header_.office_encrypted && !pager_) {
    throw Error(errnum::kGeneric, "The database cannot be changed.");
  }
}

void Database::Commit() {
  try {
    pager_->Commit();
  } catch (...) {
    // The file is back at the last commit; so must every cached definition be.
    ForgetCaches();
    throw;
  }
}

void Database::Rollback() {
  pager_->Rollback();
  ForgetCaches();
}

void Database::ForgetCaches() {
  tables_.clear();
  catalog_loaded_ = false;
  move_page_.clear();
  insert_page_.clear();
  index_cache_.Clear();
  lval_pages_.clear();
}

void Database::WriteTableDef(TableDef& t) {
  const uint32_t ps = pager_->page_size();
  std::vector<uint8_t>& buf = t.buffer;
  Put32(buf, 8, static_cast<uint32_t>(buf.size()));
  // How many pages: the first holds page-size bytes, each further one page-size - 8.
  size_t needed = 1;
  if (buf.size() > ps) needed += (buf.size() - ps + (ps - 8) - 1) / (ps - 8);
  std::vector<uint32_t> pages = t.pages;
  while (pages.size() < needed) {
    PagePtr np = allocator_->NewPage();
    np->data[0] = 0x02;
    np->data[1] = 0x01;
    pages.push_back(np->number);
  }
  size_t pos = 0;
  for (size_t i = 0; i < needed; ++i) {
    PagePtr p = pager_->GetForWrite(pages[i]);
    std::vector<uint8_t>& d = p->data;
    size_t start = i == 0 ? 0 : 8;
    size_t take = std::min<size_t>(ps - start, buf.size() - pos);
    if (i == 0) {
      std::memcpy(d.data(), buf.data(), take);
    } else {
      d[0] = 0x02;
      d[1] = 0x01;
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
    PagePtr p = pager_->GetForWrite(pages[i]);
    std::memset(p->data.data(), 0, ps);
    allocator_->MarkGlobal(pages[i], true);
  }
  pages.resize(needed);
  t.pages = pages;
  InvalidateTable(t.tdef_page);
}

uint32_t Database::NewMapRow(const TableDef& t) {
  std::string row(layout_.usage_map_row, '\0');
  // Beside the table's own maps when there is room, as Access keeps them.
  uint32_t home = RowId::Unpack(t.owned_map).page;
  PagePtr p = pager_->GetForWrite(home);
  if (p->data[0] == 0x01) {
    DataPage dp(p->mutable_bytes(), layout_);
    if (dp.CanAdd(row.size())) {
      uint16_t slot = dp.Add(row);
      dp.Store();
      return RowId{home, static_cast<uint8_t>(slot)}.Packed();
    }
  }
  PagePtr np = allocator_->NewPage();
  InitDataPage(np->mutable_bytes(), layout_, 0);
  DataPage dp(np->mutable_bytes(), layout_);
  uint16_t slot = dp.Add(row);
  dp.Store();
  return RowId{np->number, static_cast<uint8_t>(slot)}.Packed();
}

void Database::AddColumn(const std::string& table, const std::string& column, ColumnType type,
                         uint16_t text_chars) {
  RequireWritable();
  CheckObjectName(column, "field");
  TableDef t = *Table(table);
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
  uint16_t lcid = header_.sort_order ? header_.sort_order : 0x0409;
  uint8_t sort_version = header_.sort_version;
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
  fields.code_page = header_.code_page;
  fields.sort_version = sort_version;
  fields.flags = static_cast<uint8_t>((variable ? 0 : kColFixed) | kColUpdatable);
  fields.ext_flags = type == ColumnType::kText ? kColCompressible : 0;  // text may be compressed
  fields.fixed_offset = fixed_offset;
  fields.length = length;
  const std::string desc = fields.Encode(layout_);
  std::string name_bytes;
  if (layout_.jet3) {
    std::string cp = Utf8ToCodePage(column, header_.code_page);
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
  const bool first_variable = variable && t.var_cols == 0;
  WriteTableDef(t);
  if (first_variable) {
    // Rows written while the table had no variable columns have no variable
    // section at all. Access reads them by their column count, but other
    // readers expect the section and misread such rows, so every row is
    // written again in the current layout (its values unchanged).
    auto nt = Table(table);
    std::vector<RowId> ids;
    TableScan scan(*this, nt);
    while (scan.Next()) ids.push_back(scan.id());
    for (RowId id : ids) UpdateRow(*nt, id, {});
  }
}

void Database::DropColumn(const std::string& table, const std::string& column) {
  RequireWritable();
  TableDef t = *Table(table);
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
  // Relationships name their columns in MSysRelationships.
  for (const auto& e : Catalog()) {
    if (e.type != 1 || e.name != "MSysRelationships") continue;
    auto rel = std::make_shared<TableDef>(
        ReadTableDef(*pager_, layout_, static_cast<uint32_t>(e.id) & 0xFFFFFF, header_.code_page));
    const Column* obj = rel->FindColumn("szObject");
    const Column* col = rel->FindColumn("szColumn");
    const Column* robj = rel->FindColumn("szReferencedObject");
    const Column* rcol = rel->FindColumn("szReferencedColumn");
    if (!obj || !col || !robj || !rcol) break;
    TableScan scan(*this, rel);
    while (scan.Next()) {
      auto is = [&](const Column* oc, const Column* cc) {
        Value o = scan.Get(*oc), v = scan.Get(*cc);
        return o.kind() == Value::Kind::kText && v.kind() == Value::Kind::kText &&
               NamesEqual(o.bytes(), table) && NamesEqual(v.bytes(), c->name);
      };
      if (is(obj, col) || is(robj, rcol)) {
        throw Error(errnum::kGeneric,
                    "The field '" + c->name + "' cannot be deleted: it is part of a relationship.");
      }
    }
  }
  const uint16_t number = c->number;
  const std::string dropped_name = c->name;
  size_t index = static_cast<size_t>(c - t.columns.data());
  std::vector<uint8_t>& buf = t.buffer;
  // The column map entry and its two map rows go, as Access removes them.
  // The column's long-value pages stay allocated: nothing refers to them
  // any more, and compacting the database reclaims them.
  size_t pos = t.column_maps_offset;
  for (const auto& m : t.column_maps) {
    if (m.column_number == number) {
      for (uint32_t map_row : {m.owned_map, m.free_map}) {
        RowId id = RowId::Unpack(map_row);
        PagePtr p = pager_->GetForWrite(id.page);
        DataPage dp(p->mutable_bytes(), layout_);
        if (id.row < dp.slot_count()) {
          dp.Delete(id.row);
          dp.Store();
        }
      }
      lval_pages_.erase({t.tdef_page, number});
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
  WriteTableDef(t);
  DropColumnProperties(t.tdef_page, dropped_name);
}

void Database::DropColumnProperties(uint32_t tdef_page, const std::string& column) {
  const CatalogEntry* e = FindObject(static_cast<int32_t>(tdef_page));
  const Column* lv = catalog_def_ ? catalog_def_->FindColumn("LvProp") : nullptr;
  if (!e || !lv) return;
  const std::string blob = ReadLvProp(*e);
  bool removed = false;
  std::string rest =
      WithoutColumnBlock(Bytes(reinterpret_cast<const uint8_t*>(blob.data()), blob.size()), layout_,
                         header_.code_page, column, &removed);
  if (!removed) return;
  const RowId row = e->row;
  UpdateRow(*catalog_def_, row, {{lv, Value::Binary(std::move(rest))}});
  InvalidateCatalog();
}

PagePtr Database::LongValuePage(const TableDef& t, const Column& c, size_t len) {
  // Candidates: the pages this column last wrote to and pages whose rows were
  // freed. A page found too full for this value is dropped from the list.
  auto& pages = lval_pages_[{t.tdef_page, c.number}];
  while (!pages.empty()) {
    uint32_t n = pages.back();
    PagePtr p = pager_->Get(n);
    Bytes b = p->bytes();
    const uint16_t free = U16(b, layout_.data_free);
    const bool new_slot = free >= len + 2 && U16(b, layout_.data_row_count) < 255;
    if (new_slot || (free >= len && HasDeletedSlot(b, layout_))) return pager_->GetForWrite(n);
    pages.pop_back();
  }
  PagePtr np = allocator_->NewPage();
  InitDataPage(np->mutable_bytes(), layout_, kLvalOwner);
  if (const ColumnMap* m = t.MapFor(c.number)) {
    allocator_->SetInMap(m->owned_map, np->number, true);
    allocator_->SetInMap(m->free_map, np->number, true);
  }
  pages.push_back(np->number);
  return pager_->GetForWrite(np->number);
}

std::string Database::StoreLongValue(const TableDef& t, const Column& c, const std::string& data,
                                     bool inline_ok) {
  std::string field(12, '\0');
  MutableBytes f = Mut(field);
  const uint32_t n = static_cast<uint32_t>(data.size());
  if (n >= (1u << 24)) {
    throw Error(errnum::kGeneric, "The value is too large for a memo or OLE field.");
  }
  if (inline_ok) {
    Put32(f, 0, n | 0x80000000u);
    field += data;
    return field;
  }
  const size_t single_max = layout_.jet3 ? 2036 : 4076;
  const size_t chunk = layout_.lval_chunk;
  if (n <= single_max) {
    PagePtr p = LongValuePage(t, c, n);
    DataPage dp(p->mutable_bytes(), layout_);
    uint16_t slot = dp.AddReusingDeleted(data);
    dp.Store();
    Put32(f, 0, n | 0x40000000u);
    Put32(f, 4, RowId{p->number, static_cast<uint8_t>(slot)}.Packed());
    return field;
  }
  // A chain, written from its end so each row knows its successor.
  uint32_t next = 0;
  size_t chunks = (n + chunk - 1) / chunk;
  for (size_t k = chunks; k-- > 0;) {
    size_t off = k * chunk;
    size_t take = std::min<size_t>(chunk, n - off);
    std::string row(4, '\0');
    Put32(Mut(row), 0, next);
    row.append(data, off, take);
    PagePtr p = LongValuePage(t, c, row.size());
    DataPage dp(p->mutable_bytes(), layout_);
    uint16_t slot = dp.AddReusingDeleted(std::move(row));
    dp.Store();
    next = RowId{p->number, static_cast<uint8_t>(slot)}.Packed();
  }
  Put32(f, 0, n);
  Put32(f, 4, next);
  return field;
}

void Database::FreeLongValue(const TableDef& t, const Column& c, Bytes field) {
  if (field.size() < 12 || (field[3] & 0x80)) return;
  RowId at = RowId::Unpack(U32(field, 4));
  bool chain = !(field[3] & 0x40);
  auto& pages = lval_pages_[{t.tdef_page, c.number}];
  for (int guard = 0; guard < 1 << 20 && (at.page || at.row); ++guard) {
    if (at.page >= pager_->page_count()) return;
    PagePtr p = pager_->GetForWrite(at.page);
    if (p->data[0] != 0x01 || U32(p->bytes(), layout_.data_owner) != kLvalOwner) return;
    DataPage dp(p->mutable_bytes(), layout_);
    if (at.row >= dp.slot_count() || (dp.flags(at.row) & kSlotDeleted)) return;
    RowId next{};
    std::string_view r = dp.bytes(at.row);
    if (chain && r.size() >= 4) {
      next = RowId::Unpack(U32(Bytes(reinterpret_cast<const uint8_t*>(r.data()), 4), 0));
    }
    dp.Delete(at.row);
    dp.Store();
    // The freed room is used again by the next long values of this column.
    if (std::find(pages.begin(), pages.end(), at.page) == pages.end()) pages.push_back(at.page);
    if (!chain) return;
    at = next;
  }
}

PagePtr Database::MovedRowPage(const TableDef& t, size_t len, uint32_t avoid1, uint32_t avoid2) {
  auto it = move_page_.find(t.tdef_page);
  if (it != move_page_.end() && it->second != avoid1 && it->second != avoid2) {
    PagePtr p = pager_->Get(it->second);
    Bytes b = p->bytes();
    if (U16(b, layout_.data_free) >= len + 2 && U16(b, layout_.data_row_count) < 255) {
      return pager_->GetForWrite(it->second);
    }
  }
  PagePtr np = allocator_->NewPage();
  InitDataPage(np->mutable_bytes(), layout_, t.tdef_page);
  allocator_->SetInMap(t.owned_map, np->number, true);
  allocator_->SetInMap(t.free_map, np->number, true);
  move_page_[t.tdef_page] = np->number;
  return pager_->GetForWrite(np->number);
}

void Database::SetCell(const Column& c, const Value& v, RowCells::Cell& cell,
                       std::vector<std::pair<const Column*, std::string>>& pending_long) {
  if (c.type == ColumnType::kBoolean) {
    if (v.kind() != Value::Kind::kBool && v.kind() != Value::Kind::kInt) {
      if (v.is_null()) throw Error(errnum::kGeneric, "A Yes/No field cannot be set to Null.");
      throw Error(errnum::kTypeMismatch, "Data type mismatch in the field '" + c.name + "'.");
    }
    cell.present = v.kind() == Value::Kind::kBool ? v.as_bool() : v.as_int() != 0;
    return;
  }
  if (v.is_null()) {
    cell.present = false;
    cell.bytes.clear();
    return;
  }
  if (IsLongValue(c.type)) {
    std::string data;
    if (c.type == ColumnType::kMemo) {
      if (v.kind() != Value::Kind::kText) {
        throw Error(errnum::kTypeMismatch, "Data type mismatch in the field '" + c.name + "'.");
      }
      data = EncodeText(c, v.bytes(), layout_, header_.code_page);
    } else {
      if (v.kind() != Value::Kind::kBinary) {
        throw Error(errnum::kTypeMismatch, "Data type mismatch in the field '" + c.name + "'.");
      }
      data = v.bytes();
    }
    cell.present = true;
    pending_long.emplace_back(&c, std::move(data));
    return;
  }
  cell.present = true;
  cell.bytes = EncodeValue(c, v, layout_, header_.code_page);
}

std::string Database::EncodeRowImage(
    const TableDef& t, RowCells& cells,
    const std::vector<std::pair<const Column*, std::string>>& pending_long) {
  // Long values: inline when short and the row still fits, else out of line.
  std::string image;
  bool all_inline = true;
  for (auto& [c, data] : pending_long) {
    if (data.size() > kInlineLimit) all_inline = false;
  }
  if (all_inline) {
    for (auto& [c, data] : pending_long)
      cells.cells[c->number].bytes = StoreLongValue(t, *c, data, true);
    try {
      image = EncodeRow(t, layout_, cells);
    } catch (const Error&) {
      image.clear();
    }
  }
  if (image.empty()) {
    for (auto& [c, data] : pending_long) {
      cells.cells[c->number].bytes = StoreLongValue(t, *c, data, data.empty());
    }
    image = EncodeRow(t, layout_, cells);
  }
  return image;
}

void Database::UpdateRow(const TableDef& t, RowId id,
                         const std::vector<std::pair<const Column*, Value>>& values) {
  RequireWritable();
  PagePtr data_page;
  Bytes bytes;
  RowId data_id;
  if (!ResolveRow(*this, t, id, data_page, bytes, data_id)) {
    throw Error(errnum::kGeneric, "The record was deleted.");
  }
  RowView view(t, layout_);
  view.Load(bytes);
  // Current stored form of every live column.
  RowCells cells;
  cells.cells.resize(t.max_cols);
  for (const Column& c : t.columns) {
    if (c.number >= t.max_cols) continue;
    auto& cell = cells.cells[c.number];
    if (c.type == ColumnType::kBoolean) {
      cell.present = view.NullBit(c.number);
      continue;
    }
    std::optional<Bytes> raw = view.Raw(c);
    if (raw) {
      cell.present = true;
      cell.bytes.assign(raw->begin(), raw->end());
    }
  }
  std::vector<std::pair<const Column*, std::string>> old_long;
  std::vector<std::pair<const Column*, std::string>> pending_long;  // column, encoded data
  for (const auto& [c, v] : values) {
    if (t.ColumnIsIndexed(c->number)) {
      throw Error(errnum::kGeneric,
                  "The field '" + c->name + "' is part of an index and cannot be changed here.");
    }
    if (c->calculated() || c->type == ColumnType::kComplex || c->autonumber()) {
      throw Error(errnum::kGeneric, "The field '" + c->name + "' cannot be updated.");
    }
    auto& cell = cells.cells[c->number];
    if (IsLongValue(c->type) && cell.present) old_long.emplace_back(c, cell.bytes);
    SetCell(*c, v, cell, pending_long);
  }
  std::string image = EncodeRowImage(t, cells, pending_long);
  for (auto& [c, field] : old_long) {
    FreeLongValue(t, *c, Bytes(reinterpret_cast<const uint8_t*>(field.data()), field.size()));
  }
  // Place the row: in its slot when the page can hold it (the page is
  // repacked), else on another page behind a forwarding pointer.
  {
    PagePtr p = pager_->GetForWrite(data_id.page);
    DataPage dp(p->mutable_bytes(), layout_);
    int32_t growth =
        static_cast<int32_t>(image.size()) - static_cast<int32_t>(dp.bytes(data_id.row).size());
    if (dp.FreeSpace() >= growth) {
      dp.set_bytes(data_id.row, std::move(image));
      dp.Store();
      return;
    }
  }
  PagePtr target = MovedRowPage(t, image.size(), id.page, data_id.page);
  RowId moved;
  {
    DataPage dt(target->mutable_bytes(), layout_);
    uint16_t slot = dt.Add(image, kSlotDeleted);  // 0x8000 alone: the moved copy of a row
    dt.Store();
    moved = RowId{target->number, static_cast<uint8_t>(slot)};
  }
  if (!(data_id == id)) {
    // The previous copy must not be seen by readers that return copies in place.
    PagePtr p = pager_->GetForWrite(data_id.page);
    DataPage dp(p->mutable_bytes(), layout_);
    dp.Delete(data_id.row);
    dp.Store();
  }
  PagePtr hp = pager_->GetForWrite(id.page);
  DataPage dh(hp->mutable_bytes(), layout_);
  std::string ptr(4, '\0');
  Put32(Mut(ptr), 0, moved.Packed());
  dh.set_bytes(id.row, ptr);
  dh.set_flags(id.row, kSlotForward);
  dh.Store();
}

}  // namespace jet
