#include "core/analysis/level_overview.h"

#include <algorithm>
#include <cmath>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ril {

namespace {

// Frames read from a source at a time.
constexpr std::int64_t kRunFrames = 1024;
// The fewest frames worth a task of their own.
constexpr std::int64_t kLeastTaskFrames = 16384;

// The smallest and largest of `count` values and how many are at full scale.
// NaN counts for nothing; zero has one sign whatever the order.
void scanRun(const double* v, std::int64_t count, const FullScale& fullScale, double& low,
             double& high, std::int64_t& full) {
  const double inf = std::numeric_limits<double>::infinity();
  double lo = inf, hi = -inf;
  std::int64_t n = 0;
  std::int64_t i = 0;
#if defined(__SSE2__)
  // Two lanes at a time: minpd(x, m) is x < m ? x : m, as below.
  __m128d lo2 = _mm_set1_pd(inf), hi2 = _mm_set1_pd(-inf);
  __m128i n2 = _mm_setzero_si128();
  const __m128d bottom = _mm_set1_pd(fullScale.low), top = _mm_set1_pd(fullScale.high);
  for (; i + 2 <= count; i += 2) {
    const __m128d x = _mm_loadu_pd(v + i);
    lo2 = _mm_min_pd(x, lo2);
    hi2 = _mm_max_pd(x, hi2);
    const __m128d atLimit = _mm_or_pd(_mm_cmple_pd(x, bottom), _mm_cmpge_pd(x, top));
    n2 = _mm_sub_epi64(n2, _mm_castpd_si128(atLimit));  // a true lane is -1
  }
  double l[2], h[2];
  std::int64_t c[2];
  _mm_storeu_pd(l, lo2);
  _mm_storeu_pd(h, hi2);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(c), n2);
  lo = std::min(l[0], l[1]);
  hi = std::max(h[0], h[1]);
  n = c[0] + c[1];
#endif
  for (; i < count; ++i) {
    lo = v[i] < lo ? v[i] : lo;
    hi = v[i] > hi ? v[i] : hi;
    n += (v[i] <= fullScale.low) | (v[i] >= fullScale.high);
  }
  low = lo + 0.0;
  high = hi + 0.0;
  full = n;
}

}  // namespace

FullScale integerFullScale(int bits) {
  const double top = std::ldexp(1.0, bits - 1);
  return {-1.0, (top - 1.0) / top};
}

LevelOverviewBuilder::LevelOverviewBuilder(int channels, std::int64_t frames, FullScale fullScale)
    : fullScale_(fullScale) {
  overview_.channels = std::max(channels, 0);
  overview_.frames = std::max<std::int64_t>(frames, 0);
  overview_.bucketFrames =
      std::max<std::int64_t>(1, LevelOverview::bucketsFor(overview_.frames, kMostOverviewBuckets));
  LevelBucket empty;
  empty.min = std::numeric_limits<float>::infinity();
  empty.max = -std::numeric_limits<float>::infinity();
  overview_.buckets.assign(static_cast<std::size_t>(overview_.channels * overview_.bucketCount()),
                           empty);
}

void LevelOverviewBuilder::add(int channel, std::int64_t first, const double* values,
                               std::int64_t count) {
  if (channel < 0 || channel >= overview_.channels || first < 0) return;
  const std::int64_t end = std::min(first + count, overview_.frames);
  const std::int64_t size = overview_.bucketFrames;
  LevelBucket* row = overview_.buckets.data() + channel * overview_.bucketCount();
  for (std::int64_t at = first; at < end;) {
    const std::int64_t bucket = at / size;
    const std::int64_t stop = std::min(end, (bucket + 1) * size);
    double low = 0, high = 0;
    std::int64_t full = 0;
    scanRun(values + (at - first), stop - at, fullScale_, low, high, full);
    // Rounding to float keeps the order, so the smallest of rounded values is
    // the rounded smallest, whichever way the frames were split.
    LevelBucket& b = row[bucket];
    b.min = std::min(b.min, static_cast<float>(low));
    b.max = std::max(b.max, static_cast<float>(high));
    b.fullScale += full;
    at = stop;
  }
}

void LevelOverviewBuilder::add(const FrameSource& source, std::int64_t first, std::int64_t count) {
  std::vector<double> run(static_cast<std::size_t>(std::clamp<std::int64_t>(count, 0, kRunFrames)));
  for (int c = 0; c < overview_.channels; ++c) {
    for (std::int64_t done = 0; done < count; done += kRunFrames) {
      const std::int64_t n = std::min(kRunFrames, count - done);
      source.read(c, done, n, run.data());
      add(c, first + done, run.data(), n);
    }
  }
}

int LevelOverviewBuilder::plan(std::int64_t first, std::int64_t count, int most) {
  taskBegin_.clear();
  if (count <= 0 || overview_.channels == 0) return 0;
  const std::int64_t size = overview_.bucketFrames;
  const std::int64_t firstBucket = first / size;
  const std::int64_t buckets = (first + count - 1) / size - firstBucket + 1;
  const std::int64_t tasks =
      std::clamp<std::int64_t>(std::min(buckets, count / kLeastTaskFrames), 1, std::max(most, 1));
  for (std::int64_t j = 0; j <= tasks; ++j) {
    const std::int64_t bucket = firstBucket + buckets * j / tasks;
    taskBegin_.push_back(std::clamp(bucket * size, first, first + count));
  }
  return static_cast<int>(tasks);
}

void LevelOverviewBuilder::runTask(int task, const FrameSource& source) {
  const std::int64_t begin = taskBegin_[static_cast<std::size_t>(task)];
  const std::int64_t end = taskBegin_[static_cast<std::size_t>(task) + 1];
  // The source's frame 0 is the block's first.
  class Shifted : public FrameSource {
   public:
    Shifted(const FrameSource& s, std::int64_t by) : s_(s), by_(by) {}
    void read(int channel, std::int64_t first, std::int64_t count, double* out) const override {
      s_.read(channel, first + by_, count, out);
    }

   private:
    const FrameSource& s_;
    std::int64_t by_;
  };
  add(Shifted(source, begin - taskBegin_.front()), begin, end - begin);
}

LevelOverview LevelOverviewBuilder::finish() const {
  LevelOverview out = overview_;
  for (LevelBucket& b : out.buckets) {
    if (b.min > b.max) b = LevelBucket{};
  }
  return out;
}

}  // namespace ril
