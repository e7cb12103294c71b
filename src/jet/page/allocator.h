// Page allocation and usage-map changes. New pages are appended to the file
// and marked used in the file-wide map on page 1 (where a page left marked
// free would later be handed out again by Access and overwritten).
#pragma once

#include <cstdint>
#include <vector>

#include "jet/storage/bytes.h"
#include "jet/storage/format.h"
#include "jet/storage/pager.h"

namespace jet {

class PageAllocator {
 public:
  PageAllocator(Pager& pager, const Layout& layout) : pager_(pager), layout_(layout) {}

  // Appends a zeroed page, marks it used and returns it (already changed).
  PagePtr NewPage();
  // Adds or removes `page` in the object usage map stored at `map_row`.
  void SetInMap(uint32_t map_row, uint32_t page, bool on);
  bool InMap(uint32_t map_row, uint32_t page);
  // Pages of the map (ascending).
  std::vector<uint32_t> MapPages(uint32_t map_row);
  // Whether the file-wide map calls `page` free.
  bool GlobalFree(uint32_t page);
  // Marks a page in the file-wide map.
  void MarkGlobal(uint32_t page, bool free);

 private:
  // Whether `page` is set in a usage map row of either kind; pages before an
  // inline window read as `before`, pages the map does not reach as `beyond`.
  bool MapBit(Bytes row, uint32_t page, bool before, bool beyond);

  Pager& pager_;
  const Layout& layout_;
};

}  // namespace jet
