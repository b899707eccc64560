#include "core/dsp/double_filter/double_conversion.h"

#include <algorithm>
#include <cstring>

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

inline double storedValue(const unsigned char* in, std::int64_t index, int bits) {
  if (bits == 8) return static_cast<double>(static_cast<int>(in[index]) - 128);
  std::int16_t s;
  std::memcpy(&s, in + 2 * index, sizeof s);
  return static_cast<double>(s);
}

// The rounding of one value: floor(y + offset) limited to [low, high];
// `outside` is set when it had to be limited.
struct Rounding {
  double offset;
  double low;
  double high;
  std::int64_t operator()(double y, bool& outside) const {
    const double t = y + offset;
    auto r = static_cast<std::int64_t>(std::clamp(t, low - 1.0, high + 1.0));
    if (static_cast<double>(r) > t) --r;
    outside |= r > static_cast<std::int64_t>(high) || r < static_cast<std::int64_t>(low);
    return std::clamp(r, static_cast<std::int64_t>(low), static_cast<std::int64_t>(high));
  }
};

void storeOne(unsigned char* out, std::int64_t index, int bits, std::int64_t r) {
  if (bits == 8) {
    out[index] = static_cast<unsigned char>(r);
  } else {
    const auto s = static_cast<std::int16_t>(r);
    std::memcpy(out + 2 * index, &s, sizeof s);
  }
}

#if RIL_AVX2
// toScaledDoubles for 16-bit stereo, four frames at a time; returns the
// frames done.
__attribute__((target("avx2"))) std::int64_t toScaledDoubles16Avx2(const unsigned char* in,
                                                                   std::int64_t n, double factor,
                                                                   double* x0, double* x1) {
  const __m256d f = _mm256_set1_pd(factor);
  std::int64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * i));
    const __m128i left = _mm_srai_epi32(_mm_slli_epi32(w, 16), 16);
    const __m128i right = _mm_srai_epi32(w, 16);
    _mm256_storeu_pd(x0 + i, _mm256_mul_pd(_mm256_cvtepi32_pd(left), f));
    _mm256_storeu_pd(x1 + i, _mm256_mul_pd(_mm256_cvtepi32_pd(right), f));
  }
  return i;
}

// floor(y + 0.5) of four values limited to the 16-bit range; `flag` marks
// those that had to be limited.
__attribute__((target("avx2"))) inline __m128i floorLimited16(__m256d y, __m256d& flag) {
  const __m256d low = _mm256_set1_pd(-32768.0);
  const __m256d t = _mm256_add_pd(y, _mm256_set1_pd(0.5));
  flag = _mm256_or_pd(flag, _mm256_or_pd(_mm256_cmp_pd(t, _mm256_set1_pd(32768.0), _CMP_GE_OQ),
                                         _mm256_cmp_pd(t, low, _CMP_LT_OQ)));
  const __m256d limited = _mm256_min_pd(_mm256_max_pd(t, low), _mm256_set1_pd(32767.0));
  return _mm256_cvtpd_epi32(_mm256_floor_pd(limited));
}

// storeRounded for 16 bits, four frames at a time, with floor() itself;
// returns the frames done and adds the limited channels to `outside`.
__attribute__((target("avx2"))) std::int64_t storeRounded16Avx2(const double* y0, const double* y1,
                                                                std::int64_t n, int channels,
                                                                unsigned char* out,
                                                                unsigned& outside) {
  __m256d flags[2] = {_mm256_setzero_pd(), _mm256_setzero_pd()};
  std::int64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m128i r0 = floorLimited16(_mm256_loadu_pd(y0 + i), flags[0]);
    if (channels == 2) {
      const __m128i r1 = floorLimited16(_mm256_loadu_pd(y1 + i), flags[1]);
      const __m128i words = _mm_packs_epi32(_mm_unpacklo_epi32(r0, r1), _mm_unpackhi_epi32(r0, r1));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), words);
    } else {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2 * i), _mm_packs_epi32(r0, r0));
    }
  }
  for (int c = 0; c < 2; ++c) {
    if (_mm256_movemask_pd(flags[c]) != 0) outside |= 1u << c;
  }
  return i;
}
// Eight words scaled and rounded as the modification rounds, as 32-bit
// values; `flag` marks those outside the 16-bit range.
__attribute__((target("avx2"))) inline __m256i scaleRounded8(__m128i words, __m256d factor,
                                                             __m256d& flag) {
  const __m256i wide = _mm256_cvtepi16_epi32(words);
  const __m256d lo = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(wide)), factor);
  const __m256d hi = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(wide, 1)), factor);
  return _mm256_set_m128i(floorLimited16(hi, flag), floorLimited16(lo, flag));
}

__attribute__((target("avx2"))) std::int64_t scaleRounded16Avx2(const std::uint16_t* in,
                                                                std::uint16_t* out, std::int64_t n,
                                                                double factor, bool& outside) {
  const __m256d f = _mm256_set1_pd(factor);
  __m256d flag = _mm256_setzero_pd();
  std::int64_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i a =
        scaleRounded8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)), f, flag);
    const __m256i b =
        scaleRounded8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 8)), f, flag);
    // packs works within each 128-bit half; the permute puts the words in order.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(a, b), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), packed);
  }
  if (_mm256_movemask_pd(flag) != 0) outside = true;
  return i;
}
#endif

}  // namespace

void toScaledDoubles(const unsigned char* in, std::int64_t n, int channels, int bitsPerSample,
                     double factor, double* x0, double* x1) {
  std::int64_t i = 0;
#if RIL_AVX2
  if (bitsPerSample == 16 && channels == 2 && haveAvx2()) {
    i = toScaledDoubles16Avx2(in, n, factor, x0, x1);
  }
#endif
#if RIL_SSE2
  if (bitsPerSample == 16 && channels == 2) {
    const __m128d f = _mm_set1_pd(factor);
    for (; i + 2 <= n; i += 2) {
      std::int64_t pair;
      std::memcpy(&pair, in + 4 * i, sizeof pair);
      const __m128i w = _mm_cvtsi64_si128(pair);                       // L0 R0 L1 R1
      const __m128i left = _mm_srai_epi32(_mm_slli_epi32(w, 16), 16);  // sign-extended
      const __m128i right = _mm_srai_epi32(w, 16);
      _mm_storeu_pd(x0 + i, _mm_mul_pd(_mm_cvtepi32_pd(left), f));
      _mm_storeu_pd(x1 + i, _mm_mul_pd(_mm_cvtepi32_pd(right), f));
    }
  }
#endif
  for (; i < n; ++i) {
    x0[i] = storedValue(in, i * channels, bitsPerSample) * factor;
    if (channels == 2) x1[i] = storedValue(in, i * channels + 1, bitsPerSample) * factor;
  }
}

unsigned storeRounded(const double* y0, const double* y1, std::int64_t n, int channels,
                      int bitsPerSample, unsigned char* out) {
  const Rounding rounding =
      bitsPerSample == 8 ? Rounding{128.5, 0.0, 255.0} : Rounding{0.5, -32768.0, 32767.0};
  bool outside[2] = {false, false};
  std::int64_t i = 0;
  unsigned wide = 0;
#if RIL_AVX2
  if (bitsPerSample == 16 && haveAvx2()) i = storeRounded16Avx2(y0, y1, n, channels, out, wide);
#endif
#if RIL_SSE2
  if (bitsPerSample == 16) {
    // floor(t) > 32767 exactly when t >= 32768, < -32768 when t < -32768;
    // within the limits the truncation, stepped down where it went up, is
    // the floor.
    const __m128d offset = _mm_set1_pd(0.5);
    const __m128d low = _mm_set1_pd(-32768.0);
    const __m128d high = _mm_set1_pd(32767.0);
    const __m128d beyond = _mm_set1_pd(32768.0);
    __m128d out0 = _mm_setzero_pd(), out1 = _mm_setzero_pd();
    auto floorLimited = [&](const double* y, __m128d& flags) {
      const __m128d t = _mm_add_pd(_mm_loadu_pd(y), offset);
      flags = _mm_or_pd(flags, _mm_or_pd(_mm_cmpge_pd(t, beyond), _mm_cmplt_pd(t, low)));
      const __m128d c = _mm_min_pd(_mm_max_pd(t, low), high);
      __m128i r = _mm_cvttpd_epi32(c);
      const __m128d up = _mm_cmpgt_pd(_mm_cvtepi32_pd(r), c);
      return _mm_add_epi32(r, _mm_shuffle_epi32(_mm_castpd_si128(up), 0x08));
    };
    for (; i + 2 <= n; i += 2) {
      const __m128i r0 = floorLimited(y0 + i, out0);
      if (channels == 2) {
        const __m128i r1 = floorLimited(y1 + i, out1);
        const __m128i words = _mm_packs_epi32(_mm_unpacklo_epi32(r0, r1), r0);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * i), words);
      } else {
        const std::int32_t words = _mm_cvtsi128_si32(_mm_packs_epi32(r0, r0));
        std::memcpy(out + 2 * i, &words, sizeof words);
      }
    }
    outside[0] = _mm_movemask_pd(out0) != 0;
    outside[1] = _mm_movemask_pd(out1) != 0;
  }
#endif
  for (; i < n; ++i) {
    storeOne(out, i * channels, bitsPerSample, rounding(y0[i], outside[0]));
    if (channels == 2) {
      storeOne(out, i * channels + 1, bitsPerSample, rounding(y1[i], outside[1]));
    }
  }
  return wide | (outside[0] ? 1u : 0u) | (outside[1] ? 2u : 0u);
}

std::int64_t scaleRounded16(const std::uint16_t* in, std::uint16_t* out, std::int64_t n,
                            double factor, bool& outside) {
#if RIL_AVX2
  if (haveAvx2()) return scaleRounded16Avx2(in, out, n, factor, outside);
#endif
  (void)in, (void)out, (void)n, (void)factor, (void)outside;
  return 0;
}

}  // namespace ril::kernels
