// Changing the rows of a data page (table rows, long values, usage maps).
// A page is always rebuilt whole: rows packed from the page end downwards in
// slot order, the offset table and the free-space field recomputed. Slot
// numbers never change, so row pointers and index entries stay valid.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/bytes.h"
#include "jet/format.h"

namespace jet {

inline constexpr uint16_t kSlotDeleted = 0x8000;
inline constexpr uint16_t kSlotForward = 0x4000;

struct Slot {
  uint16_t flags = 0;  // kSlotDeleted / kSlotForward bits as stored
  std::string bytes;
};

class DataPage {
 public:
  DataPage(MutableBytes page, const Layout& layout);

  uint16_t slot_count() const { return static_cast<uint16_t>(slots_.size()); }
  const Slot& slot(uint16_t i) const { return slots_[i]; }
  Slot& slot(uint16_t i) { return slots_[i]; }
  // Bytes free for rows and their offset entries once the page is rebuilt.
  int32_t FreeSpace() const;
  // Room for a new row of `len` bytes (with its offset entry)?
  bool CanAdd(size_t len) const;
  // Appends a row; returns its slot number. The caller checked CanAdd.
  uint16_t Add(std::string bytes, uint16_t flags = 0);
  // Marks a slot deleted and drops its bytes (the slot number stays taken).
  void Delete(uint16_t i);
  // Writes the rows back into the page.
  void Store();

 private:
  MutableBytes page_;
  const Layout* layout_;
  std::vector<Slot> slots_;
};

// Gives one slot new bytes, and new flags unless `flags` is -1, and rebuilds
// the page as DataPage would, without copying every row into a buffer of
// its own (updates call this once per row). `slot` equal to the slot count
// appends a slot (flags required). Returns false, leaving the page as it
// was, when the rows would no longer fit.
bool ReplaceSlotBytes(MutableBytes page, const Layout& layout, uint16_t slot, Bytes bytes,
                      int flags = -1);

// Starts an empty data page of the given owner (a TDEF page, or the bytes
// "LVAL" for long values, or 0 for usage-map pages).
void InitDataPage(MutableBytes page, const Layout& layout, uint32_t owner);
inline constexpr uint32_t kLvalOwner = 0x4C41564C;  // "LVAL" read little-endian

}  // namespace jet
