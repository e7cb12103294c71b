#include "jet/table/long_value_store.h"

#include <algorithm>

#include "jet/page/data_page.h"

namespace jet {

namespace {

MutableBytes Mut(std::string& s) {
  return MutableBytes(reinterpret_cast<uint8_t*>(s.data()), s.size());
}

}  // namespace

PagePtr LongValueStore::PageFor(const TableDef& t, const Column& c, size_t len) {
  // Candidates: the pages this column last wrote to and pages whose rows were
  // freed. A page found too full for this value is dropped from the list.
  auto& pages = pages_[{t.tdef_page, c.number}];
  while (!pages.empty()) {
    uint32_t n = pages.back();
    PagePtr p = pager_.Get(n);
    Bytes b = p->bytes();
    const uint16_t free = U16(b, layout_.data_free);
    const bool new_slot = free >= len + 2 && U16(b, layout_.data_row_count) < 255;
    if (new_slot || (free >= len && HasDeletedSlot(b, layout_))) return pager_.GetForWrite(n);
    pages.pop_back();
  }
  PagePtr np = allocator_.NewPage();
  InitDataPage(np->mutable_bytes(), layout_, kLvalOwner);
  if (const ColumnMap* m = t.MapFor(c.number)) {
    allocator_.SetInMap(m->owned_map, np->number, true);
    allocator_.SetInMap(m->free_map, np->number, true);
  }
  pages.push_back(np->number);
  return pager_.GetForWrite(np->number);
}

std::string LongValueStore::Store(const TableDef& t, const Column& c, const std::string& data,
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
    PagePtr p = PageFor(t, c, n);
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
    PagePtr p = PageFor(t, c, row.size());
    DataPage dp(p->mutable_bytes(), layout_);
    uint16_t slot = dp.AddReusingDeleted(std::move(row));
    dp.Store();
    next = RowId{p->number, static_cast<uint8_t>(slot)}.Packed();
  }
  Put32(f, 0, n);
  Put32(f, 4, next);
  return field;
}

void LongValueStore::Free(const TableDef& t, const Column& c, Bytes field) {
  if (field.size() < 12 || (field[3] & 0x80)) return;
  RowId at = RowId::Unpack(U32(field, 4));
  bool chain = !(field[3] & 0x40);
  auto& pages = pages_[{t.tdef_page, c.number}];
  for (int guard = 0; guard < 1 << 20 && (at.page || at.row); ++guard) {
    if (at.page >= pager_.page_count()) return;
    PagePtr p = pager_.GetForWrite(at.page);
    if (!IsDataPageOf(p->bytes(), layout_, kLvalOwner)) return;
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

}  // namespace jet
