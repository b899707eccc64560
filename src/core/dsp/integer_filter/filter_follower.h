// The report's integer filter followed alongside the rewriting: what the
// analysis would find for the de-emphasised data, had for the price of the
// integer chain while the double filter writes the output.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "core/dsp/integer_filter/chunk_filter.h"
#include "core/dsp/integer_filter/fast_division.h"

namespace ril {

// The report's filter over one channel: its state and the smallest and
// largest output so far (both starting at 0, as in the analysis' records).
struct FollowedFilter {
  FastDeemphasisState state;
  std::int32_t min = 0;
  std::int32_t max = 0;

  // One input on the report's 16-bit scale. Its chain is short beside the
  // double one's division, so it runs alongside a serial rewriting at little
  // cost.
  void step(std::int32_t x) {
    const std::int32_t y =
        divide134RoundEvenFast(deemphasisNumerator(state.prevInput, x, state.output()));
    state.prevInput = x;
    state.biasedOutput = y + 2 * fastdiv::kBias;
    min = std::min(min, y);
    max = std::max(max, y);
  }
};

// Follows the filter over whole blocks, a chunk at a time through the tuned
// pass (ChunkFilter): the same outputs as step() for every sample.
class BlockFollower {
 public:
  // `frames` frames of stored sample bytes (unsigned 8-bit or signed 16-bit
  // little-endian, 1 or 2 channels interleaved); filters[c] is channel c's.
  void follow(const unsigned char* in, std::int64_t frames, int channels, int bitsPerSample,
              FollowedFilter* filters);

 private:
  std::vector<std::int16_t> planar_;
  kernels::ChunkFilter chunk_;
};

}  // namespace ril
