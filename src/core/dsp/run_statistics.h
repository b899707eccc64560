// Minimum, maximum, exact sums and the count of values at the limits of runs
// of samples, for the tuned statistics pass. Each kernel has a vector path (SSE2, the x86-64
// baseline, or AVX2 where the processor has it) and a scalar path that gives the same results.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

// Minimum, maximum and exact sums of a run of values, and how many of them
// lie at or beyond the run's limits.
struct RunStats {
  std::int32_t min = 0;
  std::int32_t max = 0;
  std::int64_t sum = 0;
  std::uint64_t sumSq = 0;
  std::int64_t atLimits = 0;
};

// A value v counts as at the limits when v <= low or v >= high; the limits lie
// within the 16-bit range with low < 32767 and high > -32768.
struct Limits {
  std::int32_t low = -32768;
  std::int32_t high = 32767;
};

// De-emphasised values count when they reach or pass the 16-bit range.
inline constexpr Limits kFilteredLimits{-32768, 32767};

// Adds the statistics of another run to `into`.
inline void combine(RunStats& into, const RunStats& s) {
  into.min = std::min(into.min, s.min);
  into.max = std::max(into.max, s.max);
  into.sum += s.sum;
  into.sumSq += s.sumSq;
  into.atLimits += s.atLimits;
}

// Statistics of x[0..n); n > 0.
RunStats statsOf16(const std::int16_t* x, std::int64_t n, Limits limits);

// Statistics of yb[i] - bias for yb[0..n), where 0 <= yb[i] < 2^20; n > 0.
RunStats statsOfBiased32(const std::int32_t* yb, std::int64_t n, std::int32_t bias, Limits limits);

#if RIL_AVX2
// Statistics of yb[i] - bias over `rows` > 0 rows of eight values each, the
// rows `stride` values apart, with 0 <= yb[i] < 2^20. Only where haveAvx2().
RunStats rowStatsOfBiased32Avx2(const std::int32_t* yb, std::int64_t rows, std::int64_t stride,
                                std::int32_t bias, Limits limits);
#endif

// Index of the first element equal to v (n when there is none).
std::int64_t firstIndexOf16(const std::int16_t* x, std::int64_t n, std::int16_t v);
std::int64_t firstIndexOf32(const std::int32_t* x, std::int64_t n, std::int32_t v);

}  // namespace ril::kernels
