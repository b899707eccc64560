#include "analysis/sample_kernels.h"

#include <algorithm>
#include <cstring>

#include "analysis/deemphasis_filter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#define RIL_SSE2 1
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

void toPlanar16(const unsigned char* bytes, std::int64_t frames, int channels, int bitsPerSample,
                std::int16_t* left, std::int16_t* right) {
  std::int64_t i = 0;
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
#if RIL_SSE2
  if (n >= 8) {
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
#if RIL_SSE2
  if (n >= 4) {
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

void filterPrep(const std::int16_t* x, std::int64_t n, std::int32_t* q) {
  std::int64_t i = 0;
#if RIL_SSE2
  const __m128i coef =
      _mm_set1_epi32(static_cast<int>((static_cast<std::uint32_t>(-11) << 16) | 62u));
  const __m128i offset = _mm_set1_epi32(kPrepOffset);
  for (; i + 8 <= n; i += 8) {
    const __m128i prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i - 1));
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
    // Pairs (x[i-1], x[i]) times (62, -11).
    const __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi16(prev, cur), coef);
    const __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi16(prev, cur), coef);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q + i), _mm_add_epi32(lo, offset));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q + i + 4), _mm_add_epi32(hi, offset));
  }
#endif
  for (; i < n; ++i) q[i] = 62 * x[i - 1] - 11 * x[i] + kPrepOffset;
}

namespace {

constexpr std::uint64_t kFeedback = 83 * fastdiv::kMagic;

// One step: the operand of the fast division is q + 83 * yb (see
// divide134RoundEvenFast); both floors come from the same product, and the
// product of the feedback term is the only multiply on the dependency chain.
inline std::uint64_t chainStep(std::uint32_t q, std::uint64_t yb) {
  const std::uint64_t p = q * fastdiv::kMagic;
  std::uint64_t p2 = p + fastdiv::kSecond;
  // Keep the second floor's offset on the input side, off the chain.
  asm("" : "+r"(p2));
  const std::uint64_t m = yb * kFeedback;
  return ((p + m) >> fastdiv::kShift) + ((p2 + m) >> fastdiv::kShift);
}

}  // namespace

void filterChain(const std::int32_t* q, std::int64_t n, std::int64_t& state, std::int32_t* yb) {
  std::uint64_t y = static_cast<std::uint64_t>(state);
  for (std::int64_t i = 0; i < n; ++i) {
    y = chainStep(static_cast<std::uint32_t>(q[i]), y);
    yb[i] = static_cast<std::int32_t>(y);
  }
  state = static_cast<std::int64_t>(y);
}

void filterChain2(const std::int32_t* q0, const std::int32_t* q1, std::int64_t n,
                  std::int64_t& state0, std::int64_t& state1, std::int32_t* yb0,
                  std::int32_t* yb1) {
  std::uint64_t y0 = static_cast<std::uint64_t>(state0);
  std::uint64_t y1 = static_cast<std::uint64_t>(state1);
  for (std::int64_t i = 0; i < n; ++i) {
    y0 = chainStep(static_cast<std::uint32_t>(q0[i]), y0);
    y1 = chainStep(static_cast<std::uint32_t>(q1[i]), y1);
    yb0[i] = static_cast<std::int32_t>(y0);
    yb1[i] = static_cast<std::int32_t>(y1);
  }
  state0 = static_cast<std::int64_t>(y0);
  state1 = static_cast<std::int64_t>(y1);
}

}  // namespace ril::kernels
