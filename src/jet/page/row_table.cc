#include "jet/page/row_table.h"

namespace jet {

uint32_t RowTable::TableEnd(Bytes page, const Layout& L, uint16_t n) {
  const uint32_t end = L.data_header + 2u * n;
  if (n > kMaxSlots || end > page.size()) ThrowDamaged("a page's row table overflows it");
  return end;
}

void RowTable::Load(Bytes page, const Layout& L) {
  slots_.resize(Count(page, L));
  lowest_ = ForEachSlot(page, L, [this](uint16_t i, const Slot& slot) { slots_[i] = slot; });
  end_of_table_ = L.data_header + 2u * static_cast<uint32_t>(slots_.size());
  assert(lowest_ >= end_of_table_ && lowest_ <= page.size());
}

Bytes RowTable::RowAt(Bytes page, const Layout& L, uint16_t i, uint16_t* flags) {
  const uint16_t n = Count(page, L);
  const uint32_t table_end = TableEnd(page, L, n);
  if (i >= n) ThrowDamaged("a row pointer names a row that does not exist");
  // Every slot before it is checked on the way: a row's end depends on them.
  uint32_t end = static_cast<uint32_t>(page.size());
  Slot slot;
  for (uint16_t k = 0; k <= i; ++k) {
    const uint16_t e = U16(page, L.data_header + 2u * k);
    if (!Place(e, table_end, end, slot)) ThrowDamaged("a row lies outside its page");
  }
  if (flags) *flags = slot.flags;
  return page.subspan(slot.offset, slot.length);
}

void RowTable::PutCountAndFree(MutableBytes page, const Layout& L, uint16_t n, uint16_t free) {
  assert(n <= kMaxSlots && L.data_header + 2u * n + free <= page.size());
  Put16(page, L.data_row_count, n);
  Put16(page, L.data_free, free);
}

}  // namespace jet
