#include "core/dsp/loudness/true_peak.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

// The interpolator's four phases as printed; phases 2 and 3 are phases 1 and
// 0 reversed (the 48 taps are symmetric).
constexpr double kTaps[4][kTruePeakTaps] = {
    {0.0017089843750, 0.0109863281250, -0.0196533203125, 0.0332031250000, -0.0594482421875,
     0.1373291015625, 0.9721679687500, -0.1022949218750, 0.0476074218750, -0.0266113281250,
     0.0148925781250, -0.0083007812500},
    {-0.0291748046875, 0.0292968750000, -0.0517578125000, 0.0891113281250, -0.1665039062500,
     0.4650878906250, 0.7797851562500, -0.2003173828125, 0.1015625000000, -0.0582275390625,
     0.0330810546875, -0.0189208984375},
    {-0.0189208984375, 0.0330810546875, -0.0582275390625, 0.1015625000000, -0.2003173828125,
     0.7797851562500, 0.4650878906250, -0.1665039062500, 0.0891113281250, -0.0517578125000,
     0.0292968750000, -0.0291748046875},
    {-0.0083007812500, 0.0148925781250, -0.0266113281250, 0.0476074218750, -0.1022949218750,
     0.9721679687500, 0.1373291015625, -0.0594482421875, 0.0332031250000, -0.0196533203125,
     0.0109863281250, 0.0017089843750},
};

// The taps in single precision: each a multiple of 2^-13, so exact.
constexpr std::array<std::array<float, kTruePeakTaps>, 4> singleTaps() {
  std::array<std::array<float, kTruePeakTaps>, 4> t{};
  for (int p = 0; p < 4; ++p) {
    for (int k = 0; k < kTruePeakTaps; ++k) t[p][k] = static_cast<float>(kTaps[p][k]);
  }
  return t;
}
constexpr std::array<std::array<float, kTruePeakTaps>, 4> kTapsFloat = singleTaps();

// Outputs are computed eight input frames at a time.
constexpr int kRun = 8;
// A bound on the interpolated values of a run: the two taps nearest the point
// (the larger of their absolute sums, phases 1 and 2) read only this run and
// the one in front; the other ten reach two runs back. The absolute sums are
// those of the printed taps; the margin covers single-precision rounding.
constexpr double kNearTaps = 1.24487304687500;
constexpr double kFarTaps = 0.7779541015625;
constexpr double kMargin = 1.0 + 1e-5;

// m[r + 2] is a run's largest magnitude, m[r + 1] and m[r] the two in front.
inline double runBound(const double* m, std::int64_t r) {
  const double near = std::max(m[r + 1], m[r + 2]);
  return (kNearTaps * near + kFarTaps * std::max(near, m[r])) * kMargin;
}
// A peak no bound beats: no interpolation wanted.
constexpr double kNoBound = 1e300;

// The interpolated values of inputs i .. i + count - 1 for one phase, in
// single precision (ample for a peak in dB): products and sums in tap order.
void phaseRun(const double* x, std::int64_t i, std::int64_t count, int phase, float* out) {
  for (std::int64_t o = 0; o < count; ++o) {
    float acc = 0.0f;
    for (int k = 0; k < kTruePeakTaps; ++k) {
      acc = acc + kTapsFloat[phase][k] * static_cast<float>(x[i + o - k]);
    }
    out[o] = acc;
  }
}

#if RIL_AVX2
// The four phases' values of a whole run, eight outputs to a vector, and the
// largest magnitude among them.
__attribute__((target("avx2"))) float phaseRunsAvx2(const double* x, std::int64_t i, int step,
                                                    float (*out)[kRun]) {
  // x[i - 12 .. i + 8) as floats, at f[0 .. 20).
  alignas(32) float f[24];
  for (int b = 0; b < 20; b += 4) {
    _mm_store_ps(f + b, _mm256_cvtpd_ps(_mm256_loadu_pd(x + i - 12 + b)));
  }
  const __m256 sign = _mm256_set1_ps(-0.0f);
  __m256 top = _mm256_setzero_ps();
  for (int p = 0; p < 4; p += step) {
    __m256 acc = _mm256_setzero_ps();
#pragma GCC unroll 12
    for (int k = 0; k < kTruePeakTaps; ++k) {
      const __m256 v = _mm256_loadu_ps(f + 12 - k);
      acc = _mm256_add_ps(acc, _mm256_mul_ps(_mm256_set1_ps(kTapsFloat[p][k]), v));
    }
    _mm256_storeu_ps(out[p], acc);
    top = _mm256_max_ps(top, _mm256_andnot_ps(sign, acc));
  }
  const __m128 h = _mm_max_ps(_mm256_castps256_ps128(top), _mm256_extractf128_ps(top, 1));
  const __m128 q = _mm_max_ps(h, _mm_movehl_ps(h, h));
  return _mm_cvtss_f32(_mm_max_ss(q, _mm_shuffle_ps(q, q, 1)));
}

// Two phases' taps side by side, eight copies of each, for one AVX-512 vector
// per tap: phases 0 and 1, 2 and 3, and 0 and 2 (the phases of factor 2).
constexpr int kPhasePairs[3][2] = {{0, 1}, {2, 3}, {0, 2}};
struct PairTaps {
  alignas(64) float t[3][kTruePeakTaps][16];
};
constexpr PairTaps pairTaps() {
  PairTaps p{};
  for (int q = 0; q < 3; ++q) {
    for (int k = 0; k < kTruePeakTaps; ++k) {
      for (int j = 0; j < 16; ++j) p.t[q][k][j] = kTapsFloat[kPhasePairs[q][j / 8]][k];
    }
  }
  return p;
}
constexpr PairTaps kPairTaps = pairTaps();

// GCC 12's AVX-512 conversions and shuffles start from an undefined vector it
// then warns of.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// phaseRunsAvx2's values, two phases to a vector: the same products and sums
// in the same order, each lane as the scalar step.
__attribute__((target("avx512f,avx512dq"))) float phaseRunsAvx512(const double* x, std::int64_t i,
                                                                  int step, float (*out)[kRun]) {
  const __m256 low = _mm512_cvtpd_ps(_mm512_loadu_pd(x + i - 12));
  const __m256 mid = _mm512_cvtpd_ps(_mm512_loadu_pd(x + i - 4));
  const __m128 high = _mm256_cvtpd_ps(_mm256_loadu_pd(x + i + 4));
  alignas(64) float f[24];
  _mm256_store_ps(f, low);
  _mm256_store_ps(f + 8, mid);
  _mm_store_ps(f + 16, high);
  __m512 top = _mm512_setzero_ps();
  for (int q = step == 1 ? 0 : 2; q < (step == 1 ? 2 : 3); ++q) {
    __m512 acc = _mm512_setzero_ps();
#pragma GCC unroll 12
    for (int k = 0; k < kTruePeakTaps; ++k) {
      const __m512 v = _mm512_broadcast_f32x8(_mm256_loadu_ps(f + 12 - k));
      acc = _mm512_add_ps(acc, _mm512_mul_ps(_mm512_load_ps(kPairTaps.t[q][k]), v));
    }
    _mm256_storeu_ps(out[kPhasePairs[q][0]], _mm512_castps512_ps256(acc));
    _mm256_storeu_ps(out[kPhasePairs[q][1]],
                     _mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(acc), 1)));
    top = _mm512_max_ps(top, _mm512_abs_ps(acc));
  }
  return _mm512_reduce_max_ps(top);
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The largest magnitude of each whole run of x[0, n).
__attribute__((target("avx2"))) void runMagnitudesAvx2(const double* x, std::int64_t runs,
                                                       double* m) {
  const __m256d sign = _mm256_set1_pd(-0.0);
  for (std::int64_t r = 0; r < runs; ++r) {
    const __m256d a = _mm256_andnot_pd(sign, _mm256_loadu_pd(x + r * kRun));
    const __m256d b = _mm256_andnot_pd(sign, _mm256_loadu_pd(x + r * kRun + 4));
    const __m256d v = _mm256_max_pd(a, b);
    const __m128d h = _mm_max_pd(_mm256_castpd256_pd128(v), _mm256_extractf128_pd(v, 1));
    m[r] = _mm_cvtsd_f64(_mm_max_sd(h, _mm_unpackhi_pd(h, h)));
  }
}
#endif

// Every interpolated value of inputs [i, i + count), count <= kRun, in the
// order of their positions, against `found`.
void interpolateRun(const double* x, std::int64_t i, std::int64_t count, std::int64_t first,
                    int factor, PeakFound& found) {
  float values[4][kRun];
  const int step = 4 / factor;
  bool computed = false;
#if RIL_AVX2
  if (count == kRun && haveAvx2()) {
    const float top =
        haveAvx512() ? phaseRunsAvx512(x, i, step, values) : phaseRunsAvx2(x, i, step, values);
    if (top <= found.peak) return;
    computed = true;
  }
#endif
  for (int p = 0; p < 4 && !computed; p += step) phaseRun(x, i, count, p, values[p]);
  for (std::int64_t o = 0; o < count; ++o) {
    for (int p = 0; p < 4; p += step) {
      const double v = std::fabs(static_cast<double>(values[p][o]));
      if (v > found.peak) {
        found.peak = v;
        found.at = static_cast<double>(first + i + o) - 5.875 + p / 4.0;
      }
    }
  }
}

double runMagnitude(const double* x, std::int64_t from, std::int64_t to) {
  double m = 0.0;
  for (std::int64_t i = from; i < to; ++i) m = std::max(m, std::fabs(x[i]));
  return m;
}

// The largest magnitude of each run of x[0, n) (the last may be short).
void runMagnitudes(const double* x, std::int64_t n, double* m) {
  std::int64_t whole = n / kRun;
#if RIL_AVX2
  if (haveAvx2()) {
    runMagnitudesAvx2(x, whole, m);
  } else {
    whole = 0;
  }
#else
  whole = 0;
#endif
  for (std::int64_t r = whole; r * kRun < n; ++r) {
    m[r] = runMagnitude(x, r * kRun, std::min(n, (r + 1) * kRun));
  }
}

#if RIL_AVX2
__attribute__((target("avx2"))) std::int64_t markCandidatesAvx2(const double* m, std::int64_t r,
                                                                std::int64_t runs, double sampleTop,
                                                                double top, std::uint64_t& hits) {
  const __m256d sampleTopV = _mm256_set1_pd(sampleTop), topV = _mm256_set1_pd(top);
  const __m256d nearTaps = _mm256_set1_pd(kNearTaps), farTaps = _mm256_set1_pd(kFarTaps);
  const __m256d margin = _mm256_set1_pd(kMargin);
  for (; r + 4 <= runs; r += 4) {
    const __m256d own = _mm256_loadu_pd(m + r + 2);
    const __m256d near = _mm256_max_pd(_mm256_loadu_pd(m + r + 1), own);
    const __m256d far = _mm256_max_pd(near, _mm256_loadu_pd(m + r));
    const __m256d bound = _mm256_mul_pd(
        _mm256_add_pd(_mm256_mul_pd(nearTaps, near), _mm256_mul_pd(farTaps, far)), margin);
    const __m256d may = _mm256_or_pd(_mm256_cmp_pd(own, sampleTopV, _CMP_GT_OQ),
                                     _mm256_cmp_pd(bound, topV, _CMP_GT_OQ));
    hits |= static_cast<std::uint64_t>(_mm256_movemask_pd(may)) << r;
  }
  return r;
}

// GCC 12's AVX-512 shuffles start from an undefined vector it then warns of.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// The largest magnitudes of the eight whole runs at x, in run order: pairs,
// then halves, then wholes of every run, each step one maximum of two
// vectors that hold the parts of two runs side by side.
__attribute__((target("avx512f"), always_inline)) inline __m512d runMaxima8(const double* x) {
  __m512d a[8], b[4], c[2];
#pragma GCC unroll 8
  for (int j = 0; j < 8; ++j) a[j] = _mm512_abs_pd(_mm512_loadu_pd(x + j * kRun));
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    b[j] = _mm512_max_pd(_mm512_unpacklo_pd(a[2 * j], a[2 * j + 1]),
                         _mm512_unpackhi_pd(a[2 * j], a[2 * j + 1]));
  }
#pragma GCC unroll 2
  for (int j = 0; j < 2; ++j) {
    c[j] = _mm512_max_pd(_mm512_shuffle_f64x2(b[2 * j], b[2 * j + 1], _MM_SHUFFLE(2, 0, 2, 0)),
                         _mm512_shuffle_f64x2(b[2 * j], b[2 * j + 1], _MM_SHUFFLE(3, 1, 3, 1)));
  }
  return _mm512_max_pd(_mm512_shuffle_f64x2(c[0], c[1], _MM_SHUFFLE(2, 0, 2, 0)),
                       _mm512_shuffle_f64x2(c[0], c[1], _MM_SHUFFLE(3, 1, 3, 1)));
}

// Magnitudes and candidates of the batch's whole groups of eight runs in one
// pass: m[2 ..] as runMagnitudes gives them, the bits as markCandidates does.
__attribute__((target("avx512f"))) std::int64_t candidatesAvx512(const double* x, std::int64_t runs,
                                                                 double* m, double sampleTop,
                                                                 double top, std::uint64_t& hits) {
  const __m512d sampleTopV = _mm512_set1_pd(sampleTop), topV = _mm512_set1_pd(top);
  const __m512d nearTaps = _mm512_set1_pd(kNearTaps), farTaps = _mm512_set1_pd(kFarTaps);
  const __m512d margin = _mm512_set1_pd(kMargin);
  // Eight magnitudes in front, of which only the last two are read.
  __m512i before = _mm512_castpd_si512(_mm512_set_pd(m[1], m[0], 0, 0, 0, 0, 0, 0));
  std::int64_t r = 0;
  for (; r + 8 <= runs; r += 8) {
    const __m512d own = runMaxima8(x + r * kRun);
    _mm512_storeu_pd(m + r + 2, own);
    const __m512i ownBits = _mm512_castpd_si512(own);
    const __m512d one = _mm512_castsi512_pd(_mm512_alignr_epi64(ownBits, before, 7));
    const __m512d two = _mm512_castsi512_pd(_mm512_alignr_epi64(ownBits, before, 6));
    before = ownBits;
    const __m512d near = _mm512_max_pd(one, own);
    const __m512d far = _mm512_max_pd(near, two);
    const __m512d bound = _mm512_mul_pd(
        _mm512_add_pd(_mm512_mul_pd(nearTaps, near), _mm512_mul_pd(farTaps, far)), margin);
    const __mmask8 may = static_cast<__mmask8>(_mm512_cmp_pd_mask(own, sampleTopV, _CMP_GT_OQ) |
                                               _mm512_cmp_pd_mask(bound, topV, _CMP_GT_OQ));
    hits |= static_cast<std::uint64_t>(may) << r;
  }
  return r;
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

// The batch's runs that may beat either peak, one bit a run: a sample
// magnitude above `sampleTop`, or a bound above `top`. Fills m[2 ..] with the
// runs' magnitudes (m[0] and m[1] are those of the two runs in front).
std::uint64_t candidates(const double* x, std::int64_t n, double* m, double sampleTop, double top,
                         bool interpolate) {
  const std::int64_t runs = (n + kRun - 1) / kRun;
  if (!interpolate) top = kNoBound;
  std::uint64_t hits = 0;
  std::int64_t r = 0;
#if RIL_AVX2
  if (haveAvx512()) r = candidatesAvx512(x, n / kRun, m, sampleTop, top, hits);
#endif
  runMagnitudes(x + r * kRun, n - r * kRun, m + 2 + r);
#if RIL_AVX2
  if (haveAvx2()) r = markCandidatesAvx2(m, r, runs, sampleTop, top, hits);
#endif
  for (; r < runs; ++r) {
    if (m[r + 2] > sampleTop || runBound(m, r) > top) hits |= std::uint64_t{1} << r;
  }
  return hits;
}

}  // namespace

int truePeakFactor(double sampleRate) {
  if (sampleRate < 96000) return 4;
  return sampleRate < 192000 ? 2 : 1;
}

void scanPeaks(const double* x, std::int64_t n, std::int64_t first, int factor, PeakFound& sample,
               PeakFound& interpolated) {
  constexpr std::int64_t kBatch = 64;  // runs whose magnitudes are found at once: one bit each
  // m[0] and m[1] are the magnitudes of the two runs in front of the batch:
  // a run's interpolated values read its own frames and the 11 in front.
  double m[kBatch + 2];
  m[0] = runMagnitude(x, -2 * kRun, -kRun);
  m[1] = runMagnitude(x, -kRun, 0);
  for (std::int64_t b = 0; b < n; b += kBatch * kRun) {
    const std::int64_t batch = std::min(kBatch * kRun, n - b);
    const std::int64_t runs = (batch + kRun - 1) / kRun;
    for (std::uint64_t hits =
             candidates(x + b, batch, m, sample.peak, interpolated.peak, factor > 1);
         hits != 0; hits &= hits - 1) {
      const int r = std::countr_zero(hits);
      const std::int64_t i = b + r * kRun;
      const std::int64_t count = std::min<std::int64_t>(kRun, n - i);
      for (std::int64_t j = i; j < i + count && m[r + 2] > sample.peak; ++j) {
        if (std::fabs(x[j]) > sample.peak) {
          sample.peak = std::fabs(x[j]);
          sample.at = static_cast<double>(first + j);
        }
      }
      if (factor > 1 && runBound(m, r) > interpolated.peak) {
        interpolateRun(x, i, count, first, factor, interpolated);
      }
    }
    m[0] = m[runs];
    m[1] = m[runs + 1];
  }
}

}  // namespace ril::kernels
