#include "core/dsp/formats/sample_codec.h"

#include <bit>
#include <cstring>

#include "core/dsp/cpu_features.h"
#include "core/dsp/formats/sample_words.h"
#include "core/dsp/formats/stereo_lanes.h"

namespace ril::kernels {

namespace {

#if RIL_AVX2
// Doubles rounded to little-endian 32-bit floats, four at a time (the
// conversion rounds to nearest as the scalar one does).
__attribute__((target("avx2"))) std::int64_t storeFloats32(const double* v, std::int64_t count,
                                                           unsigned char* p, std::size_t step) {
  std::int64_t i = 0;
  for (; i + 4 <= count; i += 4, p += 4 * step) {
    const __m128i f = _mm_castps_si128(_mm256_cvtpd_ps(_mm256_loadu_pd(v + i)));
    const auto w0 = static_cast<std::uint32_t>(_mm_cvtsi128_si32(f));
    const auto w1 = static_cast<std::uint32_t>(_mm_extract_epi32(f, 1));
    const auto w2 = static_cast<std::uint32_t>(_mm_extract_epi32(f, 2));
    const auto w3 = static_cast<std::uint32_t>(_mm_extract_epi32(f, 3));
    std::memcpy(p, &w0, 4);
    std::memcpy(p + step, &w1, 4);
    std::memcpy(p + 2 * step, &w2, 4);
    std::memcpy(p + 3 * step, &w3, 4);
  }
  return i;
}
#endif

#if RIL_AVX2
// Four decoded samples, as integers or as doubles.
__attribute__((target("avx2"))) inline void storeFour(std::int32_t* out, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
}
__attribute__((target("avx2"))) inline void storeFour(double* out, __m128i v) {
  _mm256_storeu_pd(out, _mm256_cvtepi32_pd(v));
}

// One channel of little-endian stereo 24-bit frames, four samples from one
// 32-byte load (the frames 6 bytes apart), while the load stays within the
// next two frames' bytes; returns how many samples were done.
template <typename Out>
__attribute__((target("avx2"))) std::int64_t stereo24(const unsigned char* p, std::int64_t count,
                                                      Out* out) {
  // Each sample's bytes into the top of a 32-bit lane: samples 0 to 2 from
  // the low 16 bytes, sample 3 from the high ones.
  const __m256i place =
      _mm256_setr_epi8(-1, 0, 1, 2, -1, 6, 7, 8, -1, 12, 13, 14, -1, -1, -1, -1, -1, 2, 3, 4, -1,
                       -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m256i order = _mm256_setr_epi32(0, 1, 2, 4, 3, 5, 6, 7);
  std::int64_t i = 0;
  for (; i + 6 <= count; i += 4, p += 24) {
    const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const __m256i lanes = _mm256_srai_epi32(_mm256_shuffle_epi8(bytes, place), 8);
    storeFour(out + i, _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(lanes, order)));
  }
  return i;
}

// Little-endian 24-bit samples one after the other (mono, or every channel
// as one run): four from each 16-byte load, while the load stays within the
// samples' bytes.
template <typename Out>
__attribute__((target("avx2"))) std::int64_t packed24(const unsigned char* p, std::int64_t count,
                                                      Out* out) {
  const __m128i place = _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
  std::int64_t i = 0;
  for (; i + 6 <= count; i += 4, p += 12) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    storeFour(out + i, _mm_srai_epi32(_mm_shuffle_epi8(bytes, place), 8));
  }
  return i;
}

// One channel of little-endian stereo 32-bit float frames into doubles, four
// from one 32-byte load, while the load stays within the frames.
__attribute__((target("avx2"))) std::int64_t stereoFloats(const unsigned char* p,
                                                          std::int64_t count, double* out) {
  const __m256i evens = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
  std::int64_t i = 0;
  for (; i + 5 <= count; i += 4, p += 32) {
    const __m256 v = _mm256_loadu_ps(reinterpret_cast<const float*>(p));
    const __m256 picked = _mm256_permutevar8x32_ps(v, evens);
    _mm256_storeu_pd(out + i, _mm256_cvtps_pd(_mm256_castps256_ps128(picked)));
  }
  return i;
}

// Packed float samples (mono, or every channel as one run): four to a load.
__attribute__((target("avx2"))) std::int64_t packedFloats(const unsigned char* p,
                                                          std::int64_t count, double* out) {
  std::int64_t i = 0;
  for (; i + 4 <= count; i += 4, p += 16) {
    _mm256_storeu_pd(out + i, _mm256_cvtps_pd(_mm_loadu_ps(reinterpret_cast<const float*>(p))));
  }
  return i;
}
#endif

#if RIL_AVX2
// GCC 12's AVX-512 broadcasts start from an undefined vector it then warns of.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

// Eight decoded samples, as integers or as doubles.
__attribute__((target("avx512f"))) inline void storeEight(std::int32_t* out, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), v);
}
__attribute__((target("avx512f"))) inline void storeEight(double* out, __m256i v) {
  _mm512_storeu_pd(out, _mm512_cvtepi32_pd(v));
}

// One channel of little-endian stereo 24-bit frames, eight samples from a
// load that ends at the eighth one's last byte: each sample at the top of a
// 32-bit lane, shifted down with the sign.
template <typename Out>
__attribute__((target("avx512f,avx512bw"))) std::int64_t stereo24Avx512(const unsigned char* p,
                                                                        std::int64_t count,
                                                                        Out* out) {
  const __m512i evens = evenLanesFirst();
  std::int64_t i = 0;
  for (; i + 8 <= count; i += 8, p += 48) {
    // Whole 64-byte loads while twelve frames remain, masked ones at the end.
    const __m512i bytes = i + 12 <= count ? _mm512_loadu_si512(p)
                                          : _mm512_maskz_loadu_epi8((__mmask64{1} << 45) - 1, p);
    const __m512i lanes = _mm512_srai_epi32(samples24Times256(bytes), 8);
    storeEight(out + i, _mm512_castsi512_si256(_mm512_permutexvar_epi32(evens, lanes)));
  }
  return i;
}

// One channel of little-endian stereo 32-bit float frames into doubles,
// eight from a load that ends at the eighth sample.
__attribute__((target("avx512f"))) std::int64_t stereoFloatsAvx512(const unsigned char* p,
                                                                   std::int64_t count,
                                                                   double* out) {
  const __m512i evens = evenLanesFirst();
  std::int64_t i = 0;
  for (; i + 8 <= count; i += 8, p += 64) {
    const __m512 w = i + 9 <= count ? _mm512_loadu_ps(p) : _mm512_maskz_loadu_ps(0x7FFF, p);
    const __m512 v = _mm512_permutexvar_ps(evens, w);
    _mm512_storeu_pd(out + i, _mm512_cvtps_pd(_mm512_castps512_ps256(v)));
  }
  return i;
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
#endif

template <int Bytes, bool Big, typename Out>
void signedLoop(const unsigned char* p, std::size_t step, std::int64_t count, Out* out) {
  std::int64_t i = 0;
#if RIL_AVX2
  if constexpr (Bytes == 3 && !Big) {
    if (step == 6 && haveAvx512()) {
      i = stereo24Avx512(p, count, out);
      p += static_cast<std::size_t>(i) * step;
    } else if ((step == 3 || step == 6) && haveAvx2()) {
      i = step == 3 ? packed24(p, count, out) : stereo24(p, count, out);
      p += static_cast<std::size_t>(i) * step;
    }
  }
#endif
  if constexpr (Bytes == 3 && !Big) {
    // One four-byte load a sample, its top byte shifted out: the byte after
    // a sample is the next one's first (step >= 3), so all but the last.
    for (; i + 1 < count; ++i, p += step) {
      std::uint32_t w;
      std::memcpy(&w, p, 4);
      out[i] = static_cast<std::int32_t>(w << 8) >> 8;
    }
  }
  for (; i < count; ++i, p += step) out[i] = signedAt<Bytes, Big>(p);
}

template <typename Out, typename Expand>
void byteLoop(const unsigned char* p, std::size_t step, std::int64_t count, Out* out,
              Expand expand) {
  for (std::int64_t i = 0; i < count; ++i, p += step) out[i] = expand(*p);
}

template <bool Big, typename Out>
void integersOf(const unsigned char* p, std::size_t step, const SampleFormat& f, std::int64_t count,
                Out* out) {
  switch (f.encoding) {
    case SampleEncoding::kAlaw:
      return byteLoop(p, step, count, out, alawToLinear);
    case SampleEncoding::kMulaw:
      return byteLoop(p, step, count, out, mulawToLinear);
    default:
      break;
  }
  switch (f.containerBytes) {
    case 1:
      return byteLoop(p, step, count, out, [](std::uint8_t b) { return int{b} - 128; });
    case 2:
      return signedLoop<2, Big>(p, step, count, out);
    case 3:
      return signedLoop<3, Big>(p, step, count, out);
    default:
      return signedLoop<4, Big>(p, step, count, out);
  }
}

template <bool Big>
void floatsOf(const unsigned char* p, std::size_t step, const SampleFormat& f, std::int64_t count,
              double* out) {
  if (f.containerBytes == 8) {
    for (std::int64_t i = 0; i < count; ++i, p += step) {
      out[i] = std::bit_cast<double>(rawAt<8, Big>(p));
    }
    return;
  }
  std::int64_t i = 0;
#if RIL_AVX2
  if (!Big && step == 8 && haveAvx512()) {
    i = stereoFloatsAvx512(p, count, out);
    p += static_cast<std::size_t>(i) * step;
  } else if (!Big && (step == 4 || step == 8) && haveAvx2()) {
    i = step == 4 ? packedFloats(p, count, out) : stereoFloats(p, count, out);
    p += static_cast<std::size_t>(i) * step;
  }
#endif
  for (; i < count; ++i, p += step) {
    out[i] = std::bit_cast<float>(static_cast<std::uint32_t>(rawAt<4, Big>(p)));
  }
}

template <int Bytes, bool Big>
void storeLoop(const std::int64_t* v, std::int64_t count, unsigned char* p, std::size_t step) {
  std::int64_t i = 0;
  if constexpr (Bytes == 3 && !Big) {
    // Packed samples: one four-byte store a sample, its top byte overwritten
    // by the next sample's store; the last one byte by byte.
    if (step == 3) {
      for (; i + 1 < count; ++i, p += step) {
        const auto w = static_cast<std::uint32_t>(v[i]);
        std::memcpy(p, &w, 4);
      }
    }
  }
  for (; i < count; ++i, p += step) {
    putRaw<Bytes, Big>(p, static_cast<std::uint64_t>(v[i]));
  }
}

template <bool Big>
void storeIntegersIn(const std::int64_t* v, std::int64_t count, int bytes, unsigned char* p,
                     std::size_t step) {
  switch (bytes) {
    case 2:
      return storeLoop<2, Big>(v, count, p, step);
    case 3:
      return storeLoop<3, Big>(v, count, p, step);
    default:
      return storeLoop<4, Big>(v, count, p, step);
  }
}

template <bool Big>
void storeFloatsIn(const double* v, std::int64_t count, int bytes, unsigned char* p,
                   std::size_t step) {
  if (bytes == 8) {
    for (std::int64_t i = 0; i < count; ++i, p += step) {
      putRaw<8, Big>(p, std::bit_cast<std::uint64_t>(v[i]));
    }
    return;
  }
  std::int64_t i = 0;
#if RIL_AVX2
  if (!Big && haveAvx2()) {
    i = storeFloats32(v, count, p, step);
    p += static_cast<std::size_t>(i) * step;
  }
#endif
  for (; i < count; ++i, p += step) {
    putRaw<4, Big>(p, std::bit_cast<std::uint32_t>(static_cast<float>(v[i])));
  }
}

}  // namespace

std::int32_t alawToLinear(std::uint8_t byte) {
  const int a = byte ^ 0x55;
  int t = (a & 0x0F) << 4;
  const int segment = (a & 0x70) >> 4;
  if (segment == 0) {
    t += 8;
  } else {
    t = (t + 0x108) << (segment - 1);
  }
  return (a & 0x80) != 0 ? t : -t;
}

std::int32_t mulawToLinear(std::uint8_t byte) {
  const int u = ~byte & 0xFF;
  const int t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
  return (u & 0x80) != 0 ? 0x84 - t : t - 0x84;
}

void storedIntegers(const unsigned char* bytes, std::size_t frameBytes, const SampleFormat& format,
                    std::int64_t count, std::int32_t* out) {
  if (format.bigEndian) {
    integersOf<true>(bytes, frameBytes, format, count, out);
  } else {
    integersOf<false>(bytes, frameBytes, format, count, out);
  }
}

void storedValues(const unsigned char* bytes, std::size_t frameBytes, const SampleFormat& format,
                  std::int64_t count, double* out) {
  if (format.isFloat()) {
    if (format.bigEndian) {
      floatsOf<true>(bytes, frameBytes, format, count, out);
    } else {
      floatsOf<false>(bytes, frameBytes, format, count, out);
    }
  } else if (format.bigEndian) {
    integersOf<true>(bytes, frameBytes, format, count, out);
  } else {
    integersOf<false>(bytes, frameBytes, format, count, out);
  }
}

void storeIntegers(const std::int64_t* values, std::int64_t count, const SampleFormat& format,
                   unsigned char* bytes, std::size_t frameBytes) {
  if (format.containerBytes == 1) {
    for (std::int64_t i = 0; i < count; ++i) {
      bytes[static_cast<std::size_t>(i) * frameBytes] = static_cast<unsigned char>(values[i] + 128);
    }
  } else if (format.bigEndian) {
    storeIntegersIn<true>(values, count, format.containerBytes, bytes, frameBytes);
  } else {
    storeIntegersIn<false>(values, count, format.containerBytes, bytes, frameBytes);
  }
}

void storeFloats(const double* values, std::int64_t count, const SampleFormat& format,
                 unsigned char* bytes, std::size_t frameBytes) {
  if (format.bigEndian) {
    storeFloatsIn<true>(values, count, format.containerBytes, bytes, frameBytes);
  } else {
    storeFloatsIn<false>(values, count, format.containerBytes, bytes, frameBytes);
  }
}

}  // namespace ril::kernels
