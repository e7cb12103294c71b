// Changing the rows of a data page (table rows, long values, usage-map rows);
// the page's layout is described in row_table.h. A page is always rebuilt
// whole: rows packed from the page end downwards in slot order, the offset
// table and the free-space field recomputed. Slot numbers never change, so
// row pointers and index entries stay valid.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/page/page_type.h"
#include "jet/page/row_table.h"
#include "jet/storage/bytes.h"
#include "jet/storage/format.h"

namespace jet {

class DataPage {
 public:
  // Reads the page's row table; throws "damaged" as RowTable does.
  DataPage(MutableBytes page, const Layout& layout);

  uint16_t slot_count() const { return static_cast<uint16_t>(slots_.size()); }
  uint16_t flags(uint16_t i) const { return slots_[i].flags; }
  void set_flags(uint16_t i, uint16_t f) { slots_[i].flags = f; }
  std::string_view bytes(uint16_t i) const;
  // A private copy of the row's bytes to change in place.
  std::string& mutable_bytes(uint16_t i);
  void set_bytes(uint16_t i, std::string b);
  // Bytes free for rows and their offset entries once the page is rebuilt.
  int32_t FreeSpace() const;
  // Room for a new row of `len` bytes (with its offset entry)?
  bool CanAdd(size_t len) const;
  // Appends a row; returns its slot number. The caller checked CanAdd.
  uint16_t Add(std::string bytes, uint16_t flags = 0);
  // Like Add, but takes the number of a deleted row when there is one. Only
  // for pages whose rows nothing else numbers (long values): a table row's
  // number may still be named by an index entry.
  uint16_t AddReusingDeleted(std::string bytes);
  // Marks a slot deleted and drops its bytes (the slot number stays taken).
  void Delete(uint16_t i);
  // Writes the rows back into the page.
  void Store();

 private:
  // Rows stay where they are in the page until they are changed, so that
  // reading and rebuilding a page costs no allocation per row.
  struct Slot {
    uint16_t flags = 0;  // kSlotDeleted / kSlotForward bits as stored
    uint16_t offset = 0;
    uint16_t length = 0;
    bool owned = false;
    std::string data;
    size_t size() const { return owned ? data.size() : length; }
  };
  MutableBytes page_;
  const Layout* layout_;
  std::vector<Slot> slots_;
};

// Whether a page has a deleted row whose number AddReusingDeleted can take.
bool HasDeletedSlot(Bytes page, const Layout& layout);

// Starts an empty data page of the given owner (a TDEF page, or the bytes
// "LVAL" for long values, or 0 for usage-map pages).
void InitDataPage(MutableBytes page, const Layout& layout, uint32_t owner);
inline constexpr uint32_t kLvalOwner = 0x4C41564C;  // "LVAL" read little-endian

// Whether `page` is a data page of this owner.
inline bool IsDataPageOf(Bytes page, const Layout& layout, uint32_t owner) {
  return IsType(page, PageType::kData) && U32(page, layout.data_owner) == owner;
}

}  // namespace jet
