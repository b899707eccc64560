// The de-emphasis filter of the tuned pass over one chunk, with the
// statistics of its outputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/dsp/integer_filter/lane_filter.h"
#include "core/dsp/run_statistics.h"

namespace ril::kernels {

// Runs filterChunk, or on processors with AVX2 the same scheme with eight
// segments per channel in vector lanes, and gives the statistics of each
// channel's outputs.
class ChunkFilter {
 public:
  // x[c] are channel c's n <= kChunkFrames inputs, x[c][-1] the previous one;
  // state[c] is the biased previous output, carried from chunk to chunk.
  void run(int channels, const std::int16_t* const* x, std::int64_t n, std::int64_t* state);
  const RunStats& stats(int channel) const { return stats_[channel]; }
  // Frame index of the first output of the last chunk equal to v.
  std::int64_t firstIndexOf(int channel, std::int32_t v) const;

 private:
  void runSegmented(const std::int16_t* const* x, std::int64_t* state);
  void runInLanes(const std::int16_t* const* x, std::int64_t* state);
  RunStats statsInLanes(int channel) const;
  std::int32_t outputAt(int channel, std::int64_t i) const;  // biased
  // Where a row of the lanes' outputs starts, and where one lane's output sits in it.
  std::size_t laneRow(int channel, std::int64_t row) const {
    return static_cast<std::size_t>((row * channels_ + channel) * kLanes);
  }
  std::size_t laneCell(int channel, std::int64_t row, int lane) const {
    return laneRow(channel, row) + static_cast<std::size_t>(slotOf(lane));
  }

  int channels_ = 1;
  std::int64_t n_ = 0;
  bool lanes_ = false;  // the last chunk ran in vector lanes
  std::int64_t steps_ = 0;
  std::int64_t begin_[kLanes + 1] = {};
  RunStats stats_[2];
  std::vector<std::int32_t> natural_;    // outputs in frame order (serial and segmented runs)
  std::vector<std::uint64_t> prepared_;  // filterPrep, for filterChunk
  std::vector<std::int32_t> laneInputs_;
  std::vector<std::int32_t> laneOutputs_;
};

}  // namespace ril::kernels
