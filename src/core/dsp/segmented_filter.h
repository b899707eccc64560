// The filter of the tuned pass over a chunk, cut into segments that run as
// independent chains, so that the processor overlaps several recurrences.
//
// A segment after the first starts from a guess and warms up over the
// kWarmUp inputs in front of it; as the recursion forgets its state by a
// factor 83/134 per step, the guess has then almost always become the true
// state. Afterwards each segment's state at its start is compared with the
// true output of the segment before; where they differ, the segment is
// recomputed serially until its output meets the speculative one (from there
// on the two runs are the same run). The result is always exactly the serial
// recurrence.
#pragma once

#include <cstdint>

#include "core/dsp/filter_chain.h"

namespace ril::kernels {

// Frames per chunk of the tuned pass, and the distance between the channels'
// arrays in the buffers filterChunk works on.
inline constexpr std::int64_t kChunkFrames = 16384;
inline constexpr std::int64_t kChannelStride = kChunkFrames + 64;

// Steps a segment after the first runs over the frames in front of it.
inline constexpr std::int64_t kWarmUp = 64;

// The filter over one chunk of n <= kChunkFrames frames of 1 or 2 channels.
// p + c * kChannelStride holds channel c's prepared inputs (filterPrep), and
// yb + c * kChannelStride receives its biased outputs; x[c] are the inputs
// themselves (x[c][-1] the previous one); state[c] is the biased previous
// output, carried from chunk to chunk. Short chunks run as one serial chain.
void filterChunk(int channels, const std::uint64_t* p, const std::int16_t* const* x, std::int64_t n,
                 std::int64_t* state, std::int32_t* yb);

}  // namespace ril::kernels
