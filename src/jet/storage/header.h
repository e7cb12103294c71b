// The header page (page 0): format, page size, code page, sort order, the
// database key and the Jet password. Most fields sit in a region masked with
// a fixed RC4 stream.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/storage/format.h"

namespace jet {

struct HeaderInfo {
  Version version = Version::kJet4;
  uint32_t page_size = 4096;
  std::string engine_name;  // "Standard Jet DB" or "Standard ACE DB"
  uint16_t sort_order = 0;  // collation LCID
  uint8_t sort_version = 0;
  uint16_t code_page = 0;
  uint32_t database_key = 0;  // non-zero: pages are encoded
  double creation_date = 0;
  // The Jet password as stored (UTF-16 code units, NULs trimmed); empty when
  // there is none. Never meaningful for ACE files.
  std::u16string password;
  bool office_encrypted = false;  // ACE with an encryption descriptor
};

// Size of the masked region for the given version.
size_t MaskedRegionSize(Version v);
// XORs the masked region of a page-0 image in place (masking and unmasking
// are the same operation).
void ToggleHeaderMask(std::span<uint8_t> page0, Version v);

// Page 0 of a new Jet 4 or ACE database, masked and ready to write: code
// page 1252, General sort order (LCID 0x0409) in `sort_version`, no
// encryption, no password, created at `creation_date` (Access day numbering).
std::vector<uint8_t> NewHeaderPage(Version v, double creation_date, uint8_t sort_version);

// Parses an on-disk page 0 (at least the first 2048 bytes). Throws
// "not an Access database" for anything else.
HeaderInfo ParseHeader(std::span<const uint8_t> page0);

}  // namespace jet
