// The de-emphasis filter, one state per channel.
//   y[n] = (15.5 x[n-1] - 2.75 x[n] + 20.75 y[n-1]) / 33.5
#pragma once

#include <cstdint>

namespace ril {

// Rounds num / 134 to the nearest integer, a value exactly halfway going to the
// even one: the plain, obviously correct form.
std::int32_t divide134RoundEven(std::int64_t num);

// The same rounding without branches or division, for the tuned pass. With
// u = num + 67 the result is floor(u / 268) + floor((u + 133) / 268): below a
// remainder of 67 both floors stay, above it the second one steps, and at the
// halves 67 and 201 of num mod 268 the pair lands on the even neighbour. Both
// floors come from one product with a magic reciprocal after a bias that makes
// the operand non-negative. Exact for |num| <= kFastNumeratorLimit (tested over
// that whole range); the filter's numerators stay below 5.6 million.
namespace fastdiv {
inline constexpr std::int64_t kBias = 32768;       // even, so the bias leaves ties alone
inline constexpr std::uint64_t kMagic = 16025998;  // ceil(2^32 / 268); exact below 25 million
inline constexpr int kShift = 32;
inline constexpr std::int64_t kOffset = 67 + 268 * kBias;
inline constexpr std::uint64_t kSecond = 133 * kMagic;  // the second floor's step
inline constexpr std::int64_t kFastNumeratorLimit = 8000000;
}  // namespace fastdiv

inline std::int32_t divide134RoundEvenFast(std::int64_t num) {
  using namespace fastdiv;
  const std::uint64_t t = static_cast<std::uint64_t>(num + kOffset) * kMagic;
  return static_cast<std::int32_t>(
      static_cast<std::int64_t>((t >> kShift) + ((t + kSecond) >> kShift)) - 2 * kBias);
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

// Double form (modification): unrounded, in exactly this order of operations.
class DeemphasisFilterDouble {
 public:
  void reset() {
    prevInput = 0.0;
    prevOutput = 0.0;
  }
  double step(double x) {
    double v = 15.5 * prevInput + (-2.75) * x;
    v = v + 20.75 * prevOutput;
    v = v / 33.5;
    prevInput = x;
    prevOutput = v;
    return v;
  }

  double prevInput = 0.0;
  double prevOutput = 0.0;
};

}  // namespace ril
