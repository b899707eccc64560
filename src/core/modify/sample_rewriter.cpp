#include "core/modify/sample_rewriter.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>
#include <type_traits>
#include <vector>

#include "core/base/errors.h"
#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/double_conversion.h"
#include "core/dsp/double_pair.h"
#include "core/dsp/segmented_deemphasis.h"
#include "core/modify/parallel_deemphasis.h"

namespace ril {

static_assert(std::endian::native == std::endian::little,
              "sample blocks are processed as little-endian words");

namespace {

// floor(t) as an integer, for |t| well inside the 64-bit range.
inline std::int64_t floorToInt(double t) {
  auto i = static_cast<std::int64_t>(t);
  if (static_cast<double>(i) > t) --i;
  return i;
}

// The two sample formats: how a stored sample becomes v, and how a
// de-emphasised value is rounded, limited and stored.
struct Pcm8 {
  using Word = std::uint8_t;
  static constexpr std::int64_t kHigh = 255;
  static constexpr std::int64_t kLow = 0;
  static double sampleValue(Word s) { return static_cast<double>(static_cast<int>(s) - 128); }
  static std::int64_t roundVolume(double v, double factor) {
    return static_cast<std::int64_t>(v * factor + 128.5);  // truncated toward zero
  }
  static std::int64_t roundFiltered(double y) { return floorToInt(y + 128.5); }
  static std::int32_t analysisValue(Word s) { return (static_cast<std::int32_t>(s) - 128) * 256; }
  static std::int64_t shownValue(std::int64_t r) { return r - 128; }
  static Word store(std::int64_t r) { return static_cast<Word>(r); }
};

struct Pcm16 {
  using Word = std::uint16_t;  // raw bits of a signed little-endian sample
  static constexpr std::int64_t kHigh = 32767;
  static constexpr std::int64_t kLow = -32768;
  static double sampleValue(Word s) { return static_cast<double>(static_cast<std::int16_t>(s)); }
  static std::int64_t roundVolume(double v, double factor) { return floorToInt(v * factor + 0.5); }
  static std::int64_t roundFiltered(double y) { return floorToInt(y + 0.5); }
  static std::int32_t analysisValue(Word s) { return static_cast<std::int16_t>(s); }
  static std::int64_t shownValue(std::int64_t r) { return r; }
  static Word store(std::int64_t r) { return static_cast<Word>(static_cast<std::int16_t>(r)); }
};

// The volume pass for every possible stored sample, computed once per run.
template <class Pcm>
struct VolumeTable {
  using Word = typename Pcm::Word;
  static constexpr std::size_t kSize = std::size_t{1} << (8 * sizeof(Word));

  explicit VolumeTable(double factor) : stored(kSize), value(kSize), bad(kSize) {
    for (std::size_t raw = 0; raw < kSize; ++raw) {
      const std::int64_t result =
          Pcm::roundVolume(Pcm::sampleValue(static_cast<Word>(raw)), factor);
      value[raw] = result;
      bad[raw] = result < Pcm::kLow || result > Pcm::kHigh;
      anyBad = anyBad || bad[raw];
      stored[raw] = bad[raw] ? Word{0} : Pcm::store(result);
    }
  }

  std::vector<Word> stored;
  std::vector<std::int64_t> value;
  std::vector<std::uint8_t> bad;
  bool anyBad = false;
};

// The report's integer de-emphasis filter on one channel, with the range of
// its outputs. Its chain is short beside the double one's division, so it
// runs alongside at little cost.
struct FilterFollower {
  std::int32_t prevInput = 0;
  std::int32_t prevOutput = 0;
  std::int32_t min = 0;
  std::int32_t max = 0;

  void step(std::int32_t x) {
    const std::int32_t y = divide134RoundEvenFast(deemphasisNumerator(prevInput, x, prevOutput));
    prevInput = x;
    prevOutput = y;
    min = std::min(min, y);
    max = std::max(max, y);
  }
};

}  // namespace

struct SampleRewriter::Impl {
  virtual ~Impl() = default;
  virtual void rewrite(const void* in, void* out, std::int64_t frames, std::int64_t first) = 0;
  virtual bool volumeCanOverflow() const = 0;
  virtual void checkVolume(const void* in, std::int64_t frames) = 0;
  virtual void resetFilters() = 0;
  virtual void useThreads(int threads) = 0;

  std::int64_t lastValue = 0;
  FilterFollower followers[2];
  bool following = false;                  // every block so far went through the followers
  std::unique_ptr<BlockDeemphasis> block;  // long blocks of 1 or 2 channels
};

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
        table_(factor),
        clipped_(std::move(clipped)) {
    following = follow && deemphasis && channels <= 2;
  }

  void rewrite(const void* inBytes, void* outBytes, std::int64_t frames,
               std::int64_t firstFrame) override {
    const auto* in = static_cast<const Word*>(inBytes);
    auto* out = static_cast<Word*>(outBytes);
    if (!deemphasis_) {
      if (volumeAll(in, out, frames * channels_)) {
        for (int c = 0; c < channels_; ++c) throwFirstOverflow(in, frames, c);
      }
    } else if (channels_ == 1) {
      deemphasiseChannel(in, out, frames, 0, firstFrame, following);
    } else if (channels_ == 2) {
      deemphasiseStereo(in, out, frames, firstFrame);
    } else {
      // More than two channels never come from a file the header reader lets
      // through; the filter keeps state for two, and a third must not index past.
      throw RunError(kErrSubscript, "de-emphasis of more than two channels");
    }
  }

  bool volumeCanOverflow() const override { return table_.anyBad; }

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
    for (std::size_t k = 0; k < n; ++k) bad |= table_.bad[in[k]] != 0;
    if (!bad) return;
    for (int c = 0; c < channels_; ++c) throwFirstOverflow(in, frames, c);
  }

 private:
  // The volume pass over `count` samples; true when one overflowed.
  bool volumeAll(const Word* in, Word* out, std::int64_t count) const {
    // 16-bit words are computed in vector lanes where the processor allows,
    // with the table's very operations; the table does the rest.
    std::size_t k = 0;
    bool outside = false;
    if constexpr (std::is_same_v<Pcm, Pcm16>) {
      k = static_cast<std::size_t>(kernels::scaleRounded16(in, out, count, factor_, outside));
    }
    const auto* stored = table_.stored.data();
    const std::size_t n = static_cast<std::size_t>(count);
    if (!table_.anyBad) {
      for (; k < n; ++k) out[k] = stored[in[k]];
      return false;
    }
    const std::uint8_t* bad = table_.bad.data();
    std::uint8_t any = outside ? 1 : 0;
    for (; k < n; ++k) {
      out[k] = stored[in[k]];
      any |= bad[in[k]];
    }
    return any != 0;
  }

  void throwFirstOverflow(const Word* in, std::int64_t frames, int channel) {
    for (std::int64_t i = 0; i < frames; ++i) {
      const Word s = in[static_cast<std::size_t>(i * channels_ + channel)];
      if (table_.bad[s]) {
        lastValue = table_.value[s];
        throw RunError(kErrOverflow, "volume pass");
      }
    }
  }

  // The de-emphasis pass over one channel of a block, clipped samples in frame
  // order. The block is done without reporting first; only a block that clips
  // is done again from the same filter state to report them.
  void deemphasiseChannel(const Word* in, Word* out, std::int64_t frames, int channel,
                          std::int64_t firstFrame, bool follow = false) {
    const DeemphasisFilterDouble atStart = filters_[channel];
    const bool clipped = follow ? filterQuietly<true>(in, out, frames, channel)
                                : filterQuietly<false>(in, out, frames, channel);
    if (!clipped) return;
    filters_[channel] = atStart;
    filterReportingClips(in, out, frames, channel, firstFrame);
  }

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

  // One channel's chain with the results limited silently; true when a result
  // had to be limited. No calls inside, so the state stays in registers. With
  // Follow, the report's filter runs alongside.
  template <bool Follow>
  bool filterQuietly(const Word* in, Word* out, std::int64_t frames, int channel) {
    if (channels_ == 1 && block && frames >= kBlockFrames)
      return filterInBlock<Follow>(in, out, frames);
    DeemphasisFilterDouble filter = filters_[channel];
    FilterFollower f = followers[channel];
    bool clipped = false;
    for (std::int64_t i = 0; i < frames; ++i) {
      const std::size_t k = static_cast<std::size_t>(i * channels_ + channel);
      if constexpr (Follow) f.step(Pcm::analysisValue(in[k]));
      const std::int64_t r = Pcm::roundFiltered(filter.step(Pcm::sampleValue(in[k]) * factor_));
      clipped |= (r > Pcm::kHigh) | (r < Pcm::kLow);
      out[k] = Pcm::store(std::clamp(r, Pcm::kLow, Pcm::kHigh));
    }
    filters_[channel] = filter;
    if constexpr (Follow) followers[channel] = f;
    return clipped;
  }

  // Every channel of a long block without the chain (BlockDeemphasis); the
  // channels that had a sample limited.
  template <bool Follow>
  unsigned filterInBlock(const Word* in, Word* out, std::int64_t frames) {
    FollowedFilter follow[2];
    for (int c = 0; Follow && c < channels_; ++c) {
      const FilterFollower& f = followers[c];
      follow[c] = FollowedFilter{{f.prevInput, f.prevOutput + 2 * fastdiv::kBias}, f.min, f.max};
    }
    const unsigned clipped = block->run(in, out, frames, filters_, Follow ? follow : nullptr);
    for (int c = 0; Follow && c < channels_; ++c) {
      const FollowedFilter& f = follow[c];
      followers[c] = FilterFollower{f.state.prevInput, f.state.output(), f.min, f.max};
    }
    return clipped;
  }

  // Both channels' chains side by side, so that the two divisions overlap.
  // A channel that clipped is done again from its state at the start of the
  // block to report its clipped samples, channel 1's before channel 2's.
  void deemphasiseStereo(const Word* in, Word* out, std::int64_t frames, std::int64_t firstFrame) {
    const DeemphasisFilterDouble atStart[2] = {filters_[0], filters_[1]};
    bool clipped[2] = {false, false};
    if (following) {
      filterStereoQuietly<true>(in, out, frames, clipped[0], clipped[1]);
    } else {
      filterStereoQuietly<false>(in, out, frames, clipped[0], clipped[1]);
    }
    for (int c = 0; c < 2; ++c) {
      if (!clipped[c]) continue;
      filters_[c] = atStart[c];
      filterReportingClips(in, out, frames, c, firstFrame);
    }
  }

  template <bool Follow>
  void filterStereoQuietly(const Word* in, Word* out, std::int64_t frames, bool& clipped1,
                           bool& clipped2) {
    if (block && frames >= kBlockFrames) {
      const unsigned clipped = filterInBlock<Follow>(in, out, frames);
      clipped1 = (clipped & 1) != 0;
      clipped2 = (clipped & 2) != 0;
      return;
    }
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Pcm, Pcm16>) {
      if (factor_ <= kPackedFactorLimit) {
        filterStereoPacked16<Follow>(in, out, frames, clipped1, clipped2);
        return;
      }
    }
#endif
    DeemphasisFilterDouble f1 = filters_[0], f2 = filters_[1];
    FilterFollower g1 = followers[0], g2 = followers[1];
    bool c1 = false, c2 = false;
    for (std::int64_t i = 0; i < frames; ++i) {
      const std::size_t k = static_cast<std::size_t>(2 * i);
      if constexpr (Follow) {
        g1.step(Pcm::analysisValue(in[k]));
        g2.step(Pcm::analysisValue(in[k + 1]));
      }
      const std::int64_t r1 = Pcm::roundFiltered(f1.step(Pcm::sampleValue(in[k]) * factor_));
      const std::int64_t r2 = Pcm::roundFiltered(f2.step(Pcm::sampleValue(in[k + 1]) * factor_));
      c1 |= (r1 > Pcm::kHigh) | (r1 < Pcm::kLow);
      c2 |= (r2 > Pcm::kHigh) | (r2 < Pcm::kLow);
      out[k] = Pcm::store(std::clamp(r1, Pcm::kLow, Pcm::kHigh));
      out[k + 1] = Pcm::store(std::clamp(r2, Pcm::kLow, Pcm::kHigh));
    }
    filters_[0] = f1;
    filters_[1] = f2;
    if constexpr (Follow) {
      followers[0] = g1;
      followers[1] = g2;
    }
    clipped1 = c1;
    clipped2 = c2;
  }

#if defined(__SSE2__)
  // Below this factor every filtered value stays well inside 32 bits: the
  // output is at most 1.44 times the largest input (15.5 + 2.75 over
  // 33.5 - 20.75), and the largest input is 32768 x factor.
  static constexpr double kPackedFactorLimit = 16384.0;

  // 16-bit stereo as filterStereoQuietly's loop, both channels in the two
  // lanes of one register through the same filter step: each lane does the
  // same IEEE operations in the same order, so the results are those of the
  // scalar loop, bit for bit. The
  // rounding is floor(v + 0.5) as there (truncate, then step down where that
  // went up), and the limiting is the saturation of the pack to 16 bits.
  template <bool Follow>
  void filterStereoPacked16(const Word* in, Word* out, std::int64_t frames, bool& clipped1,
                            bool& clipped2) {
    const DoublePair f(factor_);
    const __m128d half = _mm_set1_pd(0.5);
    const __m128i high = _mm_set1_epi32(32767);
    const __m128i low = _mm_set1_epi32(-32768);
    DoublePair prevIn(filters_[0].prevInput, filters_[1].prevInput);
    DoublePair prevOut(filters_[0].prevOutput, filters_[1].prevOutput);
    __m128i outside = _mm_setzero_si128();
    FilterFollower g1 = followers[0], g2 = followers[1];
    for (std::int64_t i = 0; i < frames; ++i) {
      if constexpr (Follow) {
        g1.step(Pcm16::analysisValue(in[2 * i]));
        g2.step(Pcm16::analysisValue(in[2 * i + 1]));
      }
      std::int32_t pair;
      std::memcpy(&pair, in + 2 * i, sizeof pair);
      __m128i w = _mm_cvtsi32_si128(pair);
      w = _mm_srai_epi32(_mm_unpacklo_epi16(w, w), 16);  // the two samples, sign-extended
      const DoublePair x = DoublePair(_mm_cvtepi32_pd(w)) * f;
      const DoublePair v = deemphasisStep(prevIn, x, prevOut);
      prevIn = x;
      prevOut = v;
      const __m128d t = _mm_add_pd(v.vector(), half);
      __m128i r = _mm_cvttpd_epi32(t);
      const __m128d up = _mm_cmpgt_pd(_mm_cvtepi32_pd(r), t);
      r = _mm_add_epi32(r, _mm_shuffle_epi32(_mm_castpd_si128(up), 0x08));
      outside =
          _mm_or_si128(outside, _mm_or_si128(_mm_cmpgt_epi32(r, high), _mm_cmplt_epi32(r, low)));
      const std::int32_t stored = _mm_cvtsi128_si32(_mm_packs_epi32(r, r));
      std::memcpy(out + 2 * i, &stored, sizeof stored);
    }
    filters_[0].prevInput = prevIn.first();
    filters_[1].prevInput = prevIn.second();
    filters_[0].prevOutput = prevOut.first();
    filters_[1].prevOutput = prevOut.second();
    if constexpr (Follow) {
      followers[0] = g1;
      followers[1] = g2;
    }
    const int mask = _mm_movemask_ps(_mm_castsi128_ps(outside));
    clipped1 = (mask & 1) != 0;
    clipped2 = (mask & 2) != 0;
  }
#endif

  // Shorter blocks run as one chain (two side by side for stereo).
  static constexpr std::int64_t kBlockFrames = kernels::kLeastSegmentedFrames;

  const int channels_;
  const double factor_;
  const bool deemphasis_;
  const VolumeTable<Pcm> table_;
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
    : frameBytes_(static_cast<std::size_t>(format.frameBytes())) {
  if (ranges) {
    ranges_.emplace();
    for (const FrameRange& r : *ranges) {
      const std::int64_t end = std::min(r.end(), framesInFile);
      if (end > r.first) ranges_->push_back(FrameRange{r.first, end - r.first});
    }
    // The report's filter runs over whole files only.
    followReportFilter = false;
  }
  if (format.bitsPerSample == 8) {
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
