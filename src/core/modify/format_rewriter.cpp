#include "core/modify/format_rewriter.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/double_filter/pcm_words.h"
#include "core/dsp/formats/sample_codec.h"

namespace ril {

namespace {

constexpr std::int64_t kChunk = 2048;

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

  void rewrite(const void* inBytes, void* outBytes, std::int64_t frames,
               std::int64_t firstFrame) override {
    const auto* in = static_cast<const unsigned char*>(inBytes);
    auto* out = static_cast<unsigned char*>(outBytes);
    const std::size_t frameBytes = static_cast<std::size_t>(channels_ * format_.containerBytes);
    for (int c = 0; c < channels_; ++c) {
      const std::size_t at = static_cast<std::size_t>(c * format_.containerBytes);
      for (std::int64_t start = 0; start < frames; start += kChunk) {
        const std::int64_t n = std::min(kChunk, frames - start);
        const std::size_t offset = at + static_cast<std::size_t>(start) * frameBytes;
        kernels::storedValues(in + offset, frameBytes, format_, n, values_);
        scale(c, n);
        if (format_.isFloat()) {
          countBeyond(n);
          kernels::storeFloats(values_, n, format_, out + offset, frameBytes);
        } else {
          roundAndLimit(n, firstFrame + start);
          kernels::storeIntegers(integers_, n, format_, out + offset, frameBytes);
        }
      }
    }
  }

  // Results are limited with a message each, never an overflow.
  bool volumeCanOverflow() const override { return false; }
  void checkVolume(const void*, std::int64_t) override {}
  void useThreads(int) override {}
  void resetFilters() override {
    for (DeemphasisFilterDouble& f : filters_) f.reset();
  }
  void divideBy(double peak) override {
    if (format_.isFloat() && peak > 0) divisor_ = peak;
  }

 private:
  // v x f (or v / peak), through channel c's filter when asked for.
  void scale(int c, std::int64_t n) {
    DeemphasisFilterDouble& filter = filters_[static_cast<std::size_t>(c)];
    for (std::int64_t i = 0; i < n; ++i) {
      const double x = divisor_ > 0 ? values_[i] / divisor_ : values_[i] * factor_;
      values_[i] = deemphasis_ ? filter.step(x) : x;
    }
  }

  void countBeyond(std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
      const double stored = format_.containerBytes == 4
                                ? static_cast<double>(static_cast<float>(values_[i]))
                                : values_[i];
      if (stored > 1.0 || stored < -1.0) ++beyondFullScale;
    }
  }

  void roundAndLimit(std::int64_t n, std::int64_t firstFrame) {
    const std::int64_t step = format_.step();
    const std::int64_t low = format_.smallest();
    const std::int64_t high = format_.largest();
    for (std::int64_t i = 0; i < n; ++i) {
      const double t = values_[i] / static_cast<double>(step) + 0.5;
      // Far beyond any range: limited all the same, without leaving int64.
      std::int64_t r = std::abs(t) < 0x1p62 ? floorToInt(t) * step : (t < 0 ? low - 1 : high + 1);
      if (r > high || r < low) {
        const std::int64_t limit = r > high ? high : low;
        lastValue = r;
        if (clipped_) clipped_(Clip{firstFrame + i, r, limit});
        r = limit;
      }
      integers_[i] = r;
    }
  }

  const SampleFormat format_;
  const int channels_;
  const double factor_;
  const bool deemphasis_;
  double divisor_ = 0.0;
  SampleRewriter::ClipHook clipped_;
  std::vector<DeemphasisFilterDouble> filters_;
  double values_[kChunk];
  std::int64_t integers_[kChunk];
};

}  // namespace

std::unique_ptr<SampleRewriter::Impl> makeFormatRewriter(const SampleFormat& format, int channels,
                                                         double factor, bool deemphasis,
                                                         SampleRewriter::ClipHook clipped) {
  return std::make_unique<FormatRewriter>(format, channels, factor, deemphasis, std::move(clipped));
}

}  // namespace ril
