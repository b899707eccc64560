// The tuned statistics pass over several threads: each block is cut into
// parts that accumulate side by side, and the parts' records are merged in
// frame order, so the result is exactly that of one SampleAccumulator. The
// de-emphasis filter carries its state from frame to frame: a part after the
// first starts from a guess, and a part whose guess was wrong is accumulated
// again from the true state on the owner's thread (the scheme and why it is
// exact: core/dsp/README.md).
#pragma once

#include <array>
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
#include "core/base/thread_pool.h"
#include "core/dsp/integer_filter/fast_division.h"
#include "core/dsp/integer_filter/segmented_filter.h"

namespace ril {

class ParallelAccumulator {
 public:
  // `largestBlockFrames`: the largest block addBlock() will be given.
  // `shareBlocks` with two threads: the owner and a partner share every
  // block (startShared() below) instead.
  ParallelAccumulator(int channels, int bitsPerSample, bool deemphasis, int threads,
                      std::int64_t largestBlockFrames, bool shareBlocks = false);
  ~ParallelAccumulator();
  ParallelAccumulator(const ParallelAccumulator&) = delete;
  ParallelAccumulator& operator=(const ParallelAccumulator&) = delete;

  // Where to read the next block's bytes. It stays untouched while the
  // block before it is accumulated, so that reading and accumulating overlap.
  unsigned char* nextBuffer() { return buffers_.next(); }
  // Finishes the block before and starts on the `frames` frames in
  // nextBuffer(), which then takes the other buffer.
  void addBlock(std::int64_t frames);
  // Finishes the block in progress and gives the records of every frame.
  StatsRecords finish();
  std::int64_t frames();

  // Feeds every block to `meter` as well, its tasks beside the parts.
  // Its lanes go sixteen to a task: the task starts first, beside the
  // reading. Two threads sharing the blocks take half of them each.
  void measureLoudness(LoudnessMeter* meter) {
    meter_ = meter;
    if (!meter) return;
    meter->setTaskLanes(sharesBlocks() ? kernels::kKLanes / 2 : kernels::kKLanes);
    meter->splitTasksInHalves(sharesBlocks());
  }
  // And to `overview`, its tasks after the meter's.
  void drawOverview(LevelOverviewBuilder* overview) { overview_ = overview; }

  // Parts hold whole multiples of this many frames (at least kWarmUp + 1);
  // by default one chunk of the tuned pass.
  void setPartUnit(std::int64_t frames);
  // Parts accumulated again because their guess was wrong.
  std::int64_t repairs() const { return repairs_; }

  // Two threads sharing every block (BlockSharing), the statistics' parts
  // joined in frame order as ever.
  bool sharesBlocks() const { return sharing_.has_value(); }
  // How many of the first frames of a block of `frames` frames from frame
  // `start` the owner reads; the partner reads the rest.
  std::int64_t ownerFrames(std::int64_t start, std::int64_t frames) const;
  // Starts on the block in nextBuffer(), whose first `ownerFrames` frames
  // have been read: the partner reads the rest into its place through
  // `readRest(to, bytes)` (false when the data ended early), then works on
  // its share. The block before must have been finished.
  void startShared(std::int64_t frames, std::int64_t ownerFrames,
                   std::function<bool(unsigned char*, std::size_t)> readRest);
  // The owner's share; `afterRest` runs once the partner has read the rest
  // (the next block's first piece is read there). False when the partner
  // could not read the rest.
  bool runOwnerShare(const std::function<void()>& afterRest);
  // Waits for the partner and adds the block to the records; throws what
  // the partner's reading threw.
  void finishShared();

 private:
  void settle();
  // The next buffer's block of `frames` frames, cut into parts, the first
  // restarted; it is now the block in progress.
  const unsigned char* takeBlock(std::int64_t frames);
  void runPart(int part);
  void guessState(int part, const unsigned char* bytes);

  int channels_;
  int frameBytes_;
  bool deemphasis_;
  ThreadPool pool_;
  SampleAccumulator total_;
  std::vector<SampleAccumulator> parts_;
  std::vector<std::array<FastDeemphasisState, 2>> guesses_;
  std::vector<std::int64_t> begin_;  // parts' first frames in the block, and its end
  int partsInUse_ = 0;
  std::int64_t partUnit_ = kernels::kChunkFrames;
  BlockBufferPair buffers_;
  const unsigned char* pending_ = nullptr;  // the block in progress
  LoudnessMeter* meter_ = nullptr;
  LevelOverviewBuilder* overview_ = nullptr;
  PcmFrameSource source_;
  bool meterPending_ = false;
  std::int64_t repairs_ = 0;
  static constexpr int kSharedParts = 8;  // a shared block's
  std::optional<BlockSharing> sharing_;   // last: its thread ends first
};

}  // namespace ril
