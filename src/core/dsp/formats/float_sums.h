// The sums of float values (sum and sum of squares per channel) in an order
// of their own, fixed by the frames' positions alone, so that they run in
// vector lanes and any split of the work gives the same bits:
//   - the frames are cut into chunks of kSumChunk, counted from the first;
//   - within a chunk, the value of frame i goes to lane i mod kSumLanes, each
//     lane a chain of additions in frame order (a square is rounded before
//     it is added: no fused multiply-add);
//   - a chunk's lanes are combined by a fixed tree (combineLanes), and the
//     chunks' sums are added one after the other.
// Each kernel has a vector path (AVX2, or AVX-512 where the processor has
// it) and a scalar twin with the same results, bit for bit.
#pragma once

#include <cstdint>

#include "core/dsp/formats/format_runs.h"

namespace ril::kernels {

inline constexpr int kSumLanes = 16;
inline constexpr std::int64_t kSumChunk = 16384;

// A chunk's sums so far, lane by lane.
struct SumLanes {
  alignas(64) double sum[kSumLanes] = {};
  alignas(64) double sumSq[kSumLanes] = {};
};

// The lanes' sums: lane k + 8 added to lane k, then k + 4, k + 2, k + 1.
struct LaneTotal {
  double sum = 0.0;
  double sumSq = 0.0;
};
LaneTotal combineLanes(const SumLanes& lanes);

// One pass over x[0..n): x[i] (and its square) added to lane (phase + i) mod
// kSumLanes, and the extremes and the values at full scale as scanFloats(x,
// n, 0, 0) gives them, into `scan`. False, with `lanes` and `scan`
// untouched, when a value is not finite or beyond kPlainMagnitude.
bool scanAndSum(const double* x, std::int64_t n, int phase, SumLanes& lanes, FloatScan& scan);
bool scanAndSumScalar(const double* x, std::int64_t n, int phase, SumLanes& lanes, FloatScan& scan);
// The AVX2 path alone, where the processor has AVX2 (else the scalar twin):
// for tests on processors that would take AVX-512.
bool scanAndSumAvx2(const double* x, std::int64_t n, int phase, SumLanes& lanes, FloatScan& scan);

// The same over n frames of little-endian 32-bit float stereo at `bytes`,
// both channels in one pass: lanes[c] and scans[c] as scanAndSum gives them
// for channel c. False, with nothing touched, when a value of either channel
// is not finite or beyond kPlainMagnitude.
bool scanAndSumFloatPairs(const unsigned char* bytes, std::int64_t n, int phase, SumLanes* lanes,
                          FloatScan* scans);
// Whether scanAndSumFloatPairs runs in vectors here (else it is the scalar
// twin, slower than decoding and scanAndSum).
bool floatPairsInVectors();

}  // namespace ril::kernels
