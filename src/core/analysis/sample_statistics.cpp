#include "core/analysis/sample_statistics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/dsp/integer_filter/chunk_filter.h"
#include "core/dsp/integer_filter/segmented_filter.h"
#include "core/dsp/planar_conversion.h"
#include "core/dsp/run_statistics.h"

namespace ril {

namespace {

// The update rule: strict comparisons, so the first frame of an extreme wins.
inline void update(ChannelStats& r, std::int32_t v, std::int64_t pos, kernels::Limits limits) {
  if (v > r.max) {
    r.max = v;
    r.maxPos = pos;
  }
  if (v < r.min) {
    r.min = v;
    r.minPos = pos;
  }
  r.sum += v;
  r.sumSq += static_cast<std::uint64_t>(static_cast<std::int64_t>(v) * v);
  if (v <= limits.low || v >= limits.high) ++r.fullScale;
}

inline std::int32_t sampleAt(const unsigned char* bytes, std::int64_t index, bool eightBit) {
  if (eightBit) return (static_cast<std::int32_t>(bytes[index]) - 128) * 256;
  const auto lo = static_cast<std::uint16_t>(bytes[2 * index]);
  const auto hi = static_cast<std::uint16_t>(bytes[2 * index + 1]);
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
}

}  // namespace

SampleAccumulator::SampleAccumulator(int channels, int bitsPerSample, bool deemphasis,
                                     Method method)
    : channels_(channels),
      bitsPerSample_(bitsPerSample),
      deemphasis_(deemphasis),
      method_(method) {}

kernels::Limits SampleAccumulator::storedLimits() const {
  // An 8-bit byte b counts as (b - 128) x 256: 0 as -32768, 255 as 32512.
  return bitsPerSample_ == 8 ? kernels::Limits{-32768, 32512} : kernels::Limits{-32768, 32767};
}

void SampleAccumulator::addBlock(const unsigned char* bytes, std::int64_t frames) {
  if (frames <= 0) return;
  if (method_ == Method::kPlain) {
    addBlockPlain(bytes, frames);
  } else {
    addBlockTuned(bytes, frames);
  }
  frames_ += frames;
}

void SampleAccumulator::addBlockPlain(const unsigned char* bytes, std::int64_t frames) {
  const bool eightBit = bitsPerSample_ == 8;
  const kernels::Limits stored = storedLimits();
  for (int c = 0; c < channels_; ++c) {
    for (std::int64_t k = 0; k < frames; ++k) {
      const std::int32_t s = sampleAt(bytes, k * channels_ + c, eightBit);
      const std::int64_t p = frames_ + k;
      update(records_[c], s, p, stored);
      if (deemphasis_) update(records_[c + 2], filters_[c].step(s), p, kernels::kFilteredLimits);
    }
  }
}

namespace {

constexpr std::int64_t kChunk = kernels::kChunkFrames;
constexpr std::int64_t kPlanarStride = kChunk + 16;  // room for the previous input in front

// Merges the statistics of a run that starts at frame `base` into a record;
// `firstIndex` finds the first position of a value within the run.
template <typename FirstIndex>
inline void merge(ChannelStats& r, const kernels::RunStats& s, std::int64_t base,
                  FirstIndex firstIndex) {
  if (s.max > r.max) {
    r.max = s.max;
    r.maxPos = base + firstIndex(s.max);
  }
  if (s.min < r.min) {
    r.min = s.min;
    r.minPos = base + firstIndex(s.min);
  }
  r.sum += s.sum;
  r.sumSq += s.sumSq;
  r.fullScale += s.atLimits;
}

}  // namespace

void SampleAccumulator::addBlockTuned(const unsigned char* bytes, std::int64_t frames) {
  // Per-chunk scratch, one array per channel of each: the thread's own, not
  // each accumulator's (a shared block has a part's accumulator for each of
  // its parts, and only two threads).
  thread_local std::vector<std::int16_t> planar(2 * kPlanarStride, 0);
  thread_local kernels::ChunkFilter chunkFilter;
  std::int16_t* x[2] = {planar.data() + 8, planar.data() + 8 + kPlanarStride};
  const std::int64_t frameBytes = channels_ * (bitsPerSample_ == 8 ? 1 : 2);
  const kernels::Limits stored = storedLimits();

  for (std::int64_t start = 0; start < frames; start += kChunk) {
    const std::int64_t n = std::min(kChunk, frames - start);
    const std::int64_t base = frames_ + start;
    kernels::toPlanar16(bytes + start * frameBytes, n, channels_, bitsPerSample_, x[0], x[1]);
    for (int c = 0; c < channels_; ++c) {
      const std::int16_t* xc = x[c];
      merge(records_[c], kernels::statsOf16(xc, n, stored), base, [&](std::int32_t v) {
        return kernels::firstIndexOf16(xc, n, static_cast<std::int16_t>(v));
      });
    }
    if (!deemphasis_) continue;
    std::int64_t state[2];
    for (int c = 0; c < channels_; ++c) {
      x[c][-1] = static_cast<std::int16_t>(fast_[c].prevInput);
      fast_[c].prevInput = x[c][n - 1];
      state[c] = fast_[c].biasedOutput;
    }
    chunkFilter.run(channels_, x, n, state);
    for (int c = 0; c < channels_; ++c) {
      fast_[c].biasedOutput = state[c];
      merge(records_[c + 2], chunkFilter.stats(c), base,
            [&](std::int32_t v) { return chunkFilter.firstIndexOf(c, v); });
    }
  }
}

void SampleAccumulator::restartAt(std::int64_t first, const FastDeemphasisState* state,
                                  const StatsRecords& before) {
  frames_ = first;
  for (std::size_t i = 0; i < records_.size(); ++i) {
    ChannelStats extremes;
    extremes.min = before[i].min;
    extremes.minPos = before[i].minPos;
    extremes.max = before[i].max;
    extremes.maxPos = before[i].maxPos;
    records_[i] = extremes;
  }
  for (int c = 0; c < channels_; ++c) fast_[c] = state[c];
}

void SampleAccumulator::append(const SampleAccumulator& later) {
  for (std::size_t i = 0; i < records_.size(); ++i) {
    ChannelStats& r = records_[i];
    const ChannelStats& s = later.records_[i];
    // Strict comparisons: on a tie the earlier frame keeps the extreme.
    if (s.max > r.max) {
      r.max = s.max;
      r.maxPos = s.maxPos;
    }
    if (s.min < r.min) {
      r.min = s.min;
      r.minPos = s.minPos;
    }
    r.sum += s.sum;
    r.sumSq += s.sumSq;
    r.fullScale += s.fullScale;
  }
  frames_ = later.frames_;
  for (int c = 0; c < channels_; ++c) {
    fast_[c] = later.fast_[c];
    filters_[c] = later.filters_[c];
  }
}

StatsRecords SampleAccumulator::finish() const {
  StatsRecords out = records_;
  if (frames_ <= 0) return out;
  const double n = static_cast<double>(frames_);
  for (ChannelStats& r : out) {
    r.avg = (static_cast<double>(r.sum) / n) / 32768.0;
    r.rms = std::sqrt(static_cast<double>(r.sumSq) / n) / 32768.0;
  }
  return out;
}

}  // namespace ril
