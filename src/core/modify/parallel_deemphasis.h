// The modification's de-emphasis over whole blocks of 1 or 2 channels, on
// several threads and in vector lanes, with the outputs exactly those of the
// serial filter: each slice of a block is cut into one range per thread, a
// range after the first starting from a guess (the scheme and why it is
// exact: core/dsp/README.md). Samples that do not fit are limited silently;
// the caller learns which channels had any and redoes those serially to
// report them in order.
#pragma once

#include <cstdint>
#include <vector>

#include "core/base/thread_pool.h"
#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/integer_filter/filter_follower.h"

namespace ril {

class BlockDeemphasis {
 public:
  BlockDeemphasis(int channels, int bitsPerSample, double factor, int threads);

  // Filters every channel of `frames` interleaved frames from `in` into `out`
  // (stored words of the format), from the states filters[c], which it
  // updates. With `follow` (one per channel) the report's filter runs along.
  // Returns a bit per channel (1 << c) that had a sample limited.
  unsigned run(const void* in, void* out, std::int64_t frames, DeemphasisFilterDouble* filters,
               FollowedFilter* follow);

  // A slice is cut into ranges of at least this many frames (at least
  // kDoubleWarmUp + 1); by default enough to be worth a thread.
  void setLeastRangeFrames(std::int64_t frames);
  std::int64_t repairs() const { return repairs_; }  // ranges whose guess was wrong

 private:
  struct Range {
    std::int64_t begin = 0;
    std::int64_t end = 0;
    DeemphasisFilterDouble guess[2];
    unsigned clipped = 0;
  };
  void filterRange(const unsigned char* in, Range& r, const DeemphasisFilterDouble* filters);
  void storeRange(unsigned char* out, Range& r) const;
  unsigned runSlice(const unsigned char* in, unsigned char* out, std::int64_t frames,
                    DeemphasisFilterDouble* filters, FollowedFilter* follow);

  int channels_;
  int bits_;
  int frameBytes_;
  double factor_;
  ThreadPool pool_;
  std::vector<Range> ranges_;
  std::vector<double> x_[2];
  std::vector<double> y_[2];
  BlockFollower follower_;
  std::int64_t leastRangeFrames_;
  std::int64_t repairs_ = 0;
};

}  // namespace ril
