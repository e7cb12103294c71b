// Page allocation and usage-map changes, on top of UsageMap. New pages are
// appended to the file and marked used in the file-wide map on page 1 (where
// a page left marked free would later be handed out again by Access and
// overwritten).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"
#include "jet/storage/bytes.h"
#include "jet/storage/format.h"
#include "jet/storage/pager.h"

namespace jet {

class PageAllocator {
 public:
  PageAllocator(Pager& pager, const Layout& layout)
      : pager_(pager), layout_(layout), maps_(pager, layout) {}

  // Appends a zeroed page, marks it used and returns it (already changed).
  PagePtr NewPage();
  // Adds or removes `page` in the object usage map stored at `map_row`.
  void SetInMap(uint32_t map_row, uint32_t page, bool on);
  bool InMap(uint32_t map_row, uint32_t page);
  // Pages of the map (ascending).
  std::vector<uint32_t> MapPages(uint32_t map_row) { return maps_.Pages(map_row); }
  // Whether the file-wide map calls `page` free.
  bool GlobalFree(uint32_t page);
  // Marks a page in the file-wide map.
  void MarkGlobal(uint32_t page, bool free);

 private:
  // The file-wide map's inline window, grown or moved to reach `page`.
  void ReachGlobal(DataPage& dp, std::string& row, uint32_t page);
  void MarkGlobalReference(DataPage& dp, std::string& row, uint32_t page, bool free);
  // An object map's inline window, widened to take `page`, or turned into a
  // reference map holding it when it cannot be.
  void AddToWindow(DataPage& dp, std::string& row, uint32_t map_row, uint32_t page);
  void SetInReference(uint32_t map_row, const std::string& row, uint32_t page, bool on);

  Pager& pager_;
  const Layout& layout_;
  UsageMap maps_;
};

}  // namespace jet
