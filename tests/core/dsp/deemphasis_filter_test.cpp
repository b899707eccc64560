#include "core/dsp/deemphasis_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "core/dsp/integer_filter/fast_division.h"

namespace ril {
namespace {

std::vector<std::int32_t> runInteger(const std::vector<std::int32_t>& in) {
  DeemphasisFilter f;
  std::vector<std::int32_t> out;
  for (std::int32_t x : in) out.push_back(f.step(x));
  return out;
}

// The filter exactly as written down: doubles, this order, then rounded half to even.
std::int32_t doubleFormRounded(std::int32_t x1, std::int32_t x, std::int32_t y1) {
  double v = 15.5 * x1 + (-2.75) * x;
  v = v + 20.75 * y1;
  v = v / 33.5;
  return static_cast<std::int32_t>(std::nearbyint(v));
}

TEST(DeemphasisFilterTest, StepResponseApproachesTheInputFromTheOppositeSign) {
  EXPECT_EQ(runInteger(std::vector<std::int32_t>(8, 10000)),
            (std::vector<std::int32_t>{-821, 3297, 5848, 7428, 8407, 9013, 9389, 9622}));

  DeemphasisFilterDouble d;
  const double expected[] = {-820.8955, 3297.5050, 5848.4546, 7428.5204, 8407.2179, 9013.4260};
  for (double e : expected) EXPECT_NEAR(d.step(10000.0), e, 5e-5);
}

TEST(DeemphasisFilterTest, ExactHalvesRoundToTheEvenNeighbour) {
  const std::int32_t inputs[] = {-67, -201, 67, 201};
  const std::int32_t outputs[] = {6, 16, -6, -16};
  for (int i = 0; i < 4; ++i) {
    DeemphasisFilter f;
    EXPECT_EQ(f.step(inputs[i]), outputs[i]) << "input " << inputs[i];
  }
}

TEST(DeemphasisFilterTest, AlternatingFullScaleSettlesAtPlusMinus11023) {
  std::vector<std::int32_t> in;
  for (int n = 0; n < 60; ++n) in.push_back(n % 2 == 0 ? 32767 : -32768);
  const std::vector<std::int32_t> out = runInteger(in);
  EXPECT_EQ(std::vector<std::int32_t>(out.begin(), out.begin() + 4),
            (std::vector<std::int32_t>{-2690, 16185, -7826, 13003}));
  for (int n = 20; n < 60; ++n) EXPECT_EQ(out[n], n % 2 == 0 ? -11023 : 11023) << "frame " << n;
}

TEST(DeemphasisFilterTest, ExampleSequenceAndSettledConstantInput) {
  EXPECT_EQ(runInteger({0, 16384, -16384, 0}), (std::vector<std::int32_t>{0, -1345, 8093, -2568}));
  for (std::int32_t c : {-32768, -12345, -1, 0, 1, 777, 32767}) {
    DeemphasisFilter f;
    f.prevInput = c;
    f.prevOutput = c;
    EXPECT_EQ(f.step(c), c);
  }
  DeemphasisFilter f;
  f.step(5000);
  f.reset();
  EXPECT_EQ(f.step(10000), -821);
}

TEST(DeemphasisFilterTest, IntegerFormEqualsTheDoubleFormIncludingTies) {
  std::mt19937 rng(1234);
  std::uniform_int_distribution<std::int32_t> sample(-32768, 32767);
  std::uniform_int_distribution<std::int32_t> output(-38200, 38200);
  int ties = 0;
  for (int i = 0; i < 2000000; ++i) {
    const std::int32_t x1 = sample(rng), x = sample(rng), y1 = output(rng);
    DeemphasisFilter f;
    f.prevInput = x1;
    f.prevOutput = y1;
    ASSERT_EQ(f.step(x), doubleFormRounded(x1, x, y1)) << x1 << " " << x << " " << y1;
    const std::int64_t num = 62LL * x1 - 11LL * x + 83LL * y1;
    if (num % 134 == 67 || num % 134 == -67) ++ties;
  }
  EXPECT_GT(ties, 2000000 / 300);  // halves were really exercised
}

TEST(DeemphasisFilterTest, FastDivisionEqualsPlainOverTheWholeNumeratorRange) {
  // Every numerator the filter can reach (|num| < 5.6 million) and more.
  const std::int64_t limit = fastdiv::kFastNumeratorLimit;
  for (std::int64_t num = -limit; num <= limit; ++num) {
    // The portable form of the carry test agrees with the one in use.
    const std::uint64_t t = static_cast<std::uint64_t>(num + fastdiv::kOffset) * fastdiv::kMagic;
    const std::uint64_t portable =
        2 * (t >> 32) + (static_cast<std::uint32_t>(t) >= 0u - fastdiv::kCarry ? 1 : 0);
    if (roundedFromProduct(t) != portable) FAIL() << "carry test differs at " << num;
    if (divide134RoundEvenFast(num) != divide134RoundEven(num)) {
      FAIL() << "numerator " << num << ": fast " << divide134RoundEvenFast(num) << ", plain "
             << divide134RoundEven(num);
    }
  }
}

TEST(DeemphasisFilterTest, PlainDivisionRoundsHalvesToEvenOnBothSides) {
  EXPECT_EQ(divide134RoundEven(67), 0);
  EXPECT_EQ(divide134RoundEven(201), 2);
  EXPECT_EQ(divide134RoundEven(-67), 0);
  EXPECT_EQ(divide134RoundEven(-201), -2);
  EXPECT_EQ(divide134RoundEven(68), 1);
  EXPECT_EQ(divide134RoundEven(-68), -1);
  EXPECT_EQ(divide134RoundEven(-134), -1);
}

TEST(DeemphasisFilterTest, WorstCaseInputStaysInsideTheFastRange) {
  // The input that drives the output furthest: each sample has the sign of
  // the impulse response tap it meets at the last frame.
  const int taps = 64;
  std::vector<double> h(taps);
  DeemphasisFilterDouble impulse;
  for (int n = 0; n < taps; ++n) h[n] = impulse.step(n == 0 ? 1.0 : 0.0);
  for (int sign : {1, -1}) {
    std::vector<std::int32_t> in;
    for (int n = 0; n < taps; ++n) {
      const bool positive = (h[taps - 1 - n] >= 0) == (sign > 0);
      in.push_back(positive ? 32767 : -32768);
    }
    DeemphasisFilter f;
    std::int64_t worst = 0;
    for (std::int32_t x : in) {
      const std::int64_t num = 62LL * f.prevInput - 11LL * x + 83LL * f.prevOutput;
      worst = std::max(worst, std::abs(num));
      f.step(x);
    }
    EXPECT_GT(std::abs(f.prevOutput), 38000);
    EXPECT_LT(std::abs(f.prevOutput), 38160);
    EXPECT_LT(worst, fastdiv::kFastNumeratorLimit);
  }
}

}  // namespace
}  // namespace ril
