#include "core/analysis/frame_source.h"

#include "core/dsp/loudness/lane_input.h"

namespace ril {

void PcmFrameSource::read(int channel, std::int64_t first, std::int64_t count, double* out) const {
  kernels::pcmToDoubles(bytes_, channels_, bitsPerSample_, channel, first, count, out);
}

}  // namespace ril
