#include "core/dsp/double_filter/double_pair.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "core/dsp/deemphasis_filter.h"

namespace ril {
namespace {

// The same bits, or NaN on both sides: which payload a NaN made from two NaNs
// carries depends on the order of operands the compiler picks, not on the
// arithmetic.
testing::AssertionResult sameDouble(double got, double want) {
  if (std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(want)) {
    return testing::AssertionSuccess();
  }
  if (std::isnan(got) && std::isnan(want)) return testing::AssertionSuccess();
  return testing::AssertionFailure() << "got " << got << ", want " << want;
}

std::vector<double> extremeValues() {
  using lim = std::numeric_limits<double>;
  const double loud = 32768.0 * 16384;  // a full-scale sample at a large volume factor
  std::vector<double> v = {0.0,      -0.0, 1.0,   -1.0,   0.1,   32767.0,
                           -32768.0, loud, -loud, 1e-300, -1e300};
  for (double d : {lim::min(), lim::denorm_min(), lim::max(), lim::infinity()}) {
    v.push_back(d);
    v.push_back(-d);
  }
  v.push_back(lim::quiet_NaN());
  return v;
}

// Extreme values, samples times a volume factor, and any finite double.
double randomInput(std::mt19937_64& rng) {
  static const std::vector<double> extremes = extremeValues();
  switch (rng() % 3) {
    case 0:
      return extremes[rng() % extremes.size()];
    case 1:
      return static_cast<double>(static_cast<int>(rng() % 65536) - 32768) *
             (static_cast<double>(rng() % 1000000) / 1000.0);
    default: {
      double d;
      do {
        d = std::bit_cast<double>(rng());
      } while (!std::isfinite(d));
      return d;
    }
  }
}

TEST(DoublePairTest, EachLaneOfTheStepEqualsTheScalarStepBitForBit) {
  std::mt19937_64 rng(20240611);
  for (int i = 0; i < 5000; ++i) {
    double in[2], x[2], out[2];
    for (int lane = 0; lane < 2; ++lane) {
      in[lane] = randomInput(rng);
      x[lane] = randomInput(rng);
      out[lane] = randomInput(rng);
    }
    const DoublePair v = deemphasisStep(DoublePair(in[0], in[1]), DoublePair(x[0], x[1]),
                                        DoublePair(out[0], out[1]));
    EXPECT_TRUE(sameDouble(v.first(), deemphasisStep(in[0], x[0], out[0]))) << "step " << i;
    EXPECT_TRUE(sameDouble(v.second(), deemphasisStep(in[1], x[1], out[1]))) << "step " << i;
  }
}

TEST(DoublePairTest, TwoChannelsInOnePairFollowTwoScalarFilters) {
  std::mt19937_64 rng(7);
  DeemphasisFilterDouble scalar[2];
  DoublePair prevIn(0.0), prevOut(0.0);
  for (int i = 0; i < 4000; ++i) {
    double x[2];
    for (double& v : x) {
      const double factor = (rng() % 8 == 0) ? 16384.0 : static_cast<double>(rng() % 3000) / 997.0;
      v = static_cast<double>(static_cast<int>(rng() % 65536) - 32768) * factor;
    }
    const DoublePair xs(x[0], x[1]);
    prevOut = deemphasisStep(prevIn, xs, prevOut);
    prevIn = xs;
    ASSERT_TRUE(sameDouble(prevOut.first(), scalar[0].step(x[0]))) << "step " << i;
    ASSERT_TRUE(sameDouble(prevOut.second(), scalar[1].step(x[1]))) << "step " << i;
  }
}

}  // namespace
}  // namespace ril
