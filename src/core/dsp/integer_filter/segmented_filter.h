// The report's filter over a chunk, cut into segments that run as
// independent chains, so that the processor overlaps several recurrences;
// each segment after the first starts from a guess and is settled against the
// true state (the scheme and why the result is exactly the serial recurrence:
// core/dsp/README.md).
#pragma once

#include <cstdint>

#include "core/dsp/integer_filter/filter_chain.h"

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

// Cuts n frames into `segments` segments: segment 0 owns the first `steps`
// frames, every later one the next steps - kWarmUp after warming up over the
// kWarmUp frames in front of them; fewer than `segments` frames may remain
// behind the last. begin[j] receives the first frame segment j owns,
// begin[segments] the end of the last. Returns steps.
inline std::int64_t segmentBegins(std::int64_t n, int segments, std::int64_t* begin) {
  const std::int64_t steps = (n + (segments - 1) * kWarmUp) / segments;
  begin[0] = 0;
  begin[1] = steps;
  for (int j = 1; j < segments; ++j) begin[j + 1] = begin[j] + steps - kWarmUp;
  return steps;
}

// Turns one channel's speculative segments into the true run. guess[j] is
// segment j's state after its warm-up, and output(j, i) the biased output of
// frame i as segment j stored it (a std::int32_t&). Every segment whose guess
// differs from the true output in front of it is recomputed serially, in
// place, until its output meets the stored one; then the frames from
// begin[segments] to n run serially into tail[i]. x are the channel's inputs
// (x[-1] readable). Returns the biased output of frame n - 1.
template <typename Output>
inline std::uint64_t settleSegments(const std::int16_t* x, std::int64_t n, int segments,
                                    const std::int64_t* begin, const std::uint64_t* guess,
                                    Output output, std::int32_t* tail) {
  std::uint64_t prev = static_cast<std::uint32_t>(output(0, begin[1] - 1));
  for (int j = 1; j < segments; ++j) {
    if (guess[j] != prev) {
      for (std::int64_t i = begin[j]; i < begin[j + 1]; ++i) {
        prev = chainStep(preparedAt(x, i), prev);
        std::int32_t& stored = output(j, i);
        if (static_cast<std::uint32_t>(stored) == prev) break;  // the runs have met
        stored = static_cast<std::int32_t>(prev);
      }
    }
    prev = static_cast<std::uint32_t>(output(j, begin[j + 1] - 1));
  }
  for (std::int64_t i = begin[segments]; i < n; ++i) {
    prev = chainStep(preparedAt(x, i), prev);
    tail[i] = static_cast<std::int32_t>(prev);
  }
  return prev;
}

}  // namespace ril::kernels
