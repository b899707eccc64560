#include "core/dsp/double_filter/double_conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/dsp/cpu_features.h"

namespace ril {
namespace {

// Every 16-bit word, through the vector path, against the volume change's
// own rounding of each: the result for that factor is then known complete.
TEST(ScaleRounded16Test, EveryWordComesOutAsTheScalarRoundingGivesIt) {
  std::mt19937 rng(16);
  std::vector<double> factors = {1.0, 0.5, 1.5, 1.0 / 3.0, 1e-5, 32767.0 / 32768.0, 37.25};
  for (int i = 0; i < 20; ++i) factors.push_back(std::uniform_real_distribution<double>(0, 3)(rng));
  std::vector<std::uint16_t> in(65536 + 13);  // a tail the vector path leaves
  for (std::size_t i = 0; i < in.size(); ++i) in[i] = static_cast<std::uint16_t>(i * 40503u);
  std::vector<std::uint16_t> out(in.size());
  for (double factor : factors) {
    SCOPED_TRACE(factor);
    bool outside = false;
    const std::int64_t done = kernels::scaleRounded16(
        in.data(), out.data(), static_cast<std::int64_t>(in.size()), factor, outside);
    if (!kernels::haveAvx2()) {
      EXPECT_EQ(done, 0);
      continue;
    }
    EXPECT_EQ(done, 65536);
    bool anyOutside = false;
    std::size_t differing = 0;
    for (std::int64_t i = 0; i < done; ++i) {
      const double v = static_cast<double>(static_cast<std::int16_t>(in[i]));
      const double r = std::floor(v * factor + 0.5);
      if (r < -32768.0 || r > 32767.0) {
        anyOutside = true;
        continue;
      }
      differing += out[i] != static_cast<std::uint16_t>(static_cast<std::int16_t>(r)) ? 1 : 0;
    }
    EXPECT_EQ(differing, 0u);
    EXPECT_EQ(outside, anyOutside);
  }
}

}  // namespace
}  // namespace ril
