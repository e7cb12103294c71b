#include "jet/crypto/jet_rc4.h"
#include "jet/storage/rc4.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace jet {
namespace {

// The header of every Access file is masked with the RC4 stream of this key;
// its first bytes are a well-known constant, which makes a good check that
// the RC4 we call is the standard one.
TEST(Rc4, MatchesTheHeaderMaskStream) {
  std::array<uint8_t, 4> key = {0xC7, 0xDA, 0x39, 0x6B};
  std::vector<uint8_t> data(16, 0);
  Rc4Apply(key, data);
  std::vector<uint8_t> want = {0xB5, 0x6F, 0x03, 0x62, 0x61, 0x08, 0xC2, 0x55,
                               0xEB, 0xA9, 0x67, 0x72, 0x43, 0x3F, 0x00, 0x9C};
  EXPECT_EQ(data, want);
}

TEST(Rc4, JetCodecRoundTripsAndDependsOnThePage) {
  auto codec = MakeJetRc4Codec(0x12345678);
  std::vector<uint8_t> page(4096);
  for (size_t i = 0; i < page.size(); ++i) page[i] = static_cast<uint8_t>(i * 7);
  auto a = page, b = page;
  codec->Encode(5, a);
  codec->Encode(6, b);
  EXPECT_NE(a, page);
  EXPECT_NE(a, b);
  codec->Decode(5, a);
  EXPECT_EQ(a, page);
}

}  // namespace
}  // namespace jet
