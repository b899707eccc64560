#include "core/modify/volume_policy.h"

#include <gtest/gtest.h>

namespace ril {
namespace {

TEST(VolumePolicyTest, RangeFirstThenHeldAtOrBelowMaxGain) {
  EXPECT_EQ(chooseVolume(-5, 2.0, false).tenths, 0);
  EXPECT_TRUE(chooseVolume(-5, 2.0, false).limitedToRange);
  EXPECT_EQ(chooseVolume(20000, 20.0, false).tenths, 10000);
  // 1.63835 x 1000 rounds to 1638, which stays below maxGain.
  const VolumeChoice held = chooseVolume(2000, 32767.0 / 20000, false);
  EXPECT_TRUE(held.heldDown);
  EXPECT_EQ(held.tenths, 1638);
  // 1.9999 x 1000 rounds up to 2000, above maxGain: one step below instead.
  EXPECT_EQ(tenthsAtMost(1.9999), 1999);
  // Maximize uses maxGain itself, so nothing is held down.
  EXPECT_FALSE(chooseVolume(10000, 1.5, true).heldDown);
  // Equal in single precision counts as not above.
  EXPECT_FALSE(holdsDown(1.638, 1638, false));
}

TEST(VolumePolicyTest, FollowedRangePeakCountsOnlyExactMinusFullScaleAsOneLess) {
  FilteredRange range;
  range.min[0] = -32768;
  range.max[0] = 100;
  range.min[1] = -38000;  // the filter's values go beyond the 16-bit range
  range.max[1] = 5;
  EXPECT_EQ(peakOfRange(range, 1), 32767);
  EXPECT_EQ(peakOfRange(range, 2), 38000);
}

TEST(VolumePolicyTest, DeemphasisTrialStandsOnlyWhenCompleteAndNotHeldDown) {
  FilteredRange range;
  range.complete = true;
  range.max[0] = 20000;  // de-emphasised peak 20000: at most 163.8%
  std::int32_t peak = 0;
  EXPECT_TRUE(deemphasisTrialHolds(range, 1, 16, 1638, peak));
  EXPECT_EQ(peak, 20000);
  EXPECT_FALSE(deemphasisTrialHolds(range, 1, 16, 1639, peak));
  range.complete = false;
  EXPECT_FALSE(deemphasisTrialHolds(range, 1, 16, 1000, peak));
  EXPECT_TRUE(deemphasisTrialPays(true, false, true, true));
  EXPECT_FALSE(deemphasisTrialPays(true, true, true, true));
  EXPECT_FALSE(deemphasisTrialPays(true, false, false, true));
}

}  // namespace
}  // namespace ril
