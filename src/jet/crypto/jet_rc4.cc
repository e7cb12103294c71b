#include "jet/crypto/jet_rc4.h"

#include "jet/storage/rc4.h"

namespace jet {

namespace {

class JetRc4Codec : public PageCodec {
 public:
  explicit JetRc4Codec(uint32_t key) : key_(key) {}
  void Decode(uint32_t page_number, std::span<uint8_t> page) const override {
    Apply(page_number, page);
  }
  void Encode(uint32_t page_number, std::span<uint8_t> page) const override {
    Apply(page_number, page);
  }

 private:
  void Apply(uint32_t page_number, std::span<uint8_t> page) const {
    uint32_t k = key_ ^ page_number;
    uint8_t key[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                      static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 24)};
    Rc4Apply(key, page);
  }
  uint32_t key_;
};

}  // namespace

std::unique_ptr<PageCodec> MakeJetRc4Codec(uint32_t database_key) {
  return std::make_unique<JetRc4Codec>(database_key);
}

}  // namespace jet
