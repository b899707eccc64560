#include "core/dsp/loudness/k_lanes.h"

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

void kWeightLanesScalar(const KWeighting& k, const double* rows, std::int64_t stride,
                        std::int64_t from, std::int64_t to, KLaneStates& lanes) {
  for (int j = 0; j < kKLanes; ++j) {
    KState st = lanes.state(j);
    double sum = lanes.sum[j];
    for (std::int64_t t = from; t < to; ++t) {
      const double y = kStep(k, st, rows[j * stride + t]);
      sum = sum + y * y;
    }
    lanes.setState(j, st);
    lanes.sum[j] = sum;
  }
}

#if RIL_AVX2
// kStep's operations on four lanes.
struct CascadeAvx2 {
  __m256d b0, b1, b2, a1, a2, hpA1, hpA2;
};

__attribute__((target("avx2"), always_inline)) inline void stepAvx2(const CascadeAvx2& f, __m256d x,
                                                                    __m256d* s, __m256d& sum) {
  const __m256d u = _mm256_add_pd(_mm256_mul_pd(f.b0, x), s[0]);
  s[0] = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(f.b1, x), s[1]), _mm256_mul_pd(f.a1, u));
  s[1] = _mm256_sub_pd(_mm256_mul_pd(f.b2, x), _mm256_mul_pd(f.a2, u));
  const __m256d y = _mm256_add_pd(u, s[2]);
  s[2] = _mm256_sub_pd(_mm256_sub_pd(s[3], _mm256_add_pd(u, u)), _mm256_mul_pd(f.hpA1, y));
  s[3] = _mm256_sub_pd(u, _mm256_mul_pd(f.hpA2, y));
  sum = _mm256_add_pd(sum, _mm256_mul_pd(y, y));
}

// Row k of the result holds element k of each of the four rows.
__attribute__((target("avx2"), always_inline)) inline void transpose(__m256d (&r)[4]) {
  const __m256d a0 = _mm256_unpacklo_pd(r[0], r[1]), a1 = _mm256_unpackhi_pd(r[0], r[1]);
  const __m256d a2 = _mm256_unpacklo_pd(r[2], r[3]), a3 = _mm256_unpackhi_pd(r[2], r[3]);
  r[0] = _mm256_permute2f128_pd(a0, a2, 0x20);
  r[1] = _mm256_permute2f128_pd(a1, a3, 0x20);
  r[2] = _mm256_permute2f128_pd(a0, a2, 0x31);
  r[3] = _mm256_permute2f128_pd(a1, a3, 0x31);
}

__attribute__((target("avx2"))) void kWeightLanesAvx2(const KWeighting& k, const double* rows,
                                                      std::int64_t stride, std::int64_t from,
                                                      std::int64_t to, KLaneStates& lanes) {
  const CascadeAvx2 f{_mm256_set1_pd(k.shelf.b0),   _mm256_set1_pd(k.shelf.b1),
                      _mm256_set1_pd(k.shelf.b2),   _mm256_set1_pd(k.shelf.a1),
                      _mm256_set1_pd(k.shelf.a2),   _mm256_set1_pd(k.highPass.a1),
                      _mm256_set1_pd(k.highPass.a2)};
  __m256d s[2][4], sum[2];
  for (int g = 0; g < 2; ++g) {
    for (int i = 0; i < 4; ++i) s[g][i] = _mm256_load_pd(&lanes.s[i][4 * g]);
    sum[g] = _mm256_load_pd(&lanes.sum[4 * g]);
  }
  std::int64_t t = from;
  // Four steps at a time: each row's four inputs one load, turned around.
  for (; t + 4 <= to; t += 4) {
    __m256d v[2][4];
#pragma GCC unroll 2
    for (int g = 0; g < 2; ++g) {
#pragma GCC unroll 4
      for (int j = 0; j < 4; ++j) v[g][j] = _mm256_loadu_pd(rows + (4 * g + j) * stride + t);
      transpose(v[g]);
    }
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
#pragma GCC unroll 2
      for (int g = 0; g < 2; ++g) stepAvx2(f, v[g][i], s[g], sum[g]);
    }
  }
  for (; t < to; ++t) {
    for (int g = 0; g < 2; ++g) {
      const double* r = rows + 4 * g * stride + t;
      stepAvx2(f, _mm256_set_pd(r[3 * stride], r[2 * stride], r[stride], r[0]), s[g], sum[g]);
    }
  }
  for (int g = 0; g < 2; ++g) {
    for (int i = 0; i < 4; ++i) _mm256_store_pd(&lanes.s[i][4 * g], s[g][i]);
    _mm256_store_pd(&lanes.sum[4 * g], sum[g]);
  }
}
#endif

}  // namespace

void kWeightLanes(const KWeighting& k, const double* rows, std::int64_t stride, std::int64_t from,
                  std::int64_t to, KLaneStates& lanes) {
#if RIL_AVX2
  if (haveAvx2()) {
    kWeightLanesAvx2(k, rows, stride, from, to, lanes);
    return;
  }
#endif
  kWeightLanesScalar(k, rows, stride, from, to, lanes);
}

}  // namespace ril::kernels
