#include "core/base/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace ril {
namespace {

TEST(ThreadPoolTest, RunsEveryTaskOnceAndPassesTheFailureOnAfterTheOthersFinished) {
  for (int threads = 0; threads <= 3; ++threads) {
    SCOPED_TRACE(threads);
    ThreadPool pool(threads);
    EXPECT_EQ(pool.threads(), std::max(threads, 1));
    for (int round = 0; round < 3; ++round) {
      std::vector<std::atomic<int>> runs(200);
      const bool fail = round == 1;
      auto task = [&](int i) {
        runs[static_cast<std::size_t>(i)]++;
        if (fail && i == 17) throw std::runtime_error("task 17");
      };
      if (fail) {
        EXPECT_THROW(pool.run(200, task), std::runtime_error);
      } else {
        pool.run(200, task);
      }
      for (const std::atomic<int>& n : runs) EXPECT_EQ(n.load(), 1);
    }
  }
}

}  // namespace
}  // namespace ril
