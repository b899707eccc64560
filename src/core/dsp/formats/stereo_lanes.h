// AVX-512 steps shared by the decoders of stereo frames (sample_codec for the
// statistics and the rewriting, meter_values for the loudness meter). Only
// for functions that carry the same target; each is inlined into them.
#pragma once

#include "core/dsp/cpu_features.h"

#if RIL_AVX2

// GCC 12's AVX-512 broadcasts start from an undefined vector it then warns of.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace ril::kernels {

// Of sixteen 32-bit lanes holding stereo samples in frame order (L0 R0 L1
// R1 ...), the even lanes first: one channel's eight, then the other's.
__attribute__((target("avx512f"), always_inline)) inline __m512i evenLanesFirst() {
  return _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15);
}

// The sixteen little-endian 24-bit samples in the first 48 bytes of `bytes`
// (eight stereo frames), each at the top of its 32-bit lane (so the sample
// times 256), in frame order: two frames' twelve bytes go to each 128-bit
// lane, then each sample's three bytes above a zero byte.
__attribute__((target("avx512f,avx512bw"), always_inline)) inline __m512i samples24Times256(
    __m512i bytes) {
  const __m512i spread = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
  const __m512i place =
      _mm512_broadcast_i32x4(_mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11));
  return _mm512_shuffle_epi8(_mm512_permutexvar_epi32(spread, bytes), place);
}

}  // namespace ril::kernels

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif
