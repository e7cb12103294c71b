// Usage maps: which pages belong to an object (or, for the file-wide map on
// page 1, which pages are free). A map is a row, either an inline bitmap or a
// list of bitmap pages.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/storage/bytes.h"

namespace jet {

class Pager;
struct Layout;

// Finds the bytes of row `row` on `page` (following no overflow pointers).
// Returns an empty span for deleted rows.
Bytes RowBytes(Bytes page, const Layout& layout, uint16_t row, uint32_t page_size);

// Every page set in the map named by the row pointer, ascending. Bitmap pages
// are read lazily but the result is materialised: a map lists at most a few
// hundred thousand pages.
std::vector<uint32_t> ReadUsageMap(Pager& pager, const Layout& layout, uint32_t row_pointer);

}  // namespace jet
