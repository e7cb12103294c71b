// Usage maps: which pages belong to an object, or, for the file-wide map
// (page 1, row 0), which pages are free. A map is one row of a data page, of
// one of two kinds:
//
//   inline (kind 0)                     reference (kind 1)
//   offset size meaning                 offset size meaning
//   0x00   1    0                       0x00   1    1
//   0x01   4    first page of window    0x01   4*k  page numbers of bitmap
//   0x05   ...  bit i: page start + i                pages, 0 where none
//
// Bitmap page k of a reference map covers pages k*P to (k+1)*P - 1, where
// P = (page size - 4) * 8:
//
//   offset size meaning
//   0x00   4    05 01 00 00 (PageType::kUsageBitmap, kPageTag)
//   0x04   ...  bit i: page k*P + i
//
// Bits mean "owned" in object maps and "free" in the file-wide map; the
// caller says how pages outside what a map reaches read.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/storage/bytes.h"
#include "jet/storage/format.h"
#include "jet/storage/pager.h"

namespace jet {

class UsageMap {
 public:
  enum Kind : uint8_t { kInline = 0, kReference = 1 };
  static constexpr size_t kInlineHeader = 5;  // kind and window start
  static constexpr size_t kBitmapHeader = 4;  // of a bitmap page

  UsageMap(Pager& pager, const Layout& layout) : pager_(pager), layout_(layout) {}

  // Pages a bitmap page covers.
  uint32_t per_bitmap_page() const {
    return (pager_.page_size() - static_cast<uint32_t>(kBitmapHeader)) * 8;
  }

  // --- Reading.
  // The row a row pointer names; throws when it is missing or too short.
  Bytes Row(uint32_t row_pointer, PagePtr& hold);
  // Every page set in the map, ascending. Bitmap pages are read lazily but
  // the result is materialised: a map lists at most a few hundred thousand.
  std::vector<uint32_t> Pages(uint32_t row_pointer);
  // Whether `page` is set in `row`; pages before an inline window read as
  // `before`, pages the map does not reach as `beyond`.
  bool Test(Bytes row, uint32_t page, bool before, bool beyond);

  // --- Writing, on a private copy of the row the caller stores back.
  static Kind KindOf(const std::string& row) { return static_cast<Kind>(row[0]); }
  static uint32_t WindowStart(const std::string& row);
  static size_t WindowBits(const std::string& row) { return (row.size() - kInlineHeader) * 8; }
  static bool InlineBit(const std::string& row, size_t bit);
  static void SetInlineBit(std::string& row, size_t bit, bool on);
  // Starts an inline window at `start` with every bit clear.
  static void ResetWindow(std::string& row, uint32_t start);
  // Turns the row into an empty reference map of the same size.
  static void MakeReference(std::string& row);
  // The bitmap page slot for `page` in a reference row; throws when the row
  // has no slot that far.
  size_t BitmapSlot(const std::string& row, uint32_t page) const;
  static uint32_t BitmapPage(const std::string& row, size_t slot);
  static void SetBitmapPage(std::string& row, size_t slot, uint32_t page);
  // Stamps a fresh bitmap page with every bit `fill`.
  static void InitBitmapPage(Page& page, bool fill);
  // Sets the bit of `page` in bitmap page `bitmap`.
  void SetBitmapBit(uint32_t bitmap, uint32_t page, bool on);

 private:
  Pager& pager_;
  const Layout& layout_;
};

}  // namespace jet
