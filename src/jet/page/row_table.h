// The row-offset table of a data page (table rows, long values, usage-map
// rows), read and written in one place so that every reader follows one rule.
//
//   Jet 4/ACE  Jet 3  size  meaning
//   0x00       0x00   1     PageType::kData
//   0x01       0x01   1     kPageTag
//   0x02       0x02   2     free bytes: lowest row offset - (header + 2 * n)
//   0x04       0x04   4     owner: the table's TDEF page, "LVAL", or 0 (maps)
//   0x08       -      4     unknown (0 on table pages)
//   0x0C       0x08   2     n, the number of slots (at most 255)
//   0x0E       0x0A   2*n   one entry a slot: offset (bits 0-12) | flags
//
// Entry flags: 0x4000 alone, the slot forwards to a moved row (its first four
// bytes are a row pointer); 0x8000 alone, the slot holds the moved copy of
// another slot's row; both, the row is deleted.
//
// Rows are packed from the page end downwards in slot order: a slot's bytes
// end where the last placed slot before it begins (slot 0 at the page end).
// The deleted-row rule: a deleted slot whose offset is out of that order
// (above its end, or inside the header) carries a stale offset; it has no
// bytes and bounds nothing. A deleted slot in order bounds the next slot and
// has no bytes. Any other slot out of order makes the page damaged.
#pragma once

#include <cassert>
#include <cstdint>
#include <vector>

#include "jet/storage/bytes.h"
#include "jet/storage/format.h"

namespace jet {

inline constexpr uint16_t kSlotDeleted = 0x8000;  // alone: the moved copy of another slot
inline constexpr uint16_t kSlotForward = 0x4000;
inline constexpr uint16_t kSlotFlags = kSlotDeleted | kSlotForward;
inline constexpr uint16_t kSlotOffset = 0x1FFF;
inline constexpr uint16_t kMaxSlots = 255;

enum class SlotKind : uint8_t { kRow, kForward, kMovedCopy, kDeleted };

inline SlotKind KindOf(uint16_t flags) {
  switch (flags & kSlotFlags) {
    case 0:
      return SlotKind::kRow;
    case kSlotForward:
      return SlotKind::kForward;
    case kSlotDeleted:
      return SlotKind::kMovedCopy;
    default:
      return SlotKind::kDeleted;
  }
}

class RowTable {
 public:
  struct Slot {
    uint16_t flags = 0;   // the entry's flag bits as stored
    uint16_t offset = 0;  // 0 for deleted slots, whose bytes are never needed
    uint16_t length = 0;
    SlotKind kind() const { return KindOf(flags); }
  };

  RowTable() = default;
  // Decodes and checks the whole table. Throws "damaged" for a count that
  // overflows the page or a live slot out of order.
  RowTable(Bytes page, const Layout& layout) { Load(page, layout); }
  // The same, reusing this object's storage (a scan loads page after page).
  void Load(Bytes page, const Layout& layout);

  uint16_t size() const { return static_cast<uint16_t>(slots_.size()); }
  const Slot& operator[](uint16_t i) const { return slots_[i]; }
  // Offset of the lowest placed row (the page size when none is placed).
  uint32_t lowest() const { return lowest_; }
  // Bytes free by the invariant above.
  uint32_t computed_free() const { return lowest_ - end_of_table_; }
  // The bytes of slot `i` in `page` (empty for deleted slots).
  Bytes Row(Bytes page, uint16_t i) const {
    return page.subspan(slots_[i].offset, slots_[i].length);
  }

  // The slot count stored in a page.
  static uint16_t Count(Bytes page, const Layout& layout) {
    return U16(page, layout.data_row_count);
  }
  // The bytes of one slot, by the same rule, reading no entry after it;
  // `flags`, when given, gets the slot's flag bits. Throws for a slot past
  // the count; empty for deleted slots.
  static Bytes RowAt(Bytes page, const Layout& layout, uint16_t i, uint16_t* flags = nullptr);

  // Decodes every slot by the rule above, calling `f(i, slot)` for each;
  // returns the offset of the lowest placed row. Throws as Load does.
  template <typename F>
  static uint32_t ForEachSlot(Bytes page, const Layout& layout, F&& f);

  // Write side: an entry, and the count and free-space fields.
  static void PutEntry(MutableBytes page, const Layout& layout, uint16_t i, uint16_t offset,
                       uint16_t flags) {
    assert((offset & ~kSlotOffset) == 0 && (flags & ~kSlotFlags) == 0);
    const uint16_t e = static_cast<uint16_t>(offset | flags);
    page[layout.data_header + 2u * i] = static_cast<uint8_t>(e);
    page[layout.data_header + 2u * i + 1] = static_cast<uint8_t>(e >> 8);
  }
  static void PutCountAndFree(MutableBytes page, const Layout& layout, uint16_t n, uint16_t free);

 private:
  // Where the offset table ends; throws when it does not fit the page.
  static uint32_t TableEnd(Bytes page, const Layout& layout, uint16_t n);
  // Applies the rule to one entry: `end` is where the slot's bytes would
  // end, and becomes where the next slot's end. False for a live slot out of
  // order.
  static bool Place(uint16_t entry, uint32_t table_end, uint32_t& end, Slot& slot) {
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

  std::vector<Slot> slots_;
  uint32_t lowest_ = 0;
  uint32_t end_of_table_ = 0;
};

template <typename F>
uint32_t RowTable::ForEachSlot(Bytes page, const Layout& layout, F&& f) {
  const uint16_t n = Count(page, layout);
  const uint32_t table_end = TableEnd(page, layout, n);
  uint32_t end = static_cast<uint32_t>(page.size());
  const uint8_t* entry = page.data() + layout.data_header;
  Slot slot;
  for (uint16_t i = 0; i < n; ++i, entry += 2) {
    const uint16_t e = static_cast<uint16_t>(entry[0] | (entry[1] << 8));
    if (!Place(e, table_end, end, slot)) ThrowDamaged("a row lies outside its page");
    f(i, slot);
  }
  return end;
}

}  // namespace jet
