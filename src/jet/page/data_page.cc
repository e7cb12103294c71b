#include "jet/page/data_page.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

namespace jet {

DataPage::DataPage(MutableBytes page, const Layout& layout) : page_(page), layout_(&layout) {
  const Bytes b(page.data(), page.size());
  slots_.resize(RowTable::Count(b, layout));
  RowTable::ForEachSlot(b, layout, [this](uint16_t i, const RowTable::Slot& s) {
    slots_[i].flags = s.flags;
    slots_[i].offset = s.offset;
    slots_[i].length = s.length;
  });
}

std::string_view DataPage::bytes(uint16_t i) const {
  const Slot& s = slots_[i];
  if (s.owned) return s.data;
  return std::string_view(reinterpret_cast<const char*>(page_.data()) + s.offset, s.length);
}

std::string& DataPage::mutable_bytes(uint16_t i) {
  Slot& s = slots_[i];
  if (!s.owned) {
    s.data.assign(reinterpret_cast<const char*>(page_.data()) + s.offset, s.length);
    s.owned = true;
  }
  return s.data;
}

void DataPage::set_bytes(uint16_t i, std::string b) {
  slots_[i].data = std::move(b);
  slots_[i].owned = true;
}

int32_t DataPage::FreeSpace() const {
  int32_t used = static_cast<int32_t>(layout_->data_header + 2 * slots_.size());
  for (const auto& s : slots_) used += static_cast<int32_t>(s.size());
  return static_cast<int32_t>(page_.size()) - used;
}

bool DataPage::CanAdd(size_t len) const {
  return slots_.size() < kMaxSlots && FreeSpace() >= static_cast<int32_t>(len + 2);
}

uint16_t DataPage::Add(std::string bytes, uint16_t flags) {
  assert(slots_.size() < kMaxSlots);
  Slot s;
  s.flags = flags;
  s.owned = true;
  s.data = std::move(bytes);
  slots_.push_back(std::move(s));
  return static_cast<uint16_t>(slots_.size() - 1);
}

uint16_t DataPage::AddReusingDeleted(std::string bytes) {
  for (uint16_t i = 0; i < slots_.size(); ++i) {
    if (KindOf(slots_[i].flags) == SlotKind::kDeleted && slots_[i].size() == 0) {
      slots_[i].flags = 0;
      set_bytes(i, std::move(bytes));
      return i;
    }
  }
  return Add(std::move(bytes));
}

bool HasDeletedSlot(Bytes page, const Layout& layout) {
  const uint16_t n = RowTable::Count(page, layout);
  for (uint16_t i = 0; i < n && layout.data_header + 2u * i + 2 <= page.size(); ++i) {
    if (KindOf(U16(page, layout.data_header + 2u * i)) == SlotKind::kDeleted) return true;
  }
  return false;
}

void DataPage::Delete(uint16_t i) {
  slots_[i].flags = kSlotFlags;
  slots_[i].data.clear();
  slots_[i].owned = true;
}

void DataPage::Store() {
  if (FreeSpace() < 0) ThrowDamaged("rows no longer fit their page");
  const uint32_t n = static_cast<uint32_t>(slots_.size());
  uint32_t end = static_cast<uint32_t>(page_.size());
  // Rows before the first changed one are already where they belong.
  uint32_t first = 0;
  for (; first < n && !slots_[first].owned; ++first) {
    const Slot& s = slots_[first];
    if (s.length && s.offset + s.length != end) break;  // a dropped row left a gap above it
    end -= s.length;
    RowTable::PutEntry(page_, *layout_, static_cast<uint16_t>(first), static_cast<uint16_t>(end),
                       s.flags);
  }
  // The rest move, so the unchanged ones among them are read from a copy of
  // the region they occupy. Slots without bytes have no place to copy from.
  uint32_t low = end;
  for (uint32_t i = first; i < n; ++i) {
    if (!slots_[i].owned && slots_[i].length) low = std::min<uint32_t>(low, slots_[i].offset);
  }
  thread_local std::vector<uint8_t> scratch;
  scratch.assign(page_.begin() + low, page_.begin() + end);
  for (uint32_t i = first; i < n; ++i) {
    const Slot& s = slots_[i];
    const uint32_t len = static_cast<uint32_t>(s.size());
    const uint32_t start = end - len;
    // A row without bytes (a deleted one keeps offset 0) has nothing to copy
    // and may lie outside the copied region.
    if (len) {
      assert(s.owned || (s.offset >= low && s.offset + len <= low + scratch.size()));
      const uint8_t* src = s.owned ? reinterpret_cast<const uint8_t*>(s.data.data())
                                   : scratch.data() + (s.offset - low);
      std::memmove(page_.data() + start, src, len);
    }
    RowTable::PutEntry(page_, *layout_, static_cast<uint16_t>(i), static_cast<uint16_t>(start),
                       s.flags);
    end = start;
  }
  // Leave no stale bytes between the offset table and the rows.
  const uint32_t table_end = layout_->data_header + 2 * n;
  std::memset(page_.data() + table_end, 0, end - table_end);
  RowTable::PutCountAndFree(page_, *layout_, static_cast<uint16_t>(n),
                            static_cast<uint16_t>(end - table_end));
}

void InitDataPage(MutableBytes page, const Layout& layout, uint32_t owner) {
  std::memset(page.data(), 0, page.size());
  StampPage(page, PageType::kData);
  Put32(page, layout.data_owner, owner);
  RowTable::PutCountAndFree(page, layout, 0,
                            static_cast<uint16_t>(page.size() - layout.data_header));
}

}  // namespace jet
