#include "core/analysis/analysis.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "core/analysis/parallel_statistics.h"
#include "core/base/errors.h"
#include "core/base/number_format.h"
#include "core/dsp/loudness/k_lanes.h"
#include "core/wav/sample_blocks.h"

namespace ril {

namespace {

// The largest magnitude of two records (one for mono). A minimum of exactly
// -32768 counts as -32767, so that the peak of stored samples fits the 16-bit
// range; the filter's values beyond it count as they are.
std::int32_t peakOf(const StatsRecords& records, int first, int channels) {
  auto magnitude = [&](const ChannelStats& r) {
    return std::max(r.max, r.min == -32768 ? 32767 : -r.min);
  };
  std::int32_t peak = magnitude(records[first]);
  if (channels == 2) peak = std::max(peak, magnitude(records[first + 1]));
  return peak;
}

// The largest magnitude of the channels' figures; an integer format's
// smallest value counts as its largest (-32768 as 32767 on the 16-bit scale).
double peakOfFigures(const std::vector<ChannelFigures>& figures, const SampleFormat& f) {
  const bool sixteen = f.onSixteenBitScale();
  const double lowest = sixteen ? -32768.0 : static_cast<double>(f.smallestMeasured());
  const double countedAs = sixteen ? 32767.0 : static_cast<double>(f.largestMeasured());
  double peak = 0.0;
  for (const ChannelFigures& r : figures) {
    const double low = !f.isFloat() && r.min == lowest ? countedAs : -r.min;
    peak = std::max({peak, r.max, low});
  }
  return peak;
}

// The pass has come to frame `start` of `frames`.
void showProgress(ProgressSink& progress, std::int64_t start, std::int64_t frames,
                  char decimalSeparator) {
  const double done = static_cast<double>(start) / static_cast<double>(frames);
  progress.progress(done, formatNumber(done, "0%", decimalSeparator));
  progress.yield();
}

std::string readFailure(const RunError& e) {
  return "error " + std::to_string(e.number()) + " (" + errorDescription(e.number()) + ").";
}

// Reads and accumulates every block, reading each while the one before is
// accumulated; returns the failure, or nothing.
template <class Accumulator>
std::string readAllBlocks(ByteSource& samples, const WavFormat& format, SampleBlocks& blocks,
                          std::int64_t frames, Accumulator& acc, ProgressSink& progress,
                          char decimalSeparator, std::int64_t& framesRead) {
  const std::int64_t frameBytes = format.frameBytes();
  try {
    while (blocks.next()) {
      const std::size_t want = static_cast<std::size_t>(blocks.frames() * frameBytes);
      if (samples.read(acc.nextBuffer(), want) != want) return "the file ended early.";
      showProgress(progress, blocks.start(), frames, decimalSeparator);
      acc.addBlock(blocks.frames());
      framesRead = blocks.start() + blocks.frames();
    }
  } catch (const RunError& e) {
    return readFailure(e);
  }
  return {};
}

// The same with two threads sharing every block: the owner reads the first
// piece of each block (the next block's while the partner is still at work),
// the partner the rest, in the order of the stream.
template <class Accumulator>
std::string readSharedBlocks(ByteSource& samples, const WavFormat& format, SampleBlocks& blocks,
                             std::int64_t frames, Accumulator& acc, ProgressSink& progress,
                             char decimalSeparator, std::int64_t& framesRead) {
  const auto frameBytes = static_cast<std::size_t>(format.frameBytes());
  const auto readFully = [&samples](unsigned char* to, std::size_t bytes) {
    return samples.read(to, bytes) == bytes;
  };
  try {
    if (!blocks.next()) return {};
    std::int64_t piece = acc.ownerFrames(blocks.start(), blocks.frames());
    if (!readFully(acc.nextBuffer(), static_cast<std::size_t>(piece) * frameBytes)) {
      return "the file ended early.";
    }
    for (;;) {
      const std::int64_t start = blocks.start(), count = blocks.frames();
      showProgress(progress, start, frames, decimalSeparator);
      acc.startShared(count, piece, readFully);
      // The next block's first piece, once the partner has read this one's
      // rest.
      bool more = false;
      std::string failure;
      std::exception_ptr thrown;
      const bool rest = acc.runOwnerShare([&] {
        more = blocks.next();
        if (!more) return;
        piece = acc.ownerFrames(blocks.start(), blocks.frames());
        try {
          if (!readFully(acc.nextBuffer(), static_cast<std::size_t>(piece) * frameBytes)) {
            failure = "the file ended early.";
          }
        } catch (...) {
          thrown = std::current_exception();
        }
      });
      acc.finishShared();
      if (!rest) return "the file ended early.";
      framesRead = start + count;
      if (thrown) std::rethrow_exception(thrown);
      if (!failure.empty() || !more) return failure;
    }
  } catch (const RunError& e) {
    return readFailure(e);
  }
}

}  // namespace

double AnalysisResult::volumeLimit() const {
  return peakValue[0] == 0 ? 0.0 : std::floor(10.0 * peakLimit / peakValue[0]) / 10.0;
}

double AnalysisResult::volumeLimitDeemphasis() const {
  return peakValue[1] == 0 ? 0.0 : std::floor(1000.0 * peakLimit / peakValue[1]) / 1000.0;
}

namespace {

// What the pass needs besides its accumulator.
struct PassInput {
  ByteSource& samples;
  const WavFormat& format;
  SampleBlocks& blocks;
  LoudnessMeter* meter;
  LevelOverviewBuilder* overview;
  ProgressSink& progress;
  char decimalSeparator;
};

// The tuned records as figures and peaks.
void takeRecords(ParallelAccumulator& acc, int channels, AnalysisResult& result) {
  result.records = acc.finish();
  for (int c = 0; c < channels; ++c) {
    result.stored.push_back(figuresOf(result.records[static_cast<std::size_t>(c)]));
    if (result.deemphasised) {
      result.filtered.push_back(figuresOf(result.records[static_cast<std::size_t>(c) + 2]));
    }
  }
  result.peak[0] = peakOf(result.records, 0, channels);
  if (result.deemphasised) result.peak[1] = peakOf(result.records, 2, channels);
}

void takeRecords(FormatAccumulator& acc, int, AnalysisResult& result) {
  acc.finish(result.stored, result.filtered);
  result.nonFiniteSamples = acc.nonFiniteSamples();
}

// Every block through `acc`: the tuned pass of an 8- or 16-bit mono or
// stereo file, or the pass of every other format and channel count.
template <class Accumulator>
std::string pass(Accumulator& acc, const PassInput& in, AnalysisResult& result) {
  acc.measureLoudness(in.meter);
  acc.drawOverview(in.overview);
  std::string failure = acc.sharesBlocks()
                            ? readSharedBlocks(in.samples, in.format, in.blocks, result.frames, acc,
                                               in.progress, in.decimalSeparator, result.framesRead)
                            : readAllBlocks(in.samples, in.format, in.blocks, result.frames, acc,
                                            in.progress, in.decimalSeparator, result.framesRead);
  if (failure.empty()) takeRecords(acc, in.format.channels, result);
  return failure;
}

std::string anyPass(const PassInput& in, int threads, AnalysisResult& result) {
  const WavFormat& f = in.format;
  // Two threads share every block, each reading a piece, unless a block's
  // meter fills no more than one task of eight lanes: that task then goes
  // to one thread beside the reading and the statistics on the other.
  const std::int64_t nominal = meteredBlockFrames(f);
  const bool share = !in.meter || in.meter->lanes(0, nominal) > kernels::kKLanes / 2;
  if (f.classic()) {
    ParallelAccumulator acc(f.channels, f.bitsPerSample, result.deemphasised, threads,
                            in.blocks.largest(), share);
    return pass(acc, in, result);
  }
  FormatAccumulator acc(result.sample, f.channels, result.deemphasised, threads,
                        in.blocks.largest(), share);
  return pass(acc, in, result);
}

}  // namespace

AnalysisResult analyseSamples(ByteSource& samples, const WavFormat& format, const WavLayout& layout,
                              ProgressSink& progress, Clock& clock, char decimalSeparator,
                              int threads, bool loudness, bool overview) {
  AnalysisResult result;
  result.frames = layout.framesInFile;
  result.declaredFrames = layout.sampleFrames;
  result.deemphasised = format.sampleRate == 44100;
  result.sample = format.sample();
  if (result.frames <= 0) {
    result.outcome = AnalysisResult::Outcome::kNoFrames;
    return result;
  }

  const double startTime = clock.seconds();
  SampleBlocks blocks(result.frames, meteredBlockFrames(format));
  std::optional<LoudnessMeter> meter;
  if (loudness) {
    meter.emplace(format.sampleRate, channelWeightsFor(format.channels, format.channelMask));
    meter->expectFrames(result.frames);
  }
  // Before the accumulator, whose tasks may still fill it while it ends.
  LevelOverviewBuilder levels(format.channels, overview ? result.frames : 0,
                              overviewFullScale(result.sample));
  const PassInput in{
      samples,  format,          blocks, meter ? &*meter : nullptr, overview ? &levels : nullptr,
      progress, decimalSeparator};
  try {
    result.failure = anyPass(in, threads, result);
  } catch (...) {
    progress.progressDone({});
    throw;
  }
  progress.progressDone({});
  result.elapsedSeconds = static_cast<float>(clock.seconds() - startTime);
  if (!result.failure.empty()) {
    result.outcome = AnalysisResult::Outcome::kReadFailed;
    return result;
  }
  result.outcome = AnalysisResult::Outcome::kComplete;
  if (meter) result.loudness = std::move(*meter).trace();
  if (overview) result.overview = levels.finish();
  const SampleFormat& f = result.sample;
  result.peakLimit = f.onSixteenBitScale() ? 32767.0
                     : f.isFloat()         ? 1.0
                                           : static_cast<double>(f.largestMeasured());
  result.peakValue[0] = peakOfFigures(result.stored, f);
  if (result.deemphasised) result.peakValue[1] = peakOfFigures(result.filtered, f);
  if (f.onSixteenBitScale() && !format.classic()) {
    result.peak[0] = static_cast<std::int32_t>(result.peakValue[0]);
    result.peak[1] = static_cast<std::int32_t>(result.peakValue[1]);
  }
  return result;
}

}  // namespace ril
