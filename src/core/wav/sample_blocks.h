// The blocks in which the sample data is read and written: 1 MiB of samples
// each, and the rest that is smaller than one block merged into the last.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "core/wav/wav_header.h"

namespace ril {

// Frames per block: 8 / channels x 1024 x 1024 / bitsPerSample, in single
// precision in that order, rounded half to even.
inline std::int64_t nominalBlockFrames(int channels, int bitsPerSample) {
  float frames = 8.0f / static_cast<float>(channels);
  frames = frames * 1024.0f;
  frames = frames * 1024.0f;
  frames = frames / static_cast<float>(bitsPerSample);
  return static_cast<std::int64_t>(std::nearbyint(frames));
}

// Frames per block of the passes that measure the loudness (the analysis and
// the loudness of a modification): the blocks above for 8- and 16-bit files
// of one or two channels, whose results they have always had; twice their
// size, 2 MiB, for every other format. The loudness meter cuts each block
// into segments, each starting from the frames in front of it, and a longer
// block gives it longer segments for the same starts.
inline std::int64_t meteredBlockFrames(const WavFormat& format) {
  const std::int64_t frames = nominalBlockFrames(format.channels, format.bitsPerSample);
  return format.classic() ? frames : 2 * frames;
}

// Walks `totalFrames` frames block by block: every block but the last has
// the nominal size (or the whole data when that is smaller); the last takes
// the rest as well, so it holds up to twice the nominal size less one frame.
class SampleBlocks {
 public:
  SampleBlocks(std::int64_t totalFrames, std::int64_t nominalFrames)
      : total_(totalFrames), size_(std::min(nominalFrames, totalFrames)), remaining_(totalFrames) {}

  // The largest block there will be.
  std::int64_t largest() const { return size_ <= 0 ? 0 : size_ + total_ % size_; }

  // Moves to the next block; false when every frame has had its block.
  bool next() {
    start_ += frames_;
    if (size_ <= 0 || remaining_ < size_) return false;
    frames_ = size_;
    remaining_ -= size_;
    if (remaining_ < size_) {
      frames_ += remaining_;
      remaining_ = 0;
    }
    return true;
  }
  std::int64_t start() const { return start_; }    // index of the block's first frame
  std::int64_t frames() const { return frames_; }  // frames in this block

 private:
  std::int64_t total_;
  std::int64_t size_;
  std::int64_t remaining_;
  std::int64_t start_ = 0;
  std::int64_t frames_ = 0;
};

}  // namespace ril
