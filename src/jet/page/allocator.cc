#include "jet/page/allocator.h"

#include <algorithm>

namespace jet {

namespace {

// The map row of a data page, as a private copy to change.
std::string& MapRow(DataPage& dp, uint16_t row, const char* what) {
  if (row >= dp.slot_count() || dp.bytes(row).size() < UsageMap::kInlineHeader) {
    ThrowDamaged(what);
  }
  return dp.mutable_bytes(row);
}

}  // namespace

PagePtr PageAllocator::NewPage() {
  PagePtr p = pager_.Append();
  MarkGlobal(p->number, false);
  return p;
}

bool PageAllocator::GlobalFree(uint32_t page) {
  PagePtr p1 = pager_.Get(1);
  Bytes row = RowTable::RowAt(p1->bytes(), layout_, 0);
  if (row.size() < UsageMap::kInlineHeader) ThrowDamaged("the file-wide usage map is missing");
  // Pages before the window count as used, pages past it (or in a range
  // without a bitmap page) as free.
  return maps_.Test(row, page, false, true);
}

bool PageAllocator::InMap(uint32_t map_row, uint32_t page) {
  PagePtr hold;
  Bytes row = maps_.Row(map_row, hold);
  if (row.size() < UsageMap::kInlineHeader) ThrowDamaged("a usage map row is missing");
  return maps_.Test(row, page, false, false);
}

void PageAllocator::MarkGlobal(uint32_t page, bool free) {
  PagePtr p1 = pager_.GetForWrite(1);
  DataPage dp(p1->mutable_bytes(), layout_);
  std::string& row = MapRow(dp, 0, "the file-wide usage map is missing");
  if (UsageMap::KindOf(row) != UsageMap::kInline) {
    MarkGlobalReference(dp, row, page, free);
    return;
  }
  const uint32_t start = UsageMap::WindowStart(row);
  if (page < start) {
    if (free) return;  // before the window counts as used; nothing to free there
    ThrowDamaged("a new page lies before the file-wide map's window");
  }
  if (page - start >= UsageMap::WindowBits(row)) {
    if (free) return;  // past the window already counts as free
    ReachGlobal(dp, row, page);
  }
  UsageMap::SetInlineBit(row, page - UsageMap::WindowStart(row), free);
  dp.Store();
}

void PageAllocator::ReachGlobal(DataPage& dp, std::string& row, uint32_t page) {
  const uint32_t start = UsageMap::WindowStart(row);
  const size_t bits = UsageMap::WindowBits(row);
  const uint32_t total = pager_.page_count();
  // Grow the row to reach the page; bits for pages that exist are used, bits
  // past the end of the file free.
  const size_t need = (page - start) / 8 + 1;
  const size_t grown = std::max(need + 32, row.size() - UsageMap::kInlineHeader);
  std::string wider = row;
  wider.resize(UsageMap::kInlineHeader + grown, '\0');
  for (size_t bit = bits; bit < grown * 8; ++bit) {
    UsageMap::SetInlineBit(wider, bit, start + bit >= total);
  }
  if (dp.FreeSpace() >= static_cast<int32_t>(wider.size() - row.size())) {
    row = std::move(wider);
    return;
  }
  // No room on page 1: move the window forward, keeping the newest pages;
  // everything before it counts as used.
  const uint32_t nstart = (page - static_cast<uint32_t>(bits / 2)) & ~7u;
  std::string moved = row;
  UsageMap::ResetWindow(moved, nstart);
  for (size_t bit = 0; bit < bits; ++bit) {
    const uint32_t pg = nstart + static_cast<uint32_t>(bit);
    const bool was_free = pg < start + bits ? UsageMap::InlineBit(row, pg - start) : pg >= total;
    UsageMap::SetInlineBit(moved, bit, was_free);
  }
  row = std::move(moved);
}

void PageAllocator::MarkGlobalReference(DataPage& dp, std::string& row, uint32_t page, bool free) {
  const size_t k = maps_.BitmapSlot(row, page);
  uint32_t bp = UsageMap::BitmapPage(row, k);
  if (bp == 0) {
    if (free) return;
    // A fresh bitmap page starts all free; taken from the pager directly,
    // since marking it is what this call is doing.
    PagePtr b = pager_.Append();
    UsageMap::InitBitmapPage(*b, true);
    bp = b->number;
    UsageMap::SetBitmapPage(row, k, bp);
    dp.Store();
    // The bitmap page itself is in use; it may describe itself.
    MarkGlobal(bp, false);
    if (bp == page) return;
  }
  maps_.SetBitmapBit(bp, page, free);
}

void PageAllocator::SetInMap(uint32_t map_row, uint32_t page, bool on) {
  const RowId id = RowId::Unpack(map_row);
  PagePtr p = pager_.GetForWrite(id.page);
  DataPage dp(p->mutable_bytes(), layout_);
  std::string& row = MapRow(dp, id.row, "a usage map row is missing");
  if (UsageMap::KindOf(row) == UsageMap::kInline) {
    const uint32_t start = UsageMap::WindowStart(row);
    if (page >= start && page - start < UsageMap::WindowBits(row)) {
      UsageMap::SetInlineBit(row, page - start, on);
      dp.Store();
      return;
    }
    if (on) AddToWindow(dp, row, map_row, page);
    return;
  }
  SetInReference(map_row, row, page, on);
}

void PageAllocator::AddToWindow(DataPage& dp, std::string& row, uint32_t map_row, uint32_t page) {
  const uint32_t start = UsageMap::WindowStart(row);
  const size_t bits = UsageMap::WindowBits(row);
  std::vector<uint32_t> set;
  for (size_t bit = 0; bit < bits; ++bit) {
    if (UsageMap::InlineBit(row, bit)) set.push_back(start + static_cast<uint32_t>(bit));
  }
  set.push_back(page);
  const uint32_t lo = *std::min_element(set.begin(), set.end()) & ~7u;
  const uint32_t hi = *std::max_element(set.begin(), set.end());
  if (hi - lo < bits) {
    UsageMap::ResetWindow(row, lo);
    for (uint32_t pg : set) UsageMap::SetInlineBit(row, pg - lo, true);
    dp.Store();
    return;
  }
  // Too wide for an inline window: turn the row into a list of bitmap pages.
  UsageMap::MakeReference(row);
  dp.Store();
  for (uint32_t pg : set) SetInMap(map_row, pg, true);
}

void PageAllocator::SetInReference(uint32_t map_row, const std::string& row, uint32_t page,
                                   bool on) {
  const size_t k = maps_.BitmapSlot(row, page);
  uint32_t bp = UsageMap::BitmapPage(row, k);
  if (bp == 0) {
    if (!on) return;
    // Allocating touches other pages' maps; take the page first, then reread
    // this row before naming the new bitmap page in it.
    PagePtr b = NewPage();
    UsageMap::InitBitmapPage(*b, false);
    const RowId id = RowId::Unpack(map_row);
    PagePtr again = pager_.GetForWrite(id.page);
    DataPage dp2(again->mutable_bytes(), layout_);
    UsageMap::SetBitmapPage(dp2.mutable_bytes(id.row), k, b->number);
    dp2.Store();
    bp = b->number;
  }
  maps_.SetBitmapBit(bp, page, on);
}

}  // namespace jet
