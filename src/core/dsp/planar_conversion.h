// Conversion of stored sample bytes to one 16-bit array per channel, the
// first step of the tuned statistics pass. A vector path (SSE2, the x86-64
// baseline, or AVX2 where the processor has it) and a scalar path that gives
// the same results.
#pragma once

#include <cstdint>

namespace ril::kernels {

// Converts `frames` frames of stored sample bytes (unsigned 8-bit or signed
// 16-bit little-endian, 1 or 2 channels interleaved) to the common 16-bit scale,
// one array per channel (`right` only for two channels).
void toPlanar16(const unsigned char* bytes, std::int64_t frames, int channels, int bitsPerSample,
                std::int16_t* left, std::int16_t* right);

}  // namespace ril::kernels
