#include "core/dsp/loudness/true_peak.h"

#include <algorithm>
#include <array>
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
    if (phaseRunsAvx2(x, i, step, values) <= found.peak) return;
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
__attribute__((target("avx2"))) std::int64_t markCandidatesAvx2(const double* m, std::int64_t runs,
                                                                double sampleTop, double top,
                                                                unsigned char* hit) {
  const __m256d sampleTopV = _mm256_set1_pd(sampleTop), topV = _mm256_set1_pd(top);
  const __m256d nearTaps = _mm256_set1_pd(kNearTaps), farTaps = _mm256_set1_pd(kFarTaps);
  const __m256d margin = _mm256_set1_pd(kMargin);
  std::int64_t r = 0;
  for (; r + 4 <= runs; r += 4) {
    const __m256d own = _mm256_loadu_pd(m + r + 2);
    const __m256d near = _mm256_max_pd(_mm256_loadu_pd(m + r + 1), own);
    const __m256d far = _mm256_max_pd(near, _mm256_loadu_pd(m + r));
    const __m256d bound = _mm256_mul_pd(
        _mm256_add_pd(_mm256_mul_pd(nearTaps, near), _mm256_mul_pd(farTaps, far)), margin);
    const __m256d may = _mm256_or_pd(_mm256_cmp_pd(own, sampleTopV, _CMP_GT_OQ),
                                     _mm256_cmp_pd(bound, topV, _CMP_GT_OQ));
    const int bits = _mm256_movemask_pd(may);
    for (int k = 0; k < 4; ++k) hit[r + k] = static_cast<unsigned char>((bits >> k) & 1);
  }
  return r;
}
#endif

// Marks in `hit` (one byte a run) the runs of the batch that may beat either
// peak: a sample magnitude above `sampleTop`, or a bound above `top`. m[r + 2]
// is run r's magnitude, m[r] and m[r + 1] those of the two runs in front.
std::int64_t markCandidates(const double* m, std::int64_t runs, double sampleTop, double top,
                            bool interpolate, unsigned char* hit) {
  std::int64_t any = 0;
  std::int64_t r = 0;
#if RIL_AVX2
  if (haveAvx2()) r = markCandidatesAvx2(m, runs, sampleTop, interpolate ? top : kNoBound, hit);
#endif
  for (; r < runs; ++r) hit[r] = m[r + 2] > sampleTop || (interpolate && runBound(m, r) > top);
  for (r = 0; r < runs; ++r) any |= hit[r];
  return any;
}

}  // namespace

int truePeakFactor(double sampleRate) {
  if (sampleRate < 96000) return 4;
  return sampleRate < 192000 ? 2 : 1;
}

void scanPeaks(const double* x, std::int64_t n, std::int64_t first, int factor, PeakFound& sample,
               PeakFound& interpolated) {
  constexpr std::int64_t kBatch = 64;  // runs whose magnitudes are found at once
  // m[0] and m[1] are the magnitudes of the two runs in front of the batch:
  // a run's interpolated values read its own frames and the 11 in front.
  double m[kBatch + 2];
  unsigned char hit[kBatch];
  m[0] = runMagnitude(x, -2 * kRun, -kRun);
  m[1] = runMagnitude(x, -kRun, 0);
  for (std::int64_t b = 0; b < n; b += kBatch * kRun) {
    const std::int64_t batch = std::min(kBatch * kRun, n - b);
    runMagnitudes(x + b, batch, m + 2);
    const std::int64_t runs = (batch + kRun - 1) / kRun;
    if (markCandidates(m, runs, sample.peak, interpolated.peak, factor > 1, hit)) {
      for (std::int64_t r = 0; r < runs; ++r) {
        if (!hit[r]) continue;
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
    }
    m[0] = m[runs];
    m[1] = m[runs + 1];
  }
}

}  // namespace ril::kernels
