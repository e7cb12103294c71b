#include "jet/storage/header.h"

#include <cmath>
#include <cstring>

#include "jet/storage/bytes.h"
#include "jet/storage/rc4.h"
#include "jet/storage/error.h"

namespace jet {

namespace {

constexpr size_t kMaskStart = 0x18;

[[noreturn]] void NotADatabase() {
  throw Error(errnum::kGeneric,
              "The file is not an Access database (unrecognized database format).");
}

}  // namespace

size_t MaskedRegionSize(Version v) { return v == Version::kJet3 ? 126 : 128; }

void ToggleHeaderMask(std::span<uint8_t> page0, Version v) {
  static const std::vector<uint8_t> stream = [] {
    std::vector<uint8_t> s(128, 0);
    const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    Rc4Apply(key, s);
    return s;
  }();
  size_t n = MaskedRegionSize(v);
  for (size_t i = 0; i < n; ++i) page0[kMaskStart + i] ^= stream[i];
}

std::vector<uint8_t> NewHeaderPage(Version v, double creation_date, uint8_t sort_version) {
  if (v == Version::kJet3) {
    throw Error(errnum::kGeneric, "Access 97 databases cannot be created.");
  }
  std::vector<uint8_t> p(4096, 0);
  MutableBytes b(p);
  p[1] = 0x01;
  const char* name = v == Version::kJet4 ? "Standard Jet DB" : "Standard ACE DB";
  std::memcpy(p.data() + 4, name, 15);
  p[0x14] = static_cast<uint8_t>(v);
  // The start of the masked region holds the same bytes in every file Access
  // wrote: 00 01 00 00, then the numbers 0x101, 2, 3, 4 and 5.
  static constexpr uint8_t kLead[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0,
                                        3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
  std::memcpy(p.data() + kMaskStart, kLead, sizeof kLead);
  Put16(b, 0x3C, 1252);
  Put32(b, 0x3E, 0);
  // No password: the password field holds just its mask, the integer part of
  // the creation date repeated.
  double whole = std::trunc(creation_date);
  uint32_t mask = (whole > -2147483648.0 && whole < 2147483648.0)
                      ? static_cast<uint32_t>(static_cast<int32_t>(whole))
                      : 0;
  for (int i = 0; i < 10; ++i) Put32(b, 0x42 + 4 * i, mask);
  Put32(b, 0x6A, 0x11A6);  // seen in files of every version; Jet 4's build number
  Put16(b, 0x6E, 0x0409);
  p[0x71] = sort_version;
  PutF64(b, 0x72, creation_date);
  // After the masked region: 0x654 and the text "4.0"; near the end of the
  // page a table of 256 words of 0x100.
  Put32(b, 0x98, 0x654);
  std::memcpy(p.data() + 0x9C, "4.0", 4);
  for (size_t off = 0xE00; off < 0x1000; off += 2) Put16(b, off, 0x100);
  ToggleHeaderMask(p, v);
  return p;
}

HeaderInfo ParseHeader(std::span<const uint8_t> raw) {
  if (raw.size() < 2048) NotADatabase();
  if (raw[0] != 0 || raw[1] != 1) NotADatabase();
  std::string name(reinterpret_cast<const char*>(raw.data()) + 4, 15);
  if (name != "Standard Jet DB" && name != "Standard ACE DB") NotADatabase();
  uint8_t vb = raw[0x14];
  if (vb > 6) {
    throw Error(errnum::kGeneric, "The database uses a format version (" + std::to_string(vb) +
                                      ") that is not supported.");
  }
  HeaderInfo h;
  h.engine_name = name;
  h.version = static_cast<Version>(vb);
  h.page_size = h.version == Version::kJet3 ? 2048 : 4096;
  std::vector<uint8_t> page(raw.begin(), raw.begin() + 0x100);
  ToggleHeaderMask(page, h.version);
  Bytes b(page);
  h.code_page = U16(b, 0x3C);
  h.database_key = U32(b, 0x3E);
  if (h.version == Version::kJet3) {
    h.sort_order = U16(b, 0x3A);
    for (int i = 0; i < 20 && b[0x42 + i]; ++i) h.password.push_back(b[0x42 + i]);
  } else {
    h.sort_order = U16(b, 0x6E);
    h.sort_version = b[0x71];
    h.creation_date = F64(b, 0x72);
    if (h.version == Version::kJet4) {
      // The Jet 4 password is further XORed with the creation date's integer part.
      double d = h.creation_date;
      uint32_t mask = (d > -2147483648.0 && d < 2147483648.0)
                          ? static_cast<uint32_t>(static_cast<int32_t>(d))
                          : 0;
      for (int i = 0; i < 20; ++i) {
        uint8_t lo = b[0x42 + 2 * i] ^ static_cast<uint8_t>(mask >> (8 * ((2 * i) % 4)));
        uint8_t hi = b[0x42 + 2 * i + 1] ^ static_cast<uint8_t>(mask >> (8 * ((2 * i + 1) % 4)));
        char16_t c = static_cast<char16_t>(lo | (hi << 8));
        if (c == 0) break;
        h.password.push_back(c);
      }
    } else if (h.database_key != 0 && raw.size() >= 0x29B) {
      uint16_t len = U16(raw, 0x299);
      h.office_encrypted = len >= 4;
    }
  }
  return h;
}

}  // namespace jet
