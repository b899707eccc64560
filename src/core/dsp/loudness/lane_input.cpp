#include "core/dsp/loudness/lane_input.h"

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

#if RIL_AVX2
// Eight 16-bit words at p, every `stride`-th (1 or 2) taken: as doubles / 32768.
__attribute__((target("avx2"))) std::int64_t words16Avx2(const unsigned char* p, int stride,
                                                         std::int64_t count, double* out) {
  const __m256d scale = _mm256_set1_pd(1.0 / 32768.0);
  std::int64_t i = 0;
  // Two channels: the last load reaches one word past the eighth frame.
  const std::int64_t whole = stride == 1 ? count : count - 1;
  for (; i + 8 <= whole; i += 8) {
    __m128i w;
    if (stride == 1) {
      w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
    } else {
      // Sixteen words, of which the even ones are this channel's.
      const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * i));
      const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 4 * i + 16));
      const __m128i even = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
      w = _mm_unpacklo_epi64(_mm_shuffle_epi8(a, even), _mm_shuffle_epi8(b, even));
    }
    const __m256i v = _mm256_cvtepi16_epi32(w);
    _mm256_storeu_pd(out + i, _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(v)), scale));
    _mm256_storeu_pd(out + i + 4,
                     _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(v, 1)), scale));
  }
  return i;
}

// GCC 12's AVX-512 conversions start from an undefined vector it then warns of.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

// Sixteen 32-bit words as doubles / 32768 at out.
__attribute__((target("avx512f"), always_inline)) inline void storeScaled(__m512i v, double* out) {
  const __m512d scale = _mm512_set1_pd(1.0 / 32768.0);
  _mm512_storeu_pd(out, _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(v)), scale));
  _mm512_storeu_pd(out + 8,
                   _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(v, 1)), scale));
}

// The same, sixteen frames at a time in AVX-512: every word becomes a 32-bit
// lane, and of two channels the first is the lane's low half, the second its
// high half, each moved down with its sign.
__attribute__((target("avx512f"))) std::int64_t words16Avx512(const unsigned char* p, int stride,
                                                              std::int64_t count, double* out) {
  std::int64_t i = 0;
  // Two channels: the load of the second reaches one word past the frames.
  const std::int64_t whole = stride == 1 ? count : count - 1;
  for (; i + 16 <= whole; i += 16) {
    __m512i v;
    if (stride == 1) {
      v = _mm512_cvtepi16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2 * i)));
    } else {
      v = _mm512_srai_epi32(_mm512_slli_epi32(_mm512_loadu_si512(p + 4 * i), 16), 16);
    }
    storeScaled(v, out + i);
  }
  return i;
}

// Sixteen stereo frames a load: the left words are the 32-bit lanes' low
// halves, the right ones their high halves.
__attribute__((target("avx512f"))) std::int64_t pairs16Avx512(const unsigned char* p,
                                                              std::int64_t count, double* left,
                                                              double* right) {
  std::int64_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m512i v = _mm512_loadu_si512(p + 4 * i);
    const __m512i l = _mm512_srai_epi32(_mm512_slli_epi32(v, 16), 16);
    const __m512i r = _mm512_srai_epi32(v, 16);
    storeScaled(l, left + i);
    storeScaled(r, right + i);
  }
  return i;
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

}  // namespace

void pcmToDoubles(const unsigned char* bytes, int channels, int bitsPerSample, int channel,
                  std::int64_t first, std::int64_t count, double* out) {
  const std::int64_t stride = channels;
  if (bitsPerSample == 8) {
    const unsigned char* p = bytes + first * stride + channel;
    for (std::int64_t i = 0; i < count; ++i) {
      out[i] = static_cast<double>(static_cast<int>(p[i * stride]) - 128) * (1.0 / 128.0);
    }
    return;
  }
  const unsigned char* p = bytes + (first * stride + channel) * 2;
  std::int64_t i = 0;
#if RIL_AVX2
  if (stride <= 2 && haveAvx512()) {
    i = words16Avx512(p, static_cast<int>(stride), count, out);
  } else if (stride <= 2 && haveAvx2()) {
    i = words16Avx2(p, static_cast<int>(stride), count, out);
  }
#endif
  for (; i < count; ++i) {
    const unsigned char* w = p + i * stride * 2;
    const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(w[0] | w[1] << 8));
    out[i] = static_cast<double>(v) * (1.0 / 32768.0);
  }
}

void pcmPairToDoubles(const unsigned char* bytes, std::int64_t first, std::int64_t count,
                      double* left, double* right) {
  std::int64_t i = 0;
#if RIL_AVX2
  if (haveAvx512()) i = pairs16Avx512(bytes + first * 4, count, left, right);
#endif
  if (i < count) {
    pcmToDoubles(bytes, 2, 16, 0, first + i, count - i, left + i);
    pcmToDoubles(bytes, 2, 16, 1, first + i, count - i, right + i);
  }
}

}  // namespace ril::kernels
