// What the build puts beside the program: the help text and the sample file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/test_support.h"

namespace ril {
namespace {

std::uint32_t le32(const test::Bytes& b, std::size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}
std::uint16_t le16(const test::Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8));
}

TEST(ProgramDirectory, HoldsTheHelpTextAsWritten) {
  const std::string built = std::string(RIL_BINARY_DIR) + "/Rilmaton.txt";
  ASSERT_TRUE(test::fileExists(built));
  EXPECT_EQ(test::readFile(built),
            test::readFile(std::string(RIL_SOURCE_DIR) + "/resources/Rilmaton.txt"));
}

TEST(ProgramDirectory, ExampleIsACanonicalCdFormatClipThatNeitherClipsNorIsSilent) {
  const std::string path = std::string(RIL_BINARY_DIR) + "/example.wav";
  ASSERT_TRUE(test::fileExists(path));
  const test::Bytes wav = test::readFile(path);
  ASSERT_GE(wav.size(), 44u);
  EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
  EXPECT_EQ(le32(wav, 4), wav.size() - 8);
  EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
  EXPECT_EQ(le32(wav, 16), 16u);
  EXPECT_EQ(le16(wav, 20), 1);  // PCM
  EXPECT_EQ(le16(wav, 22), 2);
  EXPECT_EQ(le32(wav, 24), 44100u);
  EXPECT_EQ(le32(wav, 28), 44100u * 4);
  EXPECT_EQ(le16(wav, 32), 4);
  EXPECT_EQ(le16(wav, 34), 16);
  EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
  const std::uint32_t dataSize = le32(wav, 40);
  EXPECT_EQ(dataSize, wav.size() - 44);
  const double seconds = dataSize / 4.0 / 44100;
  EXPECT_GE(seconds, 3.0);
  EXPECT_LE(seconds, 30.0);

  int peak = 0;
  int leftPeak = 0;
  int rightPeak = 0;
  for (std::size_t at = 44; at + 4 <= wav.size(); at += 4) {
    const int left = static_cast<std::int16_t>(le16(wav, at));
    const int right = static_cast<std::int16_t>(le16(wav, at + 2));
    leftPeak = std::max(leftPeak, std::abs(left));
    rightPeak = std::max(rightPeak, std::abs(right));
  }
  peak = std::max(leftPeak, rightPeak);
  // Loud enough to hear, with room for "maximize volume" to do something.
  EXPECT_GT(peak, 8000);
  EXPECT_LT(peak, 32767 / 2 + 4000);
  // Two real channels, not one copied.
  EXPECT_NE(leftPeak, rightPeak);
}

}  // namespace
}  // namespace ril
