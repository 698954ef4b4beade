// Framing, checksums and trouble-code texts.
#include <gtest/gtest.h>

#include "ecusim/kline.h"

namespace kestrel::ecusim {
namespace {

TEST(Framing, ChecksumsAndHeaders) {
  EXPECT_EQ(Checksum(Bytes{0x81, 0x13, 0xF1, 0x81}), 0x06);
  EXPECT_EQ(Checksum(Bytes{}), 0x00);
  EXPECT_EQ(Frame14230(0xF1, 0x10, {0xC1, 0xEF, 0x8F}),
            (Bytes{0x83, 0xF1, 0x10, 0xC1, 0xEF, 0x8F, 0xC3}));
  EXPECT_EQ(Frame9141(0x10, {0x41, 0x0D, 0x00}), (Bytes{0x48, 0x6B, 0x10, 0x41, 0x0D, 0x00, 0x11}));
  // A payload longer than the format byte can count is cut, never overflows it.
  const Bytes big = Frame14230(0xF1, 0x10, Bytes(100, 0x11));
  EXPECT_EQ(big.size(), kMaxPayload14230 + 4);
  EXPECT_EQ(big[0], 0x80 | kMaxPayload14230);
  EXPECT_EQ(big.back(), Checksum(big.data(), big.size() - 1));
}

TEST(Framing, TroubleCodeTexts) {
  EXPECT_EQ(ParseDtc("P0171"), 0x0171);
  EXPECT_EQ(ParseDtc("c0123"), 0x4123);
  EXPECT_EQ(ParseDtc("B3FFF"), 0xBFFF);
  EXPECT_EQ(ParseDtc("U0001"), 0xC001);
  EXPECT_EQ(ParseDtc("0420"), 0x0420);
  EXPECT_EQ(ParseDtc("FFFF"), 0xFFFF);
  for (const char* bad : {"", "P017", "P01711", "X0171", "P4000", "P01G1", "01 7"}) {
    EXPECT_FALSE(ParseDtc(bad)) << bad;
  }
  for (std::uint16_t c : {0x0000, 0x0171, 0x4123, 0x8ABC, 0xFFFF}) {
    EXPECT_EQ(ParseDtc(DtcText(c)), c);
  }
  EXPECT_EQ(DtcText(0x4123), "C0123");
  EXPECT_EQ(Hex(Bytes{0x0A, 0xFF, 0x00}), "0A FF 00");
}

}  // namespace
}  // namespace kestrel::ecusim
