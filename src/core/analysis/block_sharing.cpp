#include "core/analysis/block_sharing.h"

#include <algorithm>

#include "core/dsp/cpu_features.h"

namespace ril {

std::int64_t BlockSharing::ownerFrames(const LoudnessMeter* meter, std::int64_t start,
                                       std::int64_t frames) {
  const std::int64_t earlier = meter ? meter->earlierTasksEnd(start, frames) : frames;
  return std::min(frames, (earlier < frames ? earlier : frames / 2) + kernels::kLoadMargin);
}

void BlockSharing::start(Work work, unsigned char* block, std::size_t ownerBytes, std::size_t bytes,
                         std::int64_t ownerFrames,
                         std::function<bool(unsigned char*, std::size_t)> readRest) {
  work_ = std::move(work);
  ownerFrames_ = ownerFrames;
  restRead_ = false;
  parts_.reset(0, work_.parts);
  partner_.start(
      [readRest = std::move(readRest), block, ownerBytes, bytes] {
        return ownerBytes == bytes || readRest(block + ownerBytes, bytes - ownerBytes);
      },
      [this] { runPartnerShare(); });
}

void BlockSharing::runTasks(bool owner, bool meter) {
  // The owner runs the first half of the tasks (none of a single one).
  const int count = meter ? work_.meterTasks : work_.overviewTasks;
  const int half = count / 2;
  for (int j = owner ? 0 : half; j < (owner ? half : count); ++j) {
    if (meter) {
      work_.meter->runTask(j, *work_.source);
    } else {
      work_.overview->runTask(j, *work_.source);
    }
  }
}

void BlockSharing::runPartnerShare() {
  runTasks(false, true);
  runTasks(false, false);
  for (int j; (j = parts_.takeBack()) >= 0;) work_.runPart(j);
}

bool BlockSharing::runOwnerShare(const std::function<void()>& afterRest) {
  // The meter's earlier tasks read only the owner's piece; then, while the
  // partner still reads, the parts within it.
  runTasks(true, true);
  int beyond = -1;
  for (int j; !partner_.hasRead() && (j = parts_.takeFront()) >= 0;) {
    if (work_.partEnd(j) + kernels::kLoadMargin > ownerFrames_) {
      beyond = j;
      break;
    }
    work_.runPart(j);
  }
  // Whatever follows may read the partner's piece.
  restRead_ = partner_.awaitRead();
  if (!restRead_) return false;
  afterRest();
  runTasks(true, false);
  if (beyond >= 0) work_.runPart(beyond);
  for (int j; (j = parts_.takeFront()) >= 0;) work_.runPart(j);
  return true;
}

}  // namespace ril
