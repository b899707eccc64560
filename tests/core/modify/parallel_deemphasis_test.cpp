#include "core/modify/parallel_deemphasis.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <random>
#include <vector>

#include "core/dsp/double_filter/segmented_deemphasis.h"
#include "support/kernel_switches.h"
#include "support/test_support.h"

namespace ril {
namespace {

// Noise with stretches of digital silence: a segment that starts in one
// guesses an output of exactly 0 while the true output is still dying away
// (20.75 / 33.5 per step stays above 0 for over a thousand steps), so its
// guess is wrong and it is computed again up to where the runs meet.
std::vector<double> noiseWithSilences(std::size_t n, std::uint32_t seed, double factor) {
  std::mt19937 rng(seed);
  std::vector<double> x(n);
  for (std::size_t i = 0; i < n; ++i) {
    const bool silent = (i / 3000) % 3 == 1;
    x[i] = silent ? 0.0 : static_cast<double>(static_cast<std::int16_t>(rng())) * factor;
  }
  return x;
}

bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

TEST(SegmentedDeemphasisTest, SegmentsGiveTheSerialChainBitForBitOnEveryVectorPath) {
  for (bool wide : {true, false}) {
    test::allowWideVectors(wide);
    for (std::size_t n : {100u, 8191u, 8192u, 50001u, 70003u}) {
      SCOPED_TRACE(testing::Message() << n << " inputs, wide " << wide);
      const std::vector<double> x = noiseWithSilences(n, static_cast<std::uint32_t>(n), 1.7);
      DeemphasisFilterDouble serial{3.0, -1234.5};
      std::vector<double> want(n);
      for (std::size_t i = 0; i < n; ++i) want[i] = serial.step(x[i]);
      DeemphasisFilterDouble segmented{3.0, -1234.5};
      std::vector<double> got(n);
      kernels::deemphasiseSegmented(x.data(), got.data(), static_cast<std::int64_t>(n), segmented);
      std::size_t differing = 0;
      for (std::size_t i = 0; i < n; ++i) differing += sameBits(got[i], want[i]) ? 0 : 1;
      EXPECT_EQ(differing, 0u);
      EXPECT_TRUE(sameBits(segmented.prevOutput, serial.prevOutput));
      EXPECT_TRUE(sameBits(segmented.prevInput, serial.prevInput));
    }
  }
  test::allowWideVectors(true);
}

// The modification's rounding and limiting of one filtered value.
std::int64_t rounded(double y, int bits, bool& limited) {
  const double t = y + (bits == 8 ? 128.5 : 0.5);
  const std::int64_t r = static_cast<std::int64_t>(std::floor(t));
  const std::int64_t low = bits == 8 ? 0 : -32768, high = bits == 8 ? 255 : 32767;
  limited = limited || r < low || r > high;
  return std::clamp(r, low, high);
}

TEST(BlockDeemphasisTest, ThreadsAndWrongGuessesGiveTheSerialSamplesLimitsAndStates) {
  std::mt19937 rng(15);
  for (const auto& [channels, bits] : {std::pair{2, 16}, {1, 16}, {2, 8}, {1, 8}}) {
    const std::int64_t frames = 300000;
    test::Bytes in(static_cast<std::size_t>(frames * channels * bits / 8));
    for (std::size_t i = 0; i < in.size(); ++i) {
      in[i] = (i / 20000) % 4 == 1 ? (bits == 8 ? 128 : 0) : static_cast<unsigned char>(rng());
    }
    for (double factor : {1.0, 0.45, 2.3}) {
      // The serial reference.
      DeemphasisFilterDouble serial[2];
      DeemphasisFilter report[2];
      std::int32_t reportMin[2] = {0, 0}, reportMax[2] = {0, 0};
      test::Bytes want(in.size());
      unsigned wantLimited = 0;
      for (std::int64_t k = 0; k < frames * channels; ++k) {
        const int c = static_cast<int>(k % channels);
        const std::int32_t s =
            bits == 8 ? in[k] - 128 : static_cast<std::int16_t>(in[2 * k] | in[2 * k + 1] << 8);
        const std::int32_t y = report[c].step(bits == 8 ? s * 256 : s);
        reportMin[c] = std::min(reportMin[c], y);
        reportMax[c] = std::max(reportMax[c], y);
        bool limited = false;
        const std::int64_t r = rounded(serial[c].step(s * factor), bits, limited);
        if (limited) wantLimited |= 1u << c;
        if (bits == 8) {
          want[k] = static_cast<unsigned char>(r);
        } else {
          want[2 * k] = static_cast<unsigned char>(r & 0xFF);
          want[2 * k + 1] = static_cast<unsigned char>((r >> 8) & 0xFF);
        }
      }
      for (int threads = 1; threads <= 4; ++threads) {
        for (bool spoil : {false, true}) {
          SCOPED_TRACE(testing::Message() << channels << " ch " << bits << " bit, factor " << factor
                                          << ", " << threads << " threads, spoilt " << spoil);
          // Odd thread counts with AVX2 where the processor has it, even ones without.
          const test::KernelPaths paths(threads % 2 == 1, spoil);
          BlockDeemphasis block(channels, bits, factor, threads);
          DeemphasisFilterDouble filters[2];
          FollowedFilter follow[2];
          test::Bytes got(in.size());
          // Two blocks, the second starting from the states the first left.
          const std::int64_t first = 123457;
          const std::size_t split = static_cast<std::size_t>(first * channels * bits / 8);
          unsigned limited = block.run(in.data(), got.data(), first, filters, follow);
          limited |=
              block.run(in.data() + split, got.data() + split, frames - first, filters, follow);
          EXPECT_EQ(got, want);
          EXPECT_EQ(limited, wantLimited);
          if (spoil && threads > 1) {
            EXPECT_GT(block.repairs(), 0);
          }
          for (int c = 0; c < channels; ++c) {
            EXPECT_TRUE(sameBits(filters[c].prevOutput, serial[c].prevOutput));
            EXPECT_EQ(follow[c].state.output(), report[c].prevOutput);
            EXPECT_EQ(follow[c].min, reportMin[c]);
            EXPECT_EQ(follow[c].max, reportMax[c]);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace ril
