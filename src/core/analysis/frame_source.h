// Samples as the loudness meter takes them: one channel's frames at a time,
// as doubles on a full scale of 1.0, whatever the format they are stored in.
#pragma once

#include <cstdint>

namespace ril {

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  // out[i] = channel `channel`'s sample of frame first + i, for i < count;
  // frames count from the first frame the source holds.
  virtual void read(int channel, std::int64_t first, std::int64_t count, double* out) const = 0;
  // The same for channels 0 to channels - 1 at once into out[channel], where
  // that is not null.
  virtual void readChannels(std::int64_t first, std::int64_t count, double* const* out,
                            int channels) const {
    for (int c = 0; c < channels; ++c) {
      if (out[c]) read(c, first, count, out[c]);
    }
  }
};

// Interleaved PCM bytes as stored: unsigned 8-bit (128 is 0) or signed 16-bit
// little-endian, on the scale of their largest magnitude (128 or 32768).
class PcmFrameSource : public FrameSource {
 public:
  PcmFrameSource(const unsigned char* bytes, int channels, int bitsPerSample)
      : bytes_(bytes), channels_(channels), bitsPerSample_(bitsPerSample) {}
  void read(int channel, std::int64_t first, std::int64_t count, double* out) const override;
  void readChannels(std::int64_t first, std::int64_t count, double* const* out,
                    int channels) const override;
  void setBytes(const unsigned char* bytes) { bytes_ = bytes; }

 private:
  const unsigned char* bytes_;
  int channels_;
  int bitsPerSample_;
};

}  // namespace ril
