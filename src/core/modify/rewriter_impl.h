// What each kind of sample rewriting does behind SampleRewriter: the tuned
// 8- and 16-bit mono and stereo kinds, and the one for every other format.
#pragma once

#include <cstdint>
#include <memory>

#include "core/dsp/integer_filter/filter_follower.h"
#include "core/modify/parallel_deemphasis.h"
#include "core/modify/sample_rewriter.h"

namespace ril {

struct SampleRewriter::Impl {
  virtual ~Impl() = default;
  virtual void rewrite(const void* in, void* out, std::int64_t frames, std::int64_t first) = 0;
  virtual bool volumeCanOverflow() const = 0;
  virtual void checkVolume(const void* in, std::int64_t frames) = 0;
  virtual void resetFilters() = 0;
  virtual void useThreads(int threads) = 0;
  virtual void divideBy(double /*peak*/) {}
  // Following the smallest and largest sample as stored (see
  // SampleRewriter::followPeak); false for the kinds that cannot.
  virtual bool followPeak() { return false; }
  virtual void followedExtremes(double& /*low*/, double& /*high*/) const {}

  std::int64_t lastValue = 0;
  std::int64_t beyondFullScale = 0;
  FollowedFilter followers[2];
  bool following = false;                  // the run follows the report's filter
  std::unique_ptr<BlockDeemphasis> block;  // long blocks of 1 or 2 channels
};

}  // namespace ril
