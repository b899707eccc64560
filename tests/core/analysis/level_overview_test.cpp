#include "core/analysis/level_overview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/io/files.h"
#include "support/manual_clock.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

// Interleaved 16-bit samples: noise with bursts at full scale in channel 1.
std::vector<std::int16_t> noisyStereo(std::int64_t frames, unsigned seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> level(-20000, 20000);
  std::vector<std::int16_t> v(static_cast<std::size_t>(frames * 2));
  for (auto& s : v) s = static_cast<std::int16_t>(level(random));
  for (std::int64_t f = frames / 3; f < frames / 3 + 50; ++f) {
    v[static_cast<std::size_t>(2 * f)] = f % 2 ? 32767 : -32768;
  }
  return v;
}

// The overview computed the plain way: every bucket scanned on its own.
LevelOverview plainOverview(const std::vector<std::int16_t>& v, int channels) {
  LevelOverview o;
  o.channels = channels;
  o.frames = static_cast<std::int64_t>(v.size()) / channels;
  o.bucketFrames = std::max<std::int64_t>(1, (o.frames + 4095) / 4096);
  for (int c = 0; c < channels; ++c) {
    for (std::int64_t b = 0; b < o.bucketCount(); ++b) {
      LevelBucket bucket{2.0f, -2.0f, 0};
      for (std::int64_t f = b * o.bucketFrames; f < std::min(o.frames, (b + 1) * o.bucketFrames);
           ++f) {
        const std::int16_t s = v[static_cast<std::size_t>(f * channels + c)];
        bucket.min = std::min(bucket.min, static_cast<float>(s / 32768.0));
        bucket.max = std::max(bucket.max, static_cast<float>(s / 32768.0));
        bucket.fullScale += s == 32767 || s == -32768;
      }
      o.buckets.push_back(bucket);
    }
  }
  return o;
}

AnalysisResult analyse(const std::vector<std::int16_t>& v, int channels, int threads) {
  WavFormat format{1, static_cast<std::int16_t>(channels), 16, 48000};
  WavLayout layout;
  layout.framesInFile = layout.sampleFrames = static_cast<std::int64_t>(v.size()) / channels;
  MemorySource source(test::pcm16(v));
  ScriptedHost host;
  ManualClock clock;
  return analyseSamples(source, format, layout, host, clock, '.', threads, false);
}

TEST(LevelOverviewTest, ThePassOnAnyNumberOfThreadsGivesThePlainOverview) {
  // Several blocks of the pass, the last one longer, and buckets of 257
  // frames that blocks and tasks cut through.
  const std::int64_t frames = 4096 * 257 - 3;
  const std::vector<std::int16_t> v = noisyStereo(frames, 7);
  const LevelOverview want = plainOverview(v, 2);
  ASSERT_EQ(want.bucketFrames, 257);
  for (int threads : {1, 2, 5}) {
    const AnalysisResult r = analyse(v, 2, threads);
    ASSERT_TRUE(r.complete());
    EXPECT_TRUE(r.overview == want) << threads << " threads";
    std::int64_t full = 0;
    float least = 1;
    for (std::int64_t b = 0; b < r.overview.bucketCount(); ++b) {
      full += r.overview.at(0, b).fullScale;
      least = std::min(least, r.overview.at(0, b).min);
    }
    EXPECT_EQ(full, r.records[0].fullScale) << "the buckets count what the report counts";
    EXPECT_EQ(least * 32768.0f, static_cast<float>(r.records[0].min));
  }
}

TEST(LevelOverviewTest, WiderFormatsAreDrawnOnTheirOwnFullScale) {
  const std::int64_t frames = 4096 * 3 + 5;
  const std::vector<std::int16_t> v = noisyStereo(frames, 11);
  LevelOverview want = plainOverview(v, 2);
  // The same values 256 times larger in 24 bits, and as float: only the
  // smallest word is at full scale there, the largest of 16 bits no more.
  test::Bytes wide, floats;
  for (std::size_t i = 0; i < v.size(); ++i) {
    const auto w = static_cast<std::uint16_t>(v[i]);
    wide.insert(wide.end(), {0, static_cast<unsigned char>(w), static_cast<unsigned char>(w >> 8)});
    const float f = static_cast<float>(v[i]) / 32768.0f;
    unsigned char b[4];
    std::memcpy(b, &f, 4);
    floats.insert(floats.end(), b, b + 4);
    if (v[i] == 32767)
      --want.buckets[static_cast<std::size_t>((i % 2) * want.bucketCount() +
                                              (i / 2) / want.bucketFrames)]
            .fullScale;
  }
  WavFormat floatFormat{3, 2, 32, 48000};
  floatFormat.encoding = SampleEncoding::kFloat;
  for (const auto& [bytes, format] :
       {std::pair{wide, WavFormat{1, 2, 24, 48000}}, {floats, floatFormat}}) {
    for (int threads : {1, 3}) {
      SCOPED_TRACE(format.bitsPerSample * 10 + threads);
      WavLayout layout;
      layout.framesInFile = layout.sampleFrames = frames;
      MemorySource source(bytes);
      ScriptedHost host;
      ManualClock clock;
      const AnalysisResult r =
          analyseSamples(source, format, layout, host, clock, '.', threads, false);
      ASSERT_TRUE(r.complete());
      EXPECT_TRUE(r.overview == want);
      std::int64_t full = 0;
      for (std::int64_t b = 0; b < r.overview.bucketCount(); ++b) {
        full += r.overview.at(0, b).fullScale;
      }
      EXPECT_EQ(full, r.stored[0].fullScale) << "the buckets count what the report counts";
    }
  }
}

TEST(LevelOverviewTest, RunsAddedInAnyOrderAndSplitGiveOneOverview) {
  const std::vector<std::int16_t> v = noisyStereo(9001, 3);
  std::vector<double> values(v.size() / 2);
  for (std::size_t f = 0; f < values.size(); ++f) values[f] = v[2 * f] / 32768.0;
  LevelOverviewBuilder whole(1, 9001, integerFullScale(16));
  whole.add(0, 0, values.data(), 9001);
  LevelOverviewBuilder pieces(1, 9001, integerFullScale(16));
  for (std::int64_t cut : {5000, 2, 7777, 0, 3333}) {
    const std::int64_t to = cut == 7777 ? 9001 : cut + 1;  // overlaps change nothing
    pieces.add(0, cut, values.data() + cut, to - cut);
  }
  pieces.add(0, 0, values.data(), 9001);
  EXPECT_TRUE(whole.finish() == pieces.finish());
  EXPECT_EQ(whole.finish().bucketFrames, 3);
  EXPECT_EQ(whole.finish().bucketCount(), 3001);
}

TEST(LevelOverviewTest, ShortFilesGetABucketPerFrameAndNothingBeyondTheirEnd) {
  LevelOverviewBuilder b(2, 3, integerFullScale(8));
  const double high[] = {127 / 128.0, 0.5, 0.25, 9.0};  // the fourth frame is not there
  b.add(1, 0, high, 4);
  const LevelOverview o = b.finish();
  ASSERT_EQ(o.bucketCount(), 3);
  EXPECT_EQ(o.at(1, 0).fullScale, 1) << "8-bit 255 is at full scale";
  EXPECT_EQ(o.at(1, 2).max, 0.25f);
  EXPECT_TRUE(o.at(0, 1) == LevelBucket{}) << "a bucket no sample reached holds zeros";
  EXPECT_EQ(integerFullScale(24).high, 8388607 / 8388608.0);
}

}  // namespace
}  // namespace ril
