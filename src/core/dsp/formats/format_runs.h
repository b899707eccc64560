// The statistics kernels of the wider formats over one channel's run of
// decoded samples. Each has a vector path (AVX2, and for the integers
// AVX-512, where the processor has it) and a scalar path with the same
// results, bit for bit.
#pragma once

#include <cstdint>

#include "core/dsp/run_statistics.h"

namespace ril::kernels {

// Minimum, maximum, exact sums and the count of values at the limits of a
// run of integers, as the 16-bit pass's kernels give them.
using IntegerRun = RunStats;

// The run of x[0..n), 0 < n <= 65536, every |x[i]| < 2^24; a value counts at
// the limits when x <= low or x >= high (-2^31 < low, high < 2^31 - 1).
IntegerRun integerRun(const std::int32_t* x, std::int64_t n, std::int64_t low, std::int64_t high);
IntegerRun integerRunScalar(const std::int32_t* x, std::int64_t n, std::int64_t low,
                            std::int64_t high);

// The same over the whole 32-bit range, whose squares' sum outgrows 64 bits:
// 0 < n <= 65536, -2^31 <= low < 2^31 - 1, -2^31 < high <= 2^31 - 1.
struct WideIntegerRun {
  std::int32_t min = 0;
  std::int32_t max = 0;
  std::int64_t sum = 0;
  __extension__ unsigned __int128 sumSq = 0;
  std::int64_t atLimits = 0;
};
WideIntegerRun wideIntegerRun(const std::int32_t* x, std::int64_t n, std::int64_t low,
                              std::int64_t high);
WideIntegerRun wideIntegerRunScalar(const std::int32_t* x, std::int64_t n, std::int64_t low,
                                    std::int64_t high);

// The runs of both channels of n frames (0 < n <= 65536) of little-endian
// 24-bit stereo at `bytes`, from one pass over them: runs[c] as integerRun
// gives it for channel c's samples.
void stereo24Runs(const unsigned char* bytes, std::int64_t n, std::int64_t low, std::int64_t high,
                  IntegerRun* runs);
// Whether stereo24Runs runs in vectors here (else it is the scalar twin,
// slower than decoding and integerRun).
bool stereo24RunsInVectors();

// The extremes of x[0..n) together with `lo` and `hi` (lo <= 0 <= hi, so that
// no zero, of either sign, is ever taken), compared strictly as a running
// minimum and maximum would (a NaN never counts), and how many of the values
// lie at or beyond -1.0 or 1.0.
struct FloatScan {
  double lo = 0.0;
  double hi = 0.0;
  std::int64_t atLimits = 0;
};
FloatScan scanFloats(const double* x, std::int64_t n, double lo, double hi);
FloatScan scanFloatsScalar(const double* x, std::int64_t n, double lo, double hi);

// The rewriting's rounding at the valid bits, out[i] = floor(v[i] x inverse
// + 0.5) x step, where `inverse` is 1 / step (a power of two, so exact).
// True when every result lies in [low, high] (and then all are stored);
// false as soon as one does not, or is no number, and the caller rounds the
// run itself to limit and report them. -2^31 <= low < high < 2^31. `Out`:
// std::int64_t or std::int32_t.
template <typename Out>
bool roundAtSteps(const double* v, std::int64_t n, double inverse, std::int64_t step,
                  std::int64_t low, std::int64_t high, Out* out);
template <typename Out>
bool roundAtStepsScalar(const double* v, std::int64_t n, double inverse, std::int64_t step,
                        std::int64_t low, std::int64_t high, Out* out);

// The rewriting's scaling: v[i] / divisor where divisor > 0, else v[i] x
// factor, each an IEEE operation of its own.
void scaleValues(double* v, std::int64_t n, double factor, double divisor);
void scaleValuesScalar(double* v, std::int64_t n, double factor, double divisor);

// How many of v[0..n), rounded to the nearest float, lie beyond -1.0 or 1.0.
std::int64_t countBeyondAsFloat(const double* v, std::int64_t n);
std::int64_t countBeyondAsFloatScalar(const double* v, std::int64_t n);

}  // namespace ril::kernels
