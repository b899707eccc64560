// The integer filter's rounded division by 134 without branches or division,
// and the filter state that goes with it: the tuned form of
// divide134RoundEven (deemphasis_filter.h), exact over the filter's range.
#pragma once

#include <cstdint>

#include "core/dsp/deemphasis_filter.h"

namespace ril {

// divide134RoundEven without branches or division, for the tuned pass. With
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

}  // namespace ril
