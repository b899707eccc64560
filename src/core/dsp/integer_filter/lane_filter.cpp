#include "core/dsp/integer_filter/lane_filter.h"

#if RIL_AVX2

#include "core/dsp/cpu_features.h"
#include "core/dsp/integer_filter/segmented_filter.h"

namespace ril::kernels {

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

// The input parts (prepFactor) of T steps of each segment, transposed on the
// way: row t of channel c holds the eight segments' input parts of step t.
template <int C>
__attribute__((target("avx2"))) void transposedPrepAvx2(const std::int16_t* const* x,
                                                        std::int64_t T, const std::int64_t* start,
                                                        std::int32_t* qT) {
  const __m128i coef = _mm_set1_epi32(kPrepWeightPair);
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
        qT[(t * C + c) * 8 + j] = prepFactor(src[j][t - 1], src[j][t]);
      }
    }
  }
}

// laneChunkAvx2 for C channels.
template <int C>
__attribute__((target("avx2"))) void laneChunk(const std::int16_t* const* x, std::int64_t T,
                                               const std::int64_t* start,
                                               const std::uint64_t (*init)[kLanes],
                                               std::int32_t* qT, std::int32_t* yT,
                                               std::uint64_t (*guess)[kLanes]) {
  transposedPrepAvx2<C>(x, T, start, qT);
  __m256i y[C][2];
  for (int c = 0; c < C; ++c) {
    for (int g = 0; g < 2; ++g) {
      y[c][g] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&init[c][4 * g]));
    }
  }
  laneSteps<C>(qT, yT, 0, kWarmUp, y);
  for (int c = 0; c < C; ++c) {
    for (int g = 0; g < 2; ++g) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(&guess[c][4 * g]), y[c][g]);
    }
  }
  laneSteps<C>(qT, yT, kWarmUp, T, y);
}

}  // namespace

void laneChunkAvx2(int channels, const std::int16_t* const* x, std::int64_t steps,
                   const std::int64_t* start, const std::uint64_t (*init)[kLanes], std::int32_t* qT,
                   std::int32_t* yT, std::uint64_t (*guess)[kLanes]) {
  if (channels == 2) {
    laneChunk<2>(x, steps, start, init, qT, yT, guess);
  } else {
    laneChunk<1>(x, steps, start, init, qT, yT, guess);
  }
}

}  // namespace ril::kernels

#endif
