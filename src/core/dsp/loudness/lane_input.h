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

}  // namespace ril::kernels
