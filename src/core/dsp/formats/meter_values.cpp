#include "core/dsp/formats/meter_values.h"

#include "core/dsp/cpu_features.h"
#include "core/dsp/formats/float_guard.h"
#include "core/dsp/formats/format_runs.h"
#include "core/dsp/formats/sample_codec.h"
#include "core/dsp/formats/stereo_lanes.h"

namespace ril::kernels {

namespace {

// meterValues() sample by sample (but for storedValues()' own vector paths).
void plainValues(const unsigned char* bytes, std::size_t frameBytes, const SampleFormat& format,
                 std::int64_t count, double* out) {
  storedValues(bytes, frameBytes, format, count, out);
  if (format.isFloat()) {
    if (!anyUnusual(out, count, kMeterMagnitude)) return;
    for (std::int64_t i = 0; i < count; ++i) out[i] = boundedInput(out[i], kMeterMagnitude);
    return;
  }
  const double scale = 1.0 / format.fullScale();  // a power of two: exact
  scaleValues(out, count, scale, 0.0);
}

#if RIL_AVX2
// GCC 12's AVX-512 conversions start from an undefined vector it then warns of.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

// Sixteen 32-bit integers of eight stereo frames in their order (L0 R0 L1 R1
// ...): the left ones times `scale` to `left`, and with `Both` the right
// ones to `right`. Every product is exact: an integer of at most 32 bits
// times a power of two.
template <bool Both>
__attribute__((target("avx512f"), always_inline)) inline void storePairs(__m512i v, __m512d scale,
                                                                         double* left,
                                                                         double* right) {
  const __m512i s = _mm512_permutexvar_epi32(evenLanesFirst(), v);
  _mm512_storeu_pd(left, _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_castsi512_si256(s)), scale));
  if constexpr (Both) {
    _mm512_storeu_pd(right,
                     _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(s, 1)), scale));
  }
}

// The kernels below take eight stereo frames at a time from `p`, the first
// frame's first byte. With `Both` they give both channels; without, only
// the first, and `p` may point at any channel's first byte. A load reaches
// 64 bytes while the frames go on that far, and stops at the last sample's
// last byte at the end (masked loads, kept to the end: on this processor
// they are slower to come from another core's cache).

// 24-bit: each sample at the top of a 32-bit lane, which then holds the
// sample times 256.
template <bool Both>
__attribute__((target("avx512f,avx512bw"))) std::int64_t pairs24(const unsigned char* p,
                                                                 std::int64_t count, double scale,
                                                                 double* left, double* right) {
  const __m512d s = _mm512_set1_pd(scale / 256.0);  // powers of two: exact
  const __mmask64 bytes = (__mmask64{1} << (Both ? 48 : 45)) - 1;
  std::int64_t i = 0;
  for (; i + 8 <= count; i += 8, p += 48) {
    // Masked loads only at the end: whole ones while twelve frames remain.
    const __m512i v = i + 12 <= count ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi8(bytes, p);
    storePairs<Both>(samples24Times256(v), s, left + i, Both ? right + i : nullptr);
  }
  return i;
}

// 32-bit integers.
template <bool Both>
__attribute__((target("avx512f"))) std::int64_t pairs32(const unsigned char* p, std::int64_t count,
                                                        double scale, double* left, double* right) {
  const __m512d s = _mm512_set1_pd(scale);
  const __mmask16 words = Both ? 0xFFFF : 0x7FFF;
  std::int64_t i = 0;
  for (; i + 8 <= count; i += 8, p += 64) {
    const __m512i v = i + 9 <= count ? _mm512_loadu_si512(p) : _mm512_maskz_loadu_epi32(words, p);
    storePairs<Both>(v, s, left + i, Both ? right + i : nullptr);
  }
  return i;
}

// 32-bit float. Eight frames holding a value that is not finite or beyond
// kMeterMagnitude (as a float: exact) go the plain way.
template <bool Both>
__attribute__((target("avx512f,avx512dq"))) std::int64_t pairsFloat(const unsigned char* p,
                                                                    const SampleFormat& format,
                                                                    std::int64_t count,
                                                                    double* left, double* right) {
  static_assert(static_cast<double>(static_cast<float>(kMeterMagnitude)) == kMeterMagnitude);
  const __m512i split = evenLanesFirst();
  const __m512 bound = _mm512_set1_ps(static_cast<float>(kMeterMagnitude));
  const __mmask16 words = Both ? 0xFFFF : 0x7FFF, taken = Both ? 0xFFFF : 0x5555;
  std::int64_t i = 0;
  for (; i + 8 <= count; i += 8, p += 64) {
    const __m512 v = i + 9 <= count ? _mm512_loadu_ps(p) : _mm512_maskz_loadu_ps(words, p);
    if (_mm512_mask_cmp_ps_mask(taken, _mm512_abs_ps(v), bound, _CMP_NLE_UQ) != 0) {
      plainValues(p, 8, format, 8, left + i);
      if constexpr (Both) plainValues(p + 4, 8, format, 8, right + i);
      continue;
    }
    const __m512 s = _mm512_permutexvar_ps(split, v);
    _mm512_storeu_pd(left + i, _mm512_cvtps_pd(_mm512_castps512_ps256(s)));
    if constexpr (Both) _mm512_storeu_pd(right + i, _mm512_cvtps_pd(_mm512_extractf32x8_ps(s, 1)));
  }
  return i;
}

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

// The frames the AVX-512 paths take of stereo frames (a multiple of eight),
// or 0 for a format they do not take.
template <bool Both>
std::int64_t pairsAvx512(const unsigned char* p, const SampleFormat& format, std::int64_t count,
                         double* left, double* right) {
  if (format.bigEndian || format.isCompanded()) return 0;
  const double scale = 1.0 / format.fullScale();
  if (format.isFloat()) {
    return format.containerBytes == 4 ? pairsFloat<Both>(p, format, count, left, right) : 0;
  }
  if (format.containerBytes == 3) return pairs24<Both>(p, count, scale, left, right);
  if (format.containerBytes == 4) return pairs32<Both>(p, count, scale, left, right);
  return 0;
}
#endif

}  // namespace

void meterValues(const unsigned char* bytes, std::size_t frameBytes, const SampleFormat& format,
                 std::int64_t count, double* out) {
  std::int64_t i = 0;
#if RIL_AVX2
  if (frameBytes == static_cast<std::size_t>(2 * format.containerBytes) && haveAvx512()) {
    i = pairsAvx512<false>(bytes, format, count, out, nullptr);
  }
#endif
  if (i < count) {
    plainValues(bytes + static_cast<std::size_t>(i) * frameBytes, frameBytes, format, count - i,
                out + i);
  }
}

void meterPairValues(const unsigned char* bytes, const SampleFormat& format, std::int64_t count,
                     double* left, double* right) {
  std::int64_t i = 0;
#if RIL_AVX2
  if (haveAvx512()) i = pairsAvx512<true>(bytes, format, count, left, right);
#endif
  if (i == count) return;
  const auto frameBytes = static_cast<std::size_t>(2 * format.containerBytes);
  const unsigned char* p = bytes + static_cast<std::size_t>(i) * frameBytes;
  plainValues(p, frameBytes, format, count - i, left + i);
  plainValues(p + format.containerBytes, frameBytes, format, count - i, right + i);
}

}  // namespace ril::kernels
