// Jet 3/4 "encrypt database": every page but the header is RC4 with the key
// LE32(database_key ^ page number).
#pragma once

#include <cstdint>
#include <memory>

#include "jet/storage/page_codec.h"

namespace jet {

std::unique_ptr<PageCodec> MakeJetRc4Codec(uint32_t database_key);

}  // namespace jet
