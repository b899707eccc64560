// De-emphasis of chosen frame ranges only: each range as a file of its own
// would come out, and every other byte as it was.
#include <gtest/gtest.h>

#include "support/modify_test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::ModifyHarness;
using test::WavShape;

Bytes wavOf(int channels, int bits, const Bytes& data) {
  WavShape s;
  s.channels = static_cast<std::int16_t>(channels);
  s.bitsPerSample = static_cast<std::int16_t>(bits);
  s.data = data;
  s.before = {{"LIST", Bytes(10, 'b')}};
  s.after = {{"id3 ", Bytes(9, 'a')}};
  return test::buildWav(s);
}

// De-emphasis at a volume that makes the noise's bursts clip, into an output
// of its own.
ModifyResult deemphasise(ModifyHarness& h, const Bytes& file,
                         std::optional<std::vector<FrameRange>> ranges = std::nullopt) {
  h.load(file);
  h.request.deemphasis = true;
  h.request.volumeTenths = 1300;
  h.placement = PlacementMode::kExplicitOutput;
  h.explicitOutput = h.progDir + "out.wav";
  h.request.ranges = std::move(ranges);
  return h.run();
}

class RangedDeemphasisTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(RangedDeemphasisTest, EachRangeComesOutAsItsFramesWrittenAsAFileOfTheirOwn) {
  const auto [channels, bits] = GetParam();
  const std::int64_t block = test::framesPerBlock(channels, bits);
  const std::int64_t frames = 2 * block + 1234;  // the second block takes the rest
  const std::int64_t frameBytes = channels * bits / 8;
  const Bytes data = test::noiseSamples(static_cast<std::size_t>(frames * channels), bits, 11);
  const Bytes file = wavOf(channels, bits, data);
  // Inside the first block; across the boundary; one frame; two adjacent
  // ones (the filter starts afresh at the second); and one running past the
  // end of the data.
  const std::vector<FrameRange> ranges = {{100, 5000},        {block - 3000, 7001},
                                          {block + 4001, 1},  {block + 9000, 300},
                                          {block + 9300, 77}, {2 * block - 50, 1 << 30}};

  ModifyHarness ranged;
  const ModifyResult r = deemphasise(ranged, file, ranges);
  ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);
  const Bytes out = test::readFile(ranged.explicitOutput);
  ASSERT_EQ(out.size(), file.size());
  const std::int64_t offset = ranged.target.header.layout.dataOffset;

  std::int64_t clipped = 0;
  Bytes restored = out;  // with the ranges' frames put back as they were
  for (const FrameRange& range : ranges) {
    SCOPED_TRACE(range.first);
    const std::int64_t count = std::min(range.count, frames - range.first);
    const auto from = data.begin() + range.first * frameBytes;
    ModifyHarness own;
    const ModifyResult alone =
        deemphasise(own, wavOf(channels, bits, Bytes(from, from + count * frameBytes)));
    ASSERT_EQ(alone.outcome, ModifyOutcome::kCompleted);
    clipped += alone.clippedSamples;
    const Bytes ownOut = test::readFile(own.explicitOutput);
    const std::int64_t at = offset + range.first * frameBytes;
    EXPECT_TRUE(std::equal(out.begin() + at, out.begin() + at + count * frameBytes,
                           ownOut.begin() + own.target.header.layout.dataOffset));
    std::copy(file.begin() + at, file.begin() + at + count * frameBytes, restored.begin() + at);
  }
  EXPECT_GT(clipped, 0);
  EXPECT_EQ(r.clippedSamples, clipped);
  EXPECT_TRUE(restored == file);
}

INSTANTIATE_TEST_SUITE_P(AllFormats, RangedDeemphasisTest,
                         ::testing::Values(std::pair{1, 8}, std::pair{2, 8}, std::pair{1, 16},
                                           std::pair{2, 16}));

}  // namespace
}  // namespace ril
