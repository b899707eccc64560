#include "core/base/number_format.h"

#include <gtest/gtest.h>

namespace ril {
namespace {

TEST(NumberFormat, PercentPatternsRoundHalvesAwayFromZero) {
  EXPECT_EQ(formatNumber(-0.5, "0.00%"), "-50.00%");
  EXPECT_EQ(formatNumber(1024.0 / 32768, "0.00%"), "3.13%");
  EXPECT_EQ(formatNumber(-1024.0 / 32768, "0.00%"), "-3.13%");
  EXPECT_EQ(formatNumber(32767.0 / 32768, "0.00%"), "100.00%");
  EXPECT_EQ(formatNumber(32512.0 / 32768, "0.00%"), "99.22%");
  EXPECT_EQ(formatNumber(-1.0, "0.00%"), "-100.00%");
  EXPECT_EQ(formatNumber(1.9, "0.0%"), "190.0%");
  EXPECT_EQ(formatNumber(4.048, "0.0%"), "404.8%");
  EXPECT_EQ(formatNumber(0.4369, "0%"), "44%");
  EXPECT_EQ(formatNumber(0.0, "0%"), "0%");
  EXPECT_EQ(formatNumber(0.005, "0%"), "1%");
}

TEST(NumberFormat, DecimalPatternsPadAndRound) {
  EXPECT_EQ(formatNumber(66150.0 / 44100, "0.000"), "1.500");
  EXPECT_EQ(formatNumber(1.5, "0.00"), "1.50");
  EXPECT_EQ(formatNumber(0.0, "0.000"), "0.000");
  EXPECT_EQ(formatNumber(0.0005, "0.000"), "0.001");
  EXPECT_EQ(formatNumber(2.675, "0.00"), "2.68");  // decimal half, not the binary value below it
  EXPECT_EQ(formatNumber(12345678.9, "0.0"), "12345678.9");  // no thousands separator
  EXPECT_EQ(formatNumber(0.9996, "0.000"), "1.000");
}

TEST(NumberFormat, LiteralsAndIntegerDigits) {
  EXPECT_EQ(formatNumber(10584044.0 / 1024 / 1024, "0.000 MB"), "10.094 MB");
  EXPECT_EQ(formatNumber(0.0, "0.000 MB"), "0.000 MB");
  EXPECT_EQ(formatNumber(1.0, "00:"), "01:");
  EXPECT_EQ(formatNumber(123.0, "00:"), "123:");
  EXPECT_EQ(formatNumber(59.6, "00"), "60");
  EXPECT_EQ(formatNumber(0.4, "00"), "00");
  EXPECT_EQ(formatNumber(256.0, "0"), "256");
  EXPECT_EQ(formatNumber(-129.5, "0"), "-130");
  EXPECT_EQ(formatNumber(2.5, "0"), "3");
}

TEST(NumberFormat, NegativeValuesThatRoundToZeroCarryNoSign) {
  EXPECT_EQ(formatNumber(-0.00001, "0.00%"), "0.00%");
  EXPECT_EQ(formatNumber(-0.0001, "0.000"), "0.000");
}

TEST(NumberFormat, DecimalSeparatorIsAParameter) {
  EXPECT_EQ(formatNumber(1.5, "0.00", ','), "1,50");
  EXPECT_EQ(formatNumber(-0.5, "0.00%", ','), "-50,00%");
  EXPECT_EQ(formatGeneral(123.5f, ','), "123,5");
}

TEST(NumberFormat, GeneralFormatHasNoTrailingZeros) {
  EXPECT_EQ(formatGeneral(1000 / 10.0f), "100");
  EXPECT_EQ(formatGeneral(1235 / 10.0f), "123.5");
  EXPECT_EQ(formatGeneral(995 / 10.0f), "99.5");
  EXPECT_EQ(formatGeneral(819 / 10.0f), "81.9");
  EXPECT_EQ(formatGeneral(1 / 10.0f), "0.1");
  EXPECT_EQ(formatGeneral(0.0f), "0");
  EXPECT_EQ(formatGeneral(1000.0f), "1000");
}

}  // namespace
}  // namespace ril
