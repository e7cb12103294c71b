#include "jet/page/usage_map.h"

#include <cassert>
#include <cstring>

#include "jet/page/page_type.h"
#include "jet/page/row_table.h"

namespace jet {

namespace {

MutableBytes Writable(std::string& row) {
  return MutableBytes(reinterpret_cast<uint8_t*>(row.data()), row.size());
}
Bytes View(const std::string& row) {
  return Bytes(reinterpret_cast<const uint8_t*>(row.data()), row.size());
}

}  // namespace

Bytes UsageMap::Row(uint32_t row_pointer, PagePtr& hold) {
  const RowId id = RowId::Unpack(row_pointer);
  hold = pager_.Get(id.page);
  Bytes row = RowTable::RowAt(hold->bytes(), layout_, id.row);
  if (row.empty()) ThrowDamaged("a usage map row is missing");
  if (row[0] == kInline && row.size() < kInlineHeader) {
    ThrowDamaged("a usage map row is too short");
  }
  if (row[0] != kInline && row[0] != kReference) ThrowDamaged("a usage map has an unknown kind");
  return row;
}

std::vector<uint32_t> UsageMap::Pages(uint32_t row_pointer) {
  std::vector<uint32_t> pages;
  PagePtr hold;
  const Bytes row = Row(row_pointer, hold);
  if (row[0] == kInline) {
    const uint32_t start = U32(row, 1);
    for (size_t i = kInlineHeader; i < row.size(); ++i) {
      uint8_t bits = row[i];
      for (int k = 0; bits && k < 8; ++k, bits >>= 1) {
        if (bits & 1) pages.push_back(start + static_cast<uint32_t>((i - kInlineHeader) * 8 + k));
      }
    }
    return pages;
  }
  const uint32_t per = per_bitmap_page();
  const size_t slots = (row.size() - 1) / 4;
  for (size_t k = 0; k < slots; ++k) {
    const uint32_t bp = U32(row, 1 + 4 * k);
    if (bp == 0) continue;
    PagePtr mp = pager_.Get(bp);
    if (!IsType(mp->bytes(), PageType::kUsageBitmap)) {
      ThrowDamaged("a usage map points to a page that is not a bitmap");
    }
    for (uint32_t i = kBitmapHeader; i < pager_.page_size(); ++i) {
      uint8_t bits = mp->data[i];
      for (int b = 0; bits && b < 8; ++b, bits >>= 1) {
        if (bits & 1) pages.push_back(static_cast<uint32_t>(k * per + (i - kBitmapHeader) * 8 + b));
      }
    }
  }
  return pages;
}

bool UsageMap::Test(Bytes row, uint32_t page, bool before, bool beyond) {
  if (row[0] == kInline) {
    const uint32_t start = U32(row, 1);
    if (page < start) return before;
    const size_t bit = page - start;
    if (bit >= (row.size() - kInlineHeader) * 8) return beyond;
    return (row[kInlineHeader + bit / 8] >> (bit % 8)) & 1;
  }
  const uint32_t per = per_bitmap_page();
  const size_t k = page / per;
  if (1 + 4 * k + 4 > row.size()) return beyond;
  const uint32_t bp = U32(row, 1 + 4 * k);
  if (bp == 0) return beyond;
  PagePtr b = pager_.Get(bp);
  const uint32_t bit = page % per;
  return (b->data[kBitmapHeader + bit / 8] >> (bit % 8)) & 1;
}

uint32_t UsageMap::WindowStart(const std::string& row) {
  assert(KindOf(row) == kInline && row.size() >= kInlineHeader);
  return U32(View(row), 1);
}

bool UsageMap::InlineBit(const std::string& row, size_t bit) {
  assert(bit < WindowBits(row));
  return (static_cast<uint8_t>(row[kInlineHeader + bit / 8]) >> (bit % 8)) & 1;
}

void UsageMap::SetInlineBit(std::string& row, size_t bit, bool on) {
  assert(bit < WindowBits(row));
  uint8_t& b = reinterpret_cast<uint8_t&>(row[kInlineHeader + bit / 8]);
  if (on) {
    b |= static_cast<uint8_t>(1u << (bit % 8));
  } else {
    b &= static_cast<uint8_t>(~(1u << (bit % 8)));
  }
}

void UsageMap::ResetWindow(std::string& row, uint32_t start) {
  std::memset(row.data() + 1, 0, row.size() - 1);
  row[0] = kInline;
  Put32(Writable(row), 1, start);
}

void UsageMap::MakeReference(std::string& row) {
  std::memset(row.data(), 0, row.size());
  row[0] = kReference;
}

size_t UsageMap::BitmapSlot(const std::string& row, uint32_t page) const {
  const size_t k = page / per_bitmap_page();
  if (1 + 4 * k + 4 > row.size()) ThrowDamaged("the file grew past what a usage map can hold");
  return k;
}

uint32_t UsageMap::BitmapPage(const std::string& row, size_t slot) {
  return U32(View(row), 1 + 4 * slot);
}

void UsageMap::SetBitmapPage(std::string& row, size_t slot, uint32_t page) {
  Put32(Writable(row), 1 + 4 * slot, page);
}

void UsageMap::InitBitmapPage(Page& page, bool fill) {
  std::memset(page.data.data(), fill ? 0xFF : 0x00, page.data.size());
  StampPage(page.mutable_bytes(), PageType::kUsageBitmap);
  page.data[2] = page.data[3] = 0;
}

void UsageMap::SetBitmapBit(uint32_t bitmap, uint32_t page, bool on) {
  PagePtr b = pager_.GetForWrite(bitmap);
  assert(IsType(b->bytes(), PageType::kUsageBitmap));
  const uint32_t bit = page % per_bitmap_page();
  uint8_t& byte = b->data[kBitmapHeader + bit / 8];
  if (on) {
    byte |= static_cast<uint8_t>(1u << (bit % 8));
  } else {
    byte &= static_cast<uint8_t>(~(1u << (bit % 8)));
  }
}

}  // namespace jet
