#include "core/io/background_flush.h"

namespace ril {

BackgroundFlush::BackgroundFlush(std::function<int()> flush) : flush_(std::move(flush)) {}

BackgroundFlush::~BackgroundFlush() {
  finish();
}

void BackgroundFlush::request() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_ || unsupported_ || error_ != 0) return;
  wanted_ = true;
  if (!thread_.joinable()) {
    thread_ = std::thread([this] { loop(); });
  } else {
    changed_.notify_all();
  }
}

int BackgroundFlush::finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wanted_ = false;  // what it would have flushed, the caller's own fsync does
    stopping_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  return error_;
}

void BackgroundFlush::loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return wanted_ || stopping_; });
    if (!wanted_) return;
    wanted_ = false;
    lock.unlock();
    const int err = flush_();
    lock.lock();
    if (err == kCannotFlush) {
      unsupported_ = true;
      wanted_ = false;
    } else if (err != 0 && error_ == 0) {
      error_ = err;
      wanted_ = false;
    }
    changed_.notify_all();
  }
}

}  // namespace ril
