// Stored PCM words as the loudness meter takes them: doubles on a full scale
// of 1.0. A vector path (AVX2 where the processor has it) with the scalar
// path's results.
#pragma once

#include <cstdint>

namespace ril::kernels {

// out[i] = channel `channel`'s sample of frame first + i of interleaved
// unsigned 8-bit or signed 16-bit little-endian words, divided by 128 or
// 32768 (exact in a double).
void pcmToDoubles(const unsigned char* bytes, int channels, int bitsPerSample, int channel,
                  std::int64_t first, std::int64_t count, double* out);

// Both channels of interleaved signed 16-bit stereo words at once: left[i]
// and right[i] as pcmToDoubles gives them, from one pass over the bytes.
void pcmPairToDoubles(const unsigned char* bytes, std::int64_t first, std::int64_t count,
                      double* left, double* right);

}  // namespace ril::kernels
