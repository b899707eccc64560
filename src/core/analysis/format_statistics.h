// The statistics of every sample format and channel count beyond the tuned
// 8- and 16-bit mono and stereo pass: per channel the extremes with their
// frames, sums (exact for integers, in the fixed order of float_sums.h for
// float) and the samples at full scale, of the data as stored and after the
// de-emphasis filter. Each channel is accumulated in frame order by one task,
// so any number of threads, and any cut into blocks, gives the serial result.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/analysis/block_sharing.h"
#include "core/analysis/frame_source.h"
#include "core/analysis/level_overview.h"
#include "core/analysis/loudness_meter.h"
#include "core/analysis/sample_statistics.h"
#include "core/base/block_buffer.h"
#include "core/base/sample_format.h"
#include "core/base/thread_pool.h"
#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/formats/float_guard.h"
#include "core/dsp/formats/float_sums.h"

namespace ril {

// One channel's figures on the statistics' scale of its format (integers as
// stored, 8-bit and companded samples on the 16-bit scale, float values).
struct ChannelFigures {
  double min = 0.0;
  double max = 0.0;
  std::int64_t minPos = 0;
  std::int64_t maxPos = 0;
  double avg = 0.0;  // fraction of full scale
  double rms = 0.0;  // fraction of full scale
  // Samples at or beyond the format's smallest or largest value (float: at or
  // beyond +-1.0).
  std::int64_t fullScale = 0;

  bool operator==(const ChannelFigures&) const = default;
};

// The figures of a tuned pass's record (16-bit scale).
ChannelFigures figuresOf(const ChannelStats& record);

// The values that count as full scale for the level overview of `format`:
// its smallest and largest stored values on a full scale of 1.0.
FullScale overviewFullScale(const SampleFormat& format);

// Interleaved samples of any format as the loudness meter takes them (and
// the level overview); both channels of stereo frames in one pass.
class FormatFrameSource : public FrameSource {
 public:
  FormatFrameSource(const SampleFormat& format, int channels)
      : format_(format), channels_(channels) {}
  void read(int channel, std::int64_t first, std::int64_t count, double* out) const override;
  void readChannels(std::int64_t first, std::int64_t count, double* const* out,
                    int channels) const override;
  // The block of `frames` frames the reads take their samples from.
  void setBytes(const unsigned char* bytes, std::int64_t frames) {
    bytes_ = bytes;
    frames_ = frames;
  }

 private:
  // The meter reads each lane's frames a chunk at a time, lane after lane:
  // the frames after those read are the lane's next, and their bytes are
  // fetched into the cache meanwhile.
  void fetchAfter(std::int64_t first, std::int64_t count) const;
  const unsigned char* bytes_ = nullptr;
  std::int64_t frames_ = 0;
  SampleFormat format_;
  int channels_;
};

class FormatAccumulator {
 public:
  // `largestBlockFrames`: the largest block addBlock() will be given.
  // `shareBlocks`: see sharesBlocks() below.
  FormatAccumulator(const SampleFormat& format, int channels, bool deemphasis, int threads,
                    std::int64_t largestBlockFrames, bool shareBlocks = false);
  ~FormatAccumulator();
  FormatAccumulator(const FormatAccumulator&) = delete;
  FormatAccumulator& operator=(const FormatAccumulator&) = delete;

  // Where to read the next block's bytes; untouched while the block before
  // is accumulated.
  unsigned char* nextBuffer() { return buffers_.next(); }
  // Finishes the block before and starts on the `frames` frames in nextBuffer().
  void addBlock(std::int64_t frames);
  // Feeds every block to `meter` as well. Its tasks start first: they are
  // the longest, and the owner's thread joins in only after reading the next
  // block. They keep eight lanes each (for stereo, four segments of both
  // channels: two tasks), so that both threads share the meter; one task of
  // sixteen lanes alone held the block's end back. Shared blocks split the
  // tasks in even halves instead.
  void measureLoudness(LoudnessMeter* meter) {
    meter_ = meter;
    if (meter) meter->splitTasksInHalves(sharesBlocks());
  }
  // And to `overview`, its tasks after the meter's.
  void drawOverview(LevelOverviewBuilder* overview) { overview_ = overview; }

  // Finishes the block in progress; the figures of the data as stored, and
  // de-emphasised (empty without the filter), one per channel.
  void finish(std::vector<ChannelFigures>& stored, std::vector<ChannelFigures>& filtered);

  // The samples that were NaN or infinite, counted as 0, in every channel.
  std::int64_t nonFiniteSamples() const;

  // Accumulates one block on this thread, channel after channel.
  void addBlockHere(const unsigned char* bytes, std::int64_t frames);

  // Asked to share blocks, with two threads, no de-emphasis and one or two
  // channels, the owner and a partner share every block instead, as in the tuned pass's
  // ParallelAccumulator (the same calls): each reads a piece and runs half
  // the meter's and overview's tasks, and they take parts of whole chunks
  // (every channel's frames) from either end of the block.
  bool sharesBlocks() const { return sharing_.has_value(); }
  std::int64_t ownerFrames(std::int64_t start, std::int64_t frames) const;
  void startShared(std::int64_t frames, std::int64_t ownerFrames,
                   std::function<bool(unsigned char*, std::size_t)> readRest);
  bool runOwnerShare(const std::function<void()>& afterRest);
  void finishShared();

  // What a channel accumulates; public for the kernels in the source file.
  struct Sums {
    double min = 0.0;
    double max = 0.0;
    std::int64_t minPos = 0;
    std::int64_t maxPos = 0;
    __extension__ __int128 sum = 0;             // integers, exact
    __extension__ unsigned __int128 sumSq = 0;  // integers, exact
    // Float: the chunks' sums in order (float_sums.h), and the chunk in
    // progress lane by lane. Values beyond kernels::kPlainMagnitude are
    // summed apart, times 2^-600 (exact), in the same order.
    double floatSum = 0.0;
    double floatSumSq = 0.0;
    double hugeSum = 0.0;
    double hugeSumSq = 0.0;
    bool huge = false;  // a value beyond kPlainMagnitude came
    kernels::SumLanes lanes, hugeLanes;
    std::int64_t atLimits = 0;
    std::int64_t nonFinite = 0;  // NaN and infinities, counted as 0
    // A block's later part (two threads sharing it) keeps its whole chunks'
    // sums, to join the channel's after the earlier part's, in order.
    struct Chunk {
      kernels::LaneTotal plain, huge;
      bool hugeSeen = false;  // a huge value came in the part up to its end
    };
    bool keepChunks = false;
    std::vector<Chunk> chunks;
  };
  struct Channel {
    Sums stored, filtered;
    DeemphasisFilter integerFilter;       // 16-bit scale
    DeemphasisFilterDouble doubleFilter;  // wider integers and float
  };

 private:
  void settle();
  // Frames first.. of `channel`, at `bytes`, into `stored` (and the
  // channel's filtered sums).
  void accumulate(int channel, const unsigned char* bytes, std::int64_t frames, std::int64_t first,
                  Sums& stored);
  void runPart(int part);
  // Whether both channels of stereo are accumulated in one pass over their
  // bytes (float and 24-bit, without the filter), by addStereo.
  bool stereoKernel() const;
  void addStereo(Sums& left, Sums& right, const unsigned char* bytes, std::int64_t frames,
                 std::int64_t first) const;
  ChannelFigures figures(const Sums& s) const;

  SampleFormat format_;
  int channels_;
  bool deemphasis_;
  std::int64_t frames_ = 0;
  std::vector<Channel> state_;
  ThreadPool pool_;
  BlockBufferPair buffers_;
  const unsigned char* pending_ = nullptr;
  std::int64_t pendingFrames_ = 0;
  LoudnessMeter* meter_ = nullptr;
  LevelOverviewBuilder* overview_ = nullptr;
  FormatFrameSource source_;
  bool meterPending_ = false;
  // The shared block's: its parts' first frames and end, the sums of the
  // parts after the first ([part][channel]; the first goes to state_), the
  // tasks.
  static constexpr std::int64_t kSharedParts = 8;
  std::vector<std::int64_t> partBegin_;
  std::vector<std::vector<Sums>> partSums_;
  std::optional<BlockSharing> sharing_;  // last: its thread ends first
};

}  // namespace ril
