// Flushes a file being written on a thread of its own, now and then, so that
// the final fsync finds little left to do. On a virtual disk the flush costs
// time in proportion to the data written since the last one (about 0.5 ms per
// MiB here); flushing behind the writing spreads that cost over the run
// instead of adding it at the end.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace ril {

class BackgroundFlush {
 public:
  // What `flush` returns when the file cannot be flushed at all (a pipe, a
  // device): no failure, and no flush is tried after it.
  static constexpr int kCannotFlush = -1;

  // `flush` flushes the file and returns 0, the errno it failed with, or
  // kCannotFlush.
  explicit BackgroundFlush(std::function<int()> flush);
  ~BackgroundFlush();  // finish()
  BackgroundFlush(const BackgroundFlush&) = delete;
  BackgroundFlush& operator=(const BackgroundFlush&) = delete;

  // Asks for a flush without waiting for it. Requests made while one runs
  // come to one more flush after it. The thread starts with the first request.
  void request();
  // Waits for a flush under way (one only asked for is dropped: the caller
  // flushes the file itself next), ends the thread, and returns the errno of
  // the first flush that failed (0 when none did), every time it is called.
  int finish();

 private:
  void loop();

  std::function<int()> flush_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool wanted_ = false;  // a flush is asked for
  bool stopping_ = false;
  bool unsupported_ = false;
  int error_ = 0;
  std::thread thread_;
};

}  // namespace ril
