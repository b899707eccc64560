#include "core/base/partner_thread.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace ril {
namespace {

TEST(PartnerThreadTest, AFailedReadSkipsTheWorkAndTheNextJobRunsAsUsual) {
  PartnerThread partner;
  for (int round = 0; round < 50; ++round) {
    bool worked = false;
    const int way = round % 3;  // reads, ends early, throws
    partner.start(
        [way] {
          if (way == 2) throw std::runtime_error("read");
          return way == 0;
        },
        [&worked] { worked = true; });
    EXPECT_EQ(partner.awaitRead(), way == 0);
    if (way == 2) {
      EXPECT_THROW(partner.finish(), std::runtime_error);
    } else {
      partner.finish();
    }
    EXPECT_EQ(worked, way == 0) << round;
  }
}

TEST(PartnerThreadTest, ItEndsWithAJobInHandFinished) {
  bool worked = false;
  {
    PartnerThread partner;
    partner.start([] { return true; },
                  [&worked] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                    worked = true;
                  });
  }
  EXPECT_TRUE(worked);
}

TEST(TwoEndedPartsTest, EveryPartIsTakenOnceTheFrontRisingAndTheBackFalling) {
  for (int round = 0; round < 200; ++round) {
    TwoEndedParts parts;
    const int count = round % 40;
    parts.reset(0, count);
    std::vector<int> front, back;
    std::thread other([&] {
      for (int j; (j = parts.takeBack()) >= 0;) back.push_back(j);
    });
    for (int j; (j = parts.takeFront()) >= 0;) front.push_back(j);
    other.join();
    // The front took 0, 1, ... and the back count - 1, count - 2, ...: together
    // every part once.
    for (std::size_t i = 0; i < front.size(); ++i) ASSERT_EQ(front[i], static_cast<int>(i));
    for (std::size_t i = 0; i < back.size(); ++i)
      ASSERT_EQ(back[i], count - 1 - static_cast<int>(i));
    ASSERT_EQ(static_cast<int>(front.size() + back.size()), count);
  }
}

}  // namespace
}  // namespace ril
