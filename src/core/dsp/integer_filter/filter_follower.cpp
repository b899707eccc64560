#include "core/dsp/integer_filter/filter_follower.h"

#include "core/dsp/integer_filter/segmented_filter.h"
#include "core/dsp/planar_conversion.h"

namespace ril {

void BlockFollower::follow(const unsigned char* in, std::int64_t frames, int channels,
                           int bitsPerSample, FollowedFilter* filters) {
  constexpr std::int64_t kChunk = kernels::kChunkFrames;
  constexpr std::int64_t kStride = kChunk + 16;  // room for the previous input in front
  const std::int64_t frameBytes = channels * bitsPerSample / 8;
  if (planar_.empty()) planar_.assign(2 * kStride, 0);
  std::int16_t* x[2] = {planar_.data() + 8, planar_.data() + 8 + kStride};
  for (std::int64_t start = 0; start < frames; start += kChunk) {
    const std::int64_t n = std::min(kChunk, frames - start);
    kernels::toPlanar16(in + start * frameBytes, n, channels, bitsPerSample, x[0], x[1]);
    std::int64_t state[2];
    for (int c = 0; c < channels; ++c) {
      x[c][-1] = static_cast<std::int16_t>(filters[c].state.prevInput);
      state[c] = filters[c].state.biasedOutput;
    }
    chunk_.run(channels, x, n, state);
    for (int c = 0; c < channels; ++c) {
      filters[c].state = FastDeemphasisState{x[c][n - 1], state[c]};
      filters[c].min = std::min(filters[c].min, chunk_.stats(c).min);
      filters[c].max = std::max(filters[c].max, chunk_.stats(c).max);
    }
  }
}

}  // namespace ril
