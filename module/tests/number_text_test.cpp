// Display text of numeric values and the truncation of actuator test values.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "module/module_internal.h"

namespace vorta::detail {
namespace {

std::string Format(double value, char separator = '.') {
  char buf[32];
  const std::size_t n = FormatValue(value, separator, buf, sizeof buf);
  EXPECT_EQ(n, std::string(buf).size());
  return buf;
}

TEST(FormatValueTest, DecimalsByMagnitude) {
  EXPECT_EQ(Format(0.0), "0.000");
  EXPECT_EQ(Format(9.9994), "9.999");
  EXPECT_EQ(Format(10.0), "10.00");
  EXPECT_EQ(Format(99.99), "99.99");
  EXPECT_EQ(Format(100.0), "100.0");
  EXPECT_EQ(Format(999.9), "999.9");
  EXPECT_EQ(Format(1000.0), "1000");
  EXPECT_EQ(Format(-1000.0), "-1000");
  EXPECT_EQ(Format(-99.5), "-99.50");
  EXPECT_EQ(Format(16702.0), "16702");
  EXPECT_EQ(Format(0.05), "0.050");
  EXPECT_EQ(Format(1.0 / 3.0), "0.333");
}

TEST(FormatValueTest, RoundingAtTheBoundaries) {
  // The decimals are chosen from the value, then it is rounded.
  EXPECT_EQ(Format(9.9996), "10.000");
  EXPECT_EQ(Format(999.96), "1000.0");
  EXPECT_EQ(Format(1000.5), "1001");  // ties away from zero
  EXPECT_EQ(Format(-1000.5), "-1001");
  EXPECT_EQ(Format(2.0005), "2.001");
  // A negative value that rounds to zero shows no sign.
  EXPECT_EQ(Format(-0.0004), "0.000");
  EXPECT_EQ(Format(-0.0), "0.000");
  EXPECT_EQ(Format(-0.032), "-0.032");
}

TEST(FormatValueTest, MoreThanSixIntegerDigitsGoScientific) {
  EXPECT_EQ(Format(999999.0), "999999");
  EXPECT_EQ(Format(999999.5), "1.00000E+06");
  EXPECT_EQ(Format(1234567.0), "1.23457E+06");
  EXPECT_EQ(Format(-1234567.0, ','), "-1,23457E+06");
  EXPECT_EQ(Format(1e300), "1.00000E+300");
  EXPECT_EQ(Format(-std::numeric_limits<double>::max()), "-1.79769E+308");
}

TEST(FormatValueTest, SeparatorAndSpecialValues) {
  EXPECT_EQ(Format(83.0, ','), "83,00");
  EXPECT_EQ(Format(1726.0, ','), "1726");
  EXPECT_EQ(Format(std::nan("")), "NAN");
  EXPECT_EQ(Format(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(Format(-std::numeric_limits<double>::infinity()), "-INF");
}

TEST(FormatValueTest, NeverWritesPastTheGivenSize) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  const std::size_t n = FormatValue(1234567.0, '.', buf, 5);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::string(buf), "1.23");
  EXPECT_EQ(buf[5], 'x');
  EXPECT_EQ(FormatValue(1.0, '.', buf, 0), 0u);
}

TEST(LocaleDecimalSeparatorTest, CLocaleUsesAPoint) {
  EXPECT_EQ(LocaleDecimalSeparator(), '.');
}

TEST(TruncatedLowByteTest, TruncatesTowardZeroAndKeepsTheLowByte) {
  EXPECT_EQ(TruncatedLowByte(128.0), 128);
  EXPECT_EQ(TruncatedLowByte(128.99), 128);
  EXPECT_EQ(TruncatedLowByte(-0.5), 0);
  EXPECT_EQ(TruncatedLowByte(-1.0), 255);
  EXPECT_EQ(TruncatedLowByte(-1.7), 255);
  EXPECT_EQ(TruncatedLowByte(-256.0), 0);
  EXPECT_EQ(TruncatedLowByte(300.7), 44);
  EXPECT_EQ(TruncatedLowByte(4294967296.0 + 5), 5);  // beyond 32 bits
  EXPECT_EQ(TruncatedLowByte(1e20), 0x00);           // 0x56BC75E2D63100000
  EXPECT_FALSE(TruncatedLowByte(std::nan("")));
  EXPECT_FALSE(TruncatedLowByte(std::numeric_limits<double>::infinity()));
}

}  // namespace
}  // namespace vorta::detail
