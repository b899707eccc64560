// The double filter as one chain per channel over interleaved sample words,
// for blocks too short for the segments (segmented_deemphasis.h): each output
// rounded as the format rounds it, limited to its range and stored. With a
// follower, the report's integer filter runs along over the same samples.
#pragma once

#include <cstdint>

#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/integer_filter/filter_follower.h"

namespace ril::kernels {

// Channel `channel` of `frames` frames of `channels` interleaved channels,
// from `in` into `out` (Pcm8 or Pcm16 words, pcm_words.h), scaled by `factor`
// and filtered from `filter`, which it updates; `follow` (or nullptr) is
// updated likewise. True when a value had to be limited.
template <class Pcm>
bool filterChannel(const typename Pcm::Word* in, typename Pcm::Word* out, std::int64_t frames,
                   int channels, int channel, double factor, DeemphasisFilterDouble& filter,
                   FollowedFilter* follow);

// Both channels of `frames` stereo frames side by side, so that the two
// divisions overlap; filters[c] and follow[c] (or follow nullptr) are
// channel c's. Returns a bit per channel (1 << c) that had a value limited.
// 16-bit words go through both lanes of an SSE2 register at once, with the
// results of the scalar loop bit for bit.
template <class Pcm>
unsigned filterStereo(const typename Pcm::Word* in, typename Pcm::Word* out, std::int64_t frames,
                      double factor, DeemphasisFilterDouble* filters, FollowedFilter* follow);

}  // namespace ril::kernels
