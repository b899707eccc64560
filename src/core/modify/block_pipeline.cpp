#include "core/modify/block_pipeline.h"

#include <algorithm>

#include "core/base/errors.h"

namespace ril {

BlockPipeline::BlockPipeline(ByteSource& input, OutputFile& output,
                             std::vector<std::size_t> blockBytes, int depth)
    : input_(input), output_(output), bytes_(std::move(blockBytes)) {
  const std::size_t largest = bytes_.empty() ? 0 : *std::max_element(bytes_.begin(), bytes_.end());
  slots_ = static_cast<std::size_t>(std::max(1, depth));
  slotBytes_ = (largest + 63) / 64 * 64;  // each buffer aligned as the ring
  ring_.resize(slots_ * 2 * slotBytes_);
  reader_ = std::thread([this] { readLoop(); });
  writer_ = std::thread([this] { writeLoop(); });
}

BlockPipeline::~BlockPipeline() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  reader_.join();
  writer_.join();
}

template <class Ready, class Work>
void BlockPipeline::stage(Ready ready, Work work, bool finishWhenStopping, std::size_t& done,
                          std::exception_ptr& failure) {
  for (std::size_t k = 0; k < bytes_.size(); ++k) {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return stopping_ || ready(k); });
      if (stopping_ && !(finishWhenStopping && ready(k))) return;
    }
    std::exception_ptr failed;
    try {
      work(k);
    } catch (...) {
      failed = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (failed) {
        failure = failed;
      } else {
        done = k + 1;
      }
    }
    changed_.notify_all();
    if (failed) return;
  }
}

void BlockPipeline::readLoop() {
  // A slot is free once the block that had it before is written.
  stage([this](std::size_t k) { return k < written_ + slots_; },
        [this](std::size_t k) {
          if (input_.read(inBuffer(k), bytes_[k]) != bytes_[k]) {
            throw RunError(kErrInputPastEnd, "sample data");
          }
        },
        false, read_, readFailure_);
}

void BlockPipeline::writeLoop() {
  // Blocks handed on are written even when the run stops, as the serial loop
  // had written them before it went on.
  stage([this](std::size_t k) { return handed_ > k; },
        [this](std::size_t k) { output_.write(outBuffer(k), bytes_[k]); }, true, written_,
        writeFailure_);
}

void BlockPipeline::throwWriteFailure() {
  if (writeFailure_) std::rethrow_exception(writeFailure_);
}

BlockPipeline::Block BlockPipeline::next() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return read_ > current_ || readFailure_ || writeFailure_; });
  throwWriteFailure();
  if (read_ <= current_) {
    // As the serial loop would: the blocks before are written first, and a
    // failure there is the one to report.
    changed_.wait(lock, [&] { return written_ == handed_ || writeFailure_; });
    throwWriteFailure();
    std::rethrow_exception(readFailure_);
  }
  return Block{inBuffer(current_), outBuffer(current_)};
}

void BlockPipeline::write() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    throwWriteFailure();
    handed_ = ++current_;
  }
  changed_.notify_all();
}

void BlockPipeline::finish() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return written_ == handed_ || writeFailure_; });
  throwWriteFailure();
}

}  // namespace ril
