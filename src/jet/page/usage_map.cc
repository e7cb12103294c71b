#include "jet/page/usage_map.h"

#include "jet/storage/format.h"
#include "jet/storage/pager.h"

namespace jet {

Bytes RowBytes(Bytes page, const Layout& L, uint16_t row, uint32_t page_size) {
  uint16_t count = U16(page, L.data_row_count);
  if (row >= count) ThrowDamaged("a row pointer names a row that does not exist");
  uint16_t entry = U16(page, L.data_header + 2u * row);
  if (entry & 0x8000 && (entry & 0x4000)) return {};
  uint32_t start = entry & 0x1FFF;
  uint32_t end = page_size;
  if (row > 0) end = U16(page, L.data_header + 2u * (row - 1)) & 0x1FFF;
  uint32_t table_end = L.data_header + 2u * count;
  if (start < table_end || start > end || end > page_size) {
    ThrowDamaged("a row lies outside its page");
  }
  return page.subspan(start, end - start);
}

std::vector<uint32_t> ReadUsageMap(Pager& pager, const Layout& L, uint32_t row_pointer) {
  std::vector<uint32_t> pages;
  RowId id = RowId::Unpack(row_pointer);
  PagePtr p = pager.Get(id.page);
  Bytes row = RowBytes(p->bytes(), L, id.row, pager.page_size());
  if (row.empty()) ThrowDamaged("a usage map row is missing");
  uint8_t kind = row[0];
  if (kind == 0) {
    if (row.size() < 5) ThrowDamaged("a usage map row is too short");
    uint32_t start = U32(row, 1);
    for (size_t i = 5; i < row.size(); ++i) {
      uint8_t bits = row[i];
      for (int k = 0; bits && k < 8; ++k, bits >>= 1) {
        if (bits & 1) pages.push_back(start + static_cast<uint32_t>((i - 5) * 8 + k));
      }
    }
  } else if (kind == 1) {
    const uint32_t per_page = (pager.page_size() - 4) * 8;
    size_t entries = (row.size() - 1) / 4;
    std::vector<uint32_t> map_pages;
    for (size_t k = 0; k < entries; ++k) map_pages.push_back(U32(row, 1 + 4 * k));
    for (size_t k = 0; k < map_pages.size(); ++k) {
      if (map_pages[k] == 0) continue;
      PagePtr mp = pager.Get(map_pages[k]);
      if (mp->data[0] != 0x05) ThrowDamaged("a usage map points to a page that is not a bitmap");
      for (uint32_t i = 4; i < pager.page_size(); ++i) {
        uint8_t bits = mp->data[i];
        for (int b = 0; bits && b < 8; ++b, bits >>= 1) {
          if (bits & 1) pages.push_back(static_cast<uint32_t>(k * per_page + (i - 4) * 8 + b));
        }
      }
    }
  } else {
    ThrowDamaged("a usage map has an unknown kind");
  }
  return pages;
}

}  // namespace jet
