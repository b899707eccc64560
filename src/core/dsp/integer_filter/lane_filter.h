// The segmented filter (segmented_filter.h) with eight segments per channel
// in the lanes of AVX2 vectors, for processors that have it; the build stays
// baseline x86-64 and the program chooses this at run time (haveAvx2).
#pragma once

#include <cstdint>

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

// Segments per channel, one per 64-bit lane of two 256-bit vectors.
inline constexpr int kLanes = 8;

// The lanes' outputs are stored as rows of eight 32-bit values, one row per
// step and channel: row t of channel c starts at (t * channels + c) * 8. The
// two vectors of lanes 0-3 and 4-7 are stored interleaved (0 4 1 5 2 6 3 7);
// this is where lane j's output sits in a row.
constexpr int slotOf(int lane) {
  return lane < 4 ? 2 * lane : 2 * (lane - 4) + 1;
}

#if RIL_AVX2
// Runs `steps` steps of the segments of 1 or 2 channels. Segment j of
// channel c starts at frame start[j] of x[c] (x[c][start[j] - 1] readable)
// from the biased state init[c][j]; the first kWarmUp steps are the warm-up of
// the segments after the first, and guess[c][j] receives each state after
// them. qT receives the input parts of the steps (prepFactor) and yT the
// biased outputs, both as rows of eight (steps * channels rows).
void laneChunkAvx2(int channels, const std::int16_t* const* x, std::int64_t steps,
                   const std::int64_t* start, const std::uint64_t (*init)[kLanes], std::int32_t* qT,
                   std::int32_t* yT, std::uint64_t (*guess)[kLanes]);
#endif

}  // namespace ril::kernels
