#include "core/modify/format_rewriter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "core/base/thread_pool.h"
#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/double_filter/pcm_words.h"
#include "core/dsp/double_filter/segmented_deemphasis.h"
#include "core/dsp/formats/float_guard.h"
#include "core/dsp/formats/format_runs.h"
#include "core/dsp/formats/sample_codec.h"

namespace ril {

namespace {

constexpr std::int64_t kChunk = 16384;

// The stored bytes of a chunk's float samples that are NaN or infinite, by
// frame: they are no levels and are written back as they were.
using KeptSamples = std::vector<std::pair<std::int64_t, std::array<unsigned char, 8>>>;

KeptSamples keepNonFinite(const double* values, std::int64_t n, const unsigned char* in,
                          std::size_t frameBytes, int bytes) {
  KeptSamples kept;
  for (std::int64_t i = 0; i < n; ++i) {
    if (std::isfinite(values[i])) continue;
    std::array<unsigned char, 8> raw{};
    std::memcpy(raw.data(), in + static_cast<std::size_t>(i) * frameBytes,
                static_cast<std::size_t>(bytes));
    kept.emplace_back(i, raw);
  }
  return kept;
}

void putBack(const KeptSamples& kept, unsigned char* out, std::size_t frameBytes, int bytes) {
  for (const auto& [i, raw] : kept) {
    std::memcpy(out + static_cast<std::size_t>(i) * frameBytes, raw.data(),
                static_cast<std::size_t>(bytes));
  }
}

class FormatRewriter : public SampleRewriter::Impl {
 public:
  FormatRewriter(const SampleFormat& format, int channels, double factor, bool deemphasis,
                 SampleRewriter::ClipHook clipped)
      : format_(format),
        channels_(channels),
        factor_(factor),
        deemphasis_(deemphasis),
        clipped_(std::move(clipped)),
        filters_(static_cast<std::size_t>(std::max(channels, 0))) {}

  // Channels are independent: each is rewritten by a task of its own with
  // the results limited silently; a channel that had a value limited is
  // done again on this thread from its state at the start of the block,
  // reporting each limited sample, channel 1's before channel 2's.
  void rewrite(const void* inBytes, void* outBytes, std::int64_t frames,
               std::int64_t firstFrame) override {
    const auto* in = static_cast<const unsigned char*>(inBytes);
    auto* out = static_cast<unsigned char*>(outBytes);
    if (!deemphasis_ && rewriteAsOneRun(in, out, frames)) return;
    const std::vector<DeemphasisFilterDouble> atStart = filters_;
    std::vector<std::int64_t> beyond(filters_.size(), 0);
    std::vector<char> limited(filters_.size(), 0);
    auto task = [&](int c) {
      limited[static_cast<std::size_t>(c)] = rewriteChannel(c, in, out, frames, firstFrame, false,
                                                            beyond[static_cast<std::size_t>(c)]);
    };
    if (pool_) {
      pool_->run(channels_, task);
    } else {
      for (int c = 0; c < channels_; ++c) task(c);
    }
    for (int c = 0; c < channels_; ++c) {
      beyondFullScale += beyond[static_cast<std::size_t>(c)];
      if (limited[static_cast<std::size_t>(c)] == 0) continue;
      filters_[static_cast<std::size_t>(c)] = atStart[static_cast<std::size_t>(c)];
      std::int64_t ignored = 0;
      rewriteChannel(c, in, out, frames, firstFrame, true, ignored);
    }
  }

  // Results are limited with a message each, never an overflow.
  bool volumeCanOverflow() const override { return false; }
  void checkVolume(const void*, std::int64_t) override {}
  void useThreads(int threads) override {
    if (threads > 1 && channels_ > 1) pool_ = std::make_unique<ThreadPool>(threads);
  }
  void resetFilters() override {
    for (DeemphasisFilterDouble& f : filters_) f.reset();
  }
  void divideBy(double peak) override {
    if (format_.isFloat() && peak > 0) divisor_ = peak;
  }
  bool followPeak() override {
    extremes_.assign(filters_.size(), kernels::FloatScan{});
    return true;
  }
  void followedExtremes(double& low, double& high) const override {
    for (const kernels::FloatScan& s : extremes_) {
      low = std::min(low, s.lo);
      high = std::max(high, s.hi);
    }
  }

 private:
  // One channel of the block; true when a value was limited. With `report`
  // each limited sample goes to the hook (which may throw).
  bool rewriteChannel(int c, const unsigned char* in, unsigned char* out, std::int64_t frames,
                      std::int64_t firstFrame, bool report, std::int64_t& beyond) {
    const std::size_t frameBytes = static_cast<std::size_t>(channels_ * format_.containerBytes);
    const std::size_t at = static_cast<std::size_t>(c * format_.containerBytes);
    kernels::FloatScan* seen =
        extremes_.empty() ? nullptr : &extremes_[static_cast<std::size_t>(c)];
    return rewriteRun({in + at, out + at, frames, frameBytes},
                      &filters_[static_cast<std::size_t>(c)], seen, report ? firstFrame : -1,
                      beyond);
  }

  // Without the filter every sample stands alone: the block is rewritten as
  // one run of samples, a part per thread. False when a value had to be
  // limited; then the channels are done one by one, which report each limited
  // sample in order.
  bool rewriteAsOneRun(const unsigned char* in, unsigned char* out, std::int64_t frames) {
    const std::int64_t samples = frames * channels_;
    const int parts = pool_ ? pool_->threads() : 1;
    const std::int64_t per = (samples + parts - 1) / parts;
    const auto width = static_cast<std::size_t>(format_.containerBytes);
    std::vector<std::int64_t> beyond(static_cast<std::size_t>(parts), 0);
    std::vector<char> limited(static_cast<std::size_t>(parts), 0);
    std::vector<kernels::FloatScan> seen(static_cast<std::size_t>(parts));
    auto task = [&](int k) {
      const auto part = static_cast<std::size_t>(k);
      const std::int64_t first = k * per, count = std::min(per, samples - first);
      if (count <= 0) return;
      const std::size_t at = static_cast<std::size_t>(first) * width;
      limited[part] = rewriteRun({in + at, out + at, count, width}, nullptr,
                                 extremes_.empty() ? nullptr : &seen[part], -1, beyond[part]);
    };
    if (pool_) {
      pool_->run(parts, task);
    } else {
      task(0);
    }
    for (int k = 0; k < parts; ++k) {
      if (limited[static_cast<std::size_t>(k)] != 0) return false;
    }
    for (int k = 0; k < parts; ++k) {
      beyondFullScale += beyond[static_cast<std::size_t>(k)];
      if (extremes_.empty()) continue;
      const kernels::FloatScan& s = seen[static_cast<std::size_t>(k)];
      extremes_[0].lo = std::min(extremes_[0].lo, s.lo);
      extremes_[0].hi = std::max(extremes_[0].hi, s.hi);
    }
    return true;
  }

  // `count` samples `stride` bytes apart.
  struct Run {
    const unsigned char* in;
    unsigned char* out;
    std::int64_t count;
    std::size_t stride;
  };

  // One run of samples, through `filter` when there is de-emphasis; the
  // extremes as stored into `seen` (if any). True when a value was limited;
  // with `firstFrame` not negative each limited sample goes to the hook
  // (which may throw).
  bool rewriteRun(const Run& run, DeemphasisFilterDouble* filter, kernels::FloatScan* seen,
                  std::int64_t firstFrame, std::int64_t& beyond) {
    // Chunks long enough for the double filter's segments; each thread keeps
    // its own buffers.
    thread_local std::vector<double> inputs(kChunk), outputs(kChunk);
    thread_local std::vector<std::int64_t> rounded(kChunk);
    std::int64_t* integers = rounded.data();
    const int width = format_.containerBytes;
    bool limited = false;
    const std::int64_t piece = kernels::evenPieceFrames(run.count, kChunk);
    for (std::int64_t start = 0; start < run.count; start += piece) {
      const std::int64_t n = std::min(piece, run.count - start);
      const unsigned char* from = run.in + static_cast<std::size_t>(start) * run.stride;
      unsigned char* to = run.out + static_cast<std::size_t>(start) * run.stride;
      double* values = inputs.data();
      kernels::storedValues(from, run.stride, format_, n, values);
      // Float values that are not finite are written back as they were, the
      // filter taking 0 for them; finite ones too large to filter are bounded.
      const bool unusual = format_.isFloat() && kernels::anyUnusual(values, n);
      const KeptSamples kept =
          unusual ? keepNonFinite(values, n, from, run.stride, width) : KeptSamples{};
      if (unusual) kernels::zeroNonFinite(values, n);
      if (seen) *seen = kernels::scanFloats(values, n, seen->lo, seen->hi);
      kernels::scaleValues(values, n, factor_, divisor_);
      if (deemphasis_) {
        if (unusual) {
          for (std::int64_t i = 0; i < n; ++i) {
            values[i] =
                std::clamp(values[i], -kernels::kFilterMagnitude, kernels::kFilterMagnitude);
          }
        }
        kernels::deemphasiseSegmented(values, outputs.data(), n, *filter);
        values = outputs.data();
      }
      // The kept samples are no clipping of ours.
      for (const auto& k : kept) values[k.first] = 0.0;
      if (format_.isFloat()) {
        beyond += countBeyond(values, n);
        kernels::storeFloats(values, n, format_, to, run.stride);
        putBack(kept, to, run.stride, width);
      } else {
        limited |= roundAndLimit(values, integers, n, firstFrame >= 0 ? firstFrame + start : -1);
        kernels::storeIntegers(integers, n, format_, to, run.stride);
      }
    }
    return limited;
  }

  std::int64_t countBeyond(const double* values, std::int64_t n) const {
    if (format_.containerBytes == 4) return kernels::countBeyondAsFloat(values, n);
    std::int64_t beyond = 0;
    for (std::int64_t i = 0; i < n; ++i) beyond += (values[i] > 1.0 || values[i] < -1.0) ? 1 : 0;
    return beyond;
  }

  // Rounds at the valid bits and limits; reports each limited sample with
  // its frame when `firstFrame` is not negative. True when one was limited.
  bool roundAndLimit(const double* values, std::int64_t* integers, std::int64_t n,
                     std::int64_t firstFrame) {
    const std::int64_t step = format_.step();
    const std::int64_t low = format_.smallest();
    const std::int64_t high = format_.largest();
    // The step is a power of two: its inverse is exact, and the product is
    // the quotient, bit for bit.
    const double inverse = 1.0 / static_cast<double>(step);
    if (kernels::roundAtSteps(values, n, inverse, step, low, high, integers)) return false;
    bool limited = false;
    for (std::int64_t i = 0; i < n; ++i) {
      const double t = values[i] * inverse + 0.5;
      // Far beyond any range: limited all the same, without leaving int64.
      std::int64_t r = std::abs(t) < 0x1p62 ? floorToInt(t) * step : (t < 0 ? low - 1 : high + 1);
      if (r > high || r < low) {
        const std::int64_t limit = r > high ? high : low;
        limited = true;
        if (firstFrame >= 0) {
          lastValue = r;
          if (clipped_) clipped_(Clip{firstFrame + i, r, limit});
        }
        r = limit;
      }
      integers[i] = r;
    }
    return limited;
  }

  const SampleFormat format_;
  const int channels_;
  const double factor_;
  const bool deemphasis_;
  double divisor_ = 0.0;
  SampleRewriter::ClipHook clipped_;
  std::vector<DeemphasisFilterDouble> filters_;
  std::unique_ptr<ThreadPool> pool_;
  // Per channel, while the peak is followed: the samples' extremes as
  // stored (a channel done again takes the same ones again).
  std::vector<kernels::FloatScan> extremes_;
};

}  // namespace

std::unique_ptr<SampleRewriter::Impl> makeFormatRewriter(const SampleFormat& format, int channels,
                                                         double factor, bool deemphasis,
                                                         SampleRewriter::ClipHook clipped) {
  return std::make_unique<FormatRewriter>(format, channels, factor, deemphasis, std::move(clipped));
}

}  // namespace ril
