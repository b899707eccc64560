// The rewriting's double filter without its chain: the inputs are cut into
// segments that run side by side in vector lanes (and, through
// BlockDeemphasis, on several threads), each after the first from a guessed
// state settled against the true one, with a result that is exactly that of
// one serial chain (the scheme and why: core/dsp/README.md).
#pragma once

#include <cstdint>

#include "core/dsp/deemphasis_filter.h"

namespace ril::kernels {

// Steps a later segment runs over the frames in front of it.
inline constexpr std::int64_t kDoubleWarmUp = 128;
// Segments side by side, one per vector lane: four AVX2 vectors or eight SSE2
// ones. The step's division is the slow part; this many chains keep the
// divider busy while each waits for its own previous output.
inline constexpr int kDoubleSegments = 16;
// Shorter runs go as one chain: too short for the segments to pay.
inline constexpr std::int64_t kLeastSegmentedFrames = 4 * kDoubleWarmUp * kDoubleSegments;

// The length of the pieces a run of n frames is cut into, in turn, when
// pieces may hold at most `most` frames (>= 2 kLeastSegmentedFrames): as
// even as they go, so that none falls short of the segments (a run that
// ends in a short piece would take one chain for it, ten times slower).
inline std::int64_t evenPieceFrames(std::int64_t n, std::int64_t most) {
  const std::int64_t pieces = (n + most - 1) / most;
  return pieces <= 1 ? most : (n + pieces - 1) / pieces;
}

// Outputs y[0..n) of the filter over inputs x[0..n) from the state `filter`,
// which is then the state after x[n - 1]; exactly DeemphasisFilterDouble's
// steps in order. Long runs go in segments over vector lanes (AVX2 where the
// processor has it, else SSE2).
void deemphasiseSegmented(const double* x, double* y, std::int64_t n,
                          DeemphasisFilterDouble& filter);

// The guessed state in front of frame b of x (b > kDoubleWarmUp).
DeemphasisFilterDouble guessStateBefore(const double* x, std::int64_t b);

// Settles frames [b, e) of a segment whose outputs y were computed from a
// guessed state: `truth` is the true state in front of frame b. Where the
// guess differed, outputs are computed again from the truth until one equals
// the stored one. Returns the state after frame e - 1. `guess` is the state
// the segment started from.
DeemphasisFilterDouble settleSegment(const double* x, double* y, std::int64_t b, std::int64_t e,
                                     const DeemphasisFilterDouble& guess,
                                     const DeemphasisFilterDouble& truth);

}  // namespace ril::kernels
