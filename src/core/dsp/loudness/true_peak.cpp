#include "core/dsp/loudness/true_peak.h"

#include <algorithm>
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

// Outputs are computed eight input frames at a time.
constexpr int kRun = 8;
// The largest absolute sum of a phase's taps (phases 1 and 2: 2.0228...),
// with room for the rounding of the sums.
constexpr double kBoundFactor = 2.0228271484375 * (1.0 + 1e-12);

// The interpolated values of inputs i .. i + count - 1 for one phase.
void phaseRun(const double* x, std::int64_t i, std::int64_t count, int phase, double* out) {
  const double* h = kTaps[phase];
  for (std::int64_t o = 0; o < count; ++o) {
    double acc = 0.0;
    for (int k = 0; k < kTruePeakTaps; ++k) acc = acc + h[k] * x[i + o - k];
    out[o] = acc;
  }
}

#if RIL_AVX2
// The same for a whole run, four outputs to a vector.
__attribute__((target("avx2"))) void phaseRunAvx2(const double* x, std::int64_t i, int phase,
                                                  double* out) {
  const double* h = kTaps[phase];
  __m256d a0 = _mm256_setzero_pd(), a1 = _mm256_setzero_pd();
  for (int k = 0; k < kTruePeakTaps; ++k) {
    const __m256d c = _mm256_set1_pd(h[k]);
    a0 = _mm256_add_pd(a0, _mm256_mul_pd(c, _mm256_loadu_pd(x + i - k)));
    a1 = _mm256_add_pd(a1, _mm256_mul_pd(c, _mm256_loadu_pd(x + i + 4 - k)));
  }
  _mm256_storeu_pd(out, a0);
  _mm256_storeu_pd(out + 4, a1);
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
  double values[4][kRun];
  const int step = 4 / factor;
  for (int p = 0; p < 4; p += step) {
#if RIL_AVX2
    if (count == kRun && haveAvx2()) {
      phaseRunAvx2(x, i, p, values[p]);
      continue;
    }
#endif
    phaseRun(x, i, count, p, values[p]);
  }
  for (std::int64_t o = 0; o < count; ++o) {
    for (int p = 0; p < 4; p += step) {
      const double v = std::fabs(values[p][o]);
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

}  // namespace

int truePeakFactor(double sampleRate) {
  if (sampleRate < 96000) return 4;
  return sampleRate < 192000 ? 2 : 1;
}

double truePeakTap(int phase, int k) {
  return kTaps[phase][k];
}

void scanPeaks(const double* x, std::int64_t n, std::int64_t first, int factor, PeakFound& sample,
               PeakFound& interpolated) {
  constexpr std::int64_t kBatch = 64;  // runs whose magnitudes are found at once
  double m[kBatch];
  // The largest magnitude of the 11 frames in front of the run.
  double before = runMagnitude(x, -(kTruePeakTaps - 1), 0);
  for (std::int64_t b = 0; b < n; b += kBatch * kRun) {
    const std::int64_t batch = std::min(kBatch * kRun, n - b);
    runMagnitudes(x + b, batch, m);
    for (std::int64_t i = b; i < b + batch; i += kRun) {
      const std::int64_t count = std::min<std::int64_t>(kRun, n - i);
      const double own = m[(i - b) / kRun];
      if (own > sample.peak) {
        for (std::int64_t j = i; j < i + count; ++j) {
          if (std::fabs(x[j]) > sample.peak) {
            sample.peak = std::fabs(x[j]);
            sample.at = static_cast<double>(first + j);
          }
        }
      }
      if (factor > 1 && kBoundFactor * std::max(before, own) > interpolated.peak) {
        interpolateRun(x, i, count, first, factor, interpolated);
      }
      // The next run reads this run's frames and the three before it.
      before = std::max(own, runMagnitude(x, i + count - (kTruePeakTaps - 1), i));
    }
  }
}

}  // namespace ril::kernels
