// The wider formats' vector kernels against their scalar twins, bit for bit,
// on the values where a vector path could go astray: the ends of the ranges,
// the limits and either side of them, halves of a step, zeros of both signs,
// infinities and NaNs, and every length around the vectors' widths.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/dsp/formats/float_guard.h"
#include "core/dsp/formats/float_sums.h"
#include "core/dsp/formats/format_runs.h"
#include "core/dsp/formats/sample_codec.h"
#include "support/kernel_switches.h"

namespace ril::kernels {
namespace {

std::vector<std::int32_t> integersNearEdges(std::size_t n, std::mt19937& rng) {
  const std::int32_t edges[] = {
      -(1 << 24) + 1, (1 << 24) - 1, -8388608, 8388607, -8388607, 8388606, 0, -1, 1, -32768};
  std::vector<std::int32_t> x(n);
  std::uniform_int_distribution<std::int32_t> any(-(1 << 24) + 1, (1 << 24) - 1);
  for (std::int32_t& v : x) v = rng() % 3 == 0 ? edges[rng() % std::size(edges)] : any(rng);
  return x;
}

TEST(FormatKernels, IntegerRunsMatchTheScalarStepsForEveryLength) {
  std::mt19937 rng(7);
  for (std::size_t n : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 2048u, 65536u}) {
    for (int round = 0; round < 8; ++round) {
      std::vector<std::int32_t> x = integersNearEdges(n, rng);
      // Runs of the extremes, whose sums outgrow a 32-bit lane of the vectors.
      if (round < 2) std::fill(x.begin(), x.end(), round == 0 ? -(1 << 24) + 1 : (1 << 24) - 1);
      const auto m = static_cast<std::int64_t>(n);
      const IntegerRun s = integerRunScalar(x.data(), m, -8388608, 8388607);
      if (round < 2) {
        EXPECT_EQ(s.sum, m * x[0]);
      }
      for (bool widest : {true, false}) {  // AVX-512, AVX2
        test::allowWidestVectors(widest);
        const IntegerRun v = integerRun(x.data(), m, -8388608, 8388607);
        test::allowWidestVectors(true);
        EXPECT_EQ(v.min, s.min);
        EXPECT_EQ(v.max, s.max);
        EXPECT_EQ(v.sum, s.sum);
        EXPECT_EQ(v.sumSq, s.sumSq);
        EXPECT_EQ(v.atLimits, s.atLimits) << n << (widest ? ", AVX-512" : ", AVX2");
      }
    }
  }
}

// The whole 32-bit range, where the squares' sum outgrows 64 bits: held to
// the scalar steps and, for a run of the most negative value, to its sum.
TEST(FormatKernels, WideIntegerRunsKeepSumsOfSquaresBeyondSixtyFourBits) {
  std::mt19937 rng(11);
  const std::int32_t edges[] = {INT32_MIN, INT32_MAX, INT32_MIN + 1, INT32_MAX - 1, 0, -1, 1};
  for (std::size_t n : {1u, 7u, 8u, 9u, 15u, 16u, 17u, 2048u, 65536u}) {
    std::vector<std::int32_t> x(n);
    for (int round = 0; round < 4; ++round) {
      for (std::int32_t& v : x) {
        v = rng() % 3 == 0 ? edges[rng() % std::size(edges)] : static_cast<std::int32_t>(rng());
      }
      if (round == 0) std::fill(x.begin(), x.end(), INT32_MIN);
      const auto m = static_cast<std::int64_t>(n);
      const WideIntegerRun s = wideIntegerRunScalar(x.data(), m, INT32_MIN, INT32_MAX - 255);
      if (round == 0) {
        EXPECT_TRUE(s.sumSq == static_cast<unsigned __int128>(n) << 62);
        EXPECT_EQ(s.atLimits, m);
      }
      for (bool widest : {true, false}) {  // AVX-512, AVX2
        test::allowWidestVectors(widest);
        const WideIntegerRun v = wideIntegerRun(x.data(), m, INT32_MIN, INT32_MAX - 255);
        test::allowWidestVectors(true);
        EXPECT_EQ(v.min, s.min);
        EXPECT_EQ(v.max, s.max);
        EXPECT_EQ(v.sum, s.sum);
        EXPECT_TRUE(v.sumSq == s.sumSq);
        EXPECT_EQ(v.atLimits, s.atLimits) << n << (widest ? ", AVX-512" : ", AVX2");
      }
    }
  }
}

std::vector<double> floatsNearEdges(std::size_t n, std::mt19937& rng) {
  const double edges[] = {0.0,
                          -0.0,
                          1.0,
                          -1.0,
                          std::nextafter(1.0, 0.0),
                          std::nextafter(-1.0, 0.0),
                          std::numeric_limits<double>::infinity(),
                          -std::numeric_limits<double>::infinity(),
                          std::numeric_limits<double>::quiet_NaN(),
                          std::numeric_limits<double>::denorm_min(),
                          -3.5};
  std::vector<double> x(n);
  std::uniform_real_distribution<double> any(-1.5, 1.5);
  for (double& v : x) v = rng() % 3 == 0 ? edges[rng() % std::size(edges)] : any(rng);
  return x;
}

// 24-bit stereo taken from its bytes, both channels in one pass: each
// channel's run as its decoded samples give it, on either path, for every
// length around the vectors' eight frames and the full loads' eleven.
TEST(FormatKernels, Stereo24RunsAreEachChannelsRunOfItsSamples) {
  std::mt19937 rng(31);
  for (std::size_t n : {1u, 7u, 8u, 9u, 11u, 12u, 13u, 16u, 19u, 4099u, 65536u}) {
    std::vector<std::int32_t> raw = integersNearEdges(2 * n, rng);
    // The longest runs all at one extreme, a channel each.
    if (n == 65536u) {
      for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = i % 2 == 0 ? -8388608 : 8388607;
    }
    std::vector<unsigned char> bytes;
    std::vector<std::int32_t> channel[2];
    for (std::size_t i = 0; i < 2 * n; ++i) {
      const auto w = static_cast<std::uint32_t>(raw[i]) & 0xFFFFFF;
      for (int b = 0; b < 3; ++b) bytes.push_back(static_cast<unsigned char>(w >> (8 * b)));
      channel[i % 2].push_back(static_cast<std::int32_t>(w << 8) >> 8);
    }
    const auto m = static_cast<std::int64_t>(n);
    for (bool widest : {true, false}) {
      test::allowWidestVectors(widest);
      IntegerRun runs[2];
      stereo24Runs(bytes.data(), m, -8388600, 8388600, runs);
      test::allowWidestVectors(true);
      for (int c = 0; c < 2; ++c) {
        const IntegerRun s = integerRunScalar(channel[c].data(), m, -8388600, 8388600);
        EXPECT_TRUE(runs[c].min == s.min && runs[c].max == s.max && runs[c].sum == s.sum &&
                    runs[c].sumSq == s.sumSq && runs[c].atLimits == s.atLimits)
            << n << " frames, channel " << c << (widest ? ", AVX-512" : ", scalar");
      }
    }
  }
}

TEST(FormatKernels, FloatScansMatchTheRunningExtremesWithNaNsAndSignedZeros) {
  std::mt19937 rng(11);
  for (std::size_t n : {1u, 3u, 4u, 5u, 9u, 64u, 2048u}) {
    for (int round = 0; round < 16; ++round) {
      const std::vector<double> x = floatsNearEdges(n, rng);
      const double lo = round % 2 == 0 ? 0.0 : -0.25, hi = round % 4 < 2 ? 0.0 : 0.75;
      const FloatScan v = scanFloats(x.data(), static_cast<std::int64_t>(n), lo, hi);
      const FloatScan s = scanFloatsScalar(x.data(), static_cast<std::int64_t>(n), lo, hi);
      EXPECT_EQ(std::bit_cast<std::uint64_t>(v.lo), std::bit_cast<std::uint64_t>(s.lo));
      EXPECT_EQ(std::bit_cast<std::uint64_t>(v.hi), std::bit_cast<std::uint64_t>(s.hi));
      EXPECT_EQ(v.atLimits, s.atLimits);
    }
  }
}

bool sameBits(const SumLanes& a, const SumLanes& b) {
  return std::memcmp(&a, &b, sizeof(SumLanes)) == 0;
}

bool sameScan(const FloatScan& a, const FloatScan& b) {
  return std::bit_cast<std::uint64_t>(a.lo) == std::bit_cast<std::uint64_t>(b.lo) &&
         std::bit_cast<std::uint64_t>(a.hi) == std::bit_cast<std::uint64_t>(b.hi) &&
         a.atLimits == b.atLimits;
}

// The lanes of the AVX-512, AVX2 and scalar paths, the sums continued from a
// piece cut anywhere, and the refusal of unusual values.
TEST(FormatKernels, FloatSumsTakeTheSameLanesOnEveryPathAndAcrossAnyCut) {
  std::mt19937 rng(19);
  for (std::size_t n : {1u, 15u, 16u, 17u, 40u, 2048u}) {
    for (int phase : {0, 1, 9, 15}) {
      std::vector<double> x = floatsNearEdges(n, rng);
      for (double& v : x) v = std::isfinite(v) ? v : 0.75;
      const auto m = static_cast<std::int64_t>(n);
      SumLanes start;
      for (int k = 0; k < kSumLanes; ++k) start.sum[k] = start.sumSq[k] = 0.125 * k;
      SumLanes wide = start, avx2 = start, plain = start;
      FloatScan a, b, c;
      ASSERT_TRUE(scanAndSum(x.data(), m, phase, wide, a));
      ASSERT_TRUE(scanAndSumAvx2(x.data(), m, phase, avx2, b));
      ASSERT_TRUE(scanAndSumScalar(x.data(), m, phase, plain, c));
      EXPECT_TRUE(sameBits(wide, plain) && sameBits(avx2, plain)) << n << " from lane " << phase;
      EXPECT_TRUE(sameScan(a, c) && sameScan(b, c));
      EXPECT_TRUE(sameScan(c, scanFloatsScalar(x.data(), m, 0.0, 0.0)));
      // In two pieces, the second going on from the lane after the first.
      const std::int64_t cut = static_cast<std::int64_t>(rng() % n);
      SumLanes twice = start;
      ASSERT_TRUE(scanAndSum(x.data(), cut, phase, twice, a));
      ASSERT_TRUE(scanAndSum(x.data() + cut, m - cut, (phase + cut) % kSumLanes, twice, a));
      EXPECT_TRUE(sameBits(twice, plain));
      const LaneTotal t = combineLanes(plain);
      double sum = 0, sumSq = 0;
      for (const double v : x) {
        sum += v;
        sumSq += v * v;
      }
      EXPECT_NEAR(t.sum - combineLanes(start).sum, sum, 1e-13 * static_cast<double>(n));
      EXPECT_NEAR(t.sumSq - combineLanes(start).sumSq, sumSq, 1e-13 * static_cast<double>(n));
      // One value that is not usual anywhere: refused, the lanes left alone.
      for (const double odd : {std::numeric_limits<double>::quiet_NaN(),
                               -std::numeric_limits<double>::infinity(), 0x1p501}) {
        x[rng() % n] = odd;
        SumLanes lanes = start;
        EXPECT_FALSE(scanAndSum(x.data(), m, phase, lanes, a));
        EXPECT_FALSE(scanAndSumAvx2(x.data(), m, phase, lanes, a));
        EXPECT_FALSE(scanAndSumScalar(x.data(), m, phase, lanes, a));
        EXPECT_TRUE(sameBits(lanes, start));
      }
    }
  }
}

// Float stereo summed from its bytes, both channels in one pass, on either
// path: each channel's lanes and scan as its decoded values give them, and
// a NaN or infinity in either channel refused with nothing touched.
TEST(FormatKernels, FloatPairsSumEachChannelAsItsDecodedValues) {
  std::mt19937 rng(29);
  for (const bool widest : {true, false}) {
    test::allowWidestVectors(widest);
    for (std::size_t n : {1u, 15u, 16u, 17u, 47u, 2048u}) {
      for (int phase : {0, 1, 15}) {
        SCOPED_TRACE(std::to_string(n) + " frames from lane " + std::to_string(phase));
        std::vector<float> frames(2 * n);
        const std::vector<double> values = floatsNearEdges(2 * n, rng);
        for (std::size_t i = 0; i < 2 * n; ++i) {
          frames[i] = static_cast<float>(std::isfinite(values[i]) ? values[i] : -0.5);
        }
        const auto m = static_cast<std::int64_t>(n);
        SumLanes start[2];
        for (int k = 0; k < kSumLanes; ++k) start[0].sum[k] = start[1].sumSq[k] = 0.25 * k;
        SumLanes lanes[2] = {start[0], start[1]};
        FloatScan scans[2];
        const auto* bytes = reinterpret_cast<const unsigned char*>(frames.data());
        ASSERT_TRUE(scanAndSumFloatPairs(bytes, m, phase, lanes, scans));
        for (int c = 0; c < 2; ++c) {
          std::vector<double> x(n);
          for (std::size_t i = 0; i < n; ++i) x[i] = frames[2 * i + static_cast<std::size_t>(c)];
          SumLanes want = start[c];
          FloatScan scan;
          ASSERT_TRUE(scanAndSumScalar(x.data(), m, phase, want, scan));
          EXPECT_TRUE(sameBits(lanes[c], want) && sameScan(scans[c], scan)) << "channel " << c;
        }
        for (const float odd :
             {std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()}) {
          std::vector<float> spoilt = frames;
          spoilt[rng() % (2 * n)] = odd;
          SumLanes untouched[2] = {start[0], start[1]};
          EXPECT_FALSE(scanAndSumFloatPairs(reinterpret_cast<const unsigned char*>(spoilt.data()),
                                            m, phase, untouched, scans));
          EXPECT_TRUE(sameBits(untouched[0], start[0]) && sameBits(untouched[1], start[1]));
        }
      }
    }
  }
  test::allowWidestVectors(true);
}

// Unusual values (NaN, infinities, beyond the bound) found in any place.
TEST(FormatKernels, UnusualValuesAreFoundWhereverTheyLie) {
  std::mt19937 rng(23);
  for (std::size_t n : {1u, 7u, 8u, 9u, 17u, 2048u}) {
    std::vector<double> x = floatsNearEdges(n, rng);
    for (double& v : x) v = std::isfinite(v) ? std::clamp(v, -1.5, 1.5) : 0.5;
    const auto m = static_cast<std::int64_t>(n);
    EXPECT_FALSE(anyUnusual(x.data(), m, 1.5));
    for (std::size_t at : {std::size_t{0}, n / 2, n - 1}) {
      for (const double odd : {std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(), -1.75}) {
        std::vector<double> y = x;
        y[at] = odd;
        EXPECT_TRUE(anyUnusual(y.data(), m, 1.5)) << n << " " << at << " " << odd;
        EXPECT_TRUE(anyUnusualScalar(y.data(), m, 1.5));
      }
    }
  }
}

TEST(FormatKernels, RoundingAtStepsMatchesTheScalarRoundingOrRefusesLikeIt) {
  std::mt19937 rng(3);
  struct Case {
    std::int64_t step, low, high;
  };
  for (const Case c : {Case{1, -8388608, 8388607}, Case{16, -8388608, 8388592},
                       Case{1, -2147483648LL, 2147483647LL}, Case{256, -32768, 32512}}) {
    const double inverse = 1.0 / static_cast<double>(c.step);
    for (int round = 0; round < 200; ++round) {
      const std::size_t n = 1 + rng() % 40;
      std::vector<double> x(n);
      for (double& v : x) {
        // Halves of a step, values just inside and outside the range.
        const auto k = static_cast<double>(static_cast<std::int64_t>(rng() % 64) - 32);
        const double pick[] = {(k + 0.5) * static_cast<double>(c.step),
                               static_cast<double>(c.high) + 0.49 * static_cast<double>(c.step),
                               static_cast<double>(c.low) - 0.5 * static_cast<double>(c.step),
                               static_cast<double>(c.high) + 0.5 * static_cast<double>(c.step),
                               -0.0,
                               k * 1234.567};
        v = pick[rng() % std::size(pick)];
      }
      if (round % 50 == 0) x[n / 2] = std::numeric_limits<double>::quiet_NaN();
      std::vector<std::int64_t> a(n, -7), b(n, -7);
      const auto m = static_cast<std::int64_t>(n);
      const bool va = roundAtSteps(x.data(), m, inverse, c.step, c.low, c.high, a.data());
      const bool vb = roundAtStepsScalar(x.data(), m, inverse, c.step, c.low, c.high, b.data());
      ASSERT_EQ(va, vb);
      // Into 32-bit integers: the same verdict and values.
      std::vector<std::int32_t> w(n, -7);
      ASSERT_EQ(roundAtSteps(x.data(), m, inverse, c.step, c.low, c.high, w.data()), va);
      if (va) {
        EXPECT_EQ(a, b);
        EXPECT_EQ(std::vector<std::int64_t>(w.begin(), w.end()), a);
      }
    }
  }
}

TEST(FormatKernels, ScalingAndCountingBeyondFullScaleMatchTheScalarSteps) {
  std::mt19937 rng(13);
  const float justOver = std::nextafter(1.0f, 2.0f);
  for (std::size_t n : {1u, 3u, 4u, 5u, 9u, 2048u}) {
    std::vector<double> x = floatsNearEdges(n, rng);
    // Doubles that round to exactly 1.0f, and to the float just beyond.
    for (std::size_t i = 0; i < n; i += 3) x[i] = i % 2 == 0 ? 1.0 + 0x1p-26 : -double{justOver};
    EXPECT_EQ(countBeyondAsFloat(x.data(), static_cast<std::int64_t>(n)),
              countBeyondAsFloatScalar(x.data(), static_cast<std::int64_t>(n)));
    for (const auto& [factor, divisor] : {std::pair{0.8, 0.0}, std::pair{1.0, 0.3}}) {
      std::vector<double> a = x, b = x;
      scaleValues(a.data(), static_cast<std::int64_t>(n), factor, divisor);
      scaleValuesScalar(b.data(), static_cast<std::int64_t>(n), factor, divisor);
      EXPECT_EQ(0, std::memcmp(a.data(), b.data(), n * sizeof(double)));
    }
  }
}

TEST(FormatKernels, FloatsStoredFourAtATimeRoundAsTheScalarConversion) {
  std::mt19937 rng(17);
  const SampleFormat f{SampleEncoding::kFloat, 4, 32, false};
  for (std::size_t n : {1u, 4u, 7u, 64u}) {
    std::vector<double> x = floatsNearEdges(n, rng);
    for (std::size_t i = 1; i < n; i += 4)
      x[i] = 1.0 + 0x1p-24 + (i % 3) * 0x1p-52;  // ties, near ties
    std::vector<unsigned char> wide(2 * 4 * n, 0xAA), plain = wide;
    storeFloats(x.data(), static_cast<std::int64_t>(n), f, wide.data() + 4, 8);
    {
      const test::KernelPaths baseline(false);
      storeFloats(x.data(), static_cast<std::int64_t>(n), f, plain.data() + 4, 8);
    }
    EXPECT_EQ(wide, plain) << n;
  }
}

// Random bytes through the decoders on the AVX-512 and the AVX2 paths and
// without the vector paths: every bit pattern of the containers, NaNs and
// denormals of float included, each buffer ending at the last frame read.
TEST(FormatKernels, VectorDecodingEqualsTheScalarDecodingForAnyChannelCount) {
  std::mt19937 rng(5);
  const SampleFormat formats[] = {{SampleEncoding::kPcm, 3, 24, false},
                                  {SampleEncoding::kPcm, 4, 32, false},
                                  {SampleEncoding::kFloat, 4, 32, false}};
  for (const SampleFormat& f : formats) {
    for (int channels : {1, 2, 3, 6}) {
      for (std::int64_t count : {1, 4, 5, 6, 7, 8, 9, 10, 16, 17, 23, 100}) {
        const std::size_t frameBytes = static_cast<std::size_t>(channels * f.containerBytes);
        std::vector<unsigned char> bytes(static_cast<std::size_t>(count) * frameBytes);
        for (unsigned char& b : bytes) b = static_cast<unsigned char>(rng());
        for (int c = 0; c < channels; ++c) {
          const unsigned char* first = bytes.data() + c * f.containerBytes;
          std::vector<double> plain(static_cast<std::size_t>(count));
          std::vector<std::int32_t> plainInts(plain.size());
          {
            const test::KernelPaths baseline(false);
            storedValues(first, frameBytes, f, count, plain.data());
            if (!f.isFloat()) storedIntegers(first, frameBytes, f, count, plainInts.data());
          }
          for (bool widest : {true, false}) {
            test::allowWidestVectors(widest);
            std::vector<double> wide(plain.size());
            std::vector<std::int32_t> wideInts(plain.size());
            storedValues(first, frameBytes, f, count, wide.data());
            if (!f.isFloat()) storedIntegers(first, frameBytes, f, count, wideInts.data());
            test::allowWidestVectors(true);
            EXPECT_EQ(0, std::memcmp(wide.data(), plain.data(), wide.size() * sizeof(double)))
                << f.containerBytes << " bytes, channel " << c << " of " << channels << ", "
                << count << (widest ? ", AVX-512" : ", AVX2");
            EXPECT_EQ(wideInts, plainInts);
          }
        }
      }
    }
  }
}

}  // namespace
}  // namespace ril::kernels
