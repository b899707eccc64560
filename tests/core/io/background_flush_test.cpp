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

// A flush that returns `result` once the test has released it; counts the
// flushes begun and notes the thread they ran on.
struct HeldFlush {
  std::mutex mutex;
  std::condition_variable changed;
  int begun = 0, released = 0, result = 0;
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

// Requests made while a flush runs come to one more; a failure stops the
// flushing and is what finish() (the final sync) reports, EROFS from a
// regular file too; a file that cannot be flushed (a pipe) only stops it.
TEST(BackgroundFlushTest, FoldsRequestsMadeMeanwhileAndKeepsTheFirstFailureForTheFinalSync) {
  for (const auto& [err, reported, flushes] : {std::tuple{0, 0, 2},
                                               {EIO, EIO, 1},
                                               {ENOSPC, ENOSPC, 1},
                                               {EROFS, EROFS, 1},
                                               {BackgroundFlush::kCannotFlush, 0, 1}}) {
    HeldFlush held;
    held.result = err;
    BackgroundFlush flush([&] { return held(); });
    flush.request();
    held.waitBegun(1);
    EXPECT_NE(held.thread, std::this_thread::get_id());
    flush.request();
    flush.request();
    held.release(1);
    // Time for the flusher to take up a further request, were it to.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (flushes == 2) held.waitBegun(2);
    held.release(2);
    EXPECT_EQ(flush.finish(), reported) << err;
    EXPECT_EQ(held.begun, flushes) << err;
    flush.request();  // after finishing, nothing more starts
    EXPECT_EQ(flush.finish(), reported) << err;
    EXPECT_EQ(held.begun, flushes) << err;
  }
}

}  // namespace
}  // namespace ril
