#include "core/dsp/sample_kernels.h"

#include <algorithm>
#include <cstring>

#include "core/dsp/deemphasis_filter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define RIL_SSE2 1
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define RIL_AVX2 1
#endif

namespace ril::kernels {

namespace {

inline std::int16_t scale8(unsigned char b) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>((b ^ 0x80u) << 8));
}

inline std::int16_t load16(const unsigned char* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

// Runs of up to this many vector steps keep every 32-bit lane sum in range.
constexpr std::int64_t kLaneRun = 4096;

}  // namespace

#if RIL_AVX2
// The same kernels with 256-bit vectors, for processors that have AVX2; the
// program chooses them at run time, the build stays baseline x86-64.
namespace {

bool wideAllowed = true;

bool haveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have && wideAllowed;
}

__attribute__((target("avx2"))) std::int64_t toPlanar16Avx2(const unsigned char* bytes,
                                                            std::int64_t frames, int channels,
                                                            int bits, std::int16_t* left,
                                                            std::int16_t* right) {
  std::int64_t i = 0;
  if (bits == 8 && channels == 1) {
    const __m256i flip = _mm256_set1_epi16(static_cast<short>(0x8000));
    for (; i + 16 <= frames; i += 16) {
      const __m256i w =
          _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(left + i),
                          _mm256_xor_si256(_mm256_slli_epi16(w, 8), flip));
    }
  } else if (bits == 8) {
    const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
    const __m256i high = _mm256_set1_epi16(static_cast<short>(0xFF00));
    for (; i + 16 <= frames; i += 16) {
      const __m256i v = _mm256_xor_si256(
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 2 * i)), flip);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(left + i), _mm256_slli_epi16(v, 8));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(right + i), _mm256_and_si256(v, high));
    }
  } else if (channels == 2) {
    for (; i + 16 <= frames; i += 16) {
      const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 4 * i));
      const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bytes + 4 * i + 32));
      const __m256i l = _mm256_packs_epi32(_mm256_srai_epi32(_mm256_slli_epi32(a, 16), 16),
                                           _mm256_srai_epi32(_mm256_slli_epi32(b, 16), 16));
      const __m256i r = _mm256_packs_epi32(_mm256_srai_epi32(a, 16), _mm256_srai_epi32(b, 16));
      // The packs work per 128-bit half; put the four quarters back in order.
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(left + i), _mm256_permute4x64_epi64(l, 0xD8));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(right + i), _mm256_permute4x64_epi64(r, 0xD8));
    }
  }
  return i;
}

__attribute__((target("avx2"))) std::int64_t statsOf16Avx2(const std::int16_t* x, std::int64_t n,
                                                           RunStats& r) {
  std::int64_t i = 0;
  __m256i vmin = _mm256_set1_epi16(x[0]), vmax = vmin;
  __m256i vsq = _mm256_setzero_si256();
  const __m256i ones = _mm256_set1_epi16(1), zero = _mm256_setzero_si256();
  std::int64_t sum = 0;
  while (i + 16 <= n) {
    __m256i vsum = _mm256_setzero_si256();
    const std::int64_t end = std::min(n - 15, i + 16 * kLaneRun);
    for (; i < end; i += 16) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(x + i));
      vmin = _mm256_min_epi16(vmin, v);
      vmax = _mm256_max_epi16(vmax, v);
      vsum = _mm256_add_epi32(vsum, _mm256_madd_epi16(v, ones));
      const __m256i sq = _mm256_madd_epi16(v, v);  // two squares per lane, exact unsigned
      vsq = _mm256_add_epi64(vsq, _mm256_unpacklo_epi32(sq, zero));
      vsq = _mm256_add_epi64(vsq, _mm256_unpackhi_epi32(sq, zero));
    }
    alignas(32) std::int32_t s[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s), vsum);
    for (int k = 0; k < 8; ++k) sum += s[k];
  }
  alignas(32) std::int16_t a[16], b[16];
  alignas(32) std::uint64_t q[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(a), vmin);
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), vmax);
  _mm256_store_si256(reinterpret_cast<__m256i*>(q), vsq);
  r.min = x[0];
  r.max = x[0];
  for (int k = 0; k < 16; ++k) {
    r.min = std::min<std::int32_t>(r.min, a[k]);
    r.max = std::max<std::int32_t>(r.max, b[k]);
  }
  r.sum = sum;
  r.sumSq = q[0] + q[1] + q[2] + q[3];
  return i;
}

__attribute__((target("avx2"))) std::int64_t statsOfBiased32Avx2(const std::int32_t* yb,
                                                                 std::int64_t n, RunStats& r) {
  std::int64_t i = 0;
  __m256i vmin = _mm256_set1_epi32(yb[0]), vmax = vmin;
  __m256i vsq = _mm256_setzero_si256();
  std::uint64_t sum = 0;
  while (i + 8 <= n) {
    __m256i vsum = _mm256_setzero_si256();
    const std::int64_t end = std::min(n - 7, i + 8 * kLaneRun);
    for (; i < end; i += 8) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(yb + i));
      vmin = _mm256_min_epi32(vmin, v);
      vmax = _mm256_max_epi32(vmax, v);
      vsum = _mm256_add_epi32(vsum, v);
      vsq = _mm256_add_epi64(vsq, _mm256_mul_epu32(v, v));
      const __m256i odd = _mm256_srli_epi64(v, 32);
      vsq = _mm256_add_epi64(vsq, _mm256_mul_epu32(odd, odd));
    }
    alignas(32) std::uint32_t s[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s), vsum);
    for (int k = 0; k < 8; ++k) sum += s[k];
  }
  alignas(32) std::int32_t a[8], b[8];
  alignas(32) std::uint64_t q[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(a), vmin);
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), vmax);
  _mm256_store_si256(reinterpret_cast<__m256i*>(q), vsq);
  r.min = yb[0];
  r.max = yb[0];
  for (int k = 0; k < 8; ++k) {
    r.min = std::min(r.min, a[k]);
    r.max = std::max(r.max, b[k]);
  }
  r.sum = static_cast<std::int64_t>(sum);
  r.sumSq = q[0] + q[1] + q[2] + q[3];
  return i;
}

__attribute__((target("avx2"))) std::int64_t filterPrepAvx2(const std::int16_t* x, std::int64_t n,
                                                            std::uint64_t* p) {
  std::int64_t i = 0;
  const __m256i coef =
      _mm256_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(-11) << 16) | 62u));
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

void toPlanar16(const unsigned char* bytes, std::int64_t frames, int channels, int bitsPerSample,
                std::int16_t* left, std::int16_t* right) {
  std::int64_t i = 0;
#if RIL_AVX2
  if (haveAvx2()) i = toPlanar16Avx2(bytes, frames, channels, bitsPerSample, left, right);
#endif
  if (bitsPerSample == 8) {
    if (channels == 1) {
#if RIL_SSE2
      const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
      const __m128i zero = _mm_setzero_si128();
      for (; i + 16 <= frames; i += 16) {
        __m128i v =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)), flip);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(left + i), _mm_unpacklo_epi8(zero, v));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(left + i + 8), _mm_unpackhi_epi8(zero, v));
      }
#endif
      for (; i < frames; ++i) left[i] = scale8(bytes[i]);
    } else {
#if RIL_SSE2
      const __m128i flip = _mm_set1_epi8(static_cast<char>(0x80));
      const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF00));
      for (; i + 8 <= frames; i += 8) {
        __m128i v =
            _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 2 * i)), flip);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(left + i), _mm_slli_epi16(v, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(right + i), _mm_and_si128(v, high));
      }
#endif
      for (; i < frames; ++i) {
        left[i] = scale8(bytes[2 * i]);
        right[i] = scale8(bytes[2 * i + 1]);
      }
    }
    return;
  }
  if (channels == 1) {
    for (; i < frames; ++i) left[i] = load16(bytes + 2 * i);  // a plain copy on little-endian
    return;
  }
#if RIL_SSE2
  for (; i + 8 <= frames; i += 8) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 4 * i));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 4 * i + 16));
    const __m128i la = _mm_srai_epi32(_mm_slli_epi32(a, 16), 16);
    const __m128i lb = _mm_srai_epi32(_mm_slli_epi32(b, 16), 16);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(left + i), _mm_packs_epi32(la, lb));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(right + i),
                     _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16)));
  }
#endif
  for (; i < frames; ++i) {
    left[i] = load16(bytes + 4 * i);
    right[i] = load16(bytes + 4 * i + 2);
  }
}

RunStats statsOf16(const std::int16_t* x, std::int64_t n) {
  std::int32_t mn = x[0], mx = x[0];
  std::int64_t sum = 0;
  std::uint64_t sumSq = 0;
  std::int64_t i = 0;
#if RIL_AVX2
  if (haveAvx2()) {
    RunStats r;
    i = statsOf16Avx2(x, n, r);
    mn = r.min;
    mx = r.max;
    sum = r.sum;
    sumSq = r.sumSq;
  }
#endif
#if RIL_SSE2
  if (i == 0 && n >= 8) {
    __m128i vmin = _mm_set1_epi16(x[0]), vmax = vmin;
    __m128i vsq = _mm_setzero_si128();
    const __m128i ones = _mm_set1_epi16(1), zero = _mm_setzero_si128();
    while (i + 8 <= n) {
      __m128i vsum = _mm_setzero_si128();
      const std::int64_t end = std::min(n - 7, i + 8 * kLaneRun);
      for (; i < end; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
        vmin = _mm_min_epi16(vmin, v);
        vmax = _mm_max_epi16(vmax, v);
        vsum = _mm_add_epi32(vsum, _mm_madd_epi16(v, ones));
        // Two squares per lane: at most 2^31, exact as unsigned 32-bit.
        const __m128i sq = _mm_madd_epi16(v, v);
        vsq = _mm_add_epi64(vsq, _mm_unpacklo_epi32(sq, zero));
        vsq = _mm_add_epi64(vsq, _mm_unpackhi_epi32(sq, zero));
      }
      alignas(16) std::int32_t s[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(s), vsum);
      sum += static_cast<std::int64_t>(s[0]) + s[1] + s[2] + s[3];
    }
    alignas(16) std::int16_t a[8], b[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(a), vmin);
    _mm_store_si128(reinterpret_cast<__m128i*>(b), vmax);
    for (int k = 0; k < 8; ++k) {
      mn = std::min<std::int32_t>(mn, a[k]);
      mx = std::max<std::int32_t>(mx, b[k]);
    }
    alignas(16) std::uint64_t q[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(q), vsq);
    sumSq = q[0] + q[1];
  }
#endif
  for (; i < n; ++i) {
    const std::int32_t v = x[i];
    mn = std::min(mn, v);
    mx = std::max(mx, v);
    sum += v;
    sumSq += static_cast<std::uint32_t>(v * v);
  }
  return RunStats{mn, mx, sum, sumSq};
}

RunStats statsOfBiased32(const std::int32_t* yb, std::int64_t n, std::int32_t bias) {
  std::int32_t mn = yb[0], mx = yb[0];
  std::uint64_t sum = 0;  // of the biased values
  std::uint64_t sumSq = 0;
  std::int64_t i = 0;
#if RIL_AVX2
  if (haveAvx2()) {
    RunStats r;
    i = statsOfBiased32Avx2(yb, n, r);
    mn = r.min;
    mx = r.max;
    sum = static_cast<std::uint64_t>(r.sum);
    sumSq = r.sumSq;
  }
#endif
#if RIL_SSE2
  if (i == 0 && n >= 4) {
    __m128i vmin = _mm_set1_epi32(yb[0]), vmax = vmin;
    __m128i vsq = _mm_setzero_si128();
    while (i + 4 <= n) {
      __m128i vsum = _mm_setzero_si128();
      const std::int64_t end = std::min(n - 3, i + 4 * kLaneRun);
      for (; i < end; i += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(yb + i));
        const __m128i lt = _mm_cmplt_epi32(v, vmin);
        vmin = _mm_or_si128(_mm_and_si128(lt, v), _mm_andnot_si128(lt, vmin));
        const __m128i gt = _mm_cmpgt_epi32(v, vmax);
        vmax = _mm_or_si128(_mm_and_si128(gt, v), _mm_andnot_si128(gt, vmax));
        vsum = _mm_add_epi32(vsum, v);
        vsq = _mm_add_epi64(vsq, _mm_mul_epu32(v, v));
        const __m128i odd = _mm_srli_epi64(v, 32);
        vsq = _mm_add_epi64(vsq, _mm_mul_epu32(odd, odd));
      }
      alignas(16) std::uint32_t s[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(s), vsum);
      sum += static_cast<std::uint64_t>(s[0]) + s[1] + s[2] + s[3];
    }
    alignas(16) std::int32_t a[4], b[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(a), vmin);
    _mm_store_si128(reinterpret_cast<__m128i*>(b), vmax);
    for (int k = 0; k < 4; ++k) {
      mn = std::min(mn, a[k]);
      mx = std::max(mx, b[k]);
    }
    alignas(16) std::uint64_t q[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(q), vsq);
    sumSq = q[0] + q[1];
  }
#endif
  for (; i < n; ++i) {
    const std::uint64_t v = static_cast<std::uint32_t>(yb[i]);
    mn = std::min(mn, yb[i]);
    mx = std::max(mx, yb[i]);
    sum += v;
    sumSq += v * v;
  }
  // Back to the unbiased values: sum (v - c)^2 = sum v^2 - 2c sum v + n c^2,
  // exact in modular 64-bit arithmetic because the true result fits.
  const std::uint64_t c = static_cast<std::uint32_t>(bias);
  const std::uint64_t count = static_cast<std::uint64_t>(n);
  RunStats r;
  r.min = mn - bias;
  r.max = mx - bias;
  r.sum = static_cast<std::int64_t>(sum - count * c);
  r.sumSq = sumSq - 2 * c * sum + count * c * c;
  return r;
}

std::int64_t firstIndexOf16(const std::int16_t* x, std::int64_t n, std::int16_t v) {
  return std::find(x, x + n, v) - x;
}

std::int64_t firstIndexOf32(const std::int32_t* x, std::int64_t n, std::int32_t v) {
  return std::find(x, x + n, v) - x;
}

void filterPrep(const std::int16_t* x, std::int64_t n, std::uint64_t* p) {
  std::int64_t i = 0;
#if RIL_AVX2
  if (haveAvx2()) i = filterPrepAvx2(x, n, p);
#endif
#if RIL_SSE2
  const __m128i coef =
      _mm_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(-11) << 16) | 62u));
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
  for (; i < n; ++i) {
    p[i] = static_cast<std::uint64_t>(62 * x[i - 1] - 11 * x[i] + kPrepOffset) * fastdiv::kMagic;
  }
}

namespace {

constexpr std::uint64_t kFeedback = 83 * fastdiv::kMagic;

// One step: the operand of the fast division is q + 83 * yb (see
// divide134RoundEvenFast), here already multiplied by the magic reciprocal:
// p = q * kMagic comes prepared, so the feedback product is the only multiply.
inline std::uint64_t chainStep(std::uint64_t p, std::uint64_t yb) {
  return roundedFromProduct(p + yb * kFeedback);
}

inline std::uint64_t preparedAt(const std::int16_t* x, std::int64_t i) {
  return static_cast<std::uint64_t>(62 * x[i - 1] - 11 * x[i] + kPrepOffset) * fastdiv::kMagic;
}

// Chains of C channels times S segments, stepped together.
template <int C, int S>
void speculativeChunk(const std::uint64_t* p, const std::int16_t* const* x, std::int64_t n,
                      std::int64_t* state, std::int32_t* yb) {
  constexpr std::int64_t W = kWarmUp;
  constexpr std::int64_t D = kChannelStride;
  // Segment 0 has T own outputs, every later one T - W after W warm-up steps.
  const std::int64_t T = (n + (S - 1) * W) / S;
  std::int64_t begin[S + 1];
  begin[0] = 0;
  begin[1] = T;
  for (int j = 1; j < S; ++j) begin[j + 1] = begin[j] + T - W;
  const std::uint64_t* in[S];
  std::int32_t* out[S];
  for (int j = 0; j < S; ++j) {
    in[j] = p + (j == 0 ? 0 : begin[j] - W);
    out[j] = yb + (j == 0 ? 0 : begin[j] - W);
  }

  std::uint64_t y[C][S];
  for (int c = 0; c < C; ++c) {
    y[c][0] = static_cast<std::uint64_t>(state[c]);
    // The filter has unity gain at 0 Hz: the input is a fair first guess.
    for (int j = 1; j < S; ++j) {
      y[c][j] = static_cast<std::uint64_t>(x[c][begin[j] - W - 1] + 2 * fastdiv::kBias);
    }
  }
  // Warm-up: the later segments' outputs here are dropped; segment 0 runs on.
  for (std::int64_t t = 0; t < W; ++t) {
#pragma GCC unroll 4
    for (int c = 0; c < C; ++c) {
      y[c][0] = chainStep(in[0][c * D + t], y[c][0]);
      out[0][c * D + t] = static_cast<std::int32_t>(y[c][0]);
#pragma GCC unroll 8
      for (int j = 1; j < S; ++j) y[c][j] = chainStep(in[j][c * D + t], y[c][j]);
    }
  }
  std::uint64_t guess[C][S];
  for (int c = 0; c < C; ++c) {
    for (int j = 0; j < S; ++j) guess[c][j] = y[c][j];
  }
  for (std::int64_t t = W; t < T; ++t) {
#pragma GCC unroll 4
    for (int c = 0; c < C; ++c) {
#pragma GCC unroll 8
      for (int j = 0; j < S; ++j) {
        y[c][j] = chainStep(in[j][c * D + t], y[c][j]);
        out[j][c * D + t] = static_cast<std::int32_t>(y[c][j]);
      }
    }
  }

  // Check every segment against the true state in front of it, repair where
  // needed, then run the few frames behind the last segment.
  for (int c = 0; c < C; ++c) {
    std::int32_t* yc = yb + c * D;
    const std::int16_t* xc = x[c];
    std::uint64_t prev = static_cast<std::uint32_t>(yc[begin[1] - 1]);
    for (int j = 1; j < S; ++j) {
      if (guess[c][j] != prev) {
        for (std::int64_t i = begin[j]; i < begin[j + 1]; ++i) {
          prev = chainStep(preparedAt(xc, i), prev);
          if (static_cast<std::uint32_t>(yc[i]) == prev) break;  // the runs have met
          yc[i] = static_cast<std::int32_t>(prev);
        }
      }
      prev = static_cast<std::uint32_t>(yc[begin[j + 1] - 1]);
    }
    for (std::int64_t i = begin[S]; i < n; ++i) {
      prev = chainStep(p[c * D + i], prev);
      yc[i] = static_cast<std::int32_t>(prev);
    }
    state[c] = static_cast<std::int64_t>(prev);
  }
}

}  // namespace

void filterChunk(int channels, const std::uint64_t* p, const std::int16_t* const* x, std::int64_t n,
                 std::int64_t* state, std::int32_t* yb) {
  constexpr int kSegmentsStereo = 3;
  constexpr int kSegmentsMono = 5;
  if (channels == 2) {
    if (n >= 4 * kWarmUp * kSegmentsStereo) {
      speculativeChunk<2, kSegmentsStereo>(p, x, n, state, yb);
    } else {
      filterChain2(p, p + kChannelStride, n, state[0], state[1], yb, yb + kChannelStride);
    }
  } else {
    if (n >= 4 * kWarmUp * kSegmentsMono) {
      speculativeChunk<1, kSegmentsMono>(p, x, n, state, yb);
    } else {
      filterChain(p, n, state[0], yb);
    }
  }
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

#if RIL_AVX2
namespace {

// Steps from..to of the lanes: t = p + yb * 83 * kMagic, and
// yb' = (t >> 32) + ((t + kCarry) >> 32), the high half doubled plus the carry
// of the remainder test.
template <int C>
__attribute__((target("avx2"))) void laneSteps(const std::int32_t* qT, std::int32_t* yT,
                                               std::int64_t from, std::int64_t to,
                                               __m256i (*yv)[2]) {
  const __m256i feedback = _mm256_set1_epi64x(static_cast<long long>(kFeedback));
  const __m256i magic = _mm256_set1_epi64x(static_cast<long long>(fastdiv::kMagic));
  const __m256i carry = _mm256_set1_epi64x(fastdiv::kCarry);
  __m256i y[C][2];
  for (int c = 0; c < C; ++c) {
    y[c][0] = yv[c][0];
    y[c][1] = yv[c][1];
  }
  for (std::int64_t t = from; t < to; ++t) {
#pragma GCC unroll 2
    for (int c = 0; c < C; ++c) {
      const std::int32_t* row = qT + (t * C + c) * 8;
#pragma GCC unroll 2
      for (int g = 0; g < 2; ++g) {
        const __m256i pv = _mm256_mul_epu32(
            _mm256_cvtepu32_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 4 * g))),
            magic);
        const __m256i p2 = _mm256_add_epi64(pv, carry);
        const __m256i m = _mm256_mul_epu32(y[c][g], feedback);
        y[c][g] = _mm256_add_epi64(_mm256_srli_epi64(_mm256_add_epi64(pv, m), 32),
                                   _mm256_srli_epi64(_mm256_add_epi64(p2, m), 32));
      }
      const __m256i packed = _mm256_or_si256(y[c][0], _mm256_slli_epi64(y[c][1], 32));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(yT + (t * C + c) * 8), packed);
    }
  }
  for (int c = 0; c < C; ++c) {
    yv[c][0] = y[c][0];
    yv[c][1] = y[c][1];
  }
}

// Eight segments per channel run in the lanes of two vectors. pT receives the
// prepared inputs transposed (row t, channel c: the eight segments' inputs of
// step t), yT the biased outputs the same way.
template <int C>
__attribute__((target("avx2"))) void laneChunkAvx2(const std::int16_t* const* x, std::int64_t T,
                                                   const std::int64_t* start,
                                                   std::uint64_t (*init)[8], std::int32_t* qT,
                                                   std::int32_t* yT, std::uint64_t (*guess)[8]) {
  constexpr std::int64_t W = kWarmUp;
  // Row t of channel c holds the eight segments' factors of step t
  // (62 x[i-1] - 11 x[i] + kPrepOffset of each segment's inputs, transposed on the way).
  const __m128i coef =
      _mm_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(-11) << 16) | 62u));
  const __m256i offset = _mm256_set1_epi32(kPrepOffset);
  for (int c = 0; c < C; ++c) {
    const std::int16_t* src[8];
    for (int j = 0; j < 8; ++j) src[j] = x[c] + start[j];
    std::int64_t t = 0;
    for (; t + 8 <= T; t += 8) {
      __m256i r[8];
#pragma GCC unroll 8
      for (int j = 0; j < 8; ++j) {
        const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src[j] + t - 1));
        const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src[j] + t));
        const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(prev, cur), coef);
        const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(prev, cur), coef);
        r[j] = _mm256_add_epi32(_mm256_set_m128i(hi, lo), offset);
      }
      const __m256i t0 = _mm256_unpacklo_epi32(r[0], r[1]), t1 = _mm256_unpackhi_epi32(r[0], r[1]);
      const __m256i t2 = _mm256_unpacklo_epi32(r[2], r[3]), t3 = _mm256_unpackhi_epi32(r[2], r[3]);
      const __m256i t4 = _mm256_unpacklo_epi32(r[4], r[5]), t5 = _mm256_unpackhi_epi32(r[4], r[5]);
      const __m256i t6 = _mm256_unpacklo_epi32(r[6], r[7]), t7 = _mm256_unpackhi_epi32(r[6], r[7]);
      const __m256i u0 = _mm256_unpacklo_epi64(t0, t2), u1 = _mm256_unpackhi_epi64(t0, t2);
      const __m256i u2 = _mm256_unpacklo_epi64(t1, t3), u3 = _mm256_unpackhi_epi64(t1, t3);
      const __m256i u4 = _mm256_unpacklo_epi64(t4, t6), u5 = _mm256_unpackhi_epi64(t4, t6);
      const __m256i u6 = _mm256_unpacklo_epi64(t5, t7), u7 = _mm256_unpackhi_epi64(t5, t7);
      const __m256i col[8] = {
          _mm256_permute2x128_si256(u0, u4, 0x20), _mm256_permute2x128_si256(u1, u5, 0x20),
          _mm256_permute2x128_si256(u2, u6, 0x20), _mm256_permute2x128_si256(u3, u7, 0x20),
          _mm256_permute2x128_si256(u0, u4, 0x31), _mm256_permute2x128_si256(u1, u5, 0x31),
          _mm256_permute2x128_si256(u2, u6, 0x31), _mm256_permute2x128_si256(u3, u7, 0x31)};
#pragma GCC unroll 8
      for (int k = 0; k < 8; ++k) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(qT + ((t + k) * C + c) * 8), col[k]);
      }
    }
    for (; t < T; ++t) {
      for (int j = 0; j < 8; ++j) {
        qT[(t * C + c) * 8 + j] = 62 * src[j][t - 1] - 11 * src[j][t] + kPrepOffset;
      }
    }
  }

  __m256i y[C][2];
  for (int c = 0; c < C; ++c) {
    for (int g = 0; g < 2; ++g) {
      y[c][g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&init[c][4 * g]));
    }
  }
  laneSteps<C>(qT, yT, 0, W, y);
  for (int c = 0; c < C; ++c) {
    for (int g = 0; g < 2; ++g) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(&guess[c][4 * g]), y[c][g]);
    }
  }
  laneSteps<C>(qT, yT, W, T, y);
}
// Statistics of biased outputs stored as rows of eight, `stride` apart.
__attribute__((target("avx2"))) RunStats rowStatsAvx2(const std::int32_t* base, std::int64_t rows,
                                                      std::int64_t stride, std::int32_t bias) {
  __m256i vmin = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base)), vmax = vmin;
  __m256i vsq = _mm256_setzero_si256();
  std::uint64_t sum = 0;
  std::int64_t r = 0;
  while (r < rows) {
    __m256i vsum = _mm256_setzero_si256();
    const std::int64_t end = std::min(rows, r + kLaneRun);
    for (; r < end; ++r) {
      const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + r * stride));
      vmin = _mm256_min_epi32(vmin, v);
      vmax = _mm256_max_epi32(vmax, v);
      vsum = _mm256_add_epi32(vsum, v);
      vsq = _mm256_add_epi64(vsq, _mm256_mul_epu32(v, v));
      const __m256i odd = _mm256_srli_epi64(v, 32);
      vsq = _mm256_add_epi64(vsq, _mm256_mul_epu32(odd, odd));
    }
    alignas(32) std::uint32_t s[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(s), vsum);
    for (int k = 0; k < 8; ++k) sum += s[k];
  }
  alignas(32) std::int32_t a[8], b[8];
  alignas(32) std::uint64_t q[4];
  _mm256_store_si256(reinterpret_cast<__m256i*>(a), vmin);
  _mm256_store_si256(reinterpret_cast<__m256i*>(b), vmax);
  _mm256_store_si256(reinterpret_cast<__m256i*>(q), vsq);
  std::int32_t mn = a[0], mx = b[0];
  for (int k = 1; k < 8; ++k) {
    mn = std::min(mn, a[k]);
    mx = std::max(mx, b[k]);
  }
  const std::uint64_t sumSq = q[0] + q[1] + q[2] + q[3];
  const std::uint64_t c = static_cast<std::uint32_t>(bias);
  const std::uint64_t count = static_cast<std::uint64_t>(rows) * 8;
  return RunStats{mn - bias, mx - bias, static_cast<std::int64_t>(sum - count * c),
                  sumSq - 2 * c * sum + count * c * c};
}

}  // namespace
#endif

void allowWideVectors(bool allow) {
#if RIL_AVX2
  wideAllowed = allow;
#else
  (void)allow;
#endif
}

namespace {

// Where lane j's output sits in a row: the two vectors of lanes 0-3 and 4-7
// are stored interleaved (0 4 1 5 2 6 3 7).
constexpr int slotOf(int lane) {
  return lane < 4 ? 2 * lane : 2 * (lane - 4) + 1;
}

void combine(RunStats& into, const RunStats& s) {
  into.min = std::min(into.min, s.min);
  into.max = std::max(into.max, s.max);
  into.sum += s.sum;
  into.sumSq += s.sumSq;
}

}  // namespace

void ChunkFilter::run(int channels, const std::int16_t* const* x, std::int64_t n,
                      std::int64_t* state) {
  constexpr std::int64_t D = kChannelStride;
  constexpr std::int64_t W = kWarmUp;
  const std::int32_t bias = static_cast<std::int32_t>(2 * fastdiv::kBias);
  channels_ = channels;
  n_ = n;
  if (natural_.empty()) natural_.assign(2 * D, 0);
  lanes_ = false;
#if RIL_AVX2
  // Mono has too few chains for the vector lanes to pay; the scalar segments
  // serve it better.
  lanes_ = haveAvx2() && channels == 2 && n >= kLanes * 4 * W;
#endif
  if (!lanes_) {
    if (prepared_.empty()) prepared_.assign(2 * D, 0);
    const std::uint64_t* p = prepared_.data();
    for (int c = 0; c < channels; ++c) filterPrep(x[c], n, prepared_.data() + c * D);
    filterChunk(channels, p, x, n, state, natural_.data());
    for (int c = 0; c < channels; ++c)
      stats_[c] = statsOfBiased32(natural_.data() + c * D, n, bias);
    return;
  }
#if RIL_AVX2
  const int C = channels;
  const std::int64_t T = (n + (kLanes - 1) * W) / kLanes;
  steps_ = T;
  begin_[0] = 0;
  begin_[1] = T;
  for (int j = 1; j < kLanes; ++j) begin_[j + 1] = begin_[j] + T - W;
  std::int64_t start[kLanes];
  for (int j = 0; j < kLanes; ++j) start[j] = j == 0 ? 0 : begin_[j] - W;
  alignas(32) std::uint64_t init[2][8];
  alignas(32) std::uint64_t guess[2][8];
  for (int c = 0; c < C; ++c) {
    init[c][0] = static_cast<std::uint64_t>(state[c]);
    for (int j = 1; j < kLanes; ++j) {
      init[c][j] = static_cast<std::uint64_t>(x[c][begin_[j] - W - 1] + 2 * fastdiv::kBias);
    }
  }
  auto prepared = [&](int c, std::int64_t i) { return preparedAt(x[c], i); };
  const std::size_t cells = static_cast<std::size_t>(T * C * 8);
  if (laneInputs_.size() < cells) {
    laneInputs_.resize(cells);
    laneOutputs_.resize(cells);
  }
  if (C == 2) {
    laneChunkAvx2<2>(x, T, start, init, laneInputs_.data(), laneOutputs_.data(), guess);
  } else {
    laneChunkAvx2<1>(x, T, start, init, laneInputs_.data(), laneOutputs_.data(), guess);
  }

  for (int c = 0; c < C; ++c) {
    auto at = [&](std::int64_t row, int lane) -> std::int32_t& {
      return laneOutputs_[static_cast<std::size_t>((row * C + c) * 8 + slotOf(lane))];
    };
    // Check each segment against the true output in front of it; repair
    // serially until the runs meet where the guess was wrong.
    std::uint64_t prev = static_cast<std::uint32_t>(at(T - 1, 0));
    for (int j = 1; j < kLanes; ++j) {
      if (guess[c][j] != prev) {
        for (std::int64_t i = begin_[j]; i < begin_[j + 1]; ++i) {
          prev = chainStep(prepared(c, i), prev);
          std::int32_t& slot = at(W + i - begin_[j], j);
          if (static_cast<std::uint32_t>(slot) == prev) break;  // the runs have met
          slot = static_cast<std::int32_t>(prev);
        }
      }
      prev = static_cast<std::uint32_t>(at(T - 1, j));
    }
    std::int32_t* tail = natural_.data() + c * D;
    for (std::int64_t i = begin_[kLanes]; i < n; ++i) {
      prev = chainStep(prepared(c, i), prev);
      tail[i] = static_cast<std::int32_t>(prev);
    }
    state[c] = static_cast<std::int64_t>(prev);

    // Statistics: all lanes of the rows after the warm-up, segment 0's own
    // outputs during it, and the frames behind the last segment.
    RunStats s = rowStatsAvx2(laneOutputs_.data() + (W * C + c) * 8, T - W, C * 8, bias);
    std::int32_t first[W];
    for (std::int64_t t = 0; t < W; ++t) first[t] = at(t, 0);
    combine(s, statsOfBiased32(first, W, bias));
    if (begin_[kLanes] < n) {
      combine(s, statsOfBiased32(tail + begin_[kLanes], n - begin_[kLanes], bias));
    }
    stats_[c] = s;
  }
#endif
}

std::int32_t ChunkFilter::outputAt(int c, std::int64_t i) const {
  const std::int32_t* tail = natural_.data() + c * kChannelStride;
  if (!lanes_ || i >= begin_[kLanes]) return tail[i];
  int j = 0;
  std::int64_t row = i;
  if (i >= begin_[1]) {
    j = 1 + static_cast<int>((i - begin_[1]) / (steps_ - kWarmUp));
    row = kWarmUp + (i - begin_[j]);
  }
  return laneOutputs_[static_cast<std::size_t>((row * channels_ + c) * 8 + slotOf(j))];
}

std::int64_t ChunkFilter::firstIndexOf(int c, std::int32_t v) const {
  const std::int32_t biased = v + static_cast<std::int32_t>(2 * fastdiv::kBias);
  for (std::int64_t i = 0; i < n_; ++i) {
    if (outputAt(c, i) == biased) return i;
  }
  return n_;
}

}  // namespace ril::kernels
