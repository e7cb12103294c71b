#include "jet/page/row_table.h"

#include <cassert>

namespace jet {

namespace {

// Where the offset table ends; throws when it does not fit the page.
uint32_t TableEnd(Bytes page, const Layout& L, uint16_t n) {
  const uint32_t end = L.data_header + 2u * n;
  if (n > kMaxSlots || end > page.size()) ThrowDamaged("a page's row table overflows it");
  return end;
}

// Applies the deleted-row rule to one entry. `end` is where the slot's bytes
// would end; it becomes where the next slot's bytes end. Returns false for a
// live slot out of order.
bool Place(uint16_t entry, uint32_t table_end, uint32_t& end, RowTable::Slot& slot) {
  const uint32_t start = entry & kSlotOffset;
  slot.flags = entry & kSlotFlags;
  slot.offset = 0;
  slot.length = 0;
  const bool in_order = start >= table_end && start <= end;
  if (KindOf(entry) == SlotKind::kDeleted) {
    if (in_order) end = start;
    return true;
  }
  if (!in_order) return false;
  slot.offset = static_cast<uint16_t>(start);
  slot.length = static_cast<uint16_t>(end - start);
  end = start;
  return true;
}

}  // namespace

void RowTable::Load(Bytes page, const Layout& L) {
  const uint16_t n = Count(page, L);
  end_of_table_ = TableEnd(page, L, n);
  slots_.resize(n);
  uint32_t end = static_cast<uint32_t>(page.size());
  const uint8_t* entry = page.data() + L.data_header;
  for (uint16_t i = 0; i < n; ++i, entry += 2) {
    const uint16_t e = static_cast<uint16_t>(entry[0] | (entry[1] << 8));
    if (!Place(e, end_of_table_, end, slots_[i])) ThrowDamaged("a row lies outside its page");
  }
  lowest_ = end;
  assert(lowest_ >= end_of_table_ && lowest_ <= page.size());
}

uint16_t RowTable::Flags(Bytes page, const Layout& L, uint16_t i) {
  const uint16_t n = Count(page, L);
  TableEnd(page, L, n);
  if (i >= n) ThrowDamaged("a row pointer names a row that does not exist");
  return U16(page, L.data_header + 2u * i) & kSlotFlags;
}

Bytes RowTable::RowAt(Bytes page, const Layout& L, uint16_t i) {
  const uint16_t n = Count(page, L);
  const uint32_t table_end = TableEnd(page, L, n);
  if (i >= n) ThrowDamaged("a row pointer names a row that does not exist");
  uint32_t end = static_cast<uint32_t>(page.size());
  Slot slot;
  for (uint16_t k = 0; k <= i; ++k) {
    const uint16_t e = U16(page, L.data_header + 2u * k);
    if (!Place(e, table_end, end, slot)) ThrowDamaged("a row lies outside its page");
  }
  return page.subspan(slot.offset, slot.length);
}

void RowTable::PutEntry(MutableBytes page, const Layout& L, uint16_t i, uint16_t offset,
                        uint16_t flags) {
  assert((offset & ~kSlotOffset) == 0 && (flags & ~kSlotFlags) == 0);
  Put16(page, L.data_header + 2u * i, static_cast<uint16_t>(offset | flags));
}

void RowTable::PutCountAndFree(MutableBytes page, const Layout& L, uint16_t n, uint16_t free) {
  assert(n <= kMaxSlots && L.data_header + 2u * n + free <= page.size());
  Put16(page, L.data_row_count, n);
  Put16(page, L.data_free, free);
}

}  // namespace jet
