#include "core/dsp/formats/float_sums.h"

#include <bit>
#include <cmath>

#include "core/dsp/cpu_features.h"
#include "core/dsp/formats/float_guard.h"
#include "core/dsp/formats/sample_words.h"

namespace ril::kernels {

namespace {

// One value into its lane and the scan; false when it is unusual.
inline bool step(SumLanes& l, FloatScan& s, double v, int lane) {
  if (!(std::fabs(v) <= kPlainMagnitude)) return false;
  l.sum[lane] += v;
  l.sumSq[lane] += v * v;
  if (v > s.hi) s.hi = v;
  if (v < s.lo) s.lo = v;
  s.atLimits += (v <= -1.0) + (v >= 1.0);
  return true;
}

inline int laneOf(int phase, std::int64_t i) {
  return static_cast<int>((phase + i) & (kSumLanes - 1));
}

// The lanes' sums stay finite while every value is usual (at most 1024 to a
// lane, each square at most 2^1000): a NaN or infinity among the values
// leaves one that is not.
bool lanesFinite(const SumLanes& l) {
  bool finite = true;
  for (int k = 0; k < kSumLanes; ++k)
    finite = finite && std::isfinite(l.sum[k]) && std::isfinite(l.sumSq[k]);
  return finite;
}

// The vector part's extremes, lane by lane, into the scan; false when one
// lies beyond kPlainMagnitude.
bool takeExtremes(FloatScan& s, const double* lows, const double* highs, int count) {
  for (int k = 0; k < count; ++k) {
    if (highs[k] > s.hi) s.hi = highs[k];
    if (lows[k] < s.lo) s.lo = lows[k];
  }
  return s.hi <= kPlainMagnitude && s.lo >= -kPlainMagnitude;
}

#if RIL_AVX2
__attribute__((target("avx2"), always_inline)) inline void scanVector(__m256d v, __m256d& lo,
                                                                      __m256d& hi, __m256i& count,
                                                                      __m256d magnitude,
                                                                      __m256d one) {
  // max(v, hi) is v > hi ? v : hi, an ordered comparison: a NaN is never
  // taken (nor counted below), nor a zero, since hi starts at +0.
  hi = _mm256_max_pd(v, hi);
  lo = _mm256_min_pd(v, lo);
  // |v| >= 1: at or beyond full scale on either side.
  const __m256d out = _mm256_cmp_pd(_mm256_and_pd(v, magnitude), one, _CMP_GE_OQ);
  count = _mm256_sub_epi64(count, _mm256_castpd_si256(out));  // all ones: -1
}

// Whole groups of kSumLanes values from lane 0: four vectors of four lanes.
__attribute__((target("avx2"))) std::int64_t groupsAvx2(const double* x, std::int64_t n,
                                                        SumLanes& l, FloatScan& s) {
  const std::int64_t whole = n & ~std::int64_t{kSumLanes - 1};
  if (whole == 0) return 0;
  __m256d s0 = _mm256_load_pd(l.sum), s1 = _mm256_load_pd(l.sum + 4);
  __m256d s2 = _mm256_load_pd(l.sum + 8), s3 = _mm256_load_pd(l.sum + 12);
  __m256d q0 = _mm256_load_pd(l.sumSq), q1 = _mm256_load_pd(l.sumSq + 4);
  __m256d q2 = _mm256_load_pd(l.sumSq + 8), q3 = _mm256_load_pd(l.sumSq + 12);
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(INT64_MAX));
  const __m256d one = _mm256_set1_pd(1.0);
  __m256d loA = _mm256_setzero_pd(), hiA = loA, loB = loA, hiB = loA;
  __m256i count = _mm256_setzero_si256();
  for (std::int64_t i = 0; i < whole; i += kSumLanes) {
    const __m256d v0 = _mm256_loadu_pd(x + i), v1 = _mm256_loadu_pd(x + i + 4);
    const __m256d v2 = _mm256_loadu_pd(x + i + 8), v3 = _mm256_loadu_pd(x + i + 12);
    s0 = _mm256_add_pd(s0, v0);
    s1 = _mm256_add_pd(s1, v1);
    s2 = _mm256_add_pd(s2, v2);
    s3 = _mm256_add_pd(s3, v3);
    q0 = _mm256_add_pd(q0, _mm256_mul_pd(v0, v0));
    q1 = _mm256_add_pd(q1, _mm256_mul_pd(v1, v1));
    q2 = _mm256_add_pd(q2, _mm256_mul_pd(v2, v2));
    q3 = _mm256_add_pd(q3, _mm256_mul_pd(v3, v3));
    scanVector(v0, loA, hiA, count, magnitude, one);
    scanVector(v1, loB, hiB, count, magnitude, one);
    scanVector(v2, loA, hiA, count, magnitude, one);
    scanVector(v3, loB, hiB, count, magnitude, one);
  }
  _mm256_store_pd(l.sum, s0);
  _mm256_store_pd(l.sum + 4, s1);
  _mm256_store_pd(l.sum + 8, s2);
  _mm256_store_pd(l.sum + 12, s3);
  _mm256_store_pd(l.sumSq, q0);
  _mm256_store_pd(l.sumSq + 4, q1);
  _mm256_store_pd(l.sumSq + 8, q2);
  _mm256_store_pd(l.sumSq + 12, q3);
  alignas(32) double lows[8], highs[8];
  alignas(32) std::int64_t counts[4];
  _mm256_store_pd(lows, loA);
  _mm256_store_pd(lows + 4, loB);
  _mm256_store_pd(highs, hiA);
  _mm256_store_pd(highs + 4, hiB);
  _mm256_store_si256(reinterpret_cast<__m256i*>(counts), count);
  s.atLimits += counts[0] + counts[1] + counts[2] + counts[3];
  return takeExtremes(s, lows, highs, 8) ? whole : -1;
}

__attribute__((target("avx512f,avx512dq"))) std::int64_t groupsAvx512(const double* x,
                                                                      std::int64_t n, SumLanes& l,
                                                                      FloatScan& s) {
  const std::int64_t whole = n & ~std::int64_t{kSumLanes - 1};
  if (whole == 0) return 0;
  __m512d s0 = _mm512_load_pd(l.sum), s1 = _mm512_load_pd(l.sum + 8);
  __m512d q0 = _mm512_load_pd(l.sumSq), q1 = _mm512_load_pd(l.sumSq + 8);
  const __m512d one = _mm512_set1_pd(1.0);
  __m512d lo0 = _mm512_setzero_pd(), hi0 = lo0, lo1 = lo0, hi1 = lo0;
  for (std::int64_t i = 0; i < whole; i += kSumLanes) {
    const __m512d v0 = _mm512_loadu_pd(x + i), v1 = _mm512_loadu_pd(x + i + 8);
    s0 = _mm512_add_pd(s0, v0);
    s1 = _mm512_add_pd(s1, v1);
    q0 = _mm512_add_pd(q0, _mm512_mul_pd(v0, v0));
    q1 = _mm512_add_pd(q1, _mm512_mul_pd(v1, v1));
    // As in scanVector: v > hi ? v : hi, and v < lo ? v : lo.
    hi0 = _mm512_maskz_max_pd(0xFF, v0, hi0);
    hi1 = _mm512_maskz_max_pd(0xFF, v1, hi1);
    lo0 = _mm512_maskz_min_pd(0xFF, v0, lo0);
    lo1 = _mm512_maskz_min_pd(0xFF, v1, lo1);
  }
  // The values at full scale in a second pass, only where the extremes
  // reach it (a file that clips).
  if ((_mm512_cmp_pd_mask(_mm512_maskz_max_pd(0xFF, hi0, hi1), one, _CMP_GE_OQ) |
       _mm512_cmp_pd_mask(_mm512_maskz_min_pd(0xFF, lo0, lo1), _mm512_set1_pd(-1.0), _CMP_LE_OQ)) !=
      0) {
    for (std::int64_t i = 0; i < whole; i += 8) {
      s.atLimits += __builtin_popcount(
          _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_loadu_pd(x + i)), one, _CMP_GE_OQ));
    }
  }
  _mm512_store_pd(l.sum, s0);
  _mm512_store_pd(l.sum + 8, s1);
  _mm512_store_pd(l.sumSq, q0);
  _mm512_store_pd(l.sumSq + 8, q1);
  alignas(64) double lows[16], highs[16];
  _mm512_store_pd(lows, lo0);
  _mm512_store_pd(lows + 8, lo1);
  _mm512_store_pd(highs, hi0);
  _mm512_store_pd(highs + 8, hi1);
  return takeExtremes(s, lows, highs, 16) ? whole : -1;
}

// GCC 12 takes the undefined first operand of its AVX-512 conversion and
// extraction intrinsics for an uninitialised variable.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

__attribute__((target("avx512f"), always_inline)) inline void sumVector(__m512d v, __m512d& sum,
                                                                        __m512d& sumSq, __m512d& lo,
                                                                        __m512d& hi) {
  sum = _mm512_add_pd(sum, v);
  sumSq = _mm512_add_pd(sumSq, _mm512_mul_pd(v, v));
  hi = _mm512_max_pd(v, hi);
  lo = _mm512_min_pd(v, lo);
}

// The samples of n float stereo frames at or beyond full scale, channel by
// channel, into counts[0] and counts[1].
__attribute__((target("avx512f,avx512dq"))) void countPairsAtLimits(const unsigned char* p,
                                                                    std::int64_t n,
                                                                    std::int64_t* counts) {
  const __m512 one = _mm512_set1_ps(1.0f);
  for (std::int64_t i = 0; i < n; i += 8, p += 64) {
    // |v| >= 1 as a float is |v| >= 1 as the double it widens to.
    const auto beyond = static_cast<unsigned>(
        _mm512_cmp_ps_mask(_mm512_abs_ps(_mm512_loadu_ps(p)), one, _CMP_GE_OQ));
    counts[0] += __builtin_popcount(beyond & 0x5555u);
    counts[1] += __builtin_popcount(beyond & 0xAAAAu);
  }
}

// Whole groups of kSumLanes float stereo frames from lane 0, both channels
// from the same two loads, each as groupsAvx512 takes its values. The
// samples at full scale are counted in a second pass, and only where the
// extremes reach it (a file that clips).
__attribute__((target("avx512f,avx512dq"))) std::int64_t pairGroupsAvx512(const unsigned char* p,
                                                                          std::int64_t n,
                                                                          SumLanes* l,
                                                                          FloatScan* s) {
  const std::int64_t whole = n & ~std::int64_t{kSumLanes - 1};
  if (whole == 0) return 0;
  const __m512i evens = _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
  const __m512i odds = _mm512_add_epi32(evens, _mm512_set1_epi32(1));
  __m512d ls0 = _mm512_load_pd(l[0].sum), ls1 = _mm512_load_pd(l[0].sum + 8);
  __m512d lq0 = _mm512_load_pd(l[0].sumSq), lq1 = _mm512_load_pd(l[0].sumSq + 8);
  __m512d rs0 = _mm512_load_pd(l[1].sum), rs1 = _mm512_load_pd(l[1].sum + 8);
  __m512d rq0 = _mm512_load_pd(l[1].sumSq), rq1 = _mm512_load_pd(l[1].sumSq + 8);
  __m512d llo = _mm512_setzero_pd(), lhi = llo, rlo = llo, rhi = llo;
  for (std::int64_t i = 0; i < whole; i += kSumLanes) {
    const __m512 w0 = _mm512_loadu_ps(p + 8 * i), w1 = _mm512_loadu_ps(p + 8 * i + 64);
    const __m512 left = _mm512_permutex2var_ps(w0, evens, w1);
    const __m512 right = _mm512_permutex2var_ps(w0, odds, w1);
    sumVector(_mm512_cvtps_pd(_mm512_castps512_ps256(left)), ls0, lq0, llo, lhi);
    sumVector(_mm512_cvtps_pd(_mm512_extractf32x8_ps(left, 1)), ls1, lq1, llo, lhi);
    sumVector(_mm512_cvtps_pd(_mm512_castps512_ps256(right)), rs0, rq0, rlo, rhi);
    sumVector(_mm512_cvtps_pd(_mm512_extractf32x8_ps(right, 1)), rs1, rq1, rlo, rhi);
  }
  _mm512_store_pd(l[0].sum, ls0);
  _mm512_store_pd(l[0].sum + 8, ls1);
  _mm512_store_pd(l[0].sumSq, lq0);
  _mm512_store_pd(l[0].sumSq + 8, lq1);
  _mm512_store_pd(l[1].sum, rs0);
  _mm512_store_pd(l[1].sum + 8, rs1);
  _mm512_store_pd(l[1].sumSq, rq0);
  _mm512_store_pd(l[1].sumSq + 8, rq1);
  const __m512d one = _mm512_set1_pd(1.0);
  const bool reach =
      (_mm512_cmp_pd_mask(_mm512_max_pd(lhi, rhi), one, _CMP_GE_OQ) |
       _mm512_cmp_pd_mask(_mm512_min_pd(llo, rlo), _mm512_set1_pd(-1.0), _CMP_LE_OQ)) != 0;
  if (reach) {
    std::int64_t counts[2] = {};
    countPairsAtLimits(p, whole, counts);
    s[0].atLimits += counts[0];
    s[1].atLimits += counts[1];
  }
  alignas(64) double lows[2][8], highs[2][8];
  _mm512_store_pd(lows[0], llo);
  _mm512_store_pd(highs[0], lhi);
  _mm512_store_pd(lows[1], rlo);
  _mm512_store_pd(highs[1], rhi);
  bool usual = true;
  for (int c = 0; c < 2; ++c) usual = takeExtremes(s[c], lows[c], highs[c], 8) && usual;
  return usual ? whole : -1;
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

// Frame i's sample of channel c, from little-endian float stereo.
inline double pairValue(const unsigned char* p, std::int64_t i, int c) {
  return std::bit_cast<float>(static_cast<std::uint32_t>(rawAt<4, false>(p + 8 * i + 4 * c)));
}

using Groups = std::int64_t (*)(const double*, std::int64_t, SumLanes&, FloatScan&);

// The values up to lane 0 and after the last whole group one by one, the
// groups by `groups` (none: all one by one).
bool scanAndSumWith(Groups groups, const double* x, std::int64_t n, int phase, SumLanes& lanes,
                    FloatScan& scan) {
  SumLanes l = lanes;
  FloatScan s;
  std::int64_t i = 0;
  for (; i < n && (groups == nullptr || laneOf(phase, i) != 0); ++i) {
    if (!step(l, s, x[i], laneOf(phase, i))) return false;
  }
  if (groups != nullptr) {
    const std::int64_t done = groups(x + i, n - i, l, s);
    if (done < 0) return false;
    i += done;
  }
  for (; i < n; ++i) {
    if (!step(l, s, x[i], laneOf(phase, i))) return false;
  }
  if (groups != nullptr && !lanesFinite(l)) return false;
  lanes = l;
  scan = s;
  return true;
}

}  // namespace

LaneTotal combineLanes(const SumLanes& lanes) {
  double s[kSumLanes], q[kSumLanes];
  for (int k = 0; k < kSumLanes; ++k) {
    s[k] = lanes.sum[k];
    q[k] = lanes.sumSq[k];
  }
  for (int width = kSumLanes / 2; width >= 1; width /= 2) {
    for (int k = 0; k < width; ++k) {
      s[k] += s[k + width];
      q[k] += q[k + width];
    }
  }
  return {s[0], q[0]};
}

bool scanAndSumScalar(const double* x, std::int64_t n, int phase, SumLanes& lanes,
                      FloatScan& scan) {
  return scanAndSumWith(nullptr, x, n, phase, lanes, scan);
}

bool floatPairsInVectors() {
#if RIL_AVX2
  return haveAvx512();
#else
  return false;
#endif
}

bool scanAndSumFloatPairs(const unsigned char* bytes, std::int64_t n, int phase, SumLanes* lanes,
                          FloatScan* scans) {
  SumLanes l[2] = {lanes[0], lanes[1]};
  FloatScan s[2];
  const auto frame = [&](std::int64_t i) {
    return step(l[0], s[0], pairValue(bytes, i, 0), laneOf(phase, i)) &&
           step(l[1], s[1], pairValue(bytes, i, 1), laneOf(phase, i));
  };
  const bool vectors = floatPairsInVectors();
  std::int64_t i = 0;
  for (; i < n && (!vectors || laneOf(phase, i) != 0); ++i) {
    if (!frame(i)) return false;
  }
#if RIL_AVX2
  if (vectors) {
    const std::int64_t done = pairGroupsAvx512(bytes + 8 * i, n - i, l, s);
    if (done < 0) return false;
    i += done;
  }
#endif
  for (; i < n; ++i) {
    if (!frame(i)) return false;
  }
  if (!lanesFinite(l[0]) || !lanesFinite(l[1])) return false;
  for (int c = 0; c < 2; ++c) {
    lanes[c] = l[c];
    scans[c] = s[c];
  }
  return true;
}

bool scanAndSumAvx2(const double* x, std::int64_t n, int phase, SumLanes& lanes, FloatScan& scan) {
#if RIL_AVX2
  if (haveAvx2()) return scanAndSumWith(groupsAvx2, x, n, phase, lanes, scan);
#endif
  return scanAndSumScalar(x, n, phase, lanes, scan);
}

bool scanAndSum(const double* x, std::int64_t n, int phase, SumLanes& lanes, FloatScan& scan) {
#if RIL_AVX2
  if (haveAvx512()) return scanAndSumWith(groupsAvx512, x, n, phase, lanes, scan);
#endif
  return scanAndSumAvx2(x, n, phase, lanes, scan);
}

}  // namespace ril::kernels
