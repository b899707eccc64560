#include "core/base/partner_thread.h"

#include "core/base/thread_pool.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace ril {

namespace {

constexpr std::uint32_t kEnding = 0x80000000u;
// About 0.1 ms of pauses.
constexpr int kSpins = 4000;

inline void pause() {
#if defined(__x86_64__) || defined(__i386__)
  _mm_pause();
#endif
}

}  // namespace

// Spinning helps only where the other thread runs on a processor of its own.
PartnerThread::PartnerThread()
    : spins_(availableProcessors() > 1 ? kSpins : 0), thread_([this] { loop(); }) {}

PartnerThread::~PartnerThread() {
  const std::uint32_t started = started_.load(std::memory_order_relaxed);
  for (std::uint32_t f; (f = finished_.load(std::memory_order_acquire)) != started;) {
    await(finished_, f);
  }
  started_.store(started | kEnding, std::memory_order_release);
  started_.notify_one();
  thread_.join();
}

void PartnerThread::await(const std::atomic<std::uint32_t>& value, std::uint32_t old) const {
  for (int i = 0; i < spins_; ++i) {
    if (value.load(std::memory_order_acquire) != old) return;
    pause();
  }
  value.wait(old, std::memory_order_acquire);
}

void PartnerThread::start(std::function<bool()> read, std::function<void()> work) {
  read_ = std::move(read);
  work_ = std::move(work);
  failure_ = nullptr;
  readState_.store(0, std::memory_order_relaxed);
  started_.fetch_add(1, std::memory_order_release);
  started_.notify_one();
}

void PartnerThread::loop() {
  std::uint32_t done = 0;
  for (;;) {
    std::uint32_t started = started_.load(std::memory_order_acquire);
    while (started == done) {
      await(started_, done);
      started = started_.load(std::memory_order_acquire);
    }
    if (started & kEnding) return;
    bool read = false;
    try {
      read = read_();
    } catch (...) {
      failure_ = std::current_exception();
    }
    readState_.store(read ? 1 : 2, std::memory_order_release);
    readState_.notify_one();
    if (read) {
      try {
        work_();
      } catch (...) {
        failure_ = std::current_exception();
      }
    }
    done = started;
    finished_.store(done, std::memory_order_release);
    finished_.notify_one();
  }
}

bool PartnerThread::awaitRead() {
  std::uint32_t state = readState_.load(std::memory_order_acquire);
  while (state == 0) {
    await(readState_, 0);
    state = readState_.load(std::memory_order_acquire);
  }
  return state == 1;
}

void PartnerThread::finish() {
  const std::uint32_t started = started_.load(std::memory_order_relaxed);
  for (std::uint32_t f; (f = finished_.load(std::memory_order_acquire)) != started;) {
    await(finished_, f);
  }
  read_ = nullptr;
  work_ = nullptr;
  if (failure_) {
    std::exception_ptr failure = failure_;
    failure_ = nullptr;
    std::rethrow_exception(failure);
  }
}

}  // namespace ril
