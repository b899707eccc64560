// Float samples that are no levels (NaN, infinities) and finite ones too
// large to square or filter. Every measure counts the first as 0; the sums
// take the second on a scale of their own, the filters a bounded value.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace ril::kernels {

// Magnitudes up to this are summed and squared as they are: a sum of 2^63
// squares of them stays far below the largest double.
inline constexpr double kPlainMagnitude = 0x1p500;
// The largest magnitude the de-emphasis filter takes: its products and
// outputs stay finite.
inline constexpr double kFilterMagnitude = 0x1p1000;
// The largest magnitude the loudness meter and the level overview take
// (+602 dBFS): the true peak's single-precision interpolation, the overview's
// single-precision levels and the K-weighted squares of any number of
// samples stay finite.
inline constexpr double kMeterMagnitude = 0x1p100;

// True when some value is not finite or beyond `bound` (the values of
// ordinary files never are): in AVX-512 or AVX2 where the processor has it,
// with a scalar twin.
bool anyUnusual(const double* values, std::int64_t count, double bound = kPlainMagnitude);
bool anyUnusualScalar(const double* values, std::int64_t count, double bound = kPlainMagnitude);

// Replaces NaN and the infinities by 0; returns how many there were.
inline std::int64_t zeroNonFinite(double* values, std::int64_t count) {
  std::int64_t replaced = 0;
  for (std::int64_t i = 0; i < count; ++i) {
    if (!std::isfinite(values[i])) {
      values[i] = 0.0;
      ++replaced;
    }
  }
  return replaced;
}

// A value as a filter or meter takes it: 0 for a non-finite one, finite
// ones limited to +-`bound`.
inline double boundedInput(double x, double bound) {
  return std::isfinite(x) ? std::clamp(x, -bound, bound) : 0.0;
}

}  // namespace ril::kernels
