#include "core/analysis/sample_statistics.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "core/analysis/analysis_report.h"
#include "core/base/errors.h"
#include "core/base/number_format.h"
#include "core/dsp/planar_conversion.h"
#include "core/dsp/run_statistics.h"
#include "core/dsp/segmented_filter.h"

namespace ril {

namespace {

// The update rule: strict comparisons, so the first frame of an extreme wins.
inline void update(ChannelStats& r, std::int32_t v, std::int64_t pos) {
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
}

inline std::int32_t sampleAt(const unsigned char* bytes, std::int64_t index, bool eightBit) {
  if (eightBit) return (static_cast<std::int32_t>(bytes[index]) - 128) * 256;
  const auto lo = static_cast<std::uint16_t>(bytes[2 * index]);
  const auto hi = static_cast<std::uint16_t>(bytes[2 * index + 1]);
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(lo | (hi << 8)));
}

}  // namespace

std::int64_t nominalBlockFrames(int channels, int bitsPerSample) {
  float frames = 8.0f / static_cast<float>(channels);
  frames = frames * 1024.0f;
  frames = frames * 1024.0f;
  frames = frames / static_cast<float>(bitsPerSample);
  return static_cast<std::int64_t>(std::nearbyint(frames));
}

SampleAccumulator::SampleAccumulator(int channels, int bitsPerSample, bool deemphasis,
                                     Method method)
    : channels_(channels),
      bitsPerSample_(bitsPerSample),
      deemphasis_(deemphasis),
      method_(method) {}

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
  for (int c = 0; c < channels_; ++c) {
    for (std::int64_t k = 0; k < frames; ++k) {
      const std::int32_t s = sampleAt(bytes, k * channels_ + c, eightBit);
      const std::int64_t p = frames_ + k;
      update(records_[c], s, p);
      if (deemphasis_) update(records_[c + 2], filters_[c].step(s), p);
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
}

}  // namespace

void SampleAccumulator::addBlockTuned(const unsigned char* bytes, std::int64_t frames) {
  if (planar_.empty()) {
    planar_.assign(2 * kPlanarStride, 0);
  }
  std::int16_t* x[2] = {planar_.data() + 8, planar_.data() + 8 + kPlanarStride};
  const std::int64_t frameBytes = channels_ * (bitsPerSample_ == 8 ? 1 : 2);

  for (std::int64_t start = 0; start < frames; start += kChunk) {
    const std::int64_t n = std::min(kChunk, frames - start);
    const std::int64_t base = frames_ + start;
    kernels::toPlanar16(bytes + start * frameBytes, n, channels_, bitsPerSample_, x[0], x[1]);
    for (int c = 0; c < channels_; ++c) {
      const std::int16_t* xc = x[c];
      merge(records_[c], kernels::statsOf16(xc, n), base, [&](std::int32_t v) {
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
    chunkFilter_.run(channels_, x, n, state);
    for (int c = 0; c < channels_; ++c) {
      fast_[c].biasedOutput = state[c];
      merge(records_[c + 2], chunkFilter_.stats(c), base,
            [&](std::int32_t v) { return chunkFilter_.firstIndexOf(c, v); });
    }
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

bool AnalyseSamples(ProgramState& state, MainView& view, Clock& clock, char decimalSeparator) {
  // The pass owns the input from here on; a command run during a yield cannot
  // pull it away, and every way out closes it.
  std::unique_ptr<ByteSource> input = std::move(state.wavInput);
  if (state.headerStatus != HeaderStatus::kReady || !input) return false;

  const double startTime = clock.seconds();
  const ReportFormat format{state.lineBreak, decimalSeparator};
  const int channels = state.channels;
  const int bits = state.bitsPerSample;
  const std::int32_t sampleRate = state.sampleRate;
  const std::int64_t declaredFrames = state.sampleFrames;
  const std::int64_t frames = state.framesInFile;
  const bool deemphasis = sampleRate == 44100;

  if (frames <= 0) {
    input.reset();
    state.reportText +=
        declaredFrames > 0 ? shortFileLine(0, declaredFrames, format) : noSamplesLine(format);
    view.setReportText(state.reportText);
    return false;
  }

  SampleAccumulator acc(channels, bits, deemphasis);
  const std::int64_t frameBytes = channels * (bits == 8 ? 1 : 2);
  std::int64_t blockFrames = std::min(nominalBlockFrames(channels, bits), frames);
  // The last block takes the rest as well; make room for it once.
  const std::int64_t lastBlock = blockFrames + frames % blockFrames;
  std::vector<unsigned char> buffer(static_cast<std::size_t>(lastBlock * frameBytes));

  const std::string progressTitle = std::string(kMainTitle) + " - ";
  std::int64_t blockStart = 0;
  std::int64_t remainingFrames = frames;
  std::string failure;
  try {
    while (remainingFrames >= blockFrames) {
      remainingFrames -= blockFrames;
      if (remainingFrames < blockFrames) {
        blockFrames += remainingFrames;
        remainingFrames = 0;
      }
      const std::size_t want = static_cast<std::size_t>(blockFrames * frameBytes);
      const std::size_t got = input->read(buffer.data(), want);
      if (got != want) {
        failure = "the file ended early.";
        break;
      }
      view.setCaption(progressTitle +
                      formatNumber(static_cast<double>(blockStart) / static_cast<double>(frames),
                                   "0%", decimalSeparator));
      view.yieldToEvents();
      acc.addBlock(buffer.data(), blockFrames);
      blockStart += blockFrames;
    }
  } catch (const RunError& e) {
    failure = "error " + std::to_string(e.number()) + " (" + errorDescription(e.number()) + ").";
  } catch (...) {
    view.setCaption(kMainTitle);
    throw;
  }

  view.setCaption(kMainTitle);
  input.reset();
  const float elapsedSeconds = static_cast<float>(clock.seconds() - startTime);
  buffer = {};

  if (!failure.empty()) {
    state.reportText += readFailureLine(failure, blockStart, frames, format);
    view.setReportText(state.reportText);
    return false;
  }

  StatsRecords records = acc.finish();
  state.reportText += statisticsLines(records, channels, sampleRate, elapsedSeconds, format);

  for (ChannelStats& r : records) {
    if (r.min == -32768) r.min = -32767;
  }
  auto peakOf = [&](int first) {
    std::int32_t peak = std::max(records[first].max, -records[first].min);
    if (channels == 2) peak = std::max({peak, records[first + 1].max, -records[first + 1].min});
    return peak;
  };

  state.peakLevel[0] = peakOf(0);
  if (state.peakLevel[0] == 0) {
    // Silence: nothing to raise; with de-emphasis it stays silence.
    if (deemphasis) state.peakLevel[1] = 0;
    state.reportText += silentLine(format);
  } else {
    const double volumeLimit = std::floor(327670.0 / state.peakLevel[0]) / 10.0;
    state.reportText += volumeLine(volumeLimit, format);
    if (deemphasis) {
      state.peakLevel[1] = peakOf(2);
      if (state.peakLevel[1] == 0) {
        state.reportText += silentDeemphLine(format);
      } else {
        const double volumeLimitDeemph = std::floor(32767000.0 / state.peakLevel[1]) / 1000.0;
        state.reportText += volumeLineDeemph(volumeLimitDeemph, format);
      }
    }
  }
  if (frames < declaredFrames) state.reportText += shortFileLine(frames, declaredFrames, format);
  view.setReportText(state.reportText);
  return true;
}

}  // namespace ril
