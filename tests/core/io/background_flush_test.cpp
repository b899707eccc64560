#include "core/io/background_flush.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <tuple>

namespace ril {
namespace {

// A flush that waits until the test lets it end, counting the flushes begun.
struct HeldFlush {
  std::mutex mutex;
  std::condition_variable changed;
  int begun = 0;
  int released = 0;
  int result = 0;
  std::thread::id thread;

  int operator()() {
    std::unique_lock<std::mutex> lock(mutex);
    thread = std::this_thread::get_id();
    const int mine = ++begun;
    changed.notify_all();
    changed.wait(lock, [&] { return released >= mine; });
    return result;
  }
  void waitBegun(int n) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return begun >= n; });
  }
  void release(int n) {
    std::lock_guard<std::mutex> lock(mutex);
    released = n;
    changed.notify_all();
  }
};

TEST(BackgroundFlushTest, FlushesBesideTheWriterAndFoldsRequestsMadeMeanwhile) {
  HeldFlush held;
  BackgroundFlush flush([&] { return held(); });
  flush.request();
  held.waitBegun(1);
  EXPECT_NE(held.thread, std::this_thread::get_id());
  flush.request();  // while the first runs: one more after it, not two
  flush.request();
  held.release(1);
  held.waitBegun(2);
  std::thread releaser([&] { held.release(2); });
  EXPECT_EQ(flush.finish(), 0);  // waits for the second to end
  releaser.join();
  EXPECT_EQ(held.begun, 2);
  flush.request();  // after finishing, nothing more is started
  EXPECT_EQ(flush.finish(), 0);
  EXPECT_EQ(held.begun, 2);
}

TEST(BackgroundFlushTest, KeepsTheFirstFailureForTheFinalSyncAndTriesNoMore) {
  for (const auto& [err, reported, flushes] :
       {std::tuple{EIO, EIO, 1}, {ENOSPC, ENOSPC, 1}, {EINVAL, 0, 1}, {0, 0, 2}}) {
    HeldFlush held;
    held.result = err;
    BackgroundFlush flush([&] { return held(); });
    flush.request();
    held.waitBegun(1);
    flush.request();  // due after the first, unless that one fails
    held.release(1);
    // Time for the flusher to take up the second request, were it to.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (flushes == 2) held.waitBegun(2);
    held.release(2);
    EXPECT_EQ(flush.finish(), reported) << err;
    EXPECT_EQ(held.begun, flushes) << err;
  }
}

TEST(BackgroundFlushTest, FinishingWithoutARequestStartsNothing) {
  int flushes = 0;
  BackgroundFlush flush([&] { return ++flushes, 0; });
  EXPECT_EQ(flush.finish(), 0);
  EXPECT_EQ(flushes, 0);
}

}  // namespace
}  // namespace ril
