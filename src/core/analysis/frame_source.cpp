#include "core/analysis/frame_source.h"

namespace ril {

void PcmFrameSource::read(int channel, std::int64_t first, std::int64_t count, double* out) const {
  const std::int64_t stride = channels_;
  if (bitsPerSample_ == 8) {
    const unsigned char* p = bytes_ + first * stride + channel;
    for (std::int64_t i = 0; i < count; ++i) {
      out[i] = static_cast<double>(static_cast<int>(p[i * stride]) - 128) * (1.0 / 128.0);
    }
    return;
  }
  const unsigned char* p = bytes_ + (first * stride + channel) * 2;
  for (std::int64_t i = 0; i < count; ++i) {
    const unsigned char* w = p + i * stride * 2;
    const auto v = static_cast<std::int16_t>(static_cast<std::uint16_t>(w[0] | w[1] << 8));
    out[i] = static_cast<double>(v) * (1.0 / 32768.0);
  }
}

}  // namespace ril
