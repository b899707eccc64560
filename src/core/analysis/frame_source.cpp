#include "core/analysis/frame_source.h"

#include "core/dsp/loudness/lane_input.h"

namespace ril {

void PcmFrameSource::read(int channel, std::int64_t first, std::int64_t count, double* out) const {
  kernels::pcmToDoubles(bytes_, channels_, bitsPerSample_, channel, first, count, out);
}

void PcmFrameSource::readChannels(std::int64_t first, std::int64_t count, double* const* out,
                                  int channels) const {
  if (bitsPerSample_ == 16 && channels_ == 2 && channels == 2 && out[0] && out[1]) {
    kernels::pcmPairToDoubles(bytes_, first, count, out[0], out[1]);
    return;
  }
  FrameSource::readChannels(first, count, out, channels);
}

}  // namespace ril
