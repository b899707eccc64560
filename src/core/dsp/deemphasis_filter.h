// The de-emphasis filter, one state per channel.
//   y[n] = (15.5 x[n-1] - 2.75 x[n] + 20.75 y[n-1]) / 33.5
// Its coefficients and its step are defined here once, for every user, in
// its two forms: the integer one of the report (integer_filter/ runs it fast)
// and the double one of the rewriting (double_filter/).
#pragma once

#include <cstdint>

namespace ril {

namespace deemphasis {
// The coefficients as the double form uses them.
inline constexpr double kPrevInput = 15.5;
inline constexpr double kInput = -2.75;
inline constexpr double kPrevOutput = 20.75;
inline constexpr double kDivisor = 33.5;

// The same times four, all integers: the integer form computes with these
// (62, -11, 83 and 134).
inline constexpr int kScale = 4;
inline constexpr std::int32_t kPrevInputX4 = static_cast<std::int32_t>(kScale * kPrevInput);
inline constexpr std::int32_t kInputX4 = static_cast<std::int32_t>(kScale * kInput);
inline constexpr std::int32_t kPrevOutputX4 = static_cast<std::int32_t>(kScale * kPrevOutput);
inline constexpr std::int32_t kDivisorX4 = static_cast<std::int32_t>(kScale * kDivisor);
static_assert(kPrevInputX4 == kScale * kPrevInput && kInputX4 == kScale * kInput &&
                  kPrevOutputX4 == kScale * kPrevOutput && kDivisorX4 == kScale * kDivisor,
              "the scaled coefficients are exact integers");
}  // namespace deemphasis

// One step of the double form, unrounded, in exactly this order of
// operations. V is double, or a type that does the same IEEE operations lane
// by lane (DoublePair), so that several channels can run through this very
// definition and each lane gives what double gives.
template <typename V>
inline V deemphasisStep(V prevInput, V x, V prevOutput) {
  V v = V(deemphasis::kPrevInput) * prevInput + V(deemphasis::kInput) * x;
  v = v + V(deemphasis::kPrevOutput) * prevOutput;
  v = v / V(deemphasis::kDivisor);
  return v;
}

// The numerator of the integer form's step, 62 x[n-1] - 11 x[n] + 83 y[n-1];
// the output is this divided by 134, rounded (divide134RoundEven).
inline std::int64_t deemphasisNumerator(std::int32_t prevInput, std::int32_t x,
                                        std::int32_t prevOutput) {
  return deemphasis::kPrevInputX4 * static_cast<std::int64_t>(prevInput) +
         deemphasis::kInputX4 * static_cast<std::int64_t>(x) +
         deemphasis::kPrevOutputX4 * static_cast<std::int64_t>(prevOutput);
}

// Rounds num / 134 to the nearest integer, a value exactly halfway going to the
// even one: the plain, obviously correct form.
std::int32_t divide134RoundEven(std::int64_t num);

// Integer form (analysis): y = (62 x[n-1] - 11 x[n] + 83 y[n-1]) / 134,
// rounded to nearest with halves to even; the rounded output is fed back.
class DeemphasisFilter {
 public:
  void reset() {
    prevInput = 0;
    prevOutput = 0;
  }
  std::int32_t step(std::int32_t x);

  std::int32_t prevInput = 0;
  std::int32_t prevOutput = 0;
};

// Double form (modification): unrounded, deemphasisStep's order of operations.
class DeemphasisFilterDouble {
 public:
  void reset() {
    prevInput = 0.0;
    prevOutput = 0.0;
  }
  double step(double x) {
    const double v = deemphasisStep(prevInput, x, prevOutput);
    prevInput = x;
    prevOutput = v;
    return v;
  }

  double prevInput = 0.0;
  double prevOutput = 0.0;
};

}  // namespace ril
