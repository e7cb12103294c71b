// The RC4 stream cipher. The header page hides its fields under a fixed RC4
// key in every file, so reading the header needs it below the codecs.
#pragma once

#include <cstdint>
#include <span>

namespace jet {

// RC4 key stream applied to `data` (encryption and decryption are the same).
void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data);

}  // namespace jet
