#include "core/modify/parallel_deemphasis.h"

#include <algorithm>
#include <cmath>

#include "core/dsp/double_filter/double_conversion.h"
#include "core/dsp/double_filter/segmented_deemphasis.h"
#include "core/dsp/kernel_switches.h"

namespace ril {

namespace {

// Frames filtered at a time: the doubles of a slice take 2 MiB.
constexpr std::int64_t kSliceFrames = 65536;
// A range is worth a thread of its own from this many frames on.
constexpr std::int64_t kLeastRangeFrames = 16384;

constexpr std::int64_t W = kernels::kDoubleWarmUp;

}  // namespace

BlockDeemphasis::BlockDeemphasis(int channels, int bitsPerSample, double factor, int threads)
    : channels_(channels),
      bits_(bitsPerSample),
      frameBytes_(channels * bitsPerSample / 8),
      factor_(factor),
      pool_(threads),
      leastRangeFrames_(kLeastRangeFrames) {}

void BlockDeemphasis::setLeastRangeFrames(std::int64_t frames) {
  leastRangeFrames_ = std::max(frames, W + 1);
}

unsigned BlockDeemphasis::run(const void* in, void* out, std::int64_t frames,
                              DeemphasisFilterDouble* filters, FollowedFilter* follow) {
  const auto* from = static_cast<const unsigned char*>(in);
  auto* to = static_cast<unsigned char*>(out);
  unsigned clipped = 0;
  for (std::int64_t start = 0; start < frames; start += kSliceFrames) {
    const std::int64_t n = std::min(kSliceFrames, frames - start);
    clipped |= runSlice(from + start * frameBytes_, to + start * frameBytes_, n, filters, follow);
  }
  return clipped;
}

unsigned BlockDeemphasis::runSlice(const unsigned char* in, unsigned char* out, std::int64_t frames,
                                   DeemphasisFilterDouble* filters, FollowedFilter* follow) {
  for (int c = 0; c < 2; ++c) {
    if (x_[c].size() < static_cast<std::size_t>(frames)) {
      x_[c].resize(static_cast<std::size_t>(frames));
      y_[c].resize(static_cast<std::size_t>(frames));
    }
  }
  // With the report's filter as one more task, twice the ranges share the
  // threads more evenly.
  const int wanted = pool_.threads() * (follow && pool_.threads() > 1 ? 2 : 1);
  const auto count =
      static_cast<int>(std::clamp<std::int64_t>(frames / leastRangeFrames_, 1, wanted));
  ranges_.resize(static_cast<std::size_t>(count));
  for (int r = 0; r < count; ++r) {
    ranges_[static_cast<std::size_t>(r)].begin = frames * r / count;
    ranges_[static_cast<std::size_t>(r)].end = frames * (r + 1) / count;
  }
  // The ranges, and the report's filter alongside as one more task.
  pool_.run(count + (follow ? 1 : 0), [&](int task) {
    if (task < count) {
      filterRange(in, ranges_[static_cast<std::size_t>(task)], filters);
    } else {
      follower_.follow(in, frames, channels_, bits_, follow);
    }
  });
  // Settling is serial but short: a comparison per range unless a guess was wrong.
  for (int c = 0; c < channels_; ++c) {
    DeemphasisFilterDouble state{x_[c][static_cast<std::size_t>(ranges_[0].end - 1)],
                                 y_[c][static_cast<std::size_t>(ranges_[0].end - 1)]};
    for (int r = 1; r < count; ++r) {
      const Range& range = ranges_[static_cast<std::size_t>(r)];
      const DeemphasisFilterDouble& guess = range.guess[c];
      if (guess.prevOutput != state.prevOutput) ++repairs_;
      state =
          kernels::settleSegment(x_[c].data(), y_[c].data(), range.begin, range.end, guess, state);
    }
    filters[c] = state;
  }
  pool_.run(count, [&](int r) { storeRange(out, ranges_[static_cast<std::size_t>(r)]); });
  unsigned clipped = 0;
  for (const Range& r : ranges_) clipped |= r.clipped;
  return clipped;
}

void BlockDeemphasis::filterRange(const unsigned char* in, Range& r,
                                  const DeemphasisFilterDouble* filters) {
  const std::int64_t n = r.end - r.begin;
  kernels::toScaledDoubles(in + r.begin * frameBytes_, n, channels_, bits_, factor_,
                           x_[0].data() + r.begin, x_[1].data() + r.begin);
  // The inputs in front belong to another range: taken here on their own.
  double front[2][W + 1];
  if (r.begin > 0) {
    kernels::toScaledDoubles(in + (r.begin - W - 1) * frameBytes_, W + 1, channels_, bits_, factor_,
                             front[0], front[1]);
  }
  for (int c = 0; c < channels_; ++c) {
    DeemphasisFilterDouble state = filters[c];
    if (r.begin > 0) {
      state = kernels::guessStateBefore(front[c], W + 1);
      if (kernels::spoilGuesses()) state.prevOutput = std::nextafter(state.prevOutput, 1e300);
      r.guess[c] = state;
    }
    kernels::deemphasiseSegmented(x_[c].data() + r.begin, y_[c].data() + r.begin, n, state);
  }
}

void BlockDeemphasis::storeRange(unsigned char* out, Range& r) const {
  r.clipped = kernels::storeRounded(y_[0].data() + r.begin, y_[1].data() + r.begin, r.end - r.begin,
                                    channels_, bits_, out + r.begin * frameBytes_);
}

}  // namespace ril
