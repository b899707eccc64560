// Stored samples of every format the program reads, to numbers and back:
// one channel of interleaved frames at a time. The format is looked at once
// per call; the loops themselves are made for each layout.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/base/sample_format.h"

namespace ril::kernels {

// The G.711 expansions to 16-bit integers (ITU-T G.711's tables).
std::int32_t alawToLinear(std::uint8_t byte);
std::int32_t mulawToLinear(std::uint8_t byte);

// One channel's stored integers: out[i] is the sample of frame i, the frames
// `frameBytes` apart from `bytes` (the channel's first byte). An 8-bit byte b
// gives b - 128, the companded formats their 16-bit expansion, the others the
// container's signed integer. Not for float.
void storedIntegers(const unsigned char* bytes, std::size_t frameBytes, const SampleFormat& format,
                    std::int64_t count, std::int32_t* out);

// The same as numbers: integers as storedIntegers() gives them, float values
// as stored (exact in a double).
void storedValues(const unsigned char* bytes, std::size_t frameBytes, const SampleFormat& format,
                  std::int64_t count, double* out);

// Stores integers on the container's scale (8-bit: around 0), which must lie
// in the format's range, into one channel's samples. Not for the companded
// formats or float.
void storeIntegers(const std::int64_t* values, std::int64_t count, const SampleFormat& format,
                   unsigned char* bytes, std::size_t frameBytes);

// Stores values as float samples: rounded to the nearest float for 32 bits,
// as they are for 64.
void storeFloats(const double* values, std::int64_t count, const SampleFormat& format,
                 unsigned char* bytes, std::size_t frameBytes);

}  // namespace ril::kernels
