#include "core/analysis/parallel_statistics.h"

#include <algorithm>

#include "core/dsp/integer_filter/filter_chain.h"
#include "core/dsp/integer_filter/segmented_filter.h"
#include "core/dsp/kernel_switches.h"
#include "core/dsp/planar_conversion.h"

namespace ril {

ParallelAccumulator::ParallelAccumulator(int channels, int bitsPerSample, bool deemphasis,
                                         int threads, std::int64_t largestBlockFrames,
                                         bool shareBlocks)
    : channels_(channels),
      frameBytes_(channels * (bitsPerSample == 8 ? 1 : 2)),
      deemphasis_(deemphasis),
      pool_(shareBlocks && threads == 2 ? 1 : threads),
      total_(channels, bitsPerSample, deemphasis),
      source_(nullptr, channels, bitsPerSample) {
  if (shareBlocks && threads == 2) sharing_.emplace();
  const int parts = sharesBlocks() ? kSharedParts : std::max(1, pool_.threads());
  parts_.assign(static_cast<std::size_t>(parts),
                SampleAccumulator(channels, bitsPerSample, deemphasis));
  guesses_.resize(static_cast<std::size_t>(parts));
  begin_.resize(static_cast<std::size_t>(parts) + 1);
  const auto bytes = static_cast<std::size_t>(std::max<std::int64_t>(largestBlockFrames, 0)) *
                     static_cast<std::size_t>(frameBytes_);
  buffers_.resize(bytes);
}

ParallelAccumulator::~ParallelAccumulator() {
  // A block may still be in the workers' hands when reading fails part-way.
  try {
    pool_.wait();
  } catch (...) {
  }
}

void ParallelAccumulator::setPartUnit(std::int64_t frames) {
  partUnit_ = std::max(frames, kernels::kWarmUp + 1);
}

void ParallelAccumulator::guessState(int part, const unsigned char* bytes) {
  constexpr std::int64_t W = kernels::kWarmUp;
  const std::int64_t b = begin_[static_cast<std::size_t>(part)];
  std::int16_t x[2][W + 1];
  kernels::toPlanar16(bytes + (b - W - 1) * frameBytes_, W + 1, channels_,
                      frameBytes_ / channels_ * 8, x[0], x[1]);
  std::array<FastDeemphasisState, 2>& guess = guesses_[static_cast<std::size_t>(part)];
  for (int c = 0; c < channels_; ++c) {
    auto y = static_cast<std::uint64_t>(x[c][0] + kernels::kOutputBias);
    for (std::int64_t i = 1; i <= W; ++i) y = kernels::chainStep(kernels::preparedAt(x[c], i), y);
    guess[static_cast<std::size_t>(c)].prevInput = x[c][W];
    guess[static_cast<std::size_t>(c)].biasedOutput =
        static_cast<std::int64_t>(y) + (kernels::spoilGuesses() ? 1 : 0);
  }
}

const unsigned char* ParallelAccumulator::takeBlock(std::int64_t frames) {
  const unsigned char* bytes = buffers_.take();
  const std::int64_t units = (frames + partUnit_ - 1) / partUnit_;
  partsInUse_ =
      static_cast<int>(std::min<std::int64_t>(static_cast<std::int64_t>(parts_.size()), units));
  for (int j = 0; j <= partsInUse_; ++j) {
    begin_[static_cast<std::size_t>(j)] =
        j == partsInUse_ ? frames : (units * j / partsInUse_) * partUnit_;
  }
  parts_[0].restartAt(total_.frames(), total_.filterState(), total_.records());
  pending_ = bytes;
  return bytes;
}

void ParallelAccumulator::addBlock(std::int64_t frames) {
  settle();
  if (frames <= 0) return;
  const unsigned char* bytes = takeBlock(frames);
  const std::int64_t first = total_.frames();
  for (int j = 1; j < partsInUse_; ++j) {
    if (deemphasis_) guessState(j, bytes);
    parts_[static_cast<std::size_t>(j)].restartAt(first + begin_[static_cast<std::size_t>(j)],
                                                  guesses_[static_cast<std::size_t>(j)].data(),
                                                  total_.records());
  }
  const int loudnessTasks = meter_ ? meter_->plan(frames) : 0;
  meterPending_ = loudnessTasks > 0;
  source_.setBytes(bytes);
  const int overviewTasks = overview_ ? overview_->plan(first, frames, pool_.threads()) : 0;
  // The meter's tasks first: they are the longest, and the owner's thread
  // joins in only after reading the next block.
  pool_.start(partsInUse_ + loudnessTasks + overviewTasks, [this, bytes, loudnessTasks](int j) {
    if (j < loudnessTasks) {
      meter_->runTask(j, source_);
      return;
    }
    j -= loudnessTasks;
    if (j >= partsInUse_) {
      overview_->runTask(j - partsInUse_, source_);
      return;
    }
    const std::int64_t b = begin_[static_cast<std::size_t>(j)];
    parts_[static_cast<std::size_t>(j)].addBlock(bytes + b * frameBytes_,
                                                 begin_[static_cast<std::size_t>(j) + 1] - b);
  });
}

void ParallelAccumulator::settle() {
  if (!pending_) return;
  const unsigned char* bytes = pending_;
  pending_ = nullptr;
  pool_.wait();
  for (int j = 0; j < partsInUse_; ++j) {
    SampleAccumulator& part = parts_[static_cast<std::size_t>(j)];
    const std::int64_t b = begin_[static_cast<std::size_t>(j)];
    bool guessed = true;
    for (int c = 0; j > 0 && deemphasis_ && c < channels_; ++c) {
      const FastDeemphasisState& truth = total_.filterState()[c];
      const FastDeemphasisState& guess =
          guesses_[static_cast<std::size_t>(j)][static_cast<std::size_t>(c)];
      guessed =
          guessed && truth.prevInput == guess.prevInput && truth.biasedOutput == guess.biasedOutput;
    }
    if (!guessed) {
      ++repairs_;
      part.restartAt(total_.frames(), total_.filterState(), total_.records());
      part.addBlock(bytes + b * frameBytes_, begin_[static_cast<std::size_t>(j) + 1] - b);
    }
    total_.append(part);
  }
  if (meterPending_) {
    meterPending_ = false;
    meter_->finishBlock();
  }
}

std::int64_t ParallelAccumulator::ownerFrames(std::int64_t start, std::int64_t frames) const {
  return BlockSharing::ownerFrames(meter_, start, frames);
}

void ParallelAccumulator::startShared(std::int64_t frames, std::int64_t ownerFrames,
                                      std::function<bool(unsigned char*, std::size_t)> readRest) {
  settle();
  unsigned char* bytes = buffers_.next();
  takeBlock(frames);
  const std::int64_t first = total_.frames();
  source_.setBytes(bytes);
  BlockSharing::Work work;
  work.meter = meter_;
  work.meterTasks = meter_ ? meter_->plan(frames) : 0;
  meterPending_ = work.meterTasks > 0;
  work.overview = overview_;
  work.overviewTasks = overview_ ? overview_->plan(first, frames, 2) : 0;
  work.source = &source_;
  work.parts = partsInUse_;
  work.runPart = [this](int j) { runPart(j); };
  work.partEnd = [this](int j) { return begin_[static_cast<std::size_t>(j) + 1]; };
  sharing_->start(std::move(work), bytes, static_cast<std::size_t>(ownerFrames * frameBytes_),
                  static_cast<std::size_t>(frames * frameBytes_), ownerFrames, std::move(readRest));
}

// Part j of the block in hand; a part after the first starts from a guess.
void ParallelAccumulator::runPart(int j) {
  const auto i = static_cast<std::size_t>(j);
  if (j > 0) {
    if (deemphasis_) guessState(j, pending_);
    parts_[i].restartAt(total_.frames() + begin_[i], guesses_[i].data(), total_.records());
  }
  parts_[i].addBlock(pending_ + begin_[i] * frameBytes_, begin_[i + 1] - begin_[i]);
}

bool ParallelAccumulator::runOwnerShare(const std::function<void()>& afterRest) {
  return sharing_->runOwnerShare(afterRest);
}

void ParallelAccumulator::finishShared() {
  if (!sharing_->restRead()) {
    // The partner did not work on a block whose rest it could not read.
    pending_ = nullptr;
    meterPending_ = false;
  }
  sharing_->finish();
  settle();
}

StatsRecords ParallelAccumulator::finish() {
  settle();
  return total_.finish();
}

std::int64_t ParallelAccumulator::frames() {
  settle();
  return total_.frames();
}

}  // namespace ril
