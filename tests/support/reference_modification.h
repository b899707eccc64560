// What a modification run must write and show, computed sample by sample in
// the plainest way and apart from the run's own code: the one reference of
// the tests and the fuzzers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/base/host.h"
#include "core/modify/sample_rewriter.h"

namespace ril::test {

using Bytes = std::vector<unsigned char>;

struct Expected {
  Bytes samples;                         // the whole frames as the run must write them
  std::vector<std::string> messages;     // a clipping message per clipped sample, in order
  std::vector<std::int64_t> clipFrames;  // the frame of each
  std::optional<std::int64_t> overflow;  // the value of the first sample the volume pass
                                         // cannot store
  unsigned clippedChannels = 0;          // a bit (1 << c) per channel with a clipped sample
  // With de-emphasis, each channel's filter state after its last frame.
  double lastInput[2] = {0, 0};
  double lastOutput[2] = {0, 0};
};

// The frames of a run's blocks before the last, which also takes the rest.
std::int64_t framesPerBlock(int channels, int bits);

// `data`: whole frames of `channels` interleaved channels of `bits`-bit
// samples (unsigned 8-bit or signed 16-bit little-endian), scaled by
// `factor` and, with `deemphasis`, filtered; with `ranges` only their frames
// (each from a fresh filter), the others as they are. Messages and the first
// overflow come in the order the run meets them: block by block, within a
// block range by range, then channel by channel, each in frame order.
Expected expectedOutput(const Bytes& data, int channels, int bits, double factor, bool deemphasis,
                        const std::optional<std::vector<FrameRange>>& ranges = std::nullopt);

// The clipping messages a run on `path` shows: the first ones one by one,
// then one for all the others.
std::vector<Message> shownClipMessages(const Expected& want, const std::string& path);
std::vector<std::string> shownClips(const Expected& want, const std::string& path);

}  // namespace ril::test
