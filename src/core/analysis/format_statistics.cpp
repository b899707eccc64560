#include "core/analysis/format_statistics.h"

#include <algorithm>
#include <cmath>

#include "core/dsp/double_filter/segmented_deemphasis.h"
#include "core/dsp/formats/float_sums.h"
#include "core/dsp/formats/format_runs.h"
#include "core/dsp/formats/meter_values.h"
#include "core/dsp/formats/sample_codec.h"
#include "core/dsp/integer_filter/chunk_filter.h"
#include "core/dsp/integer_filter/filter_chain.h"

namespace ril {

namespace {

using Sums = FormatAccumulator::Sums;
constexpr std::int64_t kChunk = 16384;

// The limits at and beyond which a value counts as full scale.
struct Range {
  double low;
  double high;
};

// Strict comparisons: the first frame of an extreme wins.
inline void extremes(Sums& s, double v, std::int64_t pos) {
  if (v > s.max) {
    s.max = v;
    s.maxPos = pos;
  }
  if (v < s.min) {
    s.min = v;
    s.minPos = pos;
  }
}

inline void addInteger(Sums& s, std::int64_t v, std::int64_t pos, Range r) {
  extremes(s, static_cast<double>(v), pos);
  s.sum += v;
  s.sumSq += static_cast<unsigned __int128>(static_cast<__int128>(v) * v);
  if (static_cast<double>(v) <= r.low || static_cast<double>(v) >= r.high) ++s.atLimits;
}

// A run of integers (times `factor`), frames base.. on, into the sums; the
// frame of an extreme that beats those so far is base + indexOf(extreme).
// `Run`: kernels::IntegerRun or kernels::WideIntegerRun.
template <typename Run, typename IndexOf>
void takeRunAt(Sums& s, const Run& run, std::int64_t factor, std::int64_t base, IndexOf indexOf) {
  s.sum += static_cast<__int128>(run.sum) * factor;
  s.sumSq += run.sumSq;
  s.atLimits += run.atLimits;
  const std::int32_t lo = run.min, hi = run.max;
  if (static_cast<double>(hi) * static_cast<double>(factor) > s.max) {
    s.max = static_cast<double>(hi) * static_cast<double>(factor);
    s.maxPos = base + indexOf(hi);
  }
  if (static_cast<double>(lo) * static_cast<double>(factor) < s.min) {
    s.min = static_cast<double>(lo) * static_cast<double>(factor);
    s.minPos = base + indexOf(lo);
  }
}

// The same for a run of n stored integers, the extremes looked up in
// `values()`.
template <typename Run, typename Values>
void takeRun(Sums& s, const Run& run, std::int64_t factor, std::int64_t base, std::int64_t n,
             Values values) {
  takeRunAt(s, run, factor, base, [&](std::int32_t v) {
    const std::int32_t* x = values();
    return std::find(x, x + n, v) - x;
  });
}

// The report's integer filter over n <= kChunk inputs on the 16-bit scale
// (the stored integers times `factor`), frames base.. on, into the sums;
// the filter's state carried on in `f`.
void addIntegerFiltered(DeemphasisFilter& f, Sums& s, const std::int32_t* stored, std::int64_t n,
                        std::int64_t factor, std::int64_t base) {
  thread_local std::vector<std::int16_t> inputs(kChunk + 1);
  thread_local kernels::ChunkFilter filter;
  std::int16_t* x = inputs.data() + 1;
  x[-1] = static_cast<std::int16_t>(f.prevInput);
  for (std::int64_t i = 0; i < n; ++i) x[i] = static_cast<std::int16_t>(stored[i] * factor);
  std::int64_t state = f.prevOutput + std::int64_t{kernels::kOutputBias};
  const std::int16_t* rows[1] = {x};
  filter.run(1, rows, n, &state);
  f.prevInput = x[n - 1];
  f.prevOutput = static_cast<std::int32_t>(state - kernels::kOutputBias);
  takeRunAt(s, filter.stats(0), 1, base, [&](std::int32_t v) { return filter.firstIndexOf(0, v); });
}

// A chunk of stored integers (times `factor`): the extremes compared as
// integers, looked up only when the chunk beats them, and the sums exact.
// `narrow`: containers of up to 24 bits on their own scale, so that every
// |x| < 2^24, the vector kernel's range.
void addIntegers(Sums& s, const std::int32_t* x, std::int64_t n, std::int64_t factor,
                 std::int64_t base, Range r, bool narrow) {
  const auto low = static_cast<std::int64_t>(r.low), high = static_cast<std::int64_t>(r.high);
  if (narrow) {
    takeRun(s, kernels::integerRun(x, n, low, high), factor, base, n, [x] { return x; });
  } else if (factor == 1) {
    takeRun(s, kernels::wideIntegerRun(x, n, low, high), 1, base, n, [x] { return x; });
  } else {
    kernels::IntegerRun run;
    run.min = run.max = x[0];
    __extension__ unsigned __int128 sumSq = 0;
    for (std::int64_t i = 0; i < n; ++i) {
      const std::int64_t v = x[i];
      run.min = std::min(run.min, x[i]);
      run.max = std::max(run.max, x[i]);
      run.sum += v;
      sumSq += static_cast<std::uint64_t>(v * v);
      run.atLimits += (v * factor <= low) | (v * factor >= high);
    }
    s.sumSq += sumSq * static_cast<unsigned __int128>(factor * factor);
    run.sumSq = 0;
    takeRun(s, run, factor, base, n, [x] { return x; });
  }
}

// Both channels of 24-bit stereo frames base.. on (little-endian, on their
// own scale), from one pass over the bytes: the same sums and extremes as
// addIntegers gives each channel's decoded samples.
void addStereo24(Sums* const* sums, const unsigned char* bytes, std::int64_t n, std::int64_t base,
                 Range r, const SampleFormat& format) {
  thread_local std::vector<std::int32_t> values(kChunk);
  const auto low = static_cast<std::int64_t>(r.low), high = static_cast<std::int64_t>(r.high);
  for (std::int64_t i = 0; i < n; i += kChunk) {
    const std::int64_t m = std::min(kChunk, n - i);
    const unsigned char* p = bytes + static_cast<std::size_t>(i) * 6;
    kernels::IntegerRun runs[2];
    kernels::stereo24Runs(p, m, low, high, runs);
    for (int c = 0; c < 2; ++c) {
      takeRun(*sums[c], runs[c], 1, base + i, m, [&] {
        kernels::storedIntegers(p + 3 * c, 6, format, m, values.data());
        return values.data();
      });
    }
  }
}

// Values beyond kPlainMagnitude would overflow the sum of squares: they are
// summed apart, times 2^-kSumShift (exact for them).
constexpr int kSumShift = 600;

// A piece of a chunk holding values that are not usual: NaN and infinities
// become 0 (in `x` too) and are counted, values beyond kPlainMagnitude go
// to the huge lanes scaled, every other value to the plain lanes.
kernels::FloatScan addUnusual(Sums& s, double* x, std::int64_t n, int phase) {
  s.nonFinite += kernels::zeroNonFinite(x, n);
  thread_local std::vector<double> plain, huge;
  plain.resize(static_cast<std::size_t>(n));
  huge.resize(static_cast<std::size_t>(n));
  for (std::int64_t i = 0; i < n; ++i) {
    const bool beyond = !(std::fabs(x[i]) <= kernels::kPlainMagnitude);
    plain[static_cast<std::size_t>(i)] = beyond ? 0.0 : x[i];
    huge[static_cast<std::size_t>(i)] = beyond ? std::ldexp(x[i], -kSumShift) : 0.0;
    s.huge |= beyond;
  }
  kernels::FloatScan ignored;
  kernels::scanAndSum(plain.data(), n, phase, s.lanes, ignored);
  kernels::scanAndSum(huge.data(), n, phase, s.hugeLanes, ignored);
  return kernels::scanFloats(x, n, 0.0, 0.0);
}

// The chunk in progress, complete: its lanes' sums join the channel's.
void closeChunk(Sums& s) {
  const kernels::LaneTotal t = kernels::combineLanes(s.lanes);
  if (s.keepChunks) {
    s.chunks.push_back({t, kernels::combineLanes(s.hugeLanes), s.huge});
    s.lanes = {};
    s.hugeLanes = {};
    return;
  }
  s.floatSum += t.sum;
  s.floatSumSq += t.sumSq;
  s.lanes = {};
  if (!s.huge) return;
  const kernels::LaneTotal h = kernels::combineLanes(s.hugeLanes);
  s.hugeSum += h.sum;
  s.hugeSumSq += h.sumSq;
  s.hugeLanes = {};
}

// A scanned piece of a chunk, frames pos.. on: its values at full scale,
// and its extremes where they beat those so far, looked up in `values()`;
// the chunk closed at its end.
template <typename Values>
void takeScan(Sums& s, const kernels::FloatScan& scan, std::int64_t pos, std::int64_t m,
              Values values) {
  s.atLimits += scan.atLimits;
  if (scan.hi > s.max) {
    const double* x = values();
    s.maxPos = pos + (std::find(x, x + m, scan.hi) - x);
    s.max = scan.hi;
  }
  if (scan.lo < s.min) {
    const double* x = values();
    s.minPos = pos + (std::find(x, x + m, scan.lo) - x);
    s.min = scan.lo;
  }
  if (pos % kernels::kSumChunk + m == kernels::kSumChunk) closeChunk(s);
}

// Float values of frames base.. on: the extremes by the vector scan, looked
// up only when a piece beats them, and the sums chunk by chunk. NaN and
// infinities in `x` become 0; true when there were values that are not
// usual (non-finite or beyond kPlainMagnitude).
bool addFloats(Sums& s, double* x, std::int64_t n, std::int64_t base) {
  bool unusual = false;
  for (std::int64_t i = 0; i < n;) {
    const std::int64_t pos = base + i;
    const std::int64_t inChunk = pos % kernels::kSumChunk;
    const std::int64_t m = std::min(n - i, kernels::kSumChunk - inChunk);
    const int phase = static_cast<int>(pos % kernels::kSumLanes);
    double* piece = x + i;
    kernels::FloatScan scan;
    if (!kernels::scanAndSum(piece, m, phase, s.lanes, scan)) {
      unusual = true;
      scan = addUnusual(s, piece, m, phase);
    }
    takeScan(s, scan, pos, m, [piece] { return piece; });
    i += m;
  }
  return unusual;
}

// Float stereo frames base.. on (32-bit, little-endian), both channels in one
// pass over the bytes: the same sums and extremes as addFloats gives each.
// A piece with values that are not usual goes through addFloats.
void addFloatPairs(Sums* const* sums, const unsigned char* bytes, std::int64_t n, std::int64_t base,
                   const SampleFormat& format) {
  thread_local std::vector<double> values(kernels::kSumChunk);
  for (std::int64_t i = 0; i < n;) {
    const std::int64_t pos = base + i;
    const std::int64_t m = std::min(n - i, kernels::kSumChunk - pos % kernels::kSumChunk);
    const unsigned char* p = bytes + static_cast<std::size_t>(i) * 8;
    kernels::SumLanes after[2] = {sums[0]->lanes, sums[1]->lanes};
    kernels::FloatScan scans[2];
    const bool usual = kernels::scanAndSumFloatPairs(
        p, m, static_cast<int>(pos % kernels::kSumLanes), after, scans);
    for (int c = 0; c < 2; ++c) {
      const auto decoded = [&] {
        kernels::storedValues(p + 4 * c, 8, format, m, values.data());
        return values.data();
      };
      if (usual) {
        sums[c]->lanes = after[c];
        takeScan(*sums[c], scans[c], pos, m, decoded);
      } else {
        addFloats(*sums[c], decoded(), m, pos);
      }
    }
    i += m;
  }
}

// The average and RMS of float sums; with huge values on the scale of those,
// back on the values' scale, never beyond the extremes.
void floatFigures(const Sums& s, double n, double& avg, double& rms) {
  if (!s.huge) {
    avg = s.floatSum / n;
    rms = std::sqrt(s.floatSumSq / n);
    return;
  }
  const double sum = std::ldexp(s.floatSum, -kSumShift) + s.hugeSum;
  const double sumSq = std::ldexp(s.floatSumSq, -2 * kSumShift) + s.hugeSumSq;
  avg = std::clamp(std::ldexp(sum / n, kSumShift), s.min, s.max);
  rms = std::min(std::ldexp(std::sqrt(sumSq / n), kSumShift), std::max(-s.min, s.max));
}

// floor(y / step + 0.5) x step: the double filter's output at the valid bits.
inline std::int64_t roundedAt(double y, std::int64_t step) {
  const double t = std::floor(y / static_cast<double>(step) + 0.5);
  return static_cast<std::int64_t>(t) * step;
}

// The double filter's outputs y[0..n), frames base.. on, rounded at the
// valid bits into the sums: in vectors wherever every rounded output lies
// within the integer kernels' reach (the narrow one's below 2^24, the wide
// one's the 32-bit range), one by one elsewhere.
void addRounded(Sums& s, const double* y, std::int64_t n, std::int64_t step, std::int64_t base,
                Range r, bool wide) {
  thread_local std::vector<std::int32_t> rounded(kChunk);
  const std::int64_t low = static_cast<std::int64_t>(r.low),
                     high = static_cast<std::int64_t>(r.high);
  const std::int64_t reach = wide ? std::int64_t{INT32_MAX} : (std::int64_t{1} << 24) - 1;
  // 1 / step is a power of two: y x (1 / step) is y / step.
  if (kernels::roundAtSteps(y, n, 1.0 / static_cast<double>(step), step, wide ? INT32_MIN : -reach,
                            reach, rounded.data())) {
    const auto values = [&] { return rounded.data(); };
    if (wide) {
      takeRun(s, kernels::wideIntegerRun(rounded.data(), n, low, high), 1, base, n, values);
    } else {
      takeRun(s, kernels::integerRun(rounded.data(), n, low, high), 1, base, n, values);
    }
    return;
  }
  for (std::int64_t i = 0; i < n; ++i) addInteger(s, roundedAt(y[i], step), base + i, r);
}

bool shares(bool asked, int threads, bool deemphasis, int channels) {
  return asked && threads == 2 && !deemphasis && (channels == 1 || channels == 2);
}

// `later`, accumulated from the frame after the last of `s`, joined to `s`
// as if one had accumulated both, in order. `s` ends at a whole chunk.
void join(Sums& s, const Sums& later) {
  if (later.max > s.max) {
    s.max = later.max;
    s.maxPos = later.maxPos;
  }
  if (later.min < s.min) {
    s.min = later.min;
    s.minPos = later.minPos;
  }
  s.sum += later.sum;
  s.sumSq += later.sumSq;
  for (const Sums::Chunk& c : later.chunks) {
    s.floatSum += c.plain.sum;
    s.floatSumSq += c.plain.sumSq;
    if (s.huge || c.hugeSeen) {
      s.hugeSum += c.huge.sum;
      s.hugeSumSq += c.huge.sumSq;
    }
  }
  s.lanes = later.lanes;
  s.hugeLanes = later.hugeLanes;
  s.huge = s.huge || later.huge;
  s.atLimits += later.atLimits;
  s.nonFinite += later.nonFinite;
}

}  // namespace

ChannelFigures figuresOf(const ChannelStats& r) {
  ChannelFigures f;
  f.min = r.min;
  f.max = r.max;
  f.minPos = r.minPos;
  f.maxPos = r.maxPos;
  f.avg = r.avg;
  f.rms = r.rms;
  f.fullScale = r.fullScale;
  return f;
}

FullScale overviewFullScale(const SampleFormat& format) {
  const double scale = format.fullScale();
  return {static_cast<double>(format.smallest()) / scale,
          static_cast<double>(format.largest()) / scale};
}

void FormatFrameSource::fetchAfter(std::int64_t first, std::int64_t count) const {
  const auto frameBytes = static_cast<std::size_t>(channels_ * format_.containerBytes);
  const auto from = static_cast<std::size_t>(first + count) * frameBytes;
  const auto to = static_cast<std::size_t>(std::min(first + 2 * count, frames_)) * frameBytes;
  for (std::size_t at = from & ~std::size_t{63}; at < to; at += 64) {
    __builtin_prefetch(bytes_ + at, 0, 2);
  }
}

void FormatFrameSource::read(int channel, std::int64_t first, std::int64_t count,
                             double* out) const {
  const std::size_t frameBytes = static_cast<std::size_t>(channels_ * format_.containerBytes);
  const unsigned char* p = bytes_ + static_cast<std::size_t>(first) * frameBytes +
                           static_cast<std::size_t>(channel * format_.containerBytes);
  kernels::meterValues(p, frameBytes, format_, count, out);
  fetchAfter(first, count);
}

void FormatFrameSource::readChannels(std::int64_t first, std::int64_t count, double* const* out,
                                     int channels) const {
  if (channels_ == 2 && channels == 2 && out[0] && out[1]) {
    const auto frameBytes = static_cast<std::size_t>(2 * format_.containerBytes);
    kernels::meterPairValues(bytes_ + static_cast<std::size_t>(first) * frameBytes, format_, count,
                             out[0], out[1]);
    fetchAfter(first, count);
    return;
  }
  FrameSource::readChannels(first, count, out, channels);
}

FormatAccumulator::FormatAccumulator(const SampleFormat& format, int channels, bool deemphasis,
                                     int threads, std::int64_t largestBlockFrames, bool shareBlocks)
    : format_(format),
      channels_(channels),
      deemphasis_(deemphasis),
      state_(static_cast<std::size_t>(std::max(channels, 0))),
      pool_(shares(shareBlocks, threads, deemphasis, channels)
                ? 1
                : std::min(threads, std::max(channels, 1) + 2)),
      source_(format, channels) {
  if (shares(shareBlocks, threads, deemphasis, channels)) sharing_.emplace();
  const auto bytes = static_cast<std::size_t>(std::max<std::int64_t>(largestBlockFrames, 0)) *
                     static_cast<std::size_t>(channels * format.containerBytes);
  buffers_.resize(bytes);
}

FormatAccumulator::~FormatAccumulator() {
  try {
    pool_.wait();
  } catch (...) {
  }
}

void FormatAccumulator::accumulate(int channel, const unsigned char* bytes, std::int64_t frames,
                                   std::int64_t first, Sums& stored) {
  Channel& ch = state_[static_cast<std::size_t>(channel)];
  const std::size_t frameBytes = static_cast<std::size_t>(channels_ * format_.containerBytes);
  const unsigned char* p = bytes + static_cast<std::size_t>(channel * format_.containerBytes);
  const Range range{static_cast<double>(format_.smallestMeasured()),
                    static_cast<double>(format_.largestMeasured())};
  const std::int64_t factor = format_.statisticsFactor();
  const std::int64_t step = format_.step();
  const bool sixteen = format_.onSixteenBitScale();
  const bool narrow = factor == 1 && format_.containerBytes <= 3;
  // Chunks long enough for the double filter's segments; each thread keeps
  // its own buffers.
  thread_local std::vector<double> values(kChunk), outputs(kChunk);
  thread_local std::vector<std::int32_t> integers(kChunk);
  const std::int64_t piece = kernels::evenPieceFrames(frames, kChunk);
  for (std::int64_t start = 0; start < frames; start += piece) {
    const std::int64_t n = std::min(piece, frames - start);
    const unsigned char* at = p + static_cast<std::size_t>(start) * frameBytes;
    const std::int64_t base = first + start;
    if (format_.isFloat()) {
      double* v = values.data();
      kernels::storedValues(at, frameBytes, format_, n, v);
      const bool unusual = addFloats(stored, v, n, base);
      if (!deemphasis_) continue;
      if (unusual) {
        for (std::int64_t i = 0; i < n; ++i) {
          v[i] = kernels::boundedInput(v[i], kernels::kFilterMagnitude);
        }
      }
      kernels::deemphasiseSegmented(v, outputs.data(), n, ch.doubleFilter);
      addFloats(ch.filtered, outputs.data(), n, base);
      continue;
    }
    kernels::storedIntegers(at, frameBytes, format_, n, integers.data());
    addIntegers(stored, integers.data(), n, factor, base, range, narrow);
    if (!deemphasis_) continue;
    if (sixteen) {
      addIntegerFiltered(ch.integerFilter, ch.filtered, integers.data(), n, factor, base);
      continue;
    }
    // Containers of 3 and 4 bytes, whose factor is 1: the stored integers.
    kernels::storedValues(at, frameBytes, format_, n, values.data());
    kernels::deemphasiseSegmented(values.data(), outputs.data(), n, ch.doubleFilter);
    addRounded(ch.filtered, outputs.data(), n, step, base, range, !narrow);
  }
}

void FormatAccumulator::addBlockHere(const unsigned char* bytes, std::int64_t frames) {
  if (stereoKernel()) {
    addStereo(state_[0].stored, state_[1].stored, bytes, frames, frames_);
  } else {
    for (int c = 0; c < channels_; ++c) {
      accumulate(c, bytes, frames, frames_, state_[static_cast<std::size_t>(c)].stored);
    }
  }
  frames_ += frames;
}

bool FormatAccumulator::stereoKernel() const {
  if (channels_ != 2 || deemphasis_ || format_.bigEndian) return false;
  if (format_.isFloat()) return format_.containerBytes == 4 && kernels::floatPairsInVectors();
  return format_.encoding == SampleEncoding::kPcm && format_.containerBytes == 3 &&
         kernels::stereo24RunsInVectors();
}

void FormatAccumulator::addStereo(Sums& left, Sums& right, const unsigned char* bytes,
                                  std::int64_t frames, std::int64_t first) const {
  Sums* sums[2] = {&left, &right};
  if (format_.isFloat()) {
    addFloatPairs(sums, bytes, frames, first, format_);
    return;
  }
  const Range range{static_cast<double>(format_.smallestMeasured()),
                    static_cast<double>(format_.largestMeasured())};
  addStereo24(sums, bytes, frames, first, range, format_);
}

void FormatAccumulator::addBlock(std::int64_t frames) {
  settle();
  if (frames <= 0) return;
  const unsigned char* bytes = buffers_.take();
  pending_ = bytes;
  pendingFrames_ = frames;
  const int loudnessTasks = meter_ ? meter_->plan(frames) : 0;
  meterPending_ = loudnessTasks > 0;
  source_.setBytes(bytes, frames);
  const int overviewTasks = overview_ ? overview_->plan(frames_, frames, pool_.threads()) : 0;
  // A stereo kernel takes both channels from one pass over the bytes in
  // about the time one channel's task takes: one task, not two.
  const bool stereo = stereoKernel();
  const int statisticsTasks = stereo ? 1 : channels_;
  pool_.start(loudnessTasks + statisticsTasks + overviewTasks,
              [this, bytes, frames, loudnessTasks, statisticsTasks, stereo](int j) {
                if (j < loudnessTasks) {
                  meter_->runTask(j, source_);
                } else if (j >= loudnessTasks + statisticsTasks) {
                  overview_->runTask(j - loudnessTasks - statisticsTasks, source_);
                } else if (stereo) {
                  addStereo(state_[0].stored, state_[1].stored, bytes, frames, frames_);
                } else {
                  const int c = j - loudnessTasks;
                  accumulate(c, bytes, frames, frames_, state_[static_cast<std::size_t>(c)].stored);
                }
              });
}

void FormatAccumulator::settle() {
  if (!pending_) return;
  pending_ = nullptr;
  pool_.wait();
  frames_ += pendingFrames_;
  if (meterPending_) {
    meterPending_ = false;
    meter_->finishBlock();
  }
}

std::int64_t FormatAccumulator::ownerFrames(std::int64_t start, std::int64_t frames) const {
  return BlockSharing::ownerFrames(meter_, start, frames);
}

void FormatAccumulator::startShared(std::int64_t frames, std::int64_t ownerFrames,
                                    std::function<bool(unsigned char*, std::size_t)> readRest) {
  settle();
  unsigned char* bytes = buffers_.take();
  // Parts of whole chunks counted from the file's first frame (as the float
  // sums go), about kSharedParts of them.
  constexpr std::int64_t C = kernels::kSumChunk;
  const std::int64_t step = std::max<std::int64_t>(1, frames / (C * kSharedParts)) * C;
  partBegin_.assign(1, 0);
  for (std::int64_t at = (frames_ / C + 1) * C; at - frames_ < frames; at += step) {
    partBegin_.push_back(at - frames_);
  }
  partBegin_.push_back(frames);
  const int parts = static_cast<int>(partBegin_.size()) - 1;
  if (static_cast<int>(partSums_.size()) < parts) {
    partSums_.resize(static_cast<std::size_t>(parts),
                     std::vector<Sums>(static_cast<std::size_t>(channels_)));
  }
  // A part starts from the extremes so far, so that it looks up only the
  // frames of larger ones (it joins the sums after those before it, whose
  // extremes win a tie).
  for (int j = 1; j < parts; ++j) {
    for (int c = 0; c < channels_; ++c) {
      const Sums& before = state_[static_cast<std::size_t>(c)].stored;
      Sums& sums = partSums_[static_cast<std::size_t>(j)][static_cast<std::size_t>(c)];
      sums = Sums{};
      sums.keepChunks = true;
      sums.min = before.min;
      sums.max = before.max;
      sums.minPos = before.minPos;
      sums.maxPos = before.maxPos;
    }
  }
  pending_ = bytes;
  pendingFrames_ = frames;
  source_.setBytes(bytes, frames);
  BlockSharing::Work work;
  work.meter = meter_;
  work.meterTasks = meter_ ? meter_->plan(frames) : 0;
  meterPending_ = work.meterTasks > 0;
  work.overview = overview_;
  work.overviewTasks = overview_ ? overview_->plan(frames_, frames, 2) : 0;
  work.source = &source_;
  work.parts = parts;
  work.runPart = [this](int j) { runPart(j); };
  work.partEnd = [this](int j) { return partBegin_[static_cast<std::size_t>(j) + 1]; };
  const auto frameBytes = static_cast<std::size_t>(channels_ * format_.containerBytes);
  sharing_->start(std::move(work), bytes, static_cast<std::size_t>(ownerFrames) * frameBytes,
                  static_cast<std::size_t>(frames) * frameBytes, ownerFrames, std::move(readRest));
}

// Part j of the block in hand, in every channel; the first into the
// channels' sums, the others into their own.
void FormatAccumulator::runPart(int j) {
  const std::size_t frameBytes = static_cast<std::size_t>(channels_ * format_.containerBytes);
  const std::int64_t b = partBegin_[static_cast<std::size_t>(j)];
  const std::int64_t n = partBegin_[static_cast<std::size_t>(j) + 1] - b;
  const auto sumsOf = [&](int c) -> Sums& {
    const auto i = static_cast<std::size_t>(c);
    return j == 0 ? state_[i].stored : partSums_[static_cast<std::size_t>(j)][i];
  };
  const unsigned char* bytes = pending_ + static_cast<std::size_t>(b) * frameBytes;
  if (stereoKernel()) return addStereo(sumsOf(0), sumsOf(1), bytes, n, frames_ + b);
  for (int c = 0; c < channels_; ++c) accumulate(c, bytes, n, frames_ + b, sumsOf(c));
}

bool FormatAccumulator::runOwnerShare(const std::function<void()>& afterRest) {
  return sharing_->runOwnerShare(afterRest);
}

void FormatAccumulator::finishShared() {
  if (!sharing_->restRead()) {
    // The partner did not work on a block whose rest it could not read.
    pending_ = nullptr;
    meterPending_ = false;
  }
  sharing_->finish();
  if (!pending_) return;
  for (std::size_t j = 1; j + 1 < partBegin_.size(); ++j) {
    for (int c = 0; c < channels_; ++c) {
      join(state_[static_cast<std::size_t>(c)].stored, partSums_[j][static_cast<std::size_t>(c)]);
    }
  }
  settle();
}

ChannelFigures FormatAccumulator::figures(const Sums& s) const {
  ChannelFigures f;
  f.min = s.min;
  f.max = s.max;
  f.minPos = s.minPos;
  f.maxPos = s.maxPos;
  f.fullScale = s.atLimits;
  if (frames_ <= 0) return f;
  const double n = static_cast<double>(frames_);
  const double scale = format_.statisticsFullScale();
  if (format_.isFloat()) {
    floatFigures(s, n, f.avg, f.rms);
    f.avg /= scale;
    f.rms /= scale;
  } else {
    f.avg = (static_cast<double>(s.sum) / n) / scale;
    f.rms = std::sqrt(static_cast<double>(s.sumSq) / n) / scale;
  }
  return f;
}

std::int64_t FormatAccumulator::nonFiniteSamples() const {
  std::int64_t count = 0;
  for (const Channel& ch : state_) count += ch.stored.nonFinite;
  return count;
}

void FormatAccumulator::finish(std::vector<ChannelFigures>& stored,
                               std::vector<ChannelFigures>& filtered) {
  settle();
  stored.clear();
  filtered.clear();
  for (Channel& ch : state_) {
    if (format_.isFloat()) {
      closeChunk(ch.stored);
      closeChunk(ch.filtered);
    }
    stored.push_back(figures(ch.stored));
    if (deemphasis_) filtered.push_back(figures(ch.filtered));
  }
}

}  // namespace ril
