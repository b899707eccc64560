// Stored samples of any format as the loudness meter and the level overview
// take them: doubles on a full scale of 1.0 (integers divided by the format's
// full scale, a power of two, so exactly), float values as stored but NaN
// and the infinities as 0 and finite values limited to +-kMeterMagnitude.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/base/sample_format.h"

namespace ril::kernels {

// One channel: out[i] is the sample of frame i, the frames `frameBytes`
// apart from `bytes` (the channel's first byte). Either channel of the
// stereo frames meterPairValues() takes goes the same AVX-512 way.
void meterValues(const unsigned char* bytes, std::size_t frameBytes, const SampleFormat& format,
                 std::int64_t count, double* out);

// Both channels of stereo frames from `bytes` (the first frame's first
// byte): left[i] and right[i] as meterValues() gives them. Little-endian
// 24- and 32-bit integers and 32-bit float take one pass over the bytes in
// AVX-512 where the processor has it; the rest is read channel by channel.
void meterPairValues(const unsigned char* bytes, const SampleFormat& format, std::int64_t count,
                     double* left, double* right);

}  // namespace ril::kernels
