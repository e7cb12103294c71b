// How the bytes of a page on disk become the bytes the engine works with, and
// back. Plain files use no codec; Jet's "encrypt database" and Office
// encryption each bring one. Page 0 is never passed through a codec.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace jet {

class PageCodec {
 public:
  virtual ~PageCodec() = default;
  // Both work in place on one whole page.
  virtual void Decode(uint32_t page_number, std::span<uint8_t> page) const = 0;
  virtual void Encode(uint32_t page_number, std::span<uint8_t> page) const = 0;
};

}  // namespace jet
