#include "jet/page/allocator.h"

#include <algorithm>
#include <cstring>

#include "jet/page/data_page.h"
#include "jet/page/usage_map.h"

namespace jet {

namespace {

bool GetBit(const std::string& row, size_t bit_index) {
  return (static_cast<uint8_t>(row[5 + bit_index / 8]) >> (bit_index % 8)) & 1;
}
void SetBit(std::string& row, size_t bit_index, bool on) {
  uint8_t& b = reinterpret_cast<uint8_t&>(row[5 + bit_index / 8]);
  if (on) {
    b |= static_cast<uint8_t>(1u << (bit_index % 8));
  } else {
    b &= static_cast<uint8_t>(~(1u << (bit_index % 8)));
  }
}

}  // namespace

PagePtr PageAllocator::NewPage() {
  PagePtr p = pager_.Append();
  MarkGlobal(p->number, false);
  return p;
}

bool PageAllocator::GlobalFree(uint32_t page) {
  PagePtr p1 = pager_.Get(1);
  Bytes row = RowBytes(p1->bytes(), layout_, 0, pager_.page_size());
  if (row.size() < 5) ThrowDamaged("the file-wide usage map is missing");
  // Pages before the window count as used, pages past it (or in a range
  // without a bitmap page) as free.
  return MapBit(row, page, false, true);
}

bool PageAllocator::MapBit(Bytes row, uint32_t page, bool before, bool beyond) {
  if (row[0] == 0) {
    const uint32_t start = U32(row, 1);
    if (page < start) return before;
    const size_t bit = page - start;
    if (bit >= (row.size() - 5) * 8) return beyond;
    return (row[5 + bit / 8] >> (bit % 8)) & 1;
  }
  const uint32_t per = (pager_.page_size() - 4) * 8;
  const size_t k = page / per;
  if (1 + 4 * k + 4 > row.size()) return beyond;
  const uint32_t bp = U32(row, 1 + 4 * k);
  if (bp == 0) return beyond;
  PagePtr b = pager_.Get(bp);
  const uint32_t bit = page % per;
  return (b->data[4 + bit / 8] >> (bit % 8)) & 1;
}

void PageAllocator::MarkGlobal(uint32_t page, bool free) {
  PagePtr p1 = pager_.GetForWrite(1);
  DataPage dp(p1->mutable_bytes(), layout_);
  if (dp.slot_count() == 0 || dp.bytes(0).size() < 5) {
    ThrowDamaged("the file-wide usage map is missing");
  }
  std::string& row = dp.mutable_bytes(0);
  const uint32_t total = pager_.page_count();
  if (row[0] == 0) {
    uint32_t start = U32(Bytes(reinterpret_cast<const uint8_t*>(row.data()), row.size()), 1);
    size_t bits = (row.size() - 5) * 8;
    if (page < start) {
      if (free) return;  // before the window counts as used; nothing to free there
      ThrowDamaged("a new page lies before the file-wide map's window");
    }
    if (page - start >= bits) {
      if (free) return;  // past the window already counts as free
      // Grow the map row to reach the page; bits for pages that exist are
      // used, bits past the end of the file free.
      size_t need = (page - start) / 8 + 1;
      size_t grown = std::max(need + 32, row.size() - 5);
      std::string nrow = row;
      nrow.resize(5 + grown, '\0');
      for (size_t bit = bits; bit < grown * 8; ++bit) {
        SetBit(nrow, bit, start + bit >= total);
      }
      int32_t growth = static_cast<int32_t>(nrow.size() - row.size());
      if (dp.FreeSpace() >= growth) {
        row = std::move(nrow);
      } else {
        // No room on page 1: move the window forward, keeping the newest
        // pages; everything before it counts as used.
        uint32_t nstart = (page - static_cast<uint32_t>(bits / 2)) & ~7u;
        std::string moved = row;
        std::memset(moved.data() + 5, 0, moved.size() - 5);
        Put32(MutableBytes(reinterpret_cast<uint8_t*>(moved.data()), moved.size()), 1, nstart);
        for (size_t bit = 0; bit < bits; ++bit) {
          uint32_t pg = nstart + static_cast<uint32_t>(bit);
          bool was_free;
          if (pg < start + bits) {
            was_free = GetBit(row, pg - start);
          } else {
            was_free = pg >= total;
          }
          SetBit(moved, bit, was_free);
        }
        row = std::move(moved);
        start = nstart;
      }
    }
    SetBit(row, page - start, free);
    dp.Store();
    return;
  }
  // A reference map: bitmap pages of (page size - 4) * 8 pages each.
  const uint32_t per = (pager_.page_size() - 4) * 8;
  size_t k = page / per;
  if (1 + 4 * k + 4 > row.size()) ThrowDamaged("the file grew past what its usage map can hold");
  uint32_t bp = U32(Bytes(reinterpret_cast<const uint8_t*>(row.data()), row.size()), 1 + 4 * k);
  if (bp == 0) {
    if (free) return;
    PagePtr b = pager_.Append();
    std::memset(b->data.data(), 0xFF, b->data.size());
    b->data[0] = 0x05;
    b->data[1] = 0x01;
    b->data[2] = b->data[3] = 0;
    bp = b->number;
    Put32(MutableBytes(reinterpret_cast<uint8_t*>(row.data()), row.size()), 1 + 4 * k, bp);
    dp.Store();
    // The bitmap page itself is in use; it may describe itself.
    MarkGlobal(bp, false);
    if (bp == page) return;
  }
  PagePtr b = pager_.GetForWrite(bp);
  uint32_t bit = page % per;
  if (free) {
    b->data[4 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  } else {
    b->data[4 + bit / 8] &= static_cast<uint8_t>(~(1u << (bit % 8)));
  }
}

std::vector<uint32_t> PageAllocator::MapPages(uint32_t map_row) {
  return ReadUsageMap(pager_, layout_, map_row);
}

bool PageAllocator::InMap(uint32_t map_row, uint32_t page) {
  RowId id = RowId::Unpack(map_row);
  PagePtr p = pager_.Get(id.page);
  Bytes row = RowBytes(p->bytes(), layout_, id.row, pager_.page_size());
  if (row.size() < 5) ThrowDamaged("a usage map row is missing");
  return MapBit(row, page, false, false);
}

void PageAllocator::SetInMap(uint32_t map_row, uint32_t page, bool on) {
  RowId id = RowId::Unpack(map_row);
  PagePtr p = pager_.GetForWrite(id.page);
  DataPage dp(p->mutable_bytes(), layout_);
  if (id.row >= dp.slot_count() || dp.bytes(id.row).size() < 5) {
    ThrowDamaged("a usage map row is missing");
  }
  std::string& row = dp.mutable_bytes(id.row);
  auto mrow = [&]() { return MutableBytes(reinterpret_cast<uint8_t*>(row.data()), row.size()); };
  const uint32_t per = (pager_.page_size() - 4) * 8;
  if (row[0] == 0) {
    uint32_t start = U32(mrow(), 1);
    size_t bits = (row.size() - 5) * 8;
    if (page >= start && page - start < bits) {
      SetBit(row, page - start, on);
      dp.Store();
      return;
    }
    if (!on) return;
    std::vector<uint32_t> set;
    for (size_t bit = 0; bit < bits; ++bit) {
      if (GetBit(row, bit)) set.push_back(start + static_cast<uint32_t>(bit));
    }
    set.push_back(page);
    uint32_t lo = *std::min_element(set.begin(), set.end()) & ~7u;
    uint32_t hi = *std::max_element(set.begin(), set.end());
    if (hi - lo < bits) {
      std::memset(row.data() + 1, 0, row.size() - 1);
      Put32(mrow(), 1, lo);
      for (uint32_t pg : set) SetBit(row, pg - lo, true);
      dp.Store();
      return;
    }
    // Too wide for an inline window: turn the row into a list of bitmap pages.
    std::memset(row.data(), 0, row.size());
    row[0] = 1;
    dp.Store();
    for (uint32_t pg : set) SetInMap(map_row, pg, true);
    return;
  }
  size_t k = page / per;
  if (1 + 4 * k + 4 > row.size()) ThrowDamaged("a table grew past what its usage map can hold");
  uint32_t bp = U32(mrow(), 1 + 4 * k);
  if (bp == 0) {
    if (!on) return;
    // Allocating touches other pages' maps; take the page first, then
    // reread this row before naming the new bitmap page in it.
    PagePtr b = NewPage();
    b->data[0] = 0x05;
    b->data[1] = 0x01;
    PagePtr again = pager_.GetForWrite(id.page);
    DataPage dp2(again->mutable_bytes(), layout_);
    std::string& row2 = dp2.mutable_bytes(id.row);
    Put32(MutableBytes(reinterpret_cast<uint8_t*>(row2.data()), row2.size()), 1 + 4 * k, b->number);
    dp2.Store();
    bp = b->number;
  }
  PagePtr b = pager_.GetForWrite(bp);
  uint32_t bit = page % per;
  if (on) {
    b->data[4 + bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
  } else {
    b->data[4 + bit / 8] &= static_cast<uint8_t>(~(1u << (bit % 8)));
  }
}

}  // namespace jet
