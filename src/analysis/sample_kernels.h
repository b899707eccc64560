// The inner loops of the tuned statistics pass, on chunks of one channel's
// samples. Each kernel has a vector path (SSE2, the x86-64 baseline) and a
// scalar path that gives the same results.
#pragma once

#include <cstdint>

namespace ril::kernels {

// Minimum, maximum and exact sums of a run of values.
struct RunStats {
  std::int32_t min = 0;
  std::int32_t max = 0;
  std::int64_t sum = 0;
  std::uint64_t sumSq = 0;
};

// Converts `frames` frames of stored sample bytes (unsigned 8-bit or signed
// 16-bit little-endian, 1 or 2 channels interleaved) to the common 16-bit scale,
// one array per channel (`right` only for two channels).
void toPlanar16(const unsigned char* bytes, std::int64_t frames, int channels, int bitsPerSample,
                std::int16_t* left, std::int16_t* right);

// Statistics of x[0..n); n > 0.
RunStats statsOf16(const std::int16_t* x, std::int64_t n);

// Statistics of yb[i] - bias for yb[0..n), where 0 <= yb[i] < 2^20; n > 0.
RunStats statsOfBiased32(const std::int32_t* yb, std::int64_t n, std::int32_t bias);

// Index of the first element equal to v (n when there is none).
std::int64_t firstIndexOf16(const std::int16_t* x, std::int64_t n, std::int16_t v);
std::int64_t firstIndexOf32(const std::int32_t* x, std::int64_t n, std::int32_t v);

// The input part of the filter numerator for each step:
// q[i] = 62 x[i-1] - 11 x[i] + kPrepOffset. x[-1] must be readable (the
// previous input). The values are positive and below 2^23.
inline constexpr std::int32_t kPrepOffset = 102 * 32768 + 67;
void filterPrep(const std::int16_t* x, std::int64_t n, std::int32_t* q);

// The filter recurrence over prepared inputs: yb[i] receives the output plus
// 65536 (the bias of the fast division); `state` holds the biased previous
// output and is updated. Two channels run interleaved so that their
// dependency chains overlap.
void filterChain(const std::int32_t* q, std::int64_t n, std::int64_t& state, std::int32_t* yb);
void filterChain2(const std::int32_t* q0, const std::int32_t* q1, std::int64_t n,
                  std::int64_t& state0, std::int64_t& state1, std::int32_t* yb0, std::int32_t* yb1);

}  // namespace ril::kernels
