#include "core/modify/loudness_normalisation.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/analysis/format_statistics.h"
#include "core/analysis/frame_source.h"
#include "core/base/block_buffer.h"
#include "core/base/errors.h"
#include "core/base/number_format.h"
#include "core/base/thread_pool.h"
#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/double_filter/pcm_words.h"
#include "core/dsp/double_filter/segmented_deemphasis.h"
#include "core/wav/sample_blocks.h"

namespace ril {

namespace {

// The gain in dB of a factor given in tenths of a percent.
double dbOfTenths(long long tenths) {
  return 20.0 * std::log10(static_cast<double>(tenths) / 1000.0);
}

// Channels held one after the other, as doubles on a full scale of 1.0.
class PlanarFrameSource : public FrameSource {
 public:
  PlanarFrameSource(const std::vector<double>& samples, std::int64_t stride)
      : samples_(samples), stride_(stride) {}
  void read(int channel, std::int64_t first, std::int64_t count, double* out) const override {
    std::copy_n(samples_.data() + channel * stride_ + first, count, out);
  }

 private:
  const std::vector<double>& samples_;
  std::int64_t stride_;
};

// The rewriting's de-emphasis at 100 % over a block, channel by channel,
// each from its filter's state, into `planar` (channel c at c * frames).
template <class Pcm>
void deemphasiseBlock(const unsigned char* bytes, std::int64_t frames, int channels,
                      std::vector<DeemphasisFilterDouble>& filters, std::vector<double>& input,
                      std::vector<double>& planar) {
  const auto* words = reinterpret_cast<const typename Pcm::Word*>(bytes);
  const double scale = std::is_same_v<Pcm, Pcm8> ? 1.0 / 128.0 : 1.0 / 32768.0;
  input.resize(static_cast<std::size_t>(frames));
  planar.resize(static_cast<std::size_t>(frames * channels));
  for (int c = 0; c < channels; ++c) {
    for (std::int64_t i = 0; i < frames; ++i) {
      typename Pcm::Word w;
      std::memcpy(&w, words + i * channels + c, sizeof w);
      input[static_cast<std::size_t>(i)] = Pcm::sampleValue(w);
    }
    double* y = planar.data() + c * frames;
    kernels::deemphasiseSegmented(input.data(), y, frames, filters[static_cast<std::size_t>(c)]);
    for (std::int64_t i = 0; i < frames; ++i) y[i] = y[i] * scale;
  }
}

// One block through the meter, its tasks on the pool.
void meterBlock(LoudnessMeter& meter, ThreadPool& pool, const FrameSource& source,
                std::int64_t frames) {
  const int tasks = meter.plan(frames);
  if (tasks == 0) return;
  pool.run(tasks, [&](int task) { meter.runTask(task, source); });
  meter.finishBlock();
}

}  // namespace

ProgrammeLoudness programmeLoudness(const std::vector<const LoudnessTrace*>& traces) {
  ProgrammeLoudness p;
  p.integratedLufs = integratedLoudness(traces);
  for (const LoudnessTrace* t : traces) {
    const LoudnessFigure peak = loudnessFigures(*t).truePeakDbtp;
    if (peak.value && (!p.truePeakDbtp || *peak.value > *p.truePeakDbtp)) {
      p.truePeakDbtp = peak.value;
    }
  }
  return p;
}

LoudnessGain loudnessGain(double integratedLufs, std::optional<double> truePeakDbtp,
                          double targetLufs, double limitDbtp) {
  LoudnessGain g;
  g.db = targetLufs - integratedLufs;
  if (truePeakDbtp && *truePeakDbtp + g.db > limitDbtp) {
    g.db = limitDbtp - *truePeakDbtp;
    g.limitedByTruePeak = true;
  }
  // Far beyond any volume the setting takes; the range holds it there.
  const double thousandths = std::min(1000.0 * std::pow(10.0, g.db / 20.0), 1e9);
  g.tenths = static_cast<long long>(std::floor(thousandths + 1e-9));
  // The factor's own gain must not lift the true peak over the limit.
  while (truePeakDbtp && g.tenths > 0 && *truePeakDbtp + dbOfTenths(g.tenths) > limitDbtp) {
    --g.tenths;
  }
  return g;
}

std::string loudnessGainLine(const LoudnessGain& gain, double limitDbtp) {
  std::string line = "Loudness gain: " + formatNumber(gain.db, "0.00") + " dB (" +
                     formatGeneral(static_cast<float>(gain.tenths) / 10.0f) + "%)";
  if (gain.limitedByTruePeak) {
    line += ", limited by the true peak of " + formatNumber(limitDbtp, "0.0") + " dBTP";
  }
  return line;
}

namespace {

// One block's samples into `planar` (channel c at c * frames) after the
// rewriting's de-emphasis at 100 %, for the formats beyond 8 and 16 bits:
// their values on a full scale of 1.0, filtered (a scale of a power of two
// changes nothing in the filter's results but their scale).
void deemphasiseFormatBlock(const FormatFrameSource& source, std::int64_t frames, int channels,
                            std::vector<DeemphasisFilterDouble>& filters,
                            std::vector<double>& input, std::vector<double>& planar) {
  input.resize(static_cast<std::size_t>(frames));
  planar.resize(static_cast<std::size_t>(frames * channels));
  for (int c = 0; c < channels; ++c) {
    source.read(c, 0, frames, input.data());
    kernels::deemphasiseSegmented(input.data(), planar.data() + c * frames, frames,
                                  filters[static_cast<std::size_t>(c)]);
  }
}

// One block of `bytes` through the meter, as stored or de-emphasised.
struct BlockMeter {
  const WavFormat& format;
  LoudnessMeter& meter;
  ThreadPool& pool;
  bool deemphasis;
  std::vector<DeemphasisFilterDouble> filters;
  std::vector<double> input, planar;

  void add(const unsigned char* bytes, std::int64_t frames) {
    const int channels = format.channels;
    const int bits = format.bitsPerSample;
    if (!format.classic()) {
      FormatFrameSource source(format.sample(), channels);
      source.setBytes(bytes, frames);
      if (!deemphasis) return meterBlock(meter, pool, source, frames);
      deemphasiseFormatBlock(source, frames, channels, filters, input, planar);
    } else if (!deemphasis) {
      return meterBlock(meter, pool, PcmFrameSource(bytes, channels, bits), frames);
    } else if (bits == 8) {
      deemphasiseBlock<Pcm8>(bytes, frames, channels, filters, input, planar);
    } else {
      deemphasiseBlock<Pcm16>(bytes, frames, channels, filters, input, planar);
    }
    meterBlock(meter, pool, PlanarFrameSource(planar, frames), frames);
  }
};

}  // namespace

LoudnessMeasurement measureLoudness(ByteSource& samples, const WavFormat& format,
                                    const WavLayout& layout, bool deemphasis, int threads) {
  LoudnessMeasurement m;
  const int channels = format.channels;
  if (channels <= 0 || format.frameBytes() <= 0) {
    m.failure = "the file has no samples to measure";
    return m;
  }
  LoudnessMeter meter(format.sampleRate, channelWeightsFor(channels, format.channelMask));
  meter.expectFrames(layout.framesInFile);
  ThreadPool pool(threads);
  SampleBlocks blocks(layout.framesInFile, meteredBlockFrames(format));
  BlockBuffer bytes(static_cast<std::size_t>(blocks.largest()) *
                    static_cast<std::size_t>(format.frameBytes()));
  BlockMeter block{format,
                   meter,
                   pool,
                   deemphasis,
                   std::vector<DeemphasisFilterDouble>(static_cast<std::size_t>(channels)),
                   {},
                   {}};
  try {
    while (blocks.next()) {
      const auto want = static_cast<std::size_t>(blocks.frames() * format.frameBytes());
      if (samples.read(bytes.data(), want) != want) {
        m.failure = "the file ended early.";
        return m;
      }
      block.add(bytes.data(), blocks.frames());
    }
  } catch (const RunError& e) {
    m.failure = "error " + std::to_string(e.number()) + " (" + errorDescription(e.number()) + ").";
    return m;
  }
  m.complete = true;
  m.trace = std::move(meter).trace();
  return m;
}

}  // namespace ril
