#include "jet/table/row_store.h"

#include <algorithm>
#include <random>

#include "jet/index/index_key.h"
#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"
#include "jet/record/text.h"
#include "jet/table/database.h"

namespace jet {

namespace {

// Memo values up to this many bytes are kept in their row when it has room.
constexpr size_t kInlineLimit = 64;

MutableBytes Mut(std::string& s) {
  return MutableBytes(reinterpret_cast<uint8_t*>(s.data()), s.size());
}

}  // namespace

PagePtr RowStore::MovedRowPage(const TableDef& t, size_t len, uint32_t avoid1, uint32_t avoid2) {
  auto it = move_page_.find(t.tdef_page);
  if (it != move_page_.end() && it->second != avoid1 && it->second != avoid2) {
    PagePtr p = pager_.Get(it->second);
    Bytes b = p->bytes();
    if (U16(b, layout_.data_free) >= len + 2 && U16(b, layout_.data_row_count) < 255) {
      return pager_.GetForWrite(it->second);
    }
  }
  PagePtr np = allocator_.NewPage();
  InitDataPage(np->mutable_bytes(), layout_, t.tdef_page);
  allocator_.SetInMap(t.owned_map, np->number, true);
  allocator_.SetInMap(t.free_map, np->number, true);
  move_page_[t.tdef_page] = np->number;
  return pager_.GetForWrite(np->number);
}

void RowStore::SetCell(const Column& c, const Value& v, RowCells::Cell& cell,
                       LongValues& pending_long) {
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
      data = EncodeText(c, v.bytes(), layout_, db_.header().code_page);
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
  cell.bytes = EncodeValue(c, v, layout_, db_.header().code_page);
}

std::string RowStore::EncodeRowImage(const TableDef& t, RowCells& cells,
                                     const LongValues& pending_long) {
  // Long values: inline when short and the row still fits, else out of line.
  std::string image;
  bool all_inline = true;
  for (auto& [c, data] : pending_long) {
    if (data.size() > kInlineLimit) all_inline = false;
  }
  if (all_inline) {
    for (auto& [c, data] : pending_long)
      cells.cells[c->number].bytes = long_values_.Store(t, *c, data, true);
    try {
      image = EncodeRow(t, layout_, cells);
    } catch (const Error&) {
      image.clear();
    }
  }
  if (image.empty()) {
    for (auto& [c, data] : pending_long) {
      cells.cells[c->number].bytes = long_values_.Store(t, *c, data, data.empty());
    }
    image = EncodeRow(t, layout_, cells);
  }
  return image;
}

void RowStore::Update(const TableDef& t, RowId id,
                      const std::vector<std::pair<const Column*, Value>>& values) {
  db_.RequireWritable();
  PagePtr data_page;
  Bytes bytes;
  RowId data_id;
  if (!ResolveRow(db_, t, id, data_page, bytes, data_id)) {
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
    long_values_.Free(t, *c, Bytes(reinterpret_cast<const uint8_t*>(field.data()), field.size()));
  }
  // Place the row: in its slot when the page can hold it (the page is
  // repacked), else on another page behind a forwarding pointer.
  {
    PagePtr p = pager_.GetForWrite(data_id.page);
    DataPage dp(p->mutable_bytes(), layout_);
    int32_t growth =
        static_cast<int32_t>(image.size()) - static_cast<int32_t>(dp.bytes(data_id.row).size());
    if (dp.FreeSpace() >= growth) {
      dp.set_bytes(data_id.row, std::move(image));
      dp.Store();
      return;
    }
  }
  MoveRow(t, id, data_id, std::move(image));
}

void RowStore::MoveRow(const TableDef& t, RowId id, RowId data_id, std::string image) {
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
    PagePtr p = pager_.GetForWrite(data_id.page);
    DataPage dp(p->mutable_bytes(), layout_);
    dp.Delete(data_id.row);
    dp.Store();
  }
  PagePtr hp = pager_.GetForWrite(id.page);
  DataPage dh(hp->mutable_bytes(), layout_);
  std::string ptr(4, '\0');
  Put32(Mut(ptr), 0, moved.Packed());
  dh.set_bytes(id.row, ptr);
  dh.set_flags(id.row, kSlotForward);
  dh.Store();
}

PagePtr RowStore::InsertPage(const TableDef& t, size_t len) {
  auto fits = [&](uint32_t page) {
    if (page == 0 || page >= pager_.page_count()) return false;
    PagePtr p = pager_.Get(page);
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
    std::vector<uint32_t> pages = UsageMap(pager_, layout_).Pages(t.owned_map);
    if (!pages.empty()) candidate = pages.back();
  }
  if (fits(candidate)) return pager_.GetForWrite(candidate);
  if (candidate && candidate < pager_.page_count() && allocator_.InMap(t.free_map, candidate)) {
    // A page that cannot take a row leaves the free-space map.
    PagePtr p = pager_.Get(candidate);
    if (IsDataPageOf(p->bytes(), layout_, t.tdef_page)) {
      allocator_.SetInMap(t.free_map, candidate, false);
    }
  }
  PagePtr np = allocator_.NewPage();
  InitDataPage(np->mutable_bytes(), layout_, t.tdef_page);
  allocator_.SetInMap(t.owned_map, np->number, true);
  allocator_.SetInMap(t.free_map, np->number, true);
  insert_page_[t.tdef_page] = np->number;
  return pager_.GetForWrite(np->number);
}

RowId RowStore::Insert(const TableDef& t,
                       const std::vector<std::pair<const Column*, Value>>& values) {
  db_.RequireWritable();
  if (layout_.jet3 && !t.real_indexes.empty()) {
    throw Error(errnum::kGeneric, "Rows cannot be added to indexed tables of Access 97 databases.");
  }
  // Counters as they are now on the definition's first page.
  PagePtr first = pager_.Get(t.tdef_page);
  const uint32_t row_count = U32(first->bytes(), layout_.tdef_row_count);
  uint32_t autonumber = U32(first->bytes(), layout_.tdef_autonumber);
  const std::vector<Value> row = NewRowValues(t, values, autonumber);
  // Index keys, and every refusal, before anything changes.
  const std::vector<PendingKey> keys = NewRowKeys(t, row);
  CheckReferences(t, row);
  RowCells cells;
  cells.cells.resize(t.max_cols);
  LongValues pending_long;
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
  for (const PendingKey& p : keys) {
    const RealIndex& r = t.real_indexes[p.index];
    IndexTree tree(pager_, allocator_, layout_, t.tdef_page, r.first_page, r.usage_map,
                   &index_cache_);
    tree.Insert(p.key, id.Packed());
  }
  CountNewRow(t, row_count, autonumber, keys);
  return id;
}

std::vector<Value> RowStore::NewRowValues(
    const TableDef& t, const std::vector<std::pair<const Column*, Value>>& values,
    uint32_t& autonumber) {
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
  return row;
}

std::vector<RowStore::PendingKey> RowStore::NewRowKeys(const TableDef& t,
                                                       const std::vector<Value>& row) {
  std::vector<PendingKey> keys;
  for (size_t i = 0; i < t.real_indexes.size(); ++i) {
    const RealIndex& r = t.real_indexes[i];
    if ((r.flags & kIndexRequired) && KeyHasNull(r, row)) {
      throw Error(errnum::kGeneric, "Index or primary key cannot contain a Null value.");
    }
    if ((r.flags & kIndexIgnoreNulls) && KeyAllNull(r, row)) continue;
    std::string key = IndexKey(t, r, row, db_.version());
    IndexTree tree(pager_, allocator_, layout_, t.tdef_page, r.first_page, r.usage_map,
                   &index_cache_);
    bool existed = tree.ContainsKey(key);
    if (existed && (r.flags & kIndexUnique) && !KeyHasNull(r, row)) {
      std::string what;
      for (const auto& [number, order] : r.columns) {
        for (const auto& c : t.columns) {
          if (c.number == number) what += (what.empty() ? "" : ", ") + c.name;
        }
      }
      const CatalogEntry* e = db_.FindObject(static_cast<int32_t>(t.tdef_page));
      throw Error(errnum::kGeneric,
                  "The changes were not successful because they would create duplicate values in "
                  "the index, primary key, or relationship (" +
                      what + " in table '" + (e ? e->name : std::string("?")) + "').");
    }
    keys.push_back({i, std::move(key), existed});
  }
  return keys;
}

// Enforced relationships where this table refers to another: the row referred
// to must exist (a key with a null refers to nothing).
void RowStore::CheckReferences(const TableDef& t, const std::vector<Value>& row) {
  for (const LogicalIndex& li : t.logical_indexes) {
    if (li.kind != 2 || li.related_type != 2) continue;
    if (li.real_index >= t.real_indexes.size()) ThrowDamaged("an index names no real index");
    const RealIndex& mine = t.real_indexes[li.real_index];
    if (KeyHasNull(mine, row)) continue;
    auto other = db_.TableById(static_cast<int32_t>(li.related_table));
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
    IndexTree tree(pager_, allocator_, layout_, other->tdef_page, key_index.first_page,
                   key_index.usage_map, &index_cache_);
    if (!tree.ContainsKey(IndexKey(*other, key_index, referred, db_.version()))) {
      const CatalogEntry* e = db_.FindObject(static_cast<int32_t>(other->tdef_page));
      throw Error(errnum::kGeneric,
                  "You cannot add or change a record because a related record is required in "
                  "table '" +
                      (e ? e->name : std::string("?")) + "'.");
    }
  }
}

void RowStore::CountNewRow(const TableDef& t, uint32_t row_count, uint32_t autonumber,
                           const std::vector<PendingKey>& keys) {
  PagePtr w = pager_.GetForWrite(t.tdef_page);
  MutableBytes b = w->mutable_bytes();
  Put32(b, layout_.tdef_row_count, row_count + 1);
  Put32(b, layout_.tdef_autonumber, autonumber);
  // Per index: entries, and distinct keys.
  for (const PendingKey& p : keys) {
    size_t at = layout_.tdef_header_end + p.index * layout_.real_idx_count_entry;
    Put32(b, at, U32(b, at) + 1);
    if (!p.existed) Put32(b, at + 4, U32(b, at + 4) + 1);
  }
  db_.InvalidateTable(t.tdef_page);
}

}  // namespace jet
