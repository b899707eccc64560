#include "core/dsp/deemphasis_filter.h"

namespace ril {

std::int32_t divide134RoundEven(std::int64_t num) {
  std::int64_t q = num / 134;
  std::int64_t r = num % 134;
  if (r < 0) {  // floor division
    q -= 1;
    r += 134;
  }
  if (r > 67 || (r == 67 && (q % 2 != 0))) q += 1;
  return static_cast<std::int32_t>(q);
}

std::int32_t DeemphasisFilter::step(std::int32_t x) {
  const std::int64_t num = 62 * static_cast<std::int64_t>(prevInput) -
                           11 * static_cast<std::int64_t>(x) +
                           83 * static_cast<std::int64_t>(prevOutput);
  const std::int32_t y = divide134RoundEven(num);
  prevInput = x;
  prevOutput = y;
  return y;
}

}  // namespace ril
