// The de-emphasis filter, one state per channel.
//   y[n] = (15.5 x[n-1] - 2.75 x[n] + 20.75 y[n-1]) / 33.5
// Its coefficients and its step are defined here once, for every user.
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

// The same rounding without branches or division, for the tuned pass. With
// u = num + 67 + 268 * kBias (the bias makes it positive and, being an even
// multiple of 134, leaves the halves alone) the result plus 2 * kBias is
// floor(u / 268) + floor((u + 133) / 268) = 2 * floor(u / 268) + [u mod 268 >= 135]:
// below a remainder of 67 of num / 134 nothing steps, above it one step is
// added, and the halves (67 and 201 of num mod 268) land on the even
// neighbour. One product t = u * kMagic (kMagic = ceil(2^32 / 268)) gives both
// parts: its high half is floor(u / 268), and its low half, the scaled
// remainder, reaches 2^32 - kCarry exactly when the remainder is 135 or more.
// Exact for |num| <= kFastNumeratorLimit, tested over that whole range; the
// filter's numerators stay below 5.6 million.
namespace fastdiv {
inline constexpr std::int64_t kBias = 32768;
inline constexpr std::int64_t kDoubleDivisor = 2 * deemphasis::kDivisorX4;  // 268
inline constexpr std::uint64_t kMagic =  // ceil(2^32 / 268) = 16025998
    ((std::uint64_t{1} << 32) + kDoubleDivisor - 1) / kDoubleDivisor;
inline constexpr std::int64_t kOffset = deemphasis::kDivisorX4 / 2 + kDoubleDivisor * kBias;
// The low half for a remainder of 134 stays below 2^31 + 10.6 million, that for
// 135 starts above 2^31 + 16.0 million; the threshold lies between them.
inline constexpr std::uint32_t kCarry = 2147483648u - 13000000u;
inline constexpr std::int64_t kFastNumeratorLimit = 8000000;
}  // namespace fastdiv

// 2 * floor(u / 268) + [u mod 268 >= 135] from t = u * kMagic.
inline std::uint64_t roundedFromProduct(std::uint64_t t) {
#if defined(__x86_64__) && defined(__GNUC__)
  std::uint64_t hi = t >> 32;
  std::uint32_t lo = static_cast<std::uint32_t>(t);
  // The carry of lo + kCarry is the remainder test; adc doubles and adds it.
  asm("addl %[k], %[lo]\n\tadcq %[hi], %[hi]"
      : [lo] "+r"(lo), [hi] "+r"(hi)
      : [k] "i"(fastdiv::kCarry)
      : "cc");
  return hi;
#else
  return 2 * (t >> 32) + (static_cast<std::uint32_t>(t) >= 0u - fastdiv::kCarry ? 1u : 0u);
#endif
}

inline std::int32_t divide134RoundEvenFast(std::int64_t num) {
  using namespace fastdiv;
  const std::uint64_t t = static_cast<std::uint64_t>(num + kOffset) * kMagic;
  return static_cast<std::int32_t>(static_cast<std::int64_t>(roundedFromProduct(t)) - 2 * kBias);
}

// Filter state of the tuned pass: the previous input and the previous output
// held with the bias 2 * kBias added, as the fast division leaves it.
struct FastDeemphasisState {
  std::int32_t prevInput = 0;
  std::int64_t biasedOutput = 2 * fastdiv::kBias;
  std::int32_t output() const {
    return static_cast<std::int32_t>(biasedOutput - 2 * fastdiv::kBias);
  }
};

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
