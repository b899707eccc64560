#include "core/dsp/formats/format_runs.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "core/dsp/cpu_features.h"
#include "core/dsp/double_filter/pcm_words.h"
#include "core/dsp/formats/sample_words.h"
#include "core/dsp/formats/stereo_lanes.h"

namespace ril::kernels {

namespace {

// Vectors of values below 2^24 whose sums a 32-bit lane holds (128 of them
// stay below 2^31), before they are widened and added to the 64-bit sums.
constexpr std::int64_t kNarrowSums = 128;

// `Run`: IntegerRun, or WideIntegerRun (whose sum of squares is 128 bits).
template <typename Run>
inline void addInteger(Run& r, std::int32_t v, std::int64_t low, std::int64_t high) {
  r.min = std::min(r.min, v);
  r.max = std::max(r.max, v);
  r.sum += v;
  r.sumSq += static_cast<std::uint64_t>(static_cast<std::int64_t>(v) * v);
  r.atLimits += (v <= low) + (v >= high);
}

inline void scanFloat(FloatScan& s, double v) {
  if (v > s.hi) s.hi = v;
  if (v < s.lo) s.lo = v;
  s.atLimits += (v <= -1.0) + (v >= 1.0);
}

#if RIL_AVX2
// The lanes' total, added as unsigned numbers (modulo 2^64): a run's sum of
// squares may pass 2^63 (65536 values near 2^24), where signed additions
// would overflow. A signed sum is its result taken back as signed.
__attribute__((target("avx2"))) std::uint64_t sumLanes64(__m256i v) {
  alignas(32) std::uint64_t s[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(s), v);
  return s[0] + s[1] + s[2] + s[3];
}

__attribute__((target("avx512f"))) std::uint64_t sumLanes64(__m512i v) {
  alignas(64) std::uint64_t s[8];
  _mm512_store_si512(s, v);
  std::uint64_t t = 0;
  for (const std::uint64_t lane : s) t += lane;
  return t;
}

// A run's sum of squares from the vector sums: of the squares' low halves
// and high halves for a wide run, of whole squares (high is 0) otherwise.
template <typename Run>
void setSquares(Run& r, std::uint64_t low, std::uint64_t high) {
  if constexpr (std::is_same_v<Run, WideIntegerRun>) {
    r.sumSq = (static_cast<unsigned __int128>(high) << 32) + low;
  } else {
    r.sumSq = low;
  }
}

// The first multiple of eight values in vectors; the rest as scalar steps.
template <typename Run>
__attribute__((target("avx2"))) Run integerRunAvx2(const std::int32_t* x, std::int64_t n,
                                                   std::int64_t low, std::int64_t high) {
  constexpr bool kWide = std::is_same_v<Run, WideIntegerRun>;
  const std::int64_t whole = n & ~std::int64_t{7};
  Run r;
  r.min = r.max = x[0];
  if (whole > 0) {
    const __m256i below = _mm256_set1_epi32(static_cast<std::int32_t>(low + 1));
    const __m256i above = _mm256_set1_epi32(static_cast<std::int32_t>(high - 1));
    const __m256i lowHalf = _mm256_set1_epi64x(0xFFFFFFFF);
    __m256i lo = _mm256_set1_epi32(x[0]), hi = lo;
    __m256i sum = _mm256_setzero_si256(), sq = sum, sqHigh = sum, count = sum;
    // Values over the whole 32-bit range are widened one vector at a time.
    constexpr std::int64_t kNarrow = kWide ? 1 : kNarrowSums;
    for (std::int64_t g = 0; g < whole; g += 8 * kNarrow) {
      __m256i narrow = _mm256_setzero_si256();
      const std::int64_t end = std::min(whole, g + 8 * kNarrow);
      for (std::int64_t i = g; i < end; i += 8) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
        lo = _mm256_min_epi32(lo, v);
        hi = _mm256_max_epi32(hi, v);
        narrow = _mm256_add_epi32(narrow, v);
        // Products of the even lanes, then of the odd ones: below 2^48 for
        // values below 2^24, so summed as they are; up to 2^62 over the whole
        // 32-bit range, whose halves are summed apart.
        const __m256i odd = _mm256_srli_epi64(v, 32);
        const __m256i even2 = _mm256_mul_epi32(v, v), odd2 = _mm256_mul_epi32(odd, odd);
        if constexpr (kWide) {
          sq = _mm256_add_epi64(sq, _mm256_and_si256(even2, lowHalf));
          sq = _mm256_add_epi64(sq, _mm256_and_si256(odd2, lowHalf));
          sqHigh = _mm256_add_epi64(sqHigh, _mm256_srli_epi64(even2, 32));
          sqHigh = _mm256_add_epi64(sqHigh, _mm256_srli_epi64(odd2, 32));
        } else {
          sq = _mm256_add_epi64(sq, _mm256_add_epi64(even2, odd2));
        }
        count = _mm256_sub_epi32(count, _mm256_cmpgt_epi32(below, v));
        count = _mm256_sub_epi32(count, _mm256_cmpgt_epi32(v, above));
      }
      sum = _mm256_add_epi64(sum, _mm256_cvtepi32_epi64(_mm256_castsi256_si128(narrow)));
      sum = _mm256_add_epi64(sum, _mm256_cvtepi32_epi64(_mm256_extracti128_si256(narrow, 1)));
    }
    alignas(32) std::int32_t l[8], h[8], c[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(l), lo);
    _mm256_store_si256(reinterpret_cast<__m256i*>(h), hi);
    _mm256_store_si256(reinterpret_cast<__m256i*>(c), count);
    for (int k = 0; k < 8; ++k) {
      r.min = std::min(r.min, l[k]);
      r.max = std::max(r.max, h[k]);
      r.atLimits += c[k];
    }
    r.sum = static_cast<std::int64_t>(sumLanes64(sum));
    setSquares(r, sumLanes64(sq), sumLanes64(sqHigh));
  }
  for (std::int64_t i = whole; i < n; ++i) addInteger(r, x[i], low, high);
  return r;
}

// GCC 12's AVX-512 reductions start from an undefined vector it then warns of.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

// The same sixteen values at a time in AVX-512; the counts as masks.
template <typename Run>
__attribute__((target("avx512f"))) Run integerRunAvx512(const std::int32_t* x, std::int64_t n,
                                                        std::int64_t low, std::int64_t high) {
  constexpr bool kWide = std::is_same_v<Run, WideIntegerRun>;
  const std::int64_t whole = n & ~std::int64_t{15};
  if (whole == 0) return integerRunAvx2<Run>(x, n, low, high);
  const __m512i below = _mm512_set1_epi32(static_cast<std::int32_t>(low + 1));
  const __m512i above = _mm512_set1_epi32(static_cast<std::int32_t>(high - 1));
  const __m512i lowHalf = _mm512_set1_epi64(0xFFFFFFFF);
  __m512i lo = _mm512_set1_epi32(x[0]), hi = lo;
  __m512i sum = _mm512_setzero_si512(), sq = sum, sqHigh = sum;
  constexpr std::int64_t kNarrow = kWide ? 1 : kNarrowSums;
  for (std::int64_t g = 0; g < whole; g += 16 * kNarrow) {
    __m512i narrow = _mm512_setzero_si512();
    const std::int64_t end = std::min(whole, g + 16 * kNarrow);
    for (std::int64_t i = g; i < end; i += 16) {
      const __m512i v = _mm512_loadu_si512(x + i);
      lo = _mm512_min_epi32(lo, v);
      hi = _mm512_max_epi32(hi, v);
      narrow = _mm512_add_epi32(narrow, v);
      // Products of the even lanes, then of the odd ones, summed as above.
      const __m512i odd = _mm512_srli_epi64(v, 32);
      const __m512i even2 = _mm512_mul_epi32(v, v), odd2 = _mm512_mul_epi32(odd, odd);
      if constexpr (kWide) {
        sq = _mm512_add_epi64(sq, _mm512_and_si512(even2, lowHalf));
        sq = _mm512_add_epi64(sq, _mm512_and_si512(odd2, lowHalf));
        sqHigh = _mm512_add_epi64(sqHigh, _mm512_srli_epi64(even2, 32));
        sqHigh = _mm512_add_epi64(sqHigh, _mm512_srli_epi64(odd2, 32));
      } else {
        sq = _mm512_add_epi64(sq, _mm512_add_epi64(even2, odd2));
      }
    }
    sum = _mm512_add_epi64(sum, _mm512_cvtepi32_epi64(_mm512_castsi512_si256(narrow)));
    sum = _mm512_add_epi64(sum, _mm512_cvtepi32_epi64(_mm512_extracti64x4_epi64(narrow, 1)));
  }
  Run r;
  r.min = _mm512_reduce_min_epi32(lo);
  r.max = _mm512_reduce_max_epi32(hi);
  // The values at the limits in a second pass, only where the extremes
  // reach them (a file that clips).
  if (r.min <= low || r.max >= high) {
    for (std::int64_t i = 0; i < whole; i += 16) {
      const __m512i v = _mm512_loadu_si512(x + i);
      r.atLimits += __builtin_popcount(static_cast<unsigned>(_mm512_cmplt_epi32_mask(v, below)) |
                                       _mm512_cmpgt_epi32_mask(v, above));
    }
  }
  r.sum = _mm512_reduce_add_epi64(sum);
  setSquares(r, sumLanes64(sq), sumLanes64(sqHigh));
  for (std::int64_t i = whole; i < n; ++i) addInteger(r, x[i], low, high);
  return r;
}

// Frames i.. of n of 24-bit stereo at p, eight of them decoded into sixteen
// lanes in frame order: whole 64-byte loads while eleven frames remain,
// masked ones at the end.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i stereo24At(
    const unsigned char* p, std::int64_t i, std::int64_t n) {
  const __m512i bytes =
      i + 11 <= n ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi8((__mmask64{1} << 48) - 1, p);
  return _mm512_srai_epi32(samples24Times256(bytes), 8);
}

// Both channels of whole groups of eight 24-bit stereo frames, without
// parting them: in the decoded vector the even 32-bit lanes hold the left
// samples and the odd ones the right, and so do the 64-bit lanes of the
// sums; the squares of the even lanes are the left channel's. The samples at
// the limits are counted in a second pass, and only where the extremes reach
// them (a file that clips). Returns the frames taken.
__attribute__((target("avx512f,avx512bw"))) std::int64_t stereo24RunsAvx512(
    const unsigned char* p, std::int64_t n, std::int64_t low, std::int64_t high, IntegerRun* r) {
  const std::int64_t whole = n & ~std::int64_t{7};
  if (whole == 0) return 0;
  const __m512i below = _mm512_set1_epi32(static_cast<std::int32_t>(low + 1));
  const __m512i above = _mm512_set1_epi32(static_cast<std::int32_t>(high - 1));
  __m512i lo = _mm512_set1_epi32(INT32_MAX), hi = _mm512_set1_epi32(INT32_MIN);
  __m512i sum = _mm512_setzero_si512(), left = sum, right = sum;
  for (std::int64_t g = 0; g < whole; g += 8 * kNarrowSums) {
    __m512i narrow = _mm512_setzero_si512();
    const std::int64_t end = std::min(whole, g + 8 * kNarrowSums);
    for (std::int64_t i = g; i < end; i += 8) {
      const __m512i v = stereo24At(p + 6 * i, i, n);
      lo = _mm512_min_epi32(lo, v);
      hi = _mm512_max_epi32(hi, v);
      narrow = _mm512_add_epi32(narrow, v);
      left = _mm512_add_epi64(left, _mm512_mul_epi32(v, v));
      const __m512i odd = _mm512_srli_epi64(v, 32);
      right = _mm512_add_epi64(right, _mm512_mul_epi32(odd, odd));
    }
    sum = _mm512_add_epi64(sum, _mm512_cvtepi32_epi64(_mm512_castsi512_si256(narrow)));
    sum = _mm512_add_epi64(sum, _mm512_cvtepi32_epi64(_mm512_extracti64x4_epi64(narrow, 1)));
  }
  if (_mm512_cmplt_epi32_mask(lo, below) != 0 || _mm512_cmpgt_epi32_mask(hi, above) != 0) {
    for (std::int64_t i = 0; i < whole; i += 8) {
      const __m512i v = stereo24At(p + 6 * i, i, n);
      const unsigned beyond = _mm512_cmplt_epi32_mask(v, below) | _mm512_cmpgt_epi32_mask(v, above);
      r[0].atLimits += __builtin_popcount(beyond & 0x5555u);
      r[1].atLimits += __builtin_popcount(beyond & 0xAAAAu);
    }
  }
  const __m512i squares[2] = {left, right};
  for (int c = 0; c < 2; ++c) {
    const __mmask16 lanes32 = c == 0 ? 0x5555 : 0xAAAA;
    const __mmask8 lanes64 = c == 0 ? 0x55 : 0xAA;
    r[c].min = std::min(r[c].min, _mm512_mask_reduce_min_epi32(lanes32, lo));
    r[c].max = std::max(r[c].max, _mm512_mask_reduce_max_epi32(lanes32, hi));
    r[c].sum += _mm512_mask_reduce_add_epi64(lanes64, sum);
    r[c].sumSq += sumLanes64(squares[c]);
  }
  return whole;
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

__attribute__((target("avx2"))) FloatScan scanFloatsAvx2(const double* x, std::int64_t n, double lo,
                                                         double hi) {
  const std::int64_t whole = n & ~std::int64_t{3};
  const __m256d minusOne = _mm256_set1_pd(-1.0), one = _mm256_set1_pd(1.0);
  __m256d l = _mm256_set1_pd(lo), h = _mm256_set1_pd(hi);
  std::int64_t count = 0;
  for (std::int64_t i = 0; i < whole; i += 4) {
    const __m256d v = _mm256_loadu_pd(x + i);
    // Ordered comparisons: a NaN is neither taken nor counted.
    h = _mm256_blendv_pd(h, v, _mm256_cmp_pd(v, h, _CMP_GT_OQ));
    l = _mm256_blendv_pd(l, v, _mm256_cmp_pd(v, l, _CMP_LT_OQ));
    const __m256d out =
        _mm256_or_pd(_mm256_cmp_pd(v, minusOne, _CMP_LE_OQ), _mm256_cmp_pd(v, one, _CMP_GE_OQ));
    count += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_pd(out)));
  }
  alignas(32) double ls[4], hs[4];
  _mm256_store_pd(ls, l);
  _mm256_store_pd(hs, h);
  FloatScan s{lo, hi, count};
  for (int k = 0; k < 4; ++k) {
    if (hs[k] > s.hi) s.hi = hs[k];
    if (ls[k] < s.lo) s.lo = ls[k];
  }
  for (std::int64_t i = whole; i < n; ++i) scanFloat(s, x[i]);
  return s;
}

template <typename Out>
__attribute__((target("avx2"))) bool roundAtStepsAvx2(const double* v, std::int64_t n,
                                                      double inverse, std::int64_t step,
                                                      std::int64_t low, std::int64_t high,
                                                      Out* out) {
  const std::int64_t whole = n & ~std::int64_t{3};
  const __m256d inv = _mm256_set1_pd(inverse), half = _mm256_set1_pd(0.5);
  const __m256d steps = _mm256_set1_pd(static_cast<double>(step));
  const __m256d lowest = _mm256_set1_pd(static_cast<double>(low));
  const __m256d highest = _mm256_set1_pd(static_cast<double>(high));
  for (std::int64_t i = 0; i < whole; i += 4) {
    const __m256d t = _mm256_add_pd(_mm256_mul_pd(_mm256_loadu_pd(v + i), inv), half);
    // An integer times a power of two: exact while in range, and then the
    // integers the scalar rounding gives.
    const __m256d r = _mm256_mul_pd(_mm256_floor_pd(t), steps);
    const __m256d inside =
        _mm256_and_pd(_mm256_cmp_pd(r, lowest, _CMP_GE_OQ), _mm256_cmp_pd(r, highest, _CMP_LE_OQ));
    if (_mm256_movemask_pd(inside) != 0xF) return false;
    const __m128i words = _mm256_cvtpd_epi32(r);
    if constexpr (sizeof(Out) == 8) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_cvtepi32_epi64(words));
    } else {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), words);
    }
  }
  return roundAtStepsScalar(v + whole, n - whole, inverse, step, low, high, out + whole);
}

__attribute__((target("avx2"))) std::int64_t scaleValuesAvx2(double* v, std::int64_t n,
                                                             double factor, double divisor) {
  const std::int64_t whole = n & ~std::int64_t{3};
  const __m256d f = _mm256_set1_pd(divisor > 0 ? divisor : factor);
  for (std::int64_t i = 0; i < whole; i += 4) {
    const __m256d x = _mm256_loadu_pd(v + i);
    _mm256_storeu_pd(v + i, divisor > 0 ? _mm256_div_pd(x, f) : _mm256_mul_pd(x, f));
  }
  return whole;
}

__attribute__((target("avx2"))) std::int64_t countBeyondAsFloatAvx2(const double* v, std::int64_t n,
                                                                    std::int64_t& count) {
  const std::int64_t whole = n & ~std::int64_t{3};
  const __m256d minusOne = _mm256_set1_pd(-1.0), one = _mm256_set1_pd(1.0);
  for (std::int64_t i = 0; i < whole; i += 4) {
    const __m256d x = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_loadu_pd(v + i)));
    const __m256d out =
        _mm256_or_pd(_mm256_cmp_pd(x, one, _CMP_GT_OQ), _mm256_cmp_pd(x, minusOne, _CMP_LT_OQ));
    count += __builtin_popcount(static_cast<unsigned>(_mm256_movemask_pd(out)));
  }
  return whole;
}
#endif

}  // namespace

void scaleValuesScalar(double* v, std::int64_t n, double factor, double divisor) {
  if (divisor > 0) {
    for (std::int64_t i = 0; i < n; ++i) v[i] = v[i] / divisor;
  } else {
    for (std::int64_t i = 0; i < n; ++i) v[i] = v[i] * factor;
  }
}

void scaleValues(double* v, std::int64_t n, double factor, double divisor) {
  std::int64_t done = 0;
#if RIL_AVX2
  if (haveAvx2()) done = scaleValuesAvx2(v, n, factor, divisor);
#endif
  scaleValuesScalar(v + done, n - done, factor, divisor);
}

std::int64_t countBeyondAsFloatScalar(const double* v, std::int64_t n) {
  std::int64_t count = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    const double x = static_cast<double>(static_cast<float>(v[i]));
    count += (x > 1.0 || x < -1.0) ? 1 : 0;
  }
  return count;
}

std::int64_t countBeyondAsFloat(const double* v, std::int64_t n) {
  std::int64_t count = 0, done = 0;
#if RIL_AVX2
  if (haveAvx2()) done = countBeyondAsFloatAvx2(v, n, count);
#endif
  return count + countBeyondAsFloatScalar(v + done, n - done);
}

template <typename Out>
bool roundAtStepsScalar(const double* v, std::int64_t n, double inverse, std::int64_t step,
                        std::int64_t low, std::int64_t high, Out* out) {
  for (std::int64_t i = 0; i < n; ++i) {
    const double t = v[i] * inverse + 0.5;
    if (!(std::abs(t) < 0x1p62)) return false;
    const std::int64_t r = floorToInt(t) * step;
    if (r < low || r > high) return false;
    out[i] = static_cast<Out>(r);
  }
  return true;
}

template <typename Out>
bool roundAtSteps(const double* v, std::int64_t n, double inverse, std::int64_t step,
                  std::int64_t low, std::int64_t high, Out* out) {
#if RIL_AVX2
  if (haveAvx2()) return roundAtStepsAvx2(v, n, inverse, step, low, high, out);
#endif
  return roundAtStepsScalar(v, n, inverse, step, low, high, out);
}

template bool roundAtStepsScalar(const double*, std::int64_t, double, std::int64_t, std::int64_t,
                                 std::int64_t, std::int64_t*);
template bool roundAtStepsScalar(const double*, std::int64_t, double, std::int64_t, std::int64_t,
                                 std::int64_t, std::int32_t*);
template bool roundAtSteps(const double*, std::int64_t, double, std::int64_t, std::int64_t,
                           std::int64_t, std::int64_t*);
template bool roundAtSteps(const double*, std::int64_t, double, std::int64_t, std::int64_t,
                           std::int64_t, std::int32_t*);

namespace {

template <typename Run>
Run plainRun(const std::int32_t* x, std::int64_t n, std::int64_t low, std::int64_t high) {
  Run r;
  r.min = r.max = x[0];
  for (std::int64_t i = 0; i < n; ++i) addInteger(r, x[i], low, high);
  return r;
}

template <typename Run>
Run anyRun(const std::int32_t* x, std::int64_t n, std::int64_t low, std::int64_t high) {
#if RIL_AVX2
  if (haveAvx512()) return integerRunAvx512<Run>(x, n, low, high);
  if (haveAvx2()) return integerRunAvx2<Run>(x, n, low, high);
#endif
  return plainRun<Run>(x, n, low, high);
}

}  // namespace

IntegerRun integerRunScalar(const std::int32_t* x, std::int64_t n, std::int64_t low,
                            std::int64_t high) {
  return plainRun<IntegerRun>(x, n, low, high);
}

IntegerRun integerRun(const std::int32_t* x, std::int64_t n, std::int64_t low, std::int64_t high) {
  return anyRun<IntegerRun>(x, n, low, high);
}

WideIntegerRun wideIntegerRunScalar(const std::int32_t* x, std::int64_t n, std::int64_t low,
                                    std::int64_t high) {
  return plainRun<WideIntegerRun>(x, n, low, high);
}

WideIntegerRun wideIntegerRun(const std::int32_t* x, std::int64_t n, std::int64_t low,
                              std::int64_t high) {
  return anyRun<WideIntegerRun>(x, n, low, high);
}

bool stereo24RunsInVectors() {
#if RIL_AVX2
  return haveAvx512();
#else
  return false;
#endif
}

void stereo24Runs(const unsigned char* bytes, std::int64_t n, std::int64_t low, std::int64_t high,
                  IntegerRun* runs) {
  const auto sample = [bytes](std::int64_t i, int c) {
    return signedAt<3, false>(bytes + 6 * i + 3 * c);
  };
  for (int c = 0; c < 2; ++c) {
    runs[c] = IntegerRun{};
    runs[c].min = runs[c].max = sample(0, c);
  }
  std::int64_t i = 0;
#if RIL_AVX2
  if (stereo24RunsInVectors()) i = stereo24RunsAvx512(bytes, n, low, high, runs);
#endif
  for (; i < n; ++i) {
    for (int c = 0; c < 2; ++c) addInteger(runs[c], sample(i, c), low, high);
  }
}

FloatScan scanFloatsScalar(const double* x, std::int64_t n, double lo, double hi) {
  FloatScan s{lo, hi, 0};
  for (std::int64_t i = 0; i < n; ++i) scanFloat(s, x[i]);
  return s;
}

FloatScan scanFloats(const double* x, std::int64_t n, double lo, double hi) {
#if RIL_AVX2
  if (haveAvx2()) return scanFloatsAvx2(x, n, lo, hi);
#endif
  return scanFloatsScalar(x, n, lo, hi);
}

}  // namespace ril::kernels
