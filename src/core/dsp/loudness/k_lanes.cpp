#include "core/dsp/loudness/k_lanes.h"

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

void kWeightLanesScalar(const KWeighting& k, const double* x, std::int64_t from, std::int64_t to,
                        KLaneStates& lanes) {
  for (int j = 0; j < kKLanes; ++j) {
    KState st = lanes.state(j);
    double sum = lanes.sum[j];
    for (std::int64_t t = from; t < to; ++t) {
      const double y = kStep(k, st, x[t * kKLanes + j]);
      sum = sum + y * y;
    }
    lanes.setState(j, st);
    lanes.sum[j] = sum;
  }
}

#if RIL_AVX2
// One biquad on four lanes: kStep's operations for one stage.
struct BiquadAvx2 {
  __m256d b0, b1, b2, a1, a2;
};

__attribute__((target("avx2"))) BiquadAvx2 broadcast(const Biquad& f) {
  return {_mm256_set1_pd(f.b0), _mm256_set1_pd(f.b1), _mm256_set1_pd(f.b2), _mm256_set1_pd(f.a1),
          _mm256_set1_pd(f.a2)};
}

__attribute__((target("avx2"), always_inline)) inline __m256d stage(const BiquadAvx2& f, __m256d x,
                                                                    __m256d& s1, __m256d& s2) {
  const __m256d y = _mm256_add_pd(_mm256_mul_pd(f.b0, x), s1);
  s1 = _mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(f.b1, x), _mm256_mul_pd(f.a1, y)), s2);
  s2 = _mm256_sub_pd(_mm256_mul_pd(f.b2, x), _mm256_mul_pd(f.a2, y));
  return y;
}

__attribute__((target("avx2"))) void kWeightLanesAvx2(const KWeighting& k, const double* x,
                                                      std::int64_t from, std::int64_t to,
                                                      KLaneStates& lanes) {
  const BiquadAvx2 shelf = broadcast(k.shelf);
  const BiquadAvx2 highPass = broadcast(k.highPass);
  __m256d s[4][2], sum[2];
  for (int g = 0; g < 2; ++g) {
    for (int i = 0; i < 4; ++i) s[i][g] = _mm256_load_pd(&lanes.s[i][4 * g]);
    sum[g] = _mm256_load_pd(&lanes.sum[4 * g]);
  }
  for (std::int64_t t = from; t < to; ++t) {
#pragma GCC unroll 2
    for (int g = 0; g < 2; ++g) {
      const __m256d in = _mm256_loadu_pd(x + t * kKLanes + 4 * g);
      const __m256d u = stage(shelf, in, s[0][g], s[1][g]);
      const __m256d y = stage(highPass, u, s[2][g], s[3][g]);
      sum[g] = _mm256_add_pd(sum[g], _mm256_mul_pd(y, y));
    }
  }
  for (int g = 0; g < 2; ++g) {
    for (int i = 0; i < 4; ++i) _mm256_store_pd(&lanes.s[i][4 * g], s[i][g]);
    _mm256_store_pd(&lanes.sum[4 * g], sum[g]);
  }
}
#endif

}  // namespace

void kWeightLanes(const KWeighting& k, const double* x, std::int64_t from, std::int64_t to,
                  KLaneStates& lanes) {
#if RIL_AVX2
  if (haveAvx2()) {
    kWeightLanesAvx2(k, x, from, to, lanes);
    return;
  }
#endif
  kWeightLanesScalar(k, x, from, to, lanes);
}

}  // namespace ril::kernels
