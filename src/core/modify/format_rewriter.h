// The rewriting of every sample format beyond the tuned 8- and 16-bit mono
// and stereo kinds: integers of any container and valid bits, and float, in
// either byte order, in any number of channels.
//   integers: floor(v x f / step + 0.5) x step (the de-emphasis's double form
//             likewise), limited to the valid bits' range with a message per
//             limited sample
//   float:    v x f in double, stored rounded to the nearest float; nothing
//             is limited, the samples beyond +-1.0 are counted
#pragma once

#include <memory>

#include "core/base/sample_format.h"
#include "core/modify/rewriter_impl.h"

namespace ril {

std::unique_ptr<SampleRewriter::Impl> makeFormatRewriter(const SampleFormat& format, int channels,
                                                         double factor, bool deemphasis,
                                                         SampleRewriter::ClipHook clipped);

}  // namespace ril
