// Conversions between stored sample words and the doubles the modification's
// de-emphasis filter computes with, one array per channel. A vector path
// (SSE2, the x86-64 baseline) and a scalar one with the same results.
#pragma once

#include <cstdint>

namespace ril::kernels {

// x[c][i] = the stored sample (8-bit: minus 128) as a double, times factor,
// for frames [0, n) of 1 or 2 interleaved channels (`x1` only for two).
void toScaledDoubles(const unsigned char* in, std::int64_t n, int channels, int bitsPerSample,
                     double factor, double* x0, double* x1);

// Stores y[c][i] rounded as the modification rounds (floor(y + 0.5), for 8
// bits floor(y + 128.5)) and limited to the sample range, interleaved into
// `out`. Returns a bit per channel (1 << c) that had a value limited.
unsigned storeRounded(const double* y0, const double* y1, std::int64_t n, int channels,
                      int bitsPerSample, unsigned char* out);

// The volume change of 16-bit samples: out[i] = floor(in[i] * factor + 0.5)
// for as many of the n words as the vector path takes (a multiple of 16; none
// without AVX2), returned. `outside` is set when a result lies outside the
// 16-bit range; that word is then meaningless.
std::int64_t scaleRounded16(const std::uint16_t* in, std::uint16_t* out, std::int64_t n,
                            double factor, bool& outside);

}  // namespace ril::kernels
