// The levels of a whole file in little room, for a picture: the frames are
// cut into at most kMostOverviewBuckets buckets of equal length (the last may
// be shorter), and each bucket keeps per channel its smallest and largest
// sample on a full scale of 1.0 and how many of its samples are at full
// scale. The memory it takes is fixed by the bucket count, whatever the
// file's length.
//
// Samples come in as doubles on that scale, one channel's run of frames at a
// time, so any sample format can feed it. Smallest, largest and counts do not
// depend on the order in which frames come, so runs added side by side on
// several threads give exactly the overview of one serial pass.
#pragma once

#include <cstdint>
#include <vector>

#include "core/analysis/frame_source.h"

namespace ril {

inline constexpr std::int64_t kMostOverviewBuckets = 4096;

struct LevelBucket {
  float min = 0;
  float max = 0;
  std::int64_t fullScale = 0;  // samples at or beyond full scale
  bool operator==(const LevelBucket&) const = default;
};

struct LevelOverview {
  int channels = 0;
  std::int64_t frames = 0;           // the frames it covers
  std::int64_t bucketFrames = 1;     // frames per bucket
  std::vector<LevelBucket> buckets;  // channel c's bucket b at c * bucketCount() + b

  std::int64_t bucketCount() const { return channels > 0 ? bucketsFor(frames, bucketFrames) : 0; }
  const LevelBucket& at(int channel, std::int64_t bucket) const {
    return buckets[static_cast<std::size_t>(channel * bucketCount() + bucket)];
  }
  bool operator==(const LevelOverview&) const = default;

  static std::int64_t bucketsFor(std::int64_t frames, std::int64_t bucketFrames) {
    return (frames + bucketFrames - 1) / bucketFrames;
  }
};

// The values that count as full scale: at or below `low`, at or above `high`.
struct FullScale {
  double low = -1.0;
  double high = 1.0;
};

// Integer PCM of `bits` bits on a full scale of 1.0: its smallest word (-1.0)
// and its largest (1 - 2^(1 - bits)).
FullScale integerFullScale(int bits);

class LevelOverviewBuilder {
 public:
  // For `frames` frames of `channels` channels.
  LevelOverviewBuilder(int channels, std::int64_t frames, FullScale fullScale);

  // Channel `channel`'s samples of frames first .. first + count - 1
  // (counted from the file's first frame). Runs that touch different
  // buckets may be added side by side.
  void add(int channel, std::int64_t first, const double* values, std::int64_t count);
  // Every channel's frames first .. first + count - 1 from `source`, whose
  // frame 0 is frame `first`.
  void add(const FrameSource& source, std::int64_t first, std::int64_t count);

  // The same in parallel: plan() a block of `count` frames from frame
  // `first` and get the number of tasks (at most `most`), then runTask()
  // each once, on any thread, side by side. Tasks split the block where a
  // bucket begins, so no two touch the same bucket.
  int plan(std::int64_t first, std::int64_t count, int most);
  void runTask(int task, const FrameSource& source);

  // The overview of the frames added; a bucket no frame reached holds zeros.
  LevelOverview finish() const;

 private:
  LevelOverview overview_;  // buckets start at +inf and -inf until a sample comes
  FullScale fullScale_;
  std::vector<std::int64_t> taskBegin_;  // the planned block's tasks' first frames, and its end
};

}  // namespace ril
