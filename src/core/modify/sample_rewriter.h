// Rewrites blocks of sample data: every sample scaled by the volume factor
// and, when asked for, passed through the de-emphasis filter, rounded and
// stored.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "core/base/sample_format.h"
#include "core/wav/wav_header.h"

namespace ril {

// The report's de-emphasis filter (integer, rounded), followed over the
// samples a de-emphasis run reads: the smallest and largest output per
// channel, both starting at 0, as the analysis finds them. `complete` is true
// only when the whole run was de-emphasised and followed (1 or 2 channels,
// no frame ranges).
struct FilteredRange {
  std::int32_t min[2] = {0, 0};
  std::int32_t max[2] = {0, 0};
  bool complete = false;
};

// A de-emphasised sample that did not fit and was limited: its frame in the
// file, the value computed (around 0, -128..127 for 8 bits) and the limit.
struct Clip {
  std::int64_t frame = 0;
  std::int64_t value = 0;
  std::int64_t limit = 0;
};

// `count` consecutive frames from frame `first` of the sample data.
struct FrameRange {
  std::int64_t first = 0;
  std::int64_t count = 0;
  std::int64_t end() const { return first + count; }
  bool operator==(const FrameRange&) const = default;
};

// Whether `ranges` are in order and apart: each starts at or after the end of
// the one before, none has a negative start or count.
bool rangesInOrder(const std::vector<FrameRange>& ranges);

class SampleRewriter {
 public:
  // Called for each limited sample, in the order the samples are processed:
  // block by block, within a block channel 1 before channel 2, each channel
  // in frame order. It may throw to end the rewriting.
  using ClipHook = std::function<void(const Clip&)>;

  // `deemphasis`: filter the samples (else the volume pass alone).
  // `followReportFilter`: run the report's integer filter alongside (see
  // FilteredRange). `ranges` (in order and apart, see rangesInOrder): only
  // their frames are processed, and the filter starts afresh at the first
  // frame of each; every other frame is copied unchanged. The parts of them
  // beyond `framesInFile` are left out. Without them every frame is processed.
  SampleRewriter(const WavFormat& format, double factor, bool deemphasis, ClipHook clipped,
                 bool followReportFilter,
                 std::optional<std::vector<FrameRange>> ranges = std::nullopt,
                 std::int64_t framesInFile = 0);
  ~SampleRewriter();
  SampleRewriter(const SampleRewriter&) = delete;
  SampleRewriter& operator=(const SampleRewriter&) = delete;

  // Lets long blocks of 1 or 2 channels be de-emphasised in segments, on
  // `threads` threads (1: on this one); the output is the same.
  void useThreads(int threads);

  // Rewrites `frames` interleaved frames from `in` into `out` (the same size;
  // 16-bit samples aligned to 2 bytes). `firstFrame` is the index of the
  // first frame in the file; blocks come in the order of the file. Without
  // de-emphasis a result outside the sample range throws RunError 6
  // (overflow); lastValue() holds it. With ranges, each range's part of the
  // block is done as a block of its own, in order.
  void rewrite(const void* in, void* out, std::int64_t frames, std::int64_t firstFrame);

  // Whether some stored sample would overflow the volume pass at this factor.
  bool volumeCanOverflow() const;
  // Throws RunError 6 for the first sample of the block that the volume pass
  // cannot store, as rewrite() would without de-emphasis.
  void checkVolume(const void* in, std::int64_t frames, std::int64_t firstFrame);

  // Float samples: the volume change divides by `peak` instead of
  // multiplying by the factor, so that maximize brings the peak to exactly
  // full scale. Other formats keep the factor.
  void divideBy(double peak);
  // Float samples stored beyond full scale (beyond +-1.0) so far.
  std::int64_t beyondFullScale() const;

  // Formats other than 8- and 16-bit mono and stereo: follows the peak of
  // the samples as stored, as storedPeak() (peak_scan.h) finds it, over the
  // blocks rewritten. False, following nothing, for the others.
  bool followPeak();
  // The peak of the blocks rewritten so far (0 when not followed).
  double followedPeak() const;

  std::int64_t lastValue() const;
  FilteredRange filteredRange() const;

  struct Impl;

 private:
  // Calls `part(offset, count, startsRange)` for each range's part of the
  // block of `frames` frames from `firstFrame`, in order.
  template <class Part>
  void forEachPart(std::int64_t firstFrame, std::int64_t frames, Part part) const;

  std::unique_ptr<Impl> impl_;
  std::optional<std::vector<FrameRange>> ranges_;
  std::size_t frameBytes_ = 0;
  SampleFormat sample_;
};

}  // namespace ril
