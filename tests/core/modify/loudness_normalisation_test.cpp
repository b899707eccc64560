#include "core/modify/loudness_normalisation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>

#include "support/analysed_file.h"
#include "support/format_files.h"
#include "support/reference_modification.h"
#include "support/test_support.h"

namespace ril {
namespace {

// A trace of `seconds` at a steady level, made directly: 48 kHz, one channel
// of weight 1, every 100 ms at the mean square of `lufs`.
LoudnessTrace steadyTrace(double lufs, int seconds) {
  LoudnessTrace t;
  t.sampleRate = 48000;
  t.binFrames = 4800;
  t.frames = 48000LL * seconds;
  t.weighted = true;
  t.weights.weights = {1.0};
  t.bins.assign(static_cast<std::size_t>(10 * seconds),
                4800.0 * std::pow(10.0, (lufs + 0.691) / 10.0));
  t.samplePeaks = {{0.5, 10}};
  t.truePeaks = {{0.5, 10}};
  return t;
}

TEST(LoudnessGainTest, ReachesTheTargetRoundedDownToATenthOfAPercent) {
  const LoudnessGain g = loudnessGain(-17.0, -10.0, -23.0, -1.0);
  EXPECT_DOUBLE_EQ(g.db, -6.0);
  EXPECT_FALSE(g.limitedByTruePeak);
  EXPECT_EQ(g.tenths, 501);  // 10^(-6/20) = 0.50119
  EXPECT_EQ(loudnessGainLine(g, -1.0), "Loudness gain: -6.00 dB (50.1%)");
  // Silence has no true peak to hold anything down.
  EXPECT_EQ(loudnessGain(-30.0, std::nullopt, -20.0, -1.0).tenths, 3162);
}

TEST(LoudnessGainTest, TruePeakLimitHoldsTheGainDownAndTheFactorStaysUnderIt) {
  const LoudnessGain g = loudnessGain(-12.0, 3.37, -14.0, -1.0);
  EXPECT_TRUE(g.limitedByTruePeak);
  EXPECT_EQ(g.tenths, 604);
  EXPECT_EQ(loudnessGainLine(g, -1.0),
            "Loudness gain: -4.37 dB (60.4%), limited by the true peak of -1.0 dBTP");
  // Whatever the figures, the factor applied never lifts the peak over the limit.
  for (double peak = -20.0; peak < 6.0; peak += 0.0137) {
    for (double limit : {-1.0, -2.0, -0.1}) {
      const LoudnessGain h = loudnessGain(-30.0, peak, -10.0, limit);
      EXPECT_LE(peak + 20.0 * std::log10(h.tenths / 1000.0), limit) << peak;
      EXPECT_GT(peak + 20.0 * std::log10((h.tenths + 1) / 1000.0), limit - 0.01) << peak;
    }
  }
}

TEST(AlbumLoudnessTest, QuietFilesBelowTheAlbumsGateAndShortOnesCountForNothing) {
  const LoudnessTrace loud = steadyTrace(-10.0, 10), quiet = steadyTrace(-25.0, 10);
  // Apart each has its own level; together the quiet one falls below the
  // album's relative gate (10 LU under the blocks' mean) and counts for nothing.
  EXPECT_NEAR(*programmeLoudness({&quiet}).integratedLufs.value, -25.0, 1e-9);
  EXPECT_NEAR(*programmeLoudness({&loud, &quiet}).integratedLufs.value, -10.0, 1e-9);
  // A file too short for a block adds none; the album's true peak is the largest.
  LoudnessTrace shortOne = steadyTrace(-5.0, 0);
  shortOne.bins = {1.0, 1.0, 1.0};
  shortOne.truePeaks = {{0.9, 3}};
  const ProgrammeLoudness album = programmeLoudness({&loud, &shortOne});
  EXPECT_NEAR(*album.integratedLufs.value, -10.0, 1e-9);
  EXPECT_NEAR(*album.truePeakDbtp, 20.0 * std::log10(0.9), 1e-12);
  EXPECT_EQ(programmeLoudness({&shortOne}).integratedLufs.reason, "too short");
  const LoudnessTrace silent = steadyTrace(-90.0, 5);
  EXPECT_EQ(programmeLoudness({&silent}).integratedLufs.reason, "below the gate");
}

// Ten seconds of stereo: a 10 kHz tone in one channel, 100 Hz in the other.
test::Bytes tones() {
  std::vector<std::int16_t> s;
  for (int i = 0; i < 441000; ++i) {
    const double t = i / 44100.0;
    s.push_back(
        static_cast<std::int16_t>(std::lround(12000 * std::sin(2 * std::numbers::pi * 1e4 * t))));
    s.push_back(
        static_cast<std::int16_t>(std::lround(9000 * std::sin(2 * std::numbers::pi * 100 * t))));
  }
  return test::pcm16(s);
}

ProgrammeLoudness loudnessOf(const test::Bytes& samples, const WavFormat& format, bool deemphasis) {
  MemorySource source(samples);
  WavLayout layout;
  layout.framesInFile = static_cast<std::int64_t>(samples.size()) / format.frameBytes();
  const LoudnessMeasurement m = measureLoudness(source, format, layout, deemphasis, 2);
  EXPECT_TRUE(m.complete) << m.failure;
  return programmeLoudness({&m.trace});
}

double integratedOf(const test::Bytes& samples, bool deemphasis) {
  return *loudnessOf(samples, WavFormat{1, 2, 16, 44100}, deemphasis).integratedLufs.value;
}

TEST(LoudnessMeasurementTest, DeemphasisIsMeasuredAsTheRewritingWritesIt) {
  const test::Bytes stored = tones();
  const test::Bytes written = test::expectedOutput(stored, 2, 16, 1.0, true).samples;
  const double afterFilter = integratedOf(stored, true);
  // The output's loudness, but for its rounding to 16 bits.
  EXPECT_NEAR(afterFilter, integratedOf(written, false), 1e-4);
  // The filter takes about 9 dB off the 10 kHz tone: far more than that.
  EXPECT_LT(afterFilter, integratedOf(stored, false) - 1.0);
}

TEST(LoudnessMeasurementTest, WiderFormatsOfTheSameSoundMeasureAsSixteenBits) {
  const test::Bytes sixteen = tones();
  test::Bytes wide, floats;
  for (std::size_t i = 0; i + 1 < sixteen.size(); i += 2) {
    const auto v = static_cast<std::int16_t>(sixteen[i] | sixteen[i + 1] << 8);
    wide.insert(wide.end(), {0, sixteen[i], sixteen[i + 1]});  // v x 256 in 24 bits
    const float f = static_cast<float>(v) / 32768.0f;
    unsigned char b[4];
    std::memcpy(b, &f, 4);
    floats.insert(floats.end(), b, b + 4);
  }
  WavFormat wideFormat{1, 2, 24, 44100};
  WavFormat floatFormat{3, 2, 32, 44100};
  floatFormat.encoding = SampleEncoding::kFloat;
  for (const bool deemphasis : {false, true}) {
    SCOPED_TRACE(deemphasis);
    const ProgrammeLoudness want = loudnessOf(sixteen, WavFormat{1, 2, 16, 44100}, deemphasis);
    for (const auto& [bytes, format] : {std::pair{wide, wideFormat}, {floats, floatFormat}}) {
      const ProgrammeLoudness got = loudnessOf(bytes, format, deemphasis);
      ASSERT_TRUE(got.integratedLufs.value && want.integratedLufs.value);
      // The formats' blocks hold different numbers of frames, so the meter
      // cuts its segments elsewhere (and the filter's sums round at another
      // scale): the figures agree to the meter's warm-up, far below any shown.
      EXPECT_NEAR(*got.integratedLufs.value, *want.integratedLufs.value, 1e-9);
      EXPECT_EQ(got.truePeakDbtp, want.truePeakDbtp);
    }
  }
}

TEST(LoudnessMeasurementTest, TheReportAndTheModificationMeasureEveryFormatInTheSameBlocks) {
  // The meter cuts each block into segments, so the two passes agree to the
  // last bit only when they read the same blocks: several of them here.
  const test::FormatCase cases[] = {{"16 bit", 1, 16, 2, 44100},
                                    {"24 bit", 1, 24, 2, 48000},
                                    {"32 bit float", 3, 32, 2, 48000},
                                    {"16 bit", 1, 16, 6, 48000}};
  std::uint32_t seed = 7;
  for (const test::FormatCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.channels) + " channels");
    const test::Bytes samples = test::formatSamples(c, 900000, ++seed, 1.0);
    const test::AnalysedFile report = test::analyseBytes(test::formatFile(c, samples), 2);
    ASSERT_TRUE(report.analysed() && report.result.loudness);
    MemorySource source(samples);
    const LoudnessMeasurement m =
        measureLoudness(source, report.header.format, report.header.layout, false, 2);
    ASSERT_TRUE(m.complete) << m.failure;
    EXPECT_EQ(m.trace.bins, report.result.loudness->bins);
  }
}

}  // namespace
}  // namespace ril
