// The samples the loudness meter takes, against a plain decoding written
// here: on every vector path, for either channel alone and both at once, at
// every length around the vectors' widths, with the values a vector path
// could get wrong (the ends of the integer ranges, zeros of both signs, NaN,
// infinities, floats at and beyond the meter's bound, subnormals).
#include "core/dsp/formats/meter_values.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "core/dsp/formats/float_guard.h"
#include "support/kernel_switches.h"

namespace ril::kernels {
namespace {

SampleFormat formatOf(SampleEncoding encoding, int bytes, bool big = false) {
  SampleFormat f;
  f.encoding = encoding;
  f.containerBytes = bytes;
  f.validBits = 8 * bytes;
  f.bigEndian = big;
  return f;
}

// The sample at `p` as the meter must see it, decoded byte by byte.
double expected(const unsigned char* p, const SampleFormat& f) {
  std::uint64_t raw = 0;
  for (int b = 0; b < f.containerBytes; ++b) {
    const int shift = 8 * (f.bigEndian ? f.containerBytes - 1 - b : b);
    raw |= static_cast<std::uint64_t>(p[b]) << shift;
  }
  if (f.isFloat()) {
    const double v =
        f.containerBytes == 4
            ? static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(raw)))
            : std::bit_cast<double>(raw);
    if (std::isnan(v) || std::isinf(v)) return 0.0;
    return std::fmax(-kMeterMagnitude, std::fmin(v, kMeterMagnitude));
  }
  const int bits = 8 * f.containerBytes;
  const auto value = static_cast<std::int64_t>(raw << (64 - bits)) >> (64 - bits);
  return static_cast<double>(value) / std::ldexp(1.0, bits - 1);
}

// Stereo frames of random samples, a third of them from `edges`.
std::vector<unsigned char> framesWith(const SampleFormat& f, std::size_t frames,
                                      const std::vector<std::uint64_t>& edges, std::mt19937& rng) {
  std::vector<unsigned char> bytes(frames * 2 * static_cast<std::size_t>(f.containerBytes));
  std::uniform_real_distribution<float> level(-1.5f, 1.5f);
  for (std::size_t s = 0; s < frames * 2; ++s) {
    std::uint64_t raw = rng();
    if (rng() % 3 == 0) {
      raw = edges[rng() % edges.size()];
    } else if (f.isFloat()) {
      raw = std::bit_cast<std::uint32_t>(level(rng));
    }
    for (int b = 0; b < f.containerBytes; ++b) {
      const int shift = 8 * (f.bigEndian ? f.containerBytes - 1 - b : b);
      bytes[s * static_cast<std::size_t>(f.containerBytes) + static_cast<std::size_t>(b)] =
          static_cast<unsigned char>(raw >> shift);
    }
  }
  return bytes;
}

std::uint64_t bitsOf(double v) {
  return std::bit_cast<std::uint64_t>(v);
}

TEST(MeterValues, EveryPathGivesThePlainDecodingForOneChannelAndForBoth) {
  const std::uint32_t bound = std::bit_cast<std::uint32_t>(static_cast<float>(kMeterMagnitude));
  const std::vector<std::uint64_t> integerEdges = {0x800000, 0x7fffff,   0,          0xffffff,
                                                   1,        0x80000000, 0x7fffffff, 0xffffffff};
  const std::vector<std::uint64_t> floatEdges = {
      0x7fc00000,         0xffc00000, 0x7f800000, 0xff800000, bound,     bound + 1,
      bound | 0x80000000, 0x7f7fffff, 0x80000000, 0x00000001, 0x3f800000};
  const std::vector<SampleFormat> formats = {
      formatOf(SampleEncoding::kPcm, 3),         formatOf(SampleEncoding::kPcm, 4),
      formatOf(SampleEncoding::kFloat, 4),       formatOf(SampleEncoding::kPcm, 3, true),
      formatOf(SampleEncoding::kFloat, 4, true), formatOf(SampleEncoding::kFloat, 8)};
  std::mt19937 rng(23);
  for (const SampleFormat& f : formats) {
    const std::vector<unsigned char> bytes =
        framesWith(f, 600, f.isFloat() ? floatEdges : integerEdges, rng);
    const auto frameBytes = static_cast<std::size_t>(2 * f.containerBytes);
    for (int path : {2, 1, 0}) {  // AVX-512, AVX2, baseline
      const test::KernelPaths paths(path > 0);
      test::allowWidestVectors(path == 2);
      for (std::int64_t count = 0; count <= 500; count += count < 40 ? 1 : 91) {
        // Exactly the frames read, so that the sanitizers see a read beyond them.
        const std::vector<unsigned char> frames(
            bytes.begin() + static_cast<std::ptrdiff_t>(5 * frameBytes),
            bytes.begin() + static_cast<std::ptrdiff_t>((5 + count) * frameBytes));
        const unsigned char* first = frames.data();
        std::vector<double> one[2], pair[2];
        for (int c = 0; c < 2; ++c) {
          one[c].assign(static_cast<std::size_t>(count) + 1, 7.0);
          pair[c].assign(static_cast<std::size_t>(count) + 1, 7.0);
          meterValues(first + c * f.containerBytes, frameBytes, f, count, one[c].data());
        }
        meterPairValues(first, f, count, pair[0].data(), pair[1].data());
        for (int c = 0; c < 2; ++c) {
          for (std::int64_t i = 0; i <= count; ++i) {
            const auto at = static_cast<std::size_t>(i);
            const double want =
                i == count ? 7.0 : expected(first + at * frameBytes + c * f.containerBytes, f);
            ASSERT_EQ(bitsOf(one[c][at]), bitsOf(want))
                << f.words() << ", path " << path << ", count " << count << ", frame " << i;
            ASSERT_EQ(bitsOf(pair[c][at]), bitsOf(want))
                << f.words() << " both channels, path " << path << ", count " << count << ", frame "
                << i;
          }
        }
      }
      test::allowWidestVectors(true);
    }
  }
}

}  // namespace
}  // namespace ril::kernels
