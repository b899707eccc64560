// A second thread for a pass that shares every block with it. The owner
// reads the first piece of a block, the partner the rest, and each works
// mostly on the bytes it read itself, so that they stay in the cache of the
// core that read them. The partner reads only once the block has started,
// so the reads keep the order of the stream.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <thread>

namespace ril {

class PartnerThread {
 public:
  PartnerThread();
  // Waits for the job in hand.
  ~PartnerThread();
  PartnerThread(const PartnerThread&) = delete;
  PartnerThread& operator=(const PartnerThread&) = delete;

  // Runs `read` on the partner, then `work` when `read` returned true. The
  // job before must have been finished.
  void start(std::function<bool()> read, std::function<void()> work);
  // Waits until the partner's `read` has returned: true when it read its
  // piece, false when it did not or threw (finish() then throws that).
  bool awaitRead();
  // Whether the partner's `read` has returned.
  bool hasRead() const { return readState_.load(std::memory_order_acquire) != 0; }
  // Waits for the job to end; throws what it threw.
  void finish();

 private:
  void loop();

  // The two threads meet once or twice a block, and mostly within
  // microseconds of each other: a waiting thread spins a little before it
  // sleeps.
  void await(const std::atomic<std::uint32_t>& value, std::uint32_t old) const;

  const int spins_;
  std::function<bool()> read_;
  std::function<void()> work_;
  std::exception_ptr failure_;
  std::atomic<std::uint32_t> started_{0};    // jobs started (the highest bit: ending)
  std::atomic<std::uint32_t> readState_{0};  // per job: 0 reading, 1 read, 2 not read
  std::atomic<std::uint32_t> finished_{0};   // jobs finished
  std::thread thread_;                       // last, so that it starts on a complete object
};

// Parts of a block that the owner takes from the front and the partner from
// the back, each from the end of the block it read, until they meet.
class TwoEndedParts {
 public:
  // Parts first .. end - 1 to be taken.
  void reset(int first, int end) { ends_.store(pack(first, end), std::memory_order_relaxed); }
  // The next part from the front or from the back; -1 when none is left.
  int takeFront() { return take(true); }
  int takeBack() { return take(false); }

 private:
  static std::uint32_t pack(int front, int back) {
    return static_cast<std::uint32_t>(front) << 16 | static_cast<std::uint32_t>(back);
  }
  int take(bool front) {
    std::uint32_t ends = ends_.load(std::memory_order_relaxed);
    for (;;) {
      const int f = static_cast<int>(ends >> 16), b = static_cast<int>(ends & 0xffffu);
      if (f >= b) return -1;
      const std::uint32_t next = front ? pack(f + 1, b) : pack(f, b - 1);
      if (ends_.compare_exchange_weak(ends, next, std::memory_order_relaxed)) {
        return front ? f : b - 1;
      }
    }
  }
  std::atomic<std::uint32_t> ends_{0};
};

}  // namespace ril
