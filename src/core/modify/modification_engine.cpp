#include "core/modify/modification_engine.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <type_traits>
#include <vector>

#include "core/base/errors.h"
#include "core/base/number_format.h"
#include "core/dsp/deemphasis_filter.h"
#include "core/modify/output_placement.h"

namespace ril {

static_assert(std::endian::native == std::endian::little,
              "sample blocks are processed as little-endian words");

namespace {

// The classic runtime's "Input past end of file": the file got shorter than
// the header reader measured it.
constexpr int kErrInputPastEnd = 62;
// The classic runtime's "Internal error", for anything else that went wrong.
constexpr int kErrInternal = 51;
// Volume factors beyond this cannot come from the dialog (its largest is
// 32767 for a peak of 1) and would leave the integer range of the arithmetic.
constexpr double kLargestFactor = 1.0e6;

// floor(t) as an integer, for |t| well inside the 64-bit range.
inline std::int64_t floorToInt(double t) {
  auto i = static_cast<std::int64_t>(t);
  if (static_cast<double>(i) > t) --i;
  return i;
}

struct AbandonRun {};

// The two sample formats: how a stored sample becomes v, and how a
// de-emphasised value is rounded, limited and stored.
struct Pcm8 {
  using Word = std::uint8_t;
  static constexpr std::int64_t kHigh = 255;
  static constexpr std::int64_t kLow = 0;
  static constexpr const char* kHighEnding = " limited to 127!";
  static constexpr const char* kLowEnding = " limited to -128!";
  static double sampleValue(Word s) { return static_cast<double>(static_cast<int>(s) - 128); }
  static std::int64_t roundFiltered(double y) { return floorToInt(y + 128.5); }
  static std::int32_t analysisValue(Word s) { return (static_cast<std::int32_t>(s) - 128) * 256; }
  static std::int64_t shownValue(std::int64_t r) { return r - 128; }
  static Word store(std::int64_t r) { return static_cast<Word>(r); }
};

struct Pcm16 {
  using Word = std::uint16_t;  // raw bits of a signed little-endian sample
  static constexpr std::int64_t kHigh = 32767;
  static constexpr std::int64_t kLow = -32768;
  static constexpr const char* kHighEnding = " limited to 32767!";
  static constexpr const char* kLowEnding = " limited to -32768!";
  static double sampleValue(Word s) { return static_cast<double>(static_cast<std::int16_t>(s)); }
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
      double v = Pcm::sampleValue(static_cast<Word>(raw));
      std::int64_t result;
      if constexpr (sizeof(Word) == 1) {
        result = static_cast<std::int64_t>(v * factor + 128.5);  // truncated toward zero
      } else {
        result = floorToInt(v * factor + 0.5);
      }
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
    const std::int32_t y = divide134RoundEvenFast(62 * static_cast<std::int64_t>(prevInput) -
                                                  11 * static_cast<std::int64_t>(x) +
                                                  83 * static_cast<std::int64_t>(prevOutput));
    prevInput = x;
    prevOutput = y;
    min = std::min(min, y);
    max = std::max(max, y);
  }
};

class Engine {
 public:
  Engine(ProgramState& state, ModifyServices& services, double factor, bool emphasisAtStart,
         ModifyResult& result, const std::function<bool()>& beforeCommit)
      : beforeCommit_(beforeCommit),
        state_(state),
        sv_(services),
        factor_(factor),
        emphasisAtStart_(emphasisAtStart),
        result_(result),
        path_(state.filePaths[0]) {}

  void run() {
    try {
      PlacementRequest request;
      request.path = path_;
      request.bareName = state_.fileNames.empty() ? baseNameOf(path_) : state_.fileNames[0];
      request.appPath = state_.appPath;
      request.mode = sv_.placement;
      request.explicitOutput = sv_.explicitOutput;
      placeOutput(request, sv_.fs, sv_.messages, placement_);
      if (placement_.declined) {
        result_.outcome = ModifyOutcome::kDeclined;
        return;
      }
      result_.inPlace = placement_.inPlace;
      result_.inProgramDir = placement_.inProgramDir;
      checkExit();
      if (state_.bitsPerSample == 8) {
        process<Pcm8>();
      } else {
        process<Pcm16>();
      }
      result_.outcome = ModifyOutcome::kCompleted;
      result_.outputName = placement_.outputName;
    } catch (const AbandonRun&) {
      cleanUp();
      result_.outcome = ModifyOutcome::kAbandoned;
      return;
    } catch (const RunError& e) {
      fail(e.number());
      return;
    } catch (const std::bad_alloc&) {
      fail(kErrOutOfMemory);
      return;
    } catch (const std::exception&) {
      fail(kErrInternal);
      return;
    }
    finishRun();
  }

 private:
  template <class Pcm>
  void process() {
    using Word = typename Pcm::Word;
    const int channels = state_.channels;
    const std::int64_t total = state_.framesInFile;
    const std::size_t frameBytes = sizeof(Word) * static_cast<std::size_t>(channels);

    // Output: a temporary file beside the target, or the file itself in place.
    if (placement_.inPlace) {
      inPlaceOutput_ = sv_.fs.openWrite(placement_.outputName, WriteMode::kExisting);
    } else {
      atomic_ = std::make_unique<AtomicOutput>(sv_.fs, placement_.outputName);
    }
    OutputFile& out = placement_.inPlace ? *inPlaceOutput_ : atomic_->file();
    startTime_ = sv_.clock.seconds();

    std::int64_t blockFrames = modifyBlockFrames(channels, state_.bitsPerSample, total);
    const std::int64_t largestBlock = blockFrames + total % blockFrames;
    std::vector<Word> in(static_cast<std::size_t>(largestBlock * channels));
    std::vector<Word> processed(in.size());
    VolumeTable<Pcm> table(factor_);

    // An in-place rewrite must not stop half-way: the whole file is read once
    // before anything is written, so that a volume pass that would overflow,
    // and a file that cannot be read through, fail with the file untouched.
    if (placement_.inPlace) {
      readThroughFirst<Pcm>(table, in, !emphasisAtStart_ && table.anyBad);
    }

    InputFile& input = *placement_.input;
    copyBytes(input, out, static_cast<std::uint64_t>(state_.dataOffset), in.data(),
              in.size() * sizeof(Word));

    filters_[0].reset();
    filters_[1].reset();
    followers_[0] = {};
    followers_[1] = {};
    following_ = sv_.filteredRange != nullptr && channels <= 2;
    std::int64_t remaining = total;
    std::int64_t done = 0;
    while (remaining >= blockFrames) {
      remaining -= blockFrames;
      if (remaining < blockFrames) {
        blockFrames += remaining;
        remaining = 0;
      }
      const std::size_t bytes = static_cast<std::size_t>(blockFrames) * frameBytes;
      readExactly(input, in.data(), bytes);
      showProgress(done, total);
      processBlock<Pcm>(table, in.data(), processed.data(), blockFrames, done);
      if (!placement_.inPlace) checkExit();
      out.write(processed.data(), bytes);
      done += blockFrames;
    }

    if (sv_.filteredRange) {
      FilteredRange& range = *sv_.filteredRange;
      for (int c = 0; c < 2; ++c) {
        range.min[c] = followers_[c].min;
        range.max[c] = followers_[c].max;
      }
      range.complete = following_;
    }

    // Everything behind the whole frames (a partial frame, the trailing
    // chunks, a pad byte) goes over unchanged, so the lengths match.
    copyBytes(input, out, UINT64_MAX, in.data(), in.size() * sizeof(Word));
    input.close();
    if (placement_.inPlace) {
      inPlaceOutput_->sync();
      inPlaceOutput_->close();
    } else {
      if (beforeCommit_ && !beforeCommit_()) throw AbandonRun{};
      atomic_->commit();
    }
  }

  // Reads the whole file once, block by block as the run will, and fails
  // with the overflow the volume pass would meet first (when asked to look).
  template <class Pcm>
  void readThroughFirst(const VolumeTable<Pcm>& table, std::vector<typename Pcm::Word>& in,
                        bool checkOverflow) {
    using Word = typename Pcm::Word;
    const int channels = state_.channels;
    const std::int64_t total = state_.framesInFile;
    auto reader = sv_.fs.openRead(placement_.inputPath);
    const std::size_t bufferBytes = in.size() * sizeof(Word);
    std::uint64_t header = static_cast<std::uint64_t>(state_.dataOffset);
    while (header > 0) {
      std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(header, bufferBytes));
      readExactly(*reader, in.data(), want);
      header -= want;
    }
    std::int64_t blockFrames = modifyBlockFrames(channels, state_.bitsPerSample, total);
    std::int64_t remaining = total;
    while (remaining >= blockFrames) {
      remaining -= blockFrames;
      if (remaining < blockFrames) {
        blockFrames += remaining;
        remaining = 0;
      }
      readExactly(*reader, in.data(),
                  static_cast<std::size_t>(blockFrames) * channels * sizeof(Word));
      sv_.dialog.yieldToEvents();
      checkExit();
      if (!checkOverflow) continue;
      bool bad = false;
      const std::size_t n = static_cast<std::size_t>(blockFrames) * channels;
      for (std::size_t k = 0; k < n; ++k) bad |= table.bad[in[k]] != 0;
      if (bad) {
        for (int c = 0; c < channels; ++c) throwFirstOverflow(table, in.data(), blockFrames, c);
      }
    }
    while (reader->read(in.data(), bufferBytes) == bufferBytes) {
    }
    reader->close();
  }

  template <class Pcm>
  void processBlock(const VolumeTable<Pcm>& table, const typename Pcm::Word* in,
                    typename Pcm::Word* out, std::int64_t frames, std::int64_t firstFrame) {
    const int channels = state_.channels;
    const bool emphasis = sv_.dialog.emphasisChecked();  // channel 1
    if (channels == 1) {
      if (emphasis) {
        deemphasiseChannel<Pcm>(in, out, frames, 0, firstFrame, following_);
      } else {
        following_ = false;
        if (volumeAll(table, in, out, frames)) throwFirstOverflow(table, in, frames, 0);
      }
      return;
    }
    if (channels > 2) {
      // The filter keeps state for two channels; the header reader lets no
      // other files through, but a hand-made state must not index past them.
      for (int c = 0; c < channels; ++c) {
        const bool e = c == 0 ? emphasis : sv_.dialog.emphasisChecked();
        if (!e) {
          volumeChannel(table, in, out, frames, c);
        } else if (c < 2) {
          deemphasiseChannel<Pcm>(in, out, frames, c, firstFrame);
        } else {
          throw RunError(kErrSubscript, "de-emphasis of more than two channels");
        }
      }
      return;
    }

    // Stereo: both channels in one interleaved pass; channel 2 is done again
    // on its own when chkEmph changed after channel 1, or to show its clipping
    // messages after channel 1's.
    const DeemphasisFilterDouble channel2AtStart = filters_[1];
    bool clipped2 = false;
    bool bad = false;
    if (emphasis) {
      clipped2 = deemphasiseStereo<Pcm>(in, out, frames, firstFrame);
    } else {
      following_ = false;
      bad = volumeAll(table, in, out, frames * 2);
      if (bad) throwFirstOverflow(table, in, frames, 0);
    }
    const bool emphasis2 = sv_.dialog.emphasisChecked();  // channel 2
    if (emphasis2 == emphasis) {
      if (emphasis && clipped2) {
        filters_[1] = channel2AtStart;
        deemphasiseChannel<Pcm>(in, out, frames, 1, firstFrame);
      } else if (!emphasis && bad) {
        throwFirstOverflow(table, in, frames, 1);
      }
    } else {
      following_ = false;
      filters_[1] = channel2AtStart;
      if (emphasis2) {
        deemphasiseChannel<Pcm>(in, out, frames, 1, firstFrame);
      } else {
        volumeChannel(table, in, out, frames, 1);
      }
    }
  }

  // The volume pass over all samples of a block; true when one overflowed.
  template <class Pcm>
  static bool volumeAll(const VolumeTable<Pcm>& table, const typename Pcm::Word* in,
                        typename Pcm::Word* out, std::int64_t count) {
    const auto* stored = table.stored.data();
    const std::size_t n = static_cast<std::size_t>(count);
    if (!table.anyBad) {
      for (std::size_t k = 0; k < n; ++k) out[k] = stored[in[k]];
      return false;
    }
    const std::uint8_t* bad = table.bad.data();
    std::uint8_t any = 0;
    for (std::size_t k = 0; k < n; ++k) {
      out[k] = stored[in[k]];
      any |= bad[in[k]];
    }
    return any != 0;
  }

  template <class Pcm>
  void volumeChannel(const VolumeTable<Pcm>& table, const typename Pcm::Word* in,
                     typename Pcm::Word* out, std::int64_t frames, int channel) {
    throwFirstOverflow(table, in, frames, channel);
    const int channels = state_.channels;
    for (std::int64_t i = 0; i < frames; ++i) {
      const std::size_t k = static_cast<std::size_t>(i * channels + channel);
      out[k] = table.stored[in[k]];
    }
  }

  template <class Pcm>
  void throwFirstOverflow(const VolumeTable<Pcm>& table, const typename Pcm::Word* in,
                          std::int64_t frames, int channel) {
    const int channels = state_.channels;
    for (std::int64_t i = 0; i < frames; ++i) {
      const auto s = in[static_cast<std::size_t>(i * channels + channel)];
      if (table.bad[s]) {
        result_.lastValue = table.value[s];
        throw RunError(kErrOverflow, "volume pass");
      }
    }
  }

  // The de-emphasis pass over one channel of a block, messages in frame order.
  // The block is done without messages first; only a block that clips is done
  // again from the same filter state to show them.
  template <class Pcm>
  void deemphasiseChannel(const typename Pcm::Word* in, typename Pcm::Word* out,
                          std::int64_t frames, int channel, std::int64_t firstFrame,
                          bool follow = false) {
    const DeemphasisFilterDouble atStart = filters_[channel];
    const bool clipped =
        follow ? filterQuietly<Pcm, true>(in, out, frames, state_.channels, channel, factor_,
                                          filters_[channel], followers_[channel])
               : filterQuietly<Pcm, false>(in, out, frames, state_.channels, channel, factor_,
                                           filters_[channel], followers_[channel]);
    if (!clipped) return;
    filters_[channel] = atStart;
    filterWithMessages<Pcm>(in, out, frames, channel, firstFrame);
  }

  template <class Pcm>
  void filterWithMessages(const typename Pcm::Word* in, typename Pcm::Word* out,
                          std::int64_t frames, int channel, std::int64_t firstFrame) {
    const int channels = state_.channels;
    DeemphasisFilterDouble filter = filters_[channel];
    for (std::int64_t i = 0; i < frames; ++i) {
      const std::size_t k = static_cast<std::size_t>(i * channels + channel);
      double y = filter.step(Pcm::sampleValue(in[k]) * factor_);
      std::int64_t r = Pcm::roundFiltered(y);
      if (r > Pcm::kHigh || r < Pcm::kLow) r = reportClip<Pcm>(firstFrame + i, r);
      out[k] = Pcm::store(r);
    }
    filters_[channel] = filter;
  }

  // One channel's chain with the results limited silently; true when a
  // result had to be limited. No calls inside, so the state stays in registers.
  // With Follow, the report's filter runs alongside (filteredRange).
  template <class Pcm, bool Follow>
  static bool filterQuietly(const typename Pcm::Word* in, typename Pcm::Word* out,
                            std::int64_t frames, int channels, int channel, double factor,
                            DeemphasisFilterDouble& filter, FilterFollower& follower) {
    double prevIn = filter.prevInput, prevOut = filter.prevOutput;
    FilterFollower f = follower;
    bool clipped = false;
    for (std::int64_t i = 0; i < frames; ++i) {
      const std::size_t k = static_cast<std::size_t>(i * channels + channel);
      if constexpr (Follow) f.step(Pcm::analysisValue(in[k]));
      const double x = Pcm::sampleValue(in[k]) * factor;
      double v = 15.5 * prevIn + (-2.75) * x;  // the filter's step, in its order
      v = v + 20.75 * prevOut;
      v = v / 33.5;
      prevIn = x;
      prevOut = v;
      const std::int64_t r = Pcm::roundFiltered(v);
      clipped |= (r > Pcm::kHigh) | (r < Pcm::kLow);
      out[k] = Pcm::store(std::clamp(r, Pcm::kLow, Pcm::kHigh));
    }
    filter.prevInput = prevIn;
    filter.prevOutput = prevOut;
    if constexpr (Follow) follower = f;
    return clipped;
  }

  // Both channels' chains side by side, so that the two divisions overlap.
  // Returns whether channel 2 clipped: its messages are shown by doing channel
  // 2 again once channel 1's have been shown.
  template <class Pcm>
  bool deemphasiseStereo(const typename Pcm::Word* in, typename Pcm::Word* out, std::int64_t frames,
                         std::int64_t firstFrame) {
    const DeemphasisFilterDouble channel1AtStart = filters_[0];
    bool clipped1 = false, clipped2 = false;
    if (following_) {
      filterStereoQuietly<Pcm, true>(in, out, frames, factor_, filters_, followers_, clipped1,
                                     clipped2);
    } else {
      filterStereoQuietly<Pcm, false>(in, out, frames, factor_, filters_, followers_, clipped1,
                                      clipped2);
    }
    if (clipped1) {
      filters_[0] = channel1AtStart;
      filterWithMessages<Pcm>(in, out, frames, 0, firstFrame);
    }
    return clipped2;
  }

  template <class Pcm, bool Follow>
  static void filterStereoQuietly(const typename Pcm::Word* in, typename Pcm::Word* out,
                                  std::int64_t frames, double factor,
                                  DeemphasisFilterDouble (&filters)[2],
                                  FilterFollower (&followers)[2], bool& clipped1, bool& clipped2) {
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Pcm, Pcm16>) {
      if (factor <= kPackedFactorLimit) {
        filterStereoPacked16<Follow>(in, out, frames, factor, filters, followers, clipped1,
                                     clipped2);
        return;
      }
    }
#endif
    double in1 = filters[0].prevInput, out1 = filters[0].prevOutput;
    double in2 = filters[1].prevInput, out2 = filters[1].prevOutput;
    FilterFollower f1 = followers[0], f2 = followers[1];
    bool c1 = false, c2 = false;
    for (std::int64_t i = 0; i < frames; ++i) {
      const std::size_t k = static_cast<std::size_t>(2 * i);
      if constexpr (Follow) {
        f1.step(Pcm::analysisValue(in[k]));
        f2.step(Pcm::analysisValue(in[k + 1]));
      }
      const double x1 = Pcm::sampleValue(in[k]) * factor;
      const double x2 = Pcm::sampleValue(in[k + 1]) * factor;
      double v1 = 15.5 * in1 + (-2.75) * x1;
      double v2 = 15.5 * in2 + (-2.75) * x2;
      v1 = v1 + 20.75 * out1;
      v2 = v2 + 20.75 * out2;
      v1 = v1 / 33.5;
      v2 = v2 / 33.5;
      in1 = x1;
      in2 = x2;
      out1 = v1;
      out2 = v2;
      const std::int64_t r1 = Pcm::roundFiltered(v1);
      const std::int64_t r2 = Pcm::roundFiltered(v2);
      c1 |= (r1 > Pcm::kHigh) | (r1 < Pcm::kLow);
      c2 |= (r2 > Pcm::kHigh) | (r2 < Pcm::kLow);
      out[k] = Pcm::store(std::clamp(r1, Pcm::kLow, Pcm::kHigh));
      out[k + 1] = Pcm::store(std::clamp(r2, Pcm::kLow, Pcm::kHigh));
    }
    filters[0].prevInput = in1;
    filters[0].prevOutput = out1;
    filters[1].prevInput = in2;
    filters[1].prevOutput = out2;
    if constexpr (Follow) {
      followers[0] = f1;
      followers[1] = f2;
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
  // lanes of one register: each lane does the same IEEE operations in the same
  // order, so the results are those of the scalar loop, bit for bit. The
  // rounding is floor(v + 0.5) as there (truncate, then step down where that
  // went up), and the limiting is the saturation of the pack to 16 bits.
  template <bool Follow>
  static void filterStereoPacked16(const std::uint16_t* in, std::uint16_t* out, std::int64_t frames,
                                   double factor, DeemphasisFilterDouble (&filters)[2],
                                   FilterFollower (&followers)[2], bool& clipped1, bool& clipped2) {
    const __m128d f = _mm_set1_pd(factor);
    const __m128d a = _mm_set1_pd(15.5);
    const __m128d b = _mm_set1_pd(-2.75);
    const __m128d c = _mm_set1_pd(20.75);
    const __m128d d = _mm_set1_pd(33.5);
    const __m128d half = _mm_set1_pd(0.5);
    const __m128i high = _mm_set1_epi32(32767);
    const __m128i low = _mm_set1_epi32(-32768);
    __m128d prevIn = _mm_set_pd(filters[1].prevInput, filters[0].prevInput);
    __m128d prevOut = _mm_set_pd(filters[1].prevOutput, filters[0].prevOutput);
    __m128i outside = _mm_setzero_si128();
    FilterFollower f1 = followers[0], f2 = followers[1];
    for (std::int64_t i = 0; i < frames; ++i) {
      if constexpr (Follow) {
        f1.step(Pcm16::analysisValue(in[2 * i]));
        f2.step(Pcm16::analysisValue(in[2 * i + 1]));
      }
      std::int32_t pair;
      std::memcpy(&pair, in + 2 * i, sizeof pair);
      __m128i w = _mm_cvtsi32_si128(pair);
      w = _mm_srai_epi32(_mm_unpacklo_epi16(w, w), 16);  // the two samples, sign-extended
      const __m128d x = _mm_mul_pd(_mm_cvtepi32_pd(w), f);
      __m128d v = _mm_add_pd(_mm_mul_pd(a, prevIn), _mm_mul_pd(b, x));
      v = _mm_add_pd(v, _mm_mul_pd(c, prevOut));
      v = _mm_div_pd(v, d);
      prevIn = x;
      prevOut = v;
      const __m128d t = _mm_add_pd(v, half);
      __m128i r = _mm_cvttpd_epi32(t);
      const __m128d up = _mm_cmpgt_pd(_mm_cvtepi32_pd(r), t);
      r = _mm_add_epi32(r, _mm_shuffle_epi32(_mm_castpd_si128(up), 0x08));
      outside =
          _mm_or_si128(outside, _mm_or_si128(_mm_cmpgt_epi32(r, high), _mm_cmplt_epi32(r, low)));
      const std::int32_t stored = _mm_cvtsi128_si32(_mm_packs_epi32(r, r));
      std::memcpy(out + 2 * i, &stored, sizeof stored);
    }
    alignas(16) double lanes[2];
    _mm_store_pd(lanes, prevIn);
    filters[0].prevInput = lanes[0];
    filters[1].prevInput = lanes[1];
    _mm_store_pd(lanes, prevOut);
    filters[0].prevOutput = lanes[0];
    filters[1].prevOutput = lanes[1];
    if constexpr (Follow) {
      followers[0] = f1;
      followers[1] = f2;
    }
    const int mask = _mm_movemask_ps(_mm_castsi128_ps(outside));
    clipped1 = (mask & 1) != 0;
    clipped2 = (mask & 2) != 0;
  }
#endif

  template <class Pcm>
  std::int64_t reportClip(std::int64_t frame, std::int64_t r) {
    const bool high = r > Pcm::kHigh;
    Message m;
    m.title = "Error:";
    m.icon = MsgIcon::kExclamation;
    m.text = "Error at sample " + std::to_string(frame) + "! Calculated value of " +
             std::to_string(Pcm::shownValue(r)) + (high ? Pcm::kHighEnding : Pcm::kLowEnding);
    ++result_.clippedSamples;
    sv_.messages.show(m);
    return high ? Pcm::kHigh : Pcm::kLow;
  }

  void showProgress(std::int64_t done, std::int64_t total) {
    sv_.dialog.setCaption("Progress " +
                          formatNumber(static_cast<double>(done) / static_cast<double>(total), "0%",
                                       sv_.decimalSeparator));
    sv_.dialog.yieldToEvents();
    if (!placement_.inPlace) checkExit();
  }

  bool exitAsked() const {
    return sv_.exitRequested && sv_.exitRequested();
  }

  void checkExit() {
    if (exitAsked()) throw AbandonRun{};
  }

  static void readExactly(ByteSource& source, void* buffer, std::size_t count) {
    if (source.read(buffer, count) != count) {
      throw RunError(kErrInputPastEnd, "sample data");
    }
  }

  // Copies `count` bytes (or up to the end for UINT64_MAX) through `buffer`.
  static void copyBytes(ByteSource& source, OutputFile& out, std::uint64_t count, void* buffer,
                        std::size_t bufferSize) {
    const bool toEnd = count == UINT64_MAX;
    while (count > 0) {
      std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(count, bufferSize));
      std::size_t got = source.read(buffer, want);
      if (got > 0) out.write(buffer, got);
      if (got < want) {
        if (toEnd) return;
        throw RunError(kErrInputPastEnd, "header");
      }
      if (!toEnd) count -= got;
    }
  }

  // Closes and removes what the run opened and made, and puts the original
  // back under its name.
  void cleanUp() noexcept {
    if (placement_.input) placement_.input->close();
    if (atomic_) atomic_->abandon();
    if (inPlaceOutput_) {
      try {
        inPlaceOutput_->close();
      } catch (...) {
      }
    }
    restoreOriginal(sv_.fs, path_, placement_);
  }

  void fail(int number) {
    cleanUp();
    result_.outcome = ModifyOutcome::kFailed;
    result_.errorNumber = number;
    sv_.messages.show(failureMessage(number, result_.lastValue, path_));
  }

  void finishRun() {
    sv_.dialog.setCaption("Done!");
    double elapsed = std::max(0.0, sv_.clock.seconds() - startTime_);
    result_.elapsedSeconds = static_cast<float>(elapsed);
    sv_.main.setReportText(sv_.main.reportViewText() + "\r\n" + "Manipulation time = " +
                           formatNumber(static_cast<float>(elapsed), "0.00", sv_.decimalSeparator) +
                           " sec." + "\r\n");
    if (exitAsked()) {
      result_.exitPending = true;  // the program ends now; no notice to wait for
      return;
    }
    if (sv_.placement != PlacementMode::kExplicitOutput) {
      sv_.messages.show(closingNotice(placement_.inProgramDir, state_.lineBreak));
    }
  }

  const std::function<bool()>& beforeCommit_;
  ProgramState& state_;
  ModifyServices& sv_;
  const double factor_;
  const bool emphasisAtStart_;
  ModifyResult& result_;
  const std::string path_;
  Placement placement_;
  std::unique_ptr<AtomicOutput> atomic_;
  std::unique_ptr<OutputFile> inPlaceOutput_;
  DeemphasisFilterDouble filters_[2];
  FilterFollower followers_[2];
  bool following_ = false;  // every block so far went through the followers
  double startTime_ = 0.0;
};

std::optional<std::string> refusal(const ProgramState& state) {
  if (state.filePaths.empty()) return "No file is chosen; nothing can be modified!";
  const std::string& path = state.filePaths[0];
  switch (state.headerStatus) {
    case HeaderStatus::kReady:
      break;
    case HeaderStatus::kNone:
    case HeaderStatus::kUnreadable:
      return "File " + path + " could not be read! Modification cancelled!";
    case HeaderStatus::kEmpty:
      return "File " + path + " is empty! Modification cancelled!";
    case HeaderStatus::kNoDataChunk:
      return "File " + path + " has no data chunk! Modification cancelled!";
    case HeaderStatus::kUnsupported:
      return "File " + path +
             " holds no 8 or 16 bit PCM samples in 1 or 2 channels! Modification cancelled!";
  }
  if (state.framesInFile <= 0) {
    return "File " + path + " holds no sample frames! Modification cancelled!";
  }
  return std::nullopt;
}

}  // namespace

std::int64_t modifyBlockFrames(int channels, int bitsPerSample, std::int64_t totalFrames) {
  double frames = 8.0 / channels * 1024 * 1024 / bitsPerSample;
  auto blockFrames = static_cast<std::int64_t>(std::nearbyint(frames));
  return std::min(blockFrames, totalFrames);
}

double maximumGain(std::int32_t peak, int bitsPerSample, bool cutToThousandths) {
  if (peak <= 0) return 1.0;  // silence: nothing to raise
  double gain = cutToThousandths ? std::floor(32767000.0 / peak) / 1000.0 : 32767.0 / peak;
  if (bitsPerSample != 8) return gain;

  // A byte holds -128..127 around 128. The loudest sample, v = peak / 256 on
  // either side, must still give v x factor + 128.5 below 256 (and above -1).
  const double magnitude = peak / 256.0;
  const double positive = std::min(magnitude, 127.0);
  const double negative = std::min(magnitude, 128.0);
  auto fits = [&](double f) {
    return positive * f + 128.5 < 256.0 && -negative * f + 128.5 > -1.0;
  };
  if (fits(gain)) return gain;
  if (cutToThousandths) {
    double thousandths = std::floor(127.5 / positive * 1000.0);
    while (thousandths > 0 && !fits(thousandths / 1000.0)) thousandths -= 1;
    return thousandths / 1000.0;
  }
  gain = 127.5 / positive;
  while (!fits(gain)) gain = std::nextafter(gain, 0.0);
  return gain;
}

ModifyResult runModificationDetailed(ProgramState& state, const ModifyRequest& request,
                                     ModifyServices& services,
                                     const std::function<bool()>& beforeCommit) {
  ModifyResult result;
  const bool emphasis = services.dialog.emphasisChecked();
  if (request.hsbVolume == 1000 && request.chkVolume == 0 && !emphasis) {
    result.outcome = ModifyOutcome::kNothingToDo;
    return result;
  }
  const double factor = request.chkVolume == 1 ? request.maxGain : request.hsbVolume / 1000.0;

  std::optional<std::string> why = refusal(state);
  if (!why && !(factor >= 0.0 && factor <= kLargestFactor)) {
    why = "A volume factor of " + formatNumber(factor, "0.000") +
          " cannot be applied! Modification cancelled!";
  }
  if (why) {
    Message m;
    m.title = "Warning";
    m.icon = MsgIcon::kExclamation;
    m.text = *why;
    services.messages.show(m);
    result.outcome = ModifyOutcome::kRefused;
    return result;
  }

  Engine(state, services, factor, emphasis, result, beforeCommit).run();
  return result;
}

ModifyOutcome runModification(ProgramState& state, const ModifyRequest& request,
                              ModifyServices& services) {
  return runModificationDetailed(state, request, services).outcome;
}

}  // namespace ril
