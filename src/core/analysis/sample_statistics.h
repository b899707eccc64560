// Per-channel statistics of the samples, accumulated block by block.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/integer_filter/fast_division.h"
#include "core/dsp/run_statistics.h"

namespace ril {

struct ChannelStats {
  std::int32_t min = 0;
  std::int32_t max = 0;
  std::int64_t minPos = 0;
  std::int64_t maxPos = 0;
  std::int64_t sum = 0;     // exact
  std::uint64_t sumSq = 0;  // exact
  // Samples at the format's smallest or largest stored value (8-bit 0 or 255,
  // 16-bit -32768 or 32767); in the de-emphasised records, filtered values at
  // or beyond the 16-bit range.
  std::int64_t fullScale = 0;
  double avg = 0.0;  // fraction of 32768
  double rms = 0.0;  // fraction of 32768

  bool operator==(const ChannelStats&) const = default;
};

// Records 0..3: channel 1, channel 2, channel 1 de-emphasised, channel 2 de-emphasised.
using StatsRecords = std::array<ChannelStats, 4>;

// Accumulates the four records over consecutive blocks of interleaved sample
// bytes as stored in the file (unsigned 8-bit, or signed 16-bit little-endian;
// 1 or 2 channels).
// The filter state and the frame count carry over from block to block, so any
// split of the data gives the same records as one block.
class SampleAccumulator {
 public:
  enum class Method {
    kTuned,  // vectorised statistics and a branch-free filter
    kPlain,  // the reference: channel by channel, sample by sample
  };

  SampleAccumulator(int channels, int bitsPerSample, bool deemphasis,
                    Method method = Method::kTuned);

  void addBlock(const unsigned char* bytes, std::int64_t frames);

  // Records with avg and rms filled in from the frames seen so far.
  StatsRecords finish() const;
  const StatsRecords& records() const { return records_; }
  std::int64_t frames() const { return frames_; }

  // For accumulating the data in parts side by side (tuned method): starts
  // over at frame `first` with the filter states `state` (one per channel),
  // the sums at 0 and the extremes (with their frames) those of `before`, the
  // records of frames in front of the part. The extremes the part then finds
  // are those that beat them, as in one pass; fewer are looked up.
  void restartAt(std::int64_t first, const FastDeemphasisState* state, const StatsRecords& before);
  const FastDeemphasisState* filterState() const { return fast_; }
  // Adds the records of the part that `later` accumulated right behind this
  // one's frames, and takes over its frame count and filter state. The same
  // as having accumulated the later frames here.
  void append(const SampleAccumulator& later);

 private:
  void addBlockPlain(const unsigned char* bytes, std::int64_t frames);
  void addBlockTuned(const unsigned char* bytes, std::int64_t frames);
  // The values of the data as stored that count as full scale.
  kernels::Limits storedLimits() const;

  int channels_;
  int bitsPerSample_;
  bool deemphasis_;
  Method method_;
  std::int64_t frames_ = 0;
  StatsRecords records_{};
  DeemphasisFilter filters_[2];  // plain method
  FastDeemphasisState fast_[2];  // tuned method
};

}  // namespace ril
