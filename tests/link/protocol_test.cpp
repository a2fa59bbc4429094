#include <gtest/gtest.h>

#include "link/AdapterDiscovery.h"
#include "link/Protocol.h"

namespace quorvel {
namespace {

TEST(VersionText, FormatsBytesTwoThreeAndFiveByModel) {
  const struct {
    int32_t model;
    uint8_t b2, b3, b5;
    const char16_t* text;
  } cases[] = {
      {1, 0x01, 0x2A, 0x07, u"01.2A.07"},    {2, 0xC1, 0x05, 0x0C, u"P1.05.12"},
      {1, 0xFF, 0xFF, 0xFF, u"FF.FF.255"},   {2, 0xFF, 0xFF, 0xFF, u"P63.255.255"},
      {2, 0xC2, 0x00, 0x07, u"P2.00.07"},    {1, 0xC2, 0x00, 0x07, u"C2.00.07"},
      {2, 0x00, 0x00, 0x00, u"P64.00.00"},   {1, 0x00, 0x00, 0x00, u"00.00.00"},
      {2, 0xBF, 0x63, 0x64, u"P255.99.100"}, {1, 0xab, 0x0f, 0x09, u"AB.0F.09"},
  };
  for (const auto& c : cases) {
    // Bytes that are never shown must not leak into the text.
    const uint8_t version[7] = {0x99, 0x98, c.b2, c.b3, 0x97, c.b5, 0x96};
    EXPECT_EQ(protocol::FormatVersion(c.model, version), c.text) << ToUtf8(c.text);
  }
}

}  // namespace
}  // namespace quorvel
