#include "jet/storage/rc4.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rc4.h>

namespace jet {

void Rc4Apply(std::span<const uint8_t> key, std::span<uint8_t> data) {
  RC4_KEY k;
  RC4_set_key(&k, static_cast<int>(key.size()), key.data());
  RC4(&k, data.size(), data.data(), data.data());
}

}  // namespace jet
