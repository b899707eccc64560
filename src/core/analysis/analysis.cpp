#include "core/analysis/analysis.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/analysis/parallel_statistics.h"
#include "core/base/errors.h"
#include "core/base/number_format.h"
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

// Reads and accumulates every block, reading each while the one before is
// accumulated; returns the failure, or nothing.
std::string readAllBlocks(ByteSource& samples, const WavFormat& format, SampleBlocks& blocks,
                          std::int64_t frames, ParallelAccumulator& acc, ProgressSink& progress,
                          char decimalSeparator, std::int64_t& framesRead) {
  const std::int64_t frameBytes = format.frameBytes();
  try {
    while (blocks.next()) {
      const std::size_t want = static_cast<std::size_t>(blocks.frames() * frameBytes);
      if (samples.read(acc.nextBuffer(), want) != want) return "the file ended early.";
      const double done = static_cast<double>(blocks.start()) / static_cast<double>(frames);
      progress.progress(done, formatNumber(done, "0%", decimalSeparator));
      progress.yield();
      acc.addBlock(blocks.frames());
      framesRead = blocks.start() + blocks.frames();
    }
  } catch (const RunError& e) {
    return "error " + std::to_string(e.number()) + " (" + errorDescription(e.number()) + ").";
  }
  return {};
}

}  // namespace

double AnalysisResult::volumeLimit() const {
  return peak[0] == 0 ? 0.0 : std::floor(327670.0 / peak[0]) / 10.0;
}

double AnalysisResult::volumeLimitDeemphasis() const {
  return peak[1] == 0 ? 0.0 : std::floor(32767000.0 / peak[1]) / 1000.0;
}

AnalysisResult analyseSamples(ByteSource& samples, const WavFormat& format, const WavLayout& layout,
                              ProgressSink& progress, Clock& clock, char decimalSeparator,
                              int threads, bool loudness, bool overview) {
  AnalysisResult result;
  result.frames = layout.framesInFile;
  result.declaredFrames = layout.sampleFrames;
  result.deemphasised = format.sampleRate == 44100;
  if (result.frames <= 0) {
    result.outcome = AnalysisResult::Outcome::kNoFrames;
    return result;
  }

  const double startTime = clock.seconds();
  SampleBlocks blocks(result.frames, nominalBlockFrames(format.channels, format.bitsPerSample));
  std::optional<LoudnessMeter> meter;
  if (loudness) {
    meter.emplace(format.sampleRate, channelWeightsFor(format.channels, format.channelMask));
  }
  // Before the accumulator, whose tasks may still fill it while it ends.
  LevelOverviewBuilder levels(format.channels, overview ? result.frames : 0,
                              integerFullScale(format.bitsPerSample));
  ParallelAccumulator acc(format.channels, format.bitsPerSample, result.deemphasised, threads,
                          blocks.largest());
  if (meter) acc.measureLoudness(&*meter);
  if (overview) acc.drawOverview(&levels);
  try {
    result.failure = readAllBlocks(samples, format, blocks, result.frames, acc, progress,
                                   decimalSeparator, result.framesRead);
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
  result.records = acc.finish();
  if (meter) result.loudness = meter->trace();
  if (overview) result.overview = levels.finish();
  result.peak[0] = peakOf(result.records, 0, format.channels);
  if (result.deemphasised) result.peak[1] = peakOf(result.records, 2, format.channels);
  return result;
}

}  // namespace ril
