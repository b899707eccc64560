#include "core/base/thread_pool.h"

#include <sched.h>

#include <algorithm>

namespace ril {

ThreadPool::ThreadPool(int threads) {
  for (int i = 1; i < threads; ++i) workers_.emplace_back([this] { workerLoop(); });
}

ThreadPool::~ThreadPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ending_ = true;
  }
  work_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void ThreadPool::start(int count, std::function<void(int)> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = std::move(task);
    count_ = count;
    next_ = 0;
    finished_ = 0;
    failure_ = nullptr;
  }
  if (!workers_.empty()) work_.notify_all();
}

void ThreadPool::runTasks(std::unique_lock<std::mutex>& lock) {
  while (next_ < count_) {
    const int i = next_++;
    lock.unlock();
    std::exception_ptr failure;
    try {
      task_(i);
    } catch (...) {
      failure = std::current_exception();
    }
    lock.lock();
    if (failure && !failure_) failure_ = failure;
    if (++finished_ == count_) done_.notify_all();
  }
}

void ThreadPool::workerLoop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_.wait(lock, [this] { return ending_ || next_ < count_; });
    if (ending_) return;
    runTasks(lock);
  }
}

void ThreadPool::wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  runTasks(lock);
  done_.wait(lock, [this] { return finished_ == count_; });
  count_ = 0;
  next_ = 0;
  finished_ = 0;
  task_ = nullptr;
  if (failure_) {
    std::exception_ptr failure = failure_;
    failure_ = nullptr;
    std::rethrow_exception(failure);
  }
}

void ThreadPool::run(int count, std::function<void(int)> task) {
  start(count, std::move(task));
  wait();
}

int availableProcessors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(1, CPU_COUNT(&set));
  return std::max(1u, std::thread::hardware_concurrency());
}

int rewritingThreads() {
  return std::max(1, availableProcessors() - 1);
}

}  // namespace ril
