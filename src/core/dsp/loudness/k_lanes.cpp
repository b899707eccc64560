#include "core/dsp/loudness/k_lanes.h"

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

void kWeightLanesScalar(const KWeighting& k, const double* rows, std::int64_t stride,
                        std::int64_t from, std::int64_t to, KLaneStates& lanes, int count) {
  for (int j = 0; j < count; ++j) {
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
struct LanesAvx2 {
  __m256d s[kKStateSize], sum;
};

__attribute__((target("avx2"), always_inline)) inline void stepAvx2(const CascadeAvx2& f, __m256d x,
                                                                    LanesAvx2& l) {
  __m256d* s = l.s;
  const __m256d u = _mm256_sub_pd(
      _mm256_sub_pd(
          _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(f.b0, x), _mm256_mul_pd(f.b1, s[kX1])),
                        _mm256_mul_pd(f.b2, s[kX2])),
          _mm256_mul_pd(f.a2, s[kU2])),
      _mm256_mul_pd(f.a1, s[kU1]));
  const __m256d y = _mm256_sub_pd(
      _mm256_sub_pd(_mm256_add_pd(_mm256_sub_pd(u, _mm256_add_pd(s[kU1], s[kU1])), s[kU2]),
                    _mm256_mul_pd(f.hpA2, s[kY2])),
      _mm256_mul_pd(f.hpA1, s[kY1]));
  l.sum = _mm256_add_pd(l.sum, _mm256_mul_pd(y, y));
  moveOn(s, x, u, y);
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

// Lanes `first` to first + 4 kGroups - 1.
template <int kGroups>
__attribute__((target("avx2"))) void kWeightFoursAvx2(const KWeighting& k, const double* rows,
                                                      std::int64_t stride, std::int64_t from,
                                                      std::int64_t to, KLaneStates& lanes,
                                                      int first) {
  const CascadeAvx2 f{_mm256_set1_pd(k.shelf.b0),   _mm256_set1_pd(k.shelf.b1),
                      _mm256_set1_pd(k.shelf.b2),   _mm256_set1_pd(k.shelf.a1),
                      _mm256_set1_pd(k.shelf.a2),   _mm256_set1_pd(k.highPass.a1),
                      _mm256_set1_pd(k.highPass.a2)};
  LanesAvx2 l[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    for (int i = 0; i < kKStateSize; ++i) l[g].s[i] = _mm256_load_pd(&lanes.s[i][first + 4 * g]);
    l[g].sum = _mm256_load_pd(&lanes.sum[first + 4 * g]);
  }
  const double* r = rows + first * stride;
  std::int64_t t = from;
  // Four steps at a time: each row's four inputs one load, turned around.
  for (; t + 4 <= to; t += 4) {
    __m256d v[kGroups][4];
#pragma GCC unroll 2
    for (int g = 0; g < kGroups; ++g) {
#pragma GCC unroll 4
      for (int j = 0; j < 4; ++j) v[g][j] = _mm256_loadu_pd(r + (4 * g + j) * stride + t);
      transpose(v[g]);
    }
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) {
#pragma GCC unroll 2
      for (int g = 0; g < kGroups; ++g) stepAvx2(f, v[g][i], l[g]);
    }
  }
  for (; t < to; ++t) {
    for (int g = 0; g < kGroups; ++g) {
      const double* q = r + 4 * g * stride + t;
      stepAvx2(f, _mm256_set_pd(q[3 * stride], q[2 * stride], q[stride], q[0]), l[g]);
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    for (int i = 0; i < kKStateSize; ++i) _mm256_store_pd(&lanes.s[i][first + 4 * g], l[g].s[i]);
    _mm256_store_pd(&lanes.sum[first + 4 * g], l[g].sum);
  }
}

// GCC 12's AVX-512 shuffles start from an undefined vector it then warns of.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// kStep's operations on eight lanes.
struct CascadeAvx512 {
  __m512d b0, b1, b2, a1, a2, hpA1, hpA2;
};
struct LanesAvx512 {
  __m512d s[kKStateSize], sum;
};

__attribute__((target("avx512f"), always_inline)) inline void stepAvx512(const CascadeAvx512& f,
                                                                         __m512d x,
                                                                         LanesAvx512& l) {
  __m512d* s = l.s;
  const __m512d u = _mm512_sub_pd(
      _mm512_sub_pd(
          _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(f.b0, x), _mm512_mul_pd(f.b1, s[kX1])),
                        _mm512_mul_pd(f.b2, s[kX2])),
          _mm512_mul_pd(f.a2, s[kU2])),
      _mm512_mul_pd(f.a1, s[kU1]));
  const __m512d y = _mm512_sub_pd(
      _mm512_sub_pd(_mm512_add_pd(_mm512_sub_pd(u, _mm512_add_pd(s[kU1], s[kU1])), s[kU2]),
                    _mm512_mul_pd(f.hpA2, s[kY2])),
      _mm512_mul_pd(f.hpA1, s[kY1]));
  l.sum = _mm512_add_pd(l.sum, _mm512_mul_pd(y, y));
  moveOn(s, x, u, y);
}

// Steps t .. t + 3 of rows r, r + stride, ..., r + 7 stride: v[i] holds step
// t + i of the eight rows, in row order.
__attribute__((target("avx512f"), always_inline)) inline void loadSteps(const double* r,
                                                                        std::int64_t stride,
                                                                        const __m512i (&pick)[2],
                                                                        __m512d (&v)[4]) {
  __m512d z[4];
#pragma GCC unroll 4
  for (int j = 0; j < 4; ++j) {
    z[j] = _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_loadu_pd(r + j * stride)),
                              _mm256_loadu_pd(r + (j + 4) * stride), 1);
  }
  // Steps 0 and 2 (lo), 1 and 3 (hi) of rows j, j + 1 and j + 4, j + 5.
  const __m512d lo01 = _mm512_unpacklo_pd(z[0], z[1]), hi01 = _mm512_unpackhi_pd(z[0], z[1]);
  const __m512d lo23 = _mm512_unpacklo_pd(z[2], z[3]), hi23 = _mm512_unpackhi_pd(z[2], z[3]);
  v[0] = _mm512_permutex2var_pd(lo01, pick[0], lo23);
  v[1] = _mm512_permutex2var_pd(hi01, pick[0], hi23);
  v[2] = _mm512_permutex2var_pd(lo01, pick[1], lo23);
  v[3] = _mm512_permutex2var_pd(hi01, pick[1], hi23);
}

// Lanes `first` to first + 7. One vector of lanes at a time: with direct
// form I a step waits on little more than one product and one sum, and a
// second vector's states would not fit in the registers beside the first's.
__attribute__((target("avx512f"))) void kWeightEightAvx512(const KWeighting& k, const double* rows,
                                                           std::int64_t stride, std::int64_t from,
                                                           std::int64_t to, KLaneStates& lanes,
                                                           int first) {
  const CascadeAvx512 f{_mm512_set1_pd(k.shelf.b0),   _mm512_set1_pd(k.shelf.b1),
                        _mm512_set1_pd(k.shelf.b2),   _mm512_set1_pd(k.shelf.a1),
                        _mm512_set1_pd(k.shelf.a2),   _mm512_set1_pd(k.highPass.a1),
                        _mm512_set1_pd(k.highPass.a2)};
  LanesAvx512 l;
  for (int i = 0; i < kKStateSize; ++i) l.s[i] = _mm512_load_pd(&lanes.s[i][first]);
  l.sum = _mm512_load_pd(&lanes.sum[first]);
  const __m512i pick[2] = {_mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13),
                           _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15)};
  const double* r = rows + first * stride;
  std::int64_t t = from;
  // Four steps at a time: each row's four inputs one load, turned around.
  for (; t + 4 <= to; t += 4) {
    __m512d v[4];
    loadSteps(r + t, stride, pick, v);
#pragma GCC unroll 4
    for (int i = 0; i < 4; ++i) stepAvx512(f, v[i], l);
  }
  for (; t < to; ++t) {
    alignas(64) double x[8];
    for (int j = 0; j < 8; ++j) x[j] = r[j * stride + t];
    stepAvx512(f, _mm512_load_pd(x), l);
  }
  for (int i = 0; i < kKStateSize; ++i) _mm512_store_pd(&lanes.s[i][first], l.s[i]);
  _mm512_store_pd(&lanes.sum[first], l.sum);
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace

void kWeightLanes(const KWeighting& k, const double* rows, std::int64_t stride, std::int64_t from,
                  std::int64_t to, KLaneStates& lanes, int count) {
#if RIL_AVX2
  if (haveAvx512()) {
    for (int first = 0; first < count; first += 8) {
      kWeightEightAvx512(k, rows, stride, from, to, lanes, first);
    }
    return;
  }
  if (haveAvx2()) {
    for (int first = 0; first < count; first += 8) {
      kWeightFoursAvx2<2>(k, rows, stride, from, to, lanes, first);
    }
    return;
  }
#endif
  kWeightLanesScalar(k, rows, stride, from, to, lanes, count);
}

}  // namespace ril::kernels
