// A small pool of worker threads for splitting one pass over several cores.
// The thread that owns the pool hands it a batch of numbered tasks, may do
// other work meanwhile, and then waits, running whatever task no worker has
// taken yet. A pool of one thread has no workers: the tasks run on the
// owner's thread inside wait(), in order.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ril {

class ThreadPool {
 public:
  // `threads` counts the owner's thread too; values below 1 count as 1.
  explicit ThreadPool(int threads);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  int threads() const { return static_cast<int>(workers_.size()) + 1; }

  // Starts task(0) .. task(count - 1); the previous batch must have been
  // waited for. `task` must stay valid until wait() returns.
  void start(int count, std::function<void(int)> task);
  // Runs the batch's untaken tasks on this thread and returns when every task
  // has finished. The first exception a task threw is thrown here.
  void wait();
  // start() and wait().
  void run(int count, std::function<void(int)> task);

 private:
  void workerLoop();
  // Takes and runs tasks until none is left; `lock` is held around the taking.
  void runTasks(std::unique_lock<std::mutex>& lock);

  std::vector<std::thread> workers_;
  std::mutex mutex_;
  std::condition_variable work_;  // a batch started, or the pool is ending
  std::condition_variable done_;  // a batch's last task finished
  std::function<void(int)> task_;
  int count_ = 0;
  int next_ = 0;      // the next task to take
  int finished_ = 0;  // tasks finished in this batch
  std::exception_ptr failure_;
  bool ending_ = false;
};

// The number of processors this process may run on (at least 1).
int availableProcessors();
// Threads for the rewriting of a modification: one processor fewer, as its
// reader and writer threads keep one busy between them (at least 1).
int rewritingThreads();

}  // namespace ril
