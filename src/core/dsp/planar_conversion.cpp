#include "core/dsp/planar_conversion.h"

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

inline std::int16_t scale8(unsigned char b) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>((b ^ 0x80u) << 8));
}

inline std::int16_t load16(const unsigned char* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

#if RIL_AVX2
// The conversion with 256-bit vectors; gives the number of frames done.
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
#endif

}  // namespace

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

}  // namespace ril::kernels
