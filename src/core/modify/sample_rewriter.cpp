#include "core/modify/sample_rewriter.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <vector>

#include "core/analysis/peak_scan.h"
#include "core/base/errors.h"
#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/double_filter/chain_filter.h"
#include "core/dsp/double_filter/pcm_words.h"
#include "core/dsp/double_filter/segmented_deemphasis.h"
#include "core/dsp/double_filter/volume_pass.h"
#include "core/dsp/integer_filter/filter_follower.h"
#include "core/modify/format_rewriter.h"
#include "core/modify/parallel_deemphasis.h"
#include "core/modify/rewriter_impl.h"

namespace ril {

static_assert(std::endian::native == std::endian::little,
              "sample blocks are processed as little-endian words");

namespace {

template <class Pcm>
class Rewriter : public SampleRewriter::Impl {
  using Word = typename Pcm::Word;

 public:
  Rewriter(int channels, double factor, bool deemphasis, SampleRewriter::ClipHook clipped,
           bool follow)
      : channels_(channels),
        factor_(factor),
        deemphasis_(deemphasis),
        volume_(factor),
        clipped_(std::move(clipped)) {
    following = follow && deemphasis && channels <= 2;
  }

  void rewrite(const void* inBytes, void* outBytes, std::int64_t frames,
               std::int64_t firstFrame) override {
    const auto* in = static_cast<const Word*>(inBytes);
    auto* out = static_cast<Word*>(outBytes);
    if (!deemphasis_) {
      if (volume_.apply(in, out, frames * channels_)) {
        for (int c = 0; c < channels_; ++c) throwFirstOverflow(in, frames, c);
      }
      return;
    }
    // More than two channels never come from a file the header reader lets
    // through; the filter keeps state for two, and a third must not index past.
    if (channels_ > 2) throw RunError(kErrSubscript, "de-emphasis of more than two channels");
    const DeemphasisFilterDouble atStart[2] = {filters_[0], filters_[1]};
    const unsigned clipped = filterQuietly(in, out, frames);
    // A channel that clipped is done again from its state at the start of the
    // block to report its clipped samples, channel 1's before channel 2's.
    for (int c = 0; c < channels_; ++c) {
      if ((clipped & (1u << c)) == 0) continue;
      filters_[c] = atStart[c];
      filterReportingClips(in, out, frames, c, firstFrame);
    }
  }

  bool volumeCanOverflow() const override { return volume_.canOverflow(); }

  void useThreads(int threads) override {
    if (channels_ >= 1 && channels_ <= 2) {
      block = std::make_unique<BlockDeemphasis>(channels_, 8 * static_cast<int>(sizeof(Word)),
                                                factor_, threads);
    }
  }

  void resetFilters() override {
    filters_[0].reset();
    filters_[1].reset();
  }

  void checkVolume(const void* inBytes, std::int64_t frames) override {
    const auto* in = static_cast<const Word*>(inBytes);
    bool bad = false;
    const std::size_t n = static_cast<std::size_t>(frames) * channels_;
    for (std::size_t k = 0; k < n; ++k) bad |= volume_.overflows(in[k]);
    if (!bad) return;
    for (int c = 0; c < channels_; ++c) throwFirstOverflow(in, frames, c);
  }

 private:
  void throwFirstOverflow(const Word* in, std::int64_t frames, int channel) {
    for (std::int64_t i = 0; i < frames; ++i) {
      const Word s = in[static_cast<std::size_t>(i * channels_ + channel)];
      if (volume_.overflows(s)) {
        lastValue = volume_.value(s);
        throw RunError(kErrOverflow, "volume pass");
      }
    }
  }

  // Every channel of the block with the results limited silently: long
  // blocks in segments (BlockDeemphasis), shorter ones as one chain per
  // channel, two side by side for stereo. Returns a bit per channel (1 << c)
  // that had a value limited.
  unsigned filterQuietly(const Word* in, Word* out, std::int64_t frames) {
    FollowedFilter* follow = following ? followers : nullptr;
    if (block && frames >= kBlockFrames) return block->run(in, out, frames, filters_, follow);
    if (channels_ == 2)
      return kernels::filterStereo<Pcm>(in, out, frames, factor_, filters_, follow);
    return kernels::filterChannel<Pcm>(in, out, frames, 1, 0, factor_, filters_[0], follow) ? 1u
                                                                                            : 0u;
  }

  // One channel again, each limited sample reported in frame order.
  void filterReportingClips(const Word* in, Word* out, std::int64_t frames, int channel,
                            std::int64_t firstFrame) {
    DeemphasisFilterDouble filter = filters_[channel];
    for (std::int64_t i = 0; i < frames; ++i) {
      const std::size_t k = static_cast<std::size_t>(i * channels_ + channel);
      const double y = filter.step(Pcm::sampleValue(in[k]) * factor_);
      std::int64_t r = Pcm::roundFiltered(y);
      if (r > Pcm::kHigh || r < Pcm::kLow) {
        const std::int64_t limit = r > Pcm::kHigh ? Pcm::kHigh : Pcm::kLow;
        if (clipped_) clipped_(Clip{firstFrame + i, Pcm::shownValue(r), Pcm::shownValue(limit)});
        r = limit;
      }
      out[k] = Pcm::store(r);
    }
    filters_[channel] = filter;
  }

  // Shorter blocks run as chains.
  static constexpr std::int64_t kBlockFrames = kernels::kLeastSegmentedFrames;

  const int channels_;
  const double factor_;
  const bool deemphasis_;
  const VolumePass<Pcm> volume_;
  SampleRewriter::ClipHook clipped_;
  DeemphasisFilterDouble filters_[2];
};

}  // namespace

bool rangesInOrder(const std::vector<FrameRange>& ranges) {
  std::int64_t end = 0;
  for (const FrameRange& r : ranges) {
    if (r.first < end || r.count < 0 || r.count > INT64_MAX - r.first) return false;
    end = r.end();
  }
  return true;
}

SampleRewriter::SampleRewriter(const WavFormat& format, double factor, bool deemphasis,
                               ClipHook clipped, bool followReportFilter,
                               std::optional<std::vector<FrameRange>> ranges,
                               std::int64_t framesInFile)
    : frameBytes_(static_cast<std::size_t>(format.frameBytes())), sample_(format.sample()) {
  if (ranges) {
    ranges_.emplace();
    for (const FrameRange& r : *ranges) {
      const std::int64_t end = std::min(r.end(), framesInFile);
      if (end > r.first) ranges_->push_back(FrameRange{r.first, end - r.first});
    }
    // The report's filter runs over whole files only.
    followReportFilter = false;
  }
  if (!format.classic()) {
    impl_ = makeFormatRewriter(format.sample(), format.channels, factor, deemphasis,
                               std::move(clipped));
  } else if (format.bitsPerSample == 8) {
    impl_ = std::make_unique<Rewriter<Pcm8>>(format.channels, factor, deemphasis,
                                             std::move(clipped), followReportFilter);
  } else {
    impl_ = std::make_unique<Rewriter<Pcm16>>(format.channels, factor, deemphasis,
                                              std::move(clipped), followReportFilter);
  }
}

SampleRewriter::~SampleRewriter() = default;

void SampleRewriter::useThreads(int threads) {
  impl_->useThreads(threads);
}

template <class Part>
void SampleRewriter::forEachPart(std::int64_t firstFrame, std::int64_t frames, Part part) const {
  const std::int64_t blockEnd = firstFrame + frames;
  auto r = std::upper_bound(
      ranges_->begin(), ranges_->end(), firstFrame,
      [](std::int64_t frame, const FrameRange& range) { return frame < range.end(); });
  for (; r != ranges_->end() && r->first < blockEnd; ++r) {
    const std::int64_t from = std::max(r->first, firstFrame);
    part(from - firstFrame, std::min(r->end(), blockEnd) - from, r->first >= firstFrame);
  }
}

void SampleRewriter::rewrite(const void* in, void* out, std::int64_t frames,
                             std::int64_t firstFrame) {
  if (!ranges_) {
    impl_->rewrite(in, out, frames, firstFrame);
    return;
  }
  const auto* from = static_cast<const unsigned char*>(in);
  auto* to = static_cast<unsigned char*>(out);
  auto copy = [&](std::int64_t offset, std::int64_t count) {
    const std::size_t at = static_cast<std::size_t>(offset) * frameBytes_;
    if (count > 0) std::memcpy(to + at, from + at, static_cast<std::size_t>(count) * frameBytes_);
  };
  std::int64_t done = 0;  // frames of the block dealt with
  forEachPart(firstFrame, frames, [&](std::int64_t offset, std::int64_t count, bool starts) {
    copy(done, offset - done);
    if (starts) impl_->resetFilters();
    const std::size_t at = static_cast<std::size_t>(offset) * frameBytes_;
    impl_->rewrite(from + at, to + at, count, firstFrame + offset);
    done = offset + count;
  });
  copy(done, frames - done);
}

bool SampleRewriter::volumeCanOverflow() const {
  return impl_->volumeCanOverflow();
}

void SampleRewriter::checkVolume(const void* in, std::int64_t frames, std::int64_t firstFrame) {
  if (!ranges_) {
    impl_->checkVolume(in, frames);
    return;
  }
  const auto* from = static_cast<const unsigned char*>(in);
  forEachPart(firstFrame, frames, [&](std::int64_t offset, std::int64_t count, bool) {
    impl_->checkVolume(from + static_cast<std::size_t>(offset) * frameBytes_, count);
  });
}

void SampleRewriter::divideBy(double peak) {
  impl_->divideBy(peak);
}

bool SampleRewriter::followPeak() {
  return impl_->followPeak();
}

double SampleRewriter::followedPeak() const {
  double low = 0.0, high = 0.0;
  impl_->followedExtremes(low, high);
  return peakOfExtremes(sample_, low, high);
}

std::int64_t SampleRewriter::beyondFullScale() const {
  return impl_->beyondFullScale;
}

std::int64_t SampleRewriter::lastValue() const {
  return impl_->lastValue;
}

FilteredRange SampleRewriter::filteredRange() const {
  FilteredRange range;
  for (int c = 0; c < 2; ++c) {
    range.min[c] = impl_->followers[c].min;
    range.max[c] = impl_->followers[c].max;
  }
  range.complete = impl_->following;
  return range;
}

}  // namespace ril
