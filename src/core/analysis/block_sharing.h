// Two threads sharing every block of a pass (PartnerThread): the owner reads
// the block's first piece, the partner the rest. Each runs half the meter's
// and the level overview's tasks, the owner's on frames of its own piece,
// and they take the statistics' parts from either end of the block
// (TwoEndedParts) until they meet: each works mostly on bytes it read itself,
// in the cache of its own core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "core/analysis/frame_source.h"
#include "core/analysis/level_overview.h"
#include "core/analysis/loudness_meter.h"
#include "core/base/partner_thread.h"

namespace ril {

class BlockSharing {
 public:
  // What a block holds besides its bytes. The meter and the overview have
  // planned their tasks; `runPart(j)` accumulates the frames of part j,
  // which ends at frame `partEnd(j)` of the block.
  struct Work {
    LoudnessMeter* meter = nullptr;
    int meterTasks = 0;
    LevelOverviewBuilder* overview = nullptr;
    int overviewTasks = 0;
    const FrameSource* source = nullptr;
    int parts = 0;
    std::function<void(int)> runPart;
    std::function<std::int64_t(int)> partEnd;
  };

  // How many of the first frames of a block of `frames` frames from frame
  // `start` the owner reads: those of the meter's earlier tasks (half the
  // block without them), and a margin for the vector loads.
  static std::int64_t ownerFrames(const LoudnessMeter* meter, std::int64_t start,
                                  std::int64_t frames);

  // Starts on a block of `bytes` bytes at `block`, whose first `ownerBytes`
  // the owner has read: the partner reads the rest through `readRest(to,
  // count)` (false when the data ended early), then works on its share.
  void start(Work work, unsigned char* block, std::size_t ownerBytes, std::size_t bytes,
             std::int64_t ownerFrames, std::function<bool(unsigned char*, std::size_t)> readRest);
  // The owner's share; `afterRest` runs once the partner has read the rest
  // (the next block's first piece is read there). False when the partner
  // could not read the rest, and then did no work.
  bool runOwnerShare(const std::function<void()>& afterRest);
  // Whether the partner read the rest of the block in hand, and so worked on
  // it: runOwnerShare()'s answer.
  bool restRead() const { return restRead_; }
  // Waits for the partner's share; throws what its reading threw.
  void finish() { partner_.finish(); }

 private:
  void runTasks(bool owner, bool meter);
  void runPartnerShare();

  PartnerThread partner_;
  TwoEndedParts parts_;
  Work work_;
  std::int64_t ownerFrames_ = 0;
  bool restRead_ = false;
};

}  // namespace ril
