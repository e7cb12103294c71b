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

// RC4 key stream applied to `data` (encryption and decryption are the same).
void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data);

// Jet 3/4 page encoding: each page is RC4 with the key LE32(database_key ^ page).
std::unique_ptr<PageCodec> MakeJetRc4Codec(uint32_t database_key);

// Office encryption of an .accdb. `header_page` is page 0 as read from disk
// (still masked); the encryption descriptor sits at 0x299. Returns null when
// the database key is 0, i.e. the pages are stored plain and no password
// applies. Throws jet::Error with errnum::kWrongPassword when the password
// does not fit (an empty one never does), and a clear kGeneric error for a
// damaged descriptor or a scheme that cannot be opened. The codec is
// immutable, so several threads may use it at once.
std::unique_ptr<PageCodec> MakeOfficeCodec(std::span<const uint8_t> header_page,
                                           const std::string& password);

}  // namespace jet
