#include "jet/page_ops.h"

#include <cstring>
#include <vector>

namespace jet {

DataPage::DataPage(MutableBytes page, const Layout& layout) : page_(page), layout_(&layout) {
  Bytes b(page.data(), page.size());
  uint16_t n = U16(b, layout.data_row_count);
  if (n > 255 || layout.data_header + 2u * n > page.size()) {
    ThrowDamaged("a page's row table overflows it");
  }
  slots_.resize(n);
  uint32_t end = static_cast<uint32_t>(page.size());
  for (uint16_t i = 0; i < n; ++i) {
    uint16_t e = U16(b, layout.data_header + 2u * i);
    uint32_t start = e & 0x1FFF;
    slots_[i].flags = e & 0xC000;
    // Deleted slots may carry stale offsets; their bytes are never needed.
    if ((e & 0xC000) == 0xC000) {
      if (start <= end && start >= layout.data_header + 2u * n) end = start;
      continue;
    }
    if (start > end || start < layout.data_header + 2u * n) ThrowDamaged("a row lies outside its page");
    slots_[i].bytes.assign(reinterpret_cast<const char*>(b.data()) + start, end - start);
    end = start;
  }
}

int32_t DataPage::FreeSpace() const {
  int32_t used = static_cast<int32_t>(layout_->data_header + 2 * slots_.size());
  for (const auto& s : slots_) used += static_cast<int32_t>(s.bytes.size());
  return static_cast<int32_t>(page_.size()) - used;
}

bool DataPage::CanAdd(size_t len) const {
  return slots_.size() < 255 && FreeSpace() >= static_cast<int32_t>(len + 2);
}

uint16_t DataPage::Add(std::string bytes, uint16_t flags) {
  slots_.push_back(Slot{flags, std::move(bytes)});
  return static_cast<uint16_t>(slots_.size() - 1);
}

void DataPage::Delete(uint16_t i) {
  slots_[i].flags = kSlotDeleted | kSlotForward;
  slots_[i].bytes.clear();
}

void DataPage::Store() {
  if (FreeSpace() < 0) ThrowDamaged("rows no longer fit their page");
  const uint32_t n = static_cast<uint32_t>(slots_.size());
  uint32_t end = static_cast<uint32_t>(page_.size());
  for (uint32_t i = 0; i < n; ++i) {
    const Slot& s = slots_[i];
    uint32_t start = end - static_cast<uint32_t>(s.bytes.size());
    std::memcpy(page_.data() + start, s.bytes.data(), s.bytes.size());
    Put16(page_, layout_->data_header + 2 * i, static_cast<uint16_t>(start | s.flags));
    end = start;
  }
  // Leave no stale bytes between the offset table and the rows.
  uint32_t table_end = layout_->data_header + 2 * n;
  std::memset(page_.data() + table_end, 0, end - table_end);
  Put16(page_, layout_->data_row_count, static_cast<uint16_t>(n));
  Put16(page_, layout_->data_free, static_cast<uint16_t>(end - table_end));
}

bool ReplaceSlotBytes(MutableBytes page, const Layout& layout, uint16_t slot, Bytes bytes,
                      int flags) {
  Bytes b(page.data(), page.size());
  const uint32_t old_n = U16(b, layout.data_row_count);
  if (old_n > 255 || layout.data_header + 2u * old_n > page.size()) {
    ThrowDamaged("a page's row table overflows it");
  }
  if (slot > old_n || (slot == old_n && (old_n == 255 || flags < 0))) {
    ThrowDamaged("a row pointer names a row that does not exist");
  }
  const uint32_t n = slot == old_n ? old_n + 1 : old_n;
  const uint32_t old_table_end = layout.data_header + 2u * old_n;
  const uint32_t table_end = layout.data_header + 2u * n;
  // Where each slot's bytes lie now, read as the DataPage constructor reads them.
  struct Extent {
    uint16_t flags;
    uint32_t start, len;
  };
  Extent extents[256];
  uint32_t end = static_cast<uint32_t>(page.size());
  uint32_t used = table_end;
  for (uint32_t i = 0; i < old_n; ++i) {
    uint16_t e = U16(b, layout.data_header + 2u * i);
    uint32_t start = e & 0x1FFF;
    extents[i] = {static_cast<uint16_t>(e & 0xC000), 0, 0};
    if ((e & 0xC000) == 0xC000) {
      if (start <= end && start >= old_table_end) end = start;
      continue;
    }
    if (start > end || start < old_table_end) ThrowDamaged("a row lies outside its page");
    extents[i].start = start;
    extents[i].len = end - start;
    end = start;
    used += i == slot ? 0 : extents[i].len;
  }
  if (slot < old_n && flags < 0 && (extents[slot].flags & 0xC000) == 0xC000) {
    ThrowDamaged("a deleted row cannot be rewritten");
  }
  extents[slot].flags = static_cast<uint16_t>(flags < 0 ? extents[slot].flags : flags);
  used += static_cast<uint32_t>(bytes.size());
  if (used > page.size()) return false;
  thread_local std::vector<uint8_t> rows;
  rows.resize(page.size());
  uint32_t at = static_cast<uint32_t>(page.size());
  uint16_t offsets[256];
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* from = i == slot ? bytes.data() : page.data() + extents[i].start;
    uint32_t len = i == slot ? static_cast<uint32_t>(bytes.size()) : extents[i].len;
    at -= len;
    if (len) std::memcpy(rows.data() + at, from, len);
    offsets[i] = static_cast<uint16_t>(at | extents[i].flags);
  }
  std::memcpy(page.data() + at, rows.data() + at, page.size() - at);
  for (uint32_t i = 0; i < n; ++i) Put16(page, layout.data_header + 2 * i, offsets[i]);
  std::memset(page.data() + table_end, 0, at - table_end);
  Put16(page, layout.data_row_count, static_cast<uint16_t>(n));
  Put16(page, layout.data_free, static_cast<uint16_t>(at - table_end));
  return true;
}

void InitDataPage(MutableBytes page, const Layout& layout, uint32_t owner) {
  std::memset(page.data(), 0, page.size());
  page[0] = 0x01;
  page[1] = 0x01;
  Put32(page, layout.data_owner, owner);
  Put16(page, layout.data_row_count, 0);
  Put16(page, layout.data_free, static_cast<uint16_t>(page.size() - layout.data_header));
}

}  // namespace jet
