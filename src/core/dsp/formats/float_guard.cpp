#include "core/dsp/formats/float_guard.h"

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

#if RIL_AVX2
// The first multiple of eight values; whether one of them is unusual.
__attribute__((target("avx2"))) bool unusualAvx2(const double* v, std::int64_t whole,
                                                 double bound) {
  const __m256d magnitude = _mm256_castsi256_pd(_mm256_set1_epi64x(INT64_MAX));
  const __m256d limit = _mm256_set1_pd(bound);
  __m256d any = _mm256_setzero_pd();
  for (std::int64_t i = 0; i < whole; i += 8) {
    // Not (|v| <= bound), unordered: NaN counts.
    const __m256d a = _mm256_and_pd(_mm256_loadu_pd(v + i), magnitude);
    const __m256d b = _mm256_and_pd(_mm256_loadu_pd(v + i + 4), magnitude);
    any = _mm256_or_pd(any, _mm256_cmp_pd(a, limit, _CMP_NLE_UQ));
    any = _mm256_or_pd(any, _mm256_cmp_pd(b, limit, _CMP_NLE_UQ));
  }
  return _mm256_movemask_pd(any) != 0;
}

__attribute__((target("avx512f,avx512dq"))) bool unusualAvx512(const double* v, std::int64_t whole,
                                                               double bound) {
  const __m512d limit = _mm512_set1_pd(bound);
  __mmask8 any = 0;
  for (std::int64_t i = 0; i < whole; i += 8) {
    any |= _mm512_cmp_pd_mask(_mm512_abs_pd(_mm512_loadu_pd(v + i)), limit, _CMP_NLE_UQ);
  }
  return any != 0;
}
#endif

}  // namespace

bool anyUnusualScalar(const double* values, std::int64_t count, double bound) {
  bool unusual = false;
  for (std::int64_t i = 0; i < count; ++i) unusual |= !(std::fabs(values[i]) <= bound);
  return unusual;
}

bool anyUnusual(const double* values, std::int64_t count, double bound) {
  const std::int64_t whole = count & ~std::int64_t{7};
#if RIL_AVX2
  if (haveAvx512()) {
    if (unusualAvx512(values, whole, bound)) return true;
    return anyUnusualScalar(values + whole, count - whole, bound);
  }
  if (haveAvx2()) {
    if (unusualAvx2(values, whole, bound)) return true;
    return anyUnusualScalar(values + whole, count - whole, bound);
  }
#endif
  return anyUnusualScalar(values, count, bound);
}

}  // namespace ril::kernels
