// The first two bytes of every page but the header: its type, then a byte that
// Access sets to 1 on every page it initialises.
//
//   offset  size  meaning
//   0x00    1     PageType
//   0x01    1     kPageTag (0x01) on every initialised page
//
// A page that holds zero in byte 0 past page 0 was never initialised, or was
// freed; pages of types 0x08 and 0x09 occur on stale pages and are treated as
// unknown.
#pragma once

#include <cstdint>
#include <span>

namespace jet {

enum class PageType : uint8_t {
  kHeader = 0x00,           // page 0; elsewhere: never initialised or free
  kData = 0x01,             // table rows, long values, usage-map rows
  kTableDefinition = 0x02,  // first and continuation pages of a TDEF
  kIndexNode = 0x03,        // an intermediate page of an index tree
  kIndexLeaf = 0x04,        // a leaf page of an index tree
  kUsageBitmap = 0x05,      // a bitmap page of a reference usage map
};

inline constexpr uint8_t kPageTag = 0x01;

inline PageType TypeOf(std::span<const uint8_t> page) { return static_cast<PageType>(page[0]); }
inline bool IsType(std::span<const uint8_t> page, PageType type) {
  return !page.empty() && page[0] == static_cast<uint8_t>(type);
}
// Writes the type and the tag byte at the start of a page.
inline void StampPage(std::span<uint8_t> page, PageType type) {
  page[0] = static_cast<uint8_t>(type);
  page[1] = kPageTag;
}

}  // namespace jet
