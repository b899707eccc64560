#include "core/dsp/integer_filter/filter_chain.h"

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

#if RIL_AVX2
namespace {

// filterPrep with 256-bit vectors over the first multiple of 16 steps; gives
// the number of steps done.
__attribute__((target("avx2"))) std::int64_t filterPrepAvx2(const std::int16_t* x, std::int64_t n,
                                                            std::uint64_t* p) {
  std::int64_t i = 0;
  const __m256i coef = _mm256_set1_epi32(kPrepWeightPair);
  const __m256i offset = _mm256_set1_epi32(kPrepOffset);
  const __m256i magic = _mm256_set1_epi32(static_cast<int>(fastdiv::kMagic));
  for (; i + 16 <= n; i += 16) {
    const __m256i prev = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i - 1));
    const __m256i cur = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
    // Per 128-bit half: lo holds steps 0-3 (8-11), hi steps 4-7 (12-15).
    const __m256i lo =
        _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(prev, cur), coef), offset);
    const __m256i hi =
        _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(prev, cur), coef), offset);
    const __m256i le = _mm256_mul_epu32(lo, magic);
    const __m256i lodd = _mm256_mul_epu32(_mm256_srli_epi64(lo, 32), magic);
    const __m256i he = _mm256_mul_epu32(hi, magic);
    const __m256i hodd = _mm256_mul_epu32(_mm256_srli_epi64(hi, 32), magic);
    const __m256i l01 = _mm256_unpacklo_epi64(le, lodd);  // 0 1 | 8 9
    const __m256i l23 = _mm256_unpackhi_epi64(le, lodd);  // 2 3 | 10 11
    const __m256i h45 = _mm256_unpacklo_epi64(he, hodd);  // 4 5 | 12 13
    const __m256i h67 = _mm256_unpackhi_epi64(he, hodd);  // 6 7 | 14 15
    auto* out = reinterpret_cast<__m256i*>(p + i);
    _mm256_storeu_si256(out, _mm256_permute2x128_si256(l01, l23, 0x20));
    _mm256_storeu_si256(out + 1, _mm256_permute2x128_si256(h45, h67, 0x20));
    _mm256_storeu_si256(out + 2, _mm256_permute2x128_si256(l01, l23, 0x31));
    _mm256_storeu_si256(out + 3, _mm256_permute2x128_si256(h45, h67, 0x31));
  }
  return i;
}

}  // namespace
#endif

void filterPrep(const std::int16_t* x, std::int64_t n, std::uint64_t* p) {
  std::int64_t i = 0;
#if RIL_AVX2
  if (haveAvx2()) i = filterPrepAvx2(x, n, p);
#endif
#if RIL_SSE2
  const __m128i coef = _mm_set1_epi32(kPrepWeightPair);
  const __m128i offset = _mm_set1_epi32(kPrepOffset);
  const __m128i magic = _mm_set1_epi32(static_cast<int>(fastdiv::kMagic));
  auto store4 = [&](std::uint64_t* out, __m128i q) {
    const __m128i even = _mm_mul_epu32(q, magic);
    const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(q, 32), magic);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi64(even, odd));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2), _mm_unpackhi_epi64(even, odd));
  };
  for (; i + 8 <= n; i += 8) {
    const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i - 1));
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
    // Pairs (x[i-1], x[i]) times (62, -11).
    store4(p + i, _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(prev, cur), coef), offset));
    store4(p + i + 4, _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(prev, cur), coef), offset));
  }
#endif
  for (; i < n; ++i) p[i] = preparedAt(x, i);
}

void filterChain(const std::uint64_t* p, std::int64_t n, std::int64_t& state, std::int32_t* yb) {
  std::uint64_t y = static_cast<std::uint64_t>(state);
  for (std::int64_t i = 0; i < n; ++i) {
    y = chainStep(p[i], y);
    yb[i] = static_cast<std::int32_t>(y);
  }
  state = static_cast<std::int64_t>(y);
}

void filterChain2(const std::uint64_t* p0, const std::uint64_t* p1, std::int64_t n,
                  std::int64_t& state0, std::int64_t& state1, std::int32_t* yb0,
                  std::int32_t* yb1) {
  std::uint64_t y0 = static_cast<std::uint64_t>(state0);
  std::uint64_t y1 = static_cast<std::uint64_t>(state1);
  for (std::int64_t i = 0; i < n; ++i) {
    y0 = chainStep(p0[i], y0);
    y1 = chainStep(p1[i], y1);
    yb0[i] = static_cast<std::int32_t>(y0);
    yb1[i] = static_cast<std::int32_t>(y1);
  }
  state0 = static_cast<std::int64_t>(y0);
  state1 = static_cast<std::int64_t>(y1);
}

}  // namespace ril::kernels
