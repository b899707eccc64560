#include "core/dsp/deemphasis_filter.h"

namespace ril {

std::int32_t divide134RoundEven(std::int64_t num) {
  constexpr std::int64_t d = deemphasis::kDivisorX4;
  std::int64_t q = num / d;
  std::int64_t r = num % d;
  if (r < 0) {  // floor division
    q -= 1;
    r += d;
  }
  if (r > d / 2 || (r == d / 2 && (q % 2 != 0))) q += 1;
  return static_cast<std::int32_t>(q);
}

std::int32_t DeemphasisFilter::step(std::int32_t x) {
  const std::int32_t y = divide134RoundEven(deemphasisNumerator(prevInput, x, prevOutput));
  prevInput = x;
  prevOutput = y;
  return y;
}

}  // namespace ril
