#include "core/dsp/run_statistics.h"

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

// Runs of up to this many vector steps keep every 32-bit lane sum in range.
constexpr std::int64_t kLaneRun = 4096;

// The statistics of v - bias from those of n biased values v: sum (v - c)^2 =
// sum v^2 - 2c sum v + n c^2, exact in modular 64-bit arithmetic because the
// true result fits.
RunStats unbiased(std::int32_t mn, std::int32_t mx, std::uint64_t sum, std::uint64_t sumSq,
                  std::int64_t n, std::int32_t bias) {
  const std::uint64_t c = static_cast<std::uint32_t>(bias);
  const std::uint64_t count = static_cast<std::uint64_t>(n);
  RunStats r;
  r.min = mn - bias;
  r.max = mx - bias;
  r.sum = static_cast<std::int64_t>(sum - count * c);
  r.sumSq = sumSq - 2 * c * sum + count * c * c;
  return r;
}

// Values at or beyond the limits are rare in music (a clipped recording has
// them in some chunks, most chunks have none): they are counted in a second
// pass over a run only when its minimum or maximum shows that there are any.
bool reachesLimits(std::int32_t mn, std::int32_t mx, Limits limits) {
  return mn <= limits.low || mx >= limits.high;
}

#if RIL_AVX2
// countAtLimits16 with 256-bit vectors over the first multiple of 16 values;
// gives the number of values done and adds their count to `count`.
__attribute__((target("avx2"))) std::int64_t countAtLimits16Avx2(const std::int16_t* x,
                                                                 std::int64_t n, Limits limits,
                                                                 std::int64_t& count) {
  const __m256i below = _mm256_set1_epi16(static_cast<std::int16_t>(limits.low + 1));
  const __m256i above = _mm256_set1_epi16(static_cast<std::int16_t>(limits.high - 1));
  const __m256i ones = _mm256_set1_epi16(1);
  std::int64_t i = 0;
  while (i + 16 <= n) {
    // A run adds at most kLaneRun to each 16-bit lane.
    __m256i lanes = _mm256_setzero_si256();
    const std::int64_t end = std::min(n - 15, i + 16 * kLaneRun);
    for (; i < end; i += 16) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
      lanes = _mm256_sub_epi16(lanes, _mm256_cmpgt_epi16(below, v));
      lanes = _mm256_sub_epi16(lanes, _mm256_cmpgt_epi16(v, above));
    }
    alignas(32) std::int32_t s[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s), _mm256_madd_epi16(lanes, ones));
    for (int k = 0; k < 8; ++k) count += s[k];
  }
  return i;
}
#endif

// How many of x[0..n) lie at or beyond the limits.
std::int64_t countAtLimits16(const std::int16_t* x, std::int64_t n, Limits limits) {
  std::int64_t count = 0, i = 0;
#if RIL_AVX2
  if (haveAvx2()) i = countAtLimits16Avx2(x, n, limits, count);
#endif
#if RIL_SSE2
  const __m128i below = _mm_set1_epi16(static_cast<std::int16_t>(limits.low + 1));
  const __m128i above = _mm_set1_epi16(static_cast<std::int16_t>(limits.high - 1));
  const __m128i ones = _mm_set1_epi16(1);
  while (i + 8 <= n) {
    // A run adds at most kLaneRun to each 16-bit lane.
    __m128i lanes = _mm_setzero_si128();
    const std::int64_t end = std::min(n - 7, i + 8 * kLaneRun);
    for (; i < end; i += 8) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
      lanes = _mm_sub_epi16(lanes, _mm_cmplt_epi16(v, below));
      lanes = _mm_sub_epi16(lanes, _mm_cmpgt_epi16(v, above));
    }
    alignas(16) std::int32_t s[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(s), _mm_madd_epi16(lanes, ones));
    count += static_cast<std::int64_t>(s[0]) + s[1] + s[2] + s[3];
  }
#endif
  for (; i < n; ++i) count += (x[i] <= limits.low) + (x[i] >= limits.high);
  return count;
}

// How many of y[0..n) lie at or beyond the limits; n < 2^31.
std::int64_t countAtLimits32(const std::int32_t* y, std::int64_t n, Limits limits) {
  std::int64_t count = 0, i = 0;
#if RIL_SSE2
  const __m128i below = _mm_set1_epi32(limits.low + 1), above = _mm_set1_epi32(limits.high - 1);
  __m128i lanes = _mm_setzero_si128();
  for (; i + 4 <= n; i += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i));
    lanes = _mm_sub_epi32(lanes, _mm_cmplt_epi32(v, below));
    lanes = _mm_sub_epi32(lanes, _mm_cmpgt_epi32(v, above));
  }
  alignas(16) std::int32_t s[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(s), lanes);
  count += static_cast<std::int64_t>(s[0]) + s[1] + s[2] + s[3];
#endif
  for (; i < n; ++i) count += (y[i] <= limits.low) + (y[i] >= limits.high);
  return count;
}

#if RIL_AVX2
// How many values of `rows` rows of eight, the rows `stride` values apart, lie
// at or beyond the limits; fewer than 2^31 values in all.
__attribute__((target("avx2"))) std::int64_t rowCountAtLimits32Avx2(const std::int32_t* y,
                                                                    std::int64_t rows,
                                                                    std::int64_t stride,
                                                                    Limits limits) {
  const __m256i below = _mm256_set1_epi32(limits.low + 1);
  const __m256i above = _mm256_set1_epi32(limits.high - 1);
  __m256i lanes = _mm256_setzero_si256();
  for (std::int64_t r = 0; r < rows; ++r) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + r * stride));
    lanes = _mm256_sub_epi32(lanes, _mm256_cmpgt_epi32(below, v));
    lanes = _mm256_sub_epi32(lanes, _mm256_cmpgt_epi32(v, above));
  }
  alignas(32) std::int32_t s[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(s), lanes);
  std::int64_t count = 0;
  for (int k = 0; k < 8; ++k) count += s[k];
  return count;
}
#endif

// The limits of v - bias as limits of the biased values v.
Limits biasedLimits(Limits limits, std::int32_t bias) {
  return Limits{limits.low + bias, limits.high + bias};
}

#if RIL_AVX2
// statsOf16 with 256-bit vectors over the first multiple of 16 values; gives
// the number of values done and their statistics in r.
__attribute__((target("avx2"))) std::int64_t statsOf16Avx2(const std::int16_t* x, std::int64_t n,
                                                           RunStats& r) {
  std::int64_t i = 0;
  __m256i vmin = _mm256_set1_epi16(x[0]), vmax = vmin;
  __m256i vsq = _mm256_setzero_si256();
  const __m256i ones = _mm256_set1_epi16(1), zero = _mm256_setzero_si256();
  std::int64_t sum = 0;
  while (i + 16 <= n) {
    __m256i vsum = _mm256_setzero_si256();
    const std::int64_t end = std::min(n - 15, i + 16 * kLaneRun);
    for (; i < end; i += 16) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
      vmin = _mm256_min_epi16(vmin, v);
      vmax = _mm256_max_epi16(vmax, v);
      vsum = _mm256_add_epi32(vsum, _mm256_madd_epi16(v, ones));
      const __m256i sq = _mm256_madd_epi16(v, v);  // two squares per lane, exact unsigned
      vsq = _mm256_add_epi64(vsq, _mm256_unpacklo_epi32(sq, zero));
      vsq = _mm256_add_epi64(vsq, _mm256_unpackhi_epi32(sq, zero));
    }
    alignas(32) std::int32_t s[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s), vsum);
    for (int k = 0; k < 8; ++k) sum += s[k];
  }
  alignas(32) std::int16_t a[16], b[16];
  alignas(32) std::uint64_t q[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(a), vmin);
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), vmax);
  _mm256_store_si256(reinterpret_cast<__m256i*>(q), vsq);
  r.min = x[0];
  r.max = x[0];
  for (int k = 0; k < 16; ++k) {
    r.min = std::min<std::int32_t>(r.min, a[k]);
    r.max = std::max<std::int32_t>(r.max, b[k]);
  }
  r.sum = sum;
  r.sumSq = q[0] + q[1] + q[2] + q[3];
  return i;
}
#endif

// statsOfBiased32 with the baseline vectors (SSE2) and scalar steps.
RunStats statsOfBiased32Baseline(const std::int32_t* yb, std::int64_t n, std::int32_t bias,
                                 Limits limits) {
  std::int32_t mn = yb[0], mx = yb[0];
  std::uint64_t sum = 0;  // of the biased values
  std::uint64_t sumSq = 0;
  std::int64_t i = 0;
#if RIL_SSE2
  if (n >= 4) {
    __m128i vmin = _mm_set1_epi32(yb[0]), vmax = vmin;
    __m128i vsq = _mm_setzero_si128();
    while (i + 4 <= n) {
      __m128i vsum = _mm_setzero_si128();
      const std::int64_t end = std::min(n - 3, i + 4 * kLaneRun);
      for (; i < end; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yb + i));
        const __m128i lt = _mm_cmplt_epi32(v, vmin);
        vmin = _mm_or_si128(_mm_and_si128(lt, v), _mm_andnot_si128(lt, vmin));
        const __m128i gt = _mm_cmpgt_epi32(v, vmax);
        vmax = _mm_or_si128(_mm_and_si128(gt, v), _mm_andnot_si128(gt, vmax));
        vsum = _mm_add_epi32(vsum, v);
        vsq = _mm_add_epi64(vsq, _mm_mul_epu32(v, v));
        const __m128i odd = _mm_srli_epi64(v, 32);
        vsq = _mm_add_epi64(vsq, _mm_mul_epu32(odd, odd));
      }
      alignas(16) std::uint32_t s[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(s), vsum);
      sum += static_cast<std::uint64_t>(s[0]) + s[1] + s[2] + s[3];
    }
    alignas(16) std::int32_t a[4], b[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(a), vmin);
    _mm_store_si128(reinterpret_cast<__m128i*>(b), vmax);
    for (int k = 0; k < 4; ++k) {
      mn = std::min(mn, a[k]);
      mx = std::max(mx, b[k]);
    }
    alignas(16) std::uint64_t q[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(q), vsq);
    sumSq = q[0] + q[1];
  }
#endif
  for (; i < n; ++i) {
    const std::uint64_t v = static_cast<std::uint32_t>(yb[i]);
    mn = std::min(mn, yb[i]);
    mx = std::max(mx, yb[i]);
    sum += v;
    sumSq += v * v;
  }
  RunStats r = unbiased(mn, mx, sum, sumSq, n, bias);
  if (reachesLimits(r.min, r.max, limits)) {
    r.atLimits = countAtLimits32(yb, n, biasedLimits(limits, bias));
  }
  return r;
}

}  // namespace

#if RIL_AVX2
__attribute__((target("avx2"))) RunStats rowStatsOfBiased32Avx2(const std::int32_t* yb,
                                                                std::int64_t rows,
                                                                std::int64_t stride,
                                                                std::int32_t bias, Limits limits) {
  __m256i vmin = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yb)), vmax = vmin;
  __m256i vsq = _mm256_setzero_si256();
  std::uint64_t sum = 0;
  std::int64_t r = 0;
  while (r < rows) {
    __m256i vsum = _mm256_setzero_si256();
    const std::int64_t end = std::min(rows, r + kLaneRun);
    for (; r < end; ++r) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yb + r * stride));
      vmin = _mm256_min_epi32(vmin, v);
      vmax = _mm256_max_epi32(vmax, v);
      vsum = _mm256_add_epi32(vsum, v);
      vsq = _mm256_add_epi64(vsq, _mm256_mul_epu32(v, v));
      const __m256i odd = _mm256_srli_epi64(v, 32);
      vsq = _mm256_add_epi64(vsq, _mm256_mul_epu32(odd, odd));
    }
    alignas(32) std::uint32_t s[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s), vsum);
    for (int k = 0; k < 8; ++k) sum += s[k];
  }
  alignas(32) std::int32_t a[8], b[8];
  alignas(32) std::uint64_t q[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(a), vmin);
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), vmax);
  _mm256_store_si256(reinterpret_cast<__m256i*>(q), vsq);
  std::int32_t mn = a[0], mx = b[0];
  for (int k = 1; k < 8; ++k) {
    mn = std::min(mn, a[k]);
    mx = std::max(mx, b[k]);
  }
  RunStats stats = unbiased(mn, mx, sum, q[0] + q[1] + q[2] + q[3], rows * 8, bias);
  if (reachesLimits(stats.min, stats.max, limits)) {
    stats.atLimits = rowCountAtLimits32Avx2(yb, rows, stride, biasedLimits(limits, bias));
  }
  return stats;
}
#endif

RunStats statsOf16(const std::int16_t* x, std::int64_t n, Limits limits) {
  std::int32_t mn = x[0], mx = x[0];
  std::int64_t sum = 0;
  std::uint64_t sumSq = 0;
  std::int64_t i = 0;
#if RIL_AVX2
  if (haveAvx2()) {
    RunStats r;
    i = statsOf16Avx2(x, n, r);
    mn = r.min;
    mx = r.max;
    sum = r.sum;
    sumSq = r.sumSq;
  }
#endif
#if RIL_SSE2
  if (i == 0 && n >= 8) {
    __m128i vmin = _mm_set1_epi16(x[0]), vmax = vmin;
    __m128i vsq = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(1), zero = _mm_setzero_si128();
    while (i + 8 <= n) {
      __m128i vsum = _mm_setzero_si128();
      const std::int64_t end = std::min(n - 7, i + 8 * kLaneRun);
      for (; i < end; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
        vmin = _mm_min_epi16(vmin, v);
        vmax = _mm_max_epi16(vmax, v);
        vsum = _mm_add_epi32(vsum, _mm_madd_epi16(v, ones));
        // Two squares per lane: at most 2^31, exact as unsigned 32-bit.
        const __m128i sq = _mm_madd_epi16(v, v);
        vsq = _mm_add_epi64(vsq, _mm_unpacklo_epi32(sq, zero));
        vsq = _mm_add_epi64(vsq, _mm_unpackhi_epi32(sq, zero));
      }
      alignas(16) std::int32_t s[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(s), vsum);
      sum += static_cast<std::int64_t>(s[0]) + s[1] + s[2] + s[3];
    }
    alignas(16) std::int16_t a[8], b[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(a), vmin);
    _mm_store_si128(reinterpret_cast<__m128i*>(b), vmax);
    for (int k = 0; k < 8; ++k) {
      mn = std::min<std::int32_t>(mn, a[k]);
      mx = std::max<std::int32_t>(mx, b[k]);
    }
    alignas(16) std::uint64_t q[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(q), vsq);
    sumSq = q[0] + q[1];
  }
#endif
  for (; i < n; ++i) {
    const std::int32_t v = x[i];
    mn = std::min(mn, v);
    mx = std::max(mx, v);
    sum += v;
    sumSq += static_cast<std::uint32_t>(v * v);
  }
  const std::int64_t atLimits = reachesLimits(mn, mx, limits) ? countAtLimits16(x, n, limits) : 0;
  return RunStats{mn, mx, sum, sumSq, atLimits};
}

RunStats statsOfBiased32(const std::int32_t* yb, std::int64_t n, std::int32_t bias, Limits limits) {
#if RIL_AVX2
  if (haveAvx2() && n >= 8) {
    // Whole rows of eight in the wide vectors, the few values behind them with the baseline.
    const std::int64_t rows = n / 8;
    RunStats r = rowStatsOfBiased32Avx2(yb, rows, 8, bias, limits);
    if (8 * rows < n) {
      combine(r, statsOfBiased32Baseline(yb + 8 * rows, n - 8 * rows, bias, limits));
    }
    return r;
  }
#endif
  return statsOfBiased32Baseline(yb, n, bias, limits);
}

std::int64_t firstIndexOf16(const std::int16_t* x, std::int64_t n, std::int16_t v) {
  return std::find(x, x + n, v) - x;
}

std::int64_t firstIndexOf32(const std::int32_t* x, std::int64_t n, std::int32_t v) {
  return std::find(x, x + n, v) - x;
}

}  // namespace ril::kernels
