#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "core/analysis/analysis_report.h"
#include "core/analysis/format_statistics.h"
#include "core/analysis/loudness_meter.h"
#include "core/analysis/parallel_statistics.h"
#include "core/analysis/sample_statistics.h"
#include "core/modify/loudness_normalisation.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"
#include "properties/analysed_input.h"
#include "properties/properties.h"
#include "support/format_reference.h"
#include "support/kernel_switches.h"
#include "support/manual_clock.h"
#include "support/scripted_host.h"
#include "support/shared_blocks.h"

namespace ril::properties {

using Bytes = MemoryFileSystem::Bytes;

std::string readAndAnalyse(const std::string& path, MemoryFileSystem& fs, std::uint64_t length,
                           Analysed& a) {
  ManualClock clock;
  ScriptedHost host;
  HeaderReading reading = readWavFile(fs, path);
  a.header = reading.header;
  a.report = headerReportLines(path, a.header, "\r\n");
  if (a.header.ready()) {
    if (!reading.samples) return "a ready header without its samples";
    a.result = analyseSamples(*reading.samples, a.header.format, a.header.layout, host, clock);
    a.report += analysisReportLines(a.result, a.header.format, ReportFormat{});
  } else if (reading.samples) {
    return "a header that is not ready left its samples open";
  }

  if (a.report.rfind("Filename:\t", 0) != 0) return "the report does not start with the name";
  // The lines with computed numbers never show a value that is not a number
  // (other lines may echo bytes of the file, which can read "NaN").
  std::size_t start = 0;
  while (start < a.report.size()) {
    std::size_t end = a.report.find('\n', start);
    if (end == std::string::npos) end = a.report.size();
    const std::string line = a.report.substr(start, end - start);
    start = end + 1;
    const bool computed =
        (line.size() > 1 && line[0] >= '1' && line[0] <= '4' && line[1] == '\t') ||
        line.rfind("Volume", 0) == 0 || line.rfind("Calculation", 0) == 0 ||
        line.rfind("Filelength", 0) == 0 || line.rfind("Length of file", 0) == 0 ||
        line.rfind("Integrated", 0) == 0 || line.rfind("Loudness range", 0) == 0 ||
        line.rfind("True peak", 0) == 0 || line.rfind("Max.", 0) == 0;
    if (!computed) continue;
    for (const char* bad : {"nan", "inf", "NaN", "Inf"}) {
      if (line.find(bad) != std::string::npos) return "the report line \"" + line + "\"";
    }
  }
  if (!host.messages.empty()) return "reading or analysing showed a message";
  const WavHeader& h = a.header;
  if (h.layout.fileLength != length) return "wrong file length";
  if (headerProblem(h).empty() != h.ready()) return "a problem line for a ready header, or none";
  if (h.findings.dataFound &&
      (h.layout.dataOffset < 8 || h.layout.dataOffset > static_cast<std::int64_t>(length))) {
    return "the samples start outside the file";
  }
  if (h.ready()) {
    if (!h.findings.waveForm || !h.findings.formatChunkFound) {
      return "ready without a WAVE form and a format chunk";
    }
    const int tag = h.format.formatTag;
    if (tag != 1 && tag != 3 && tag != 6 && tag != 7 && tag != -2) {
      return "ready with a format tag the program does not decode";
    }
    if (h.format.channels < 1 || h.format.channels > 64) {
      return "ready with a channel count not 1 to 64";
    }
    const SampleFormat sf = h.format.sample();
    const bool fits = sf.isFloat()       ? (sf.containerBytes == 4 || sf.containerBytes == 8)
                      : sf.isCompanded() ? sf.containerBytes == 1
                                         : (sf.containerBytes >= 1 && sf.containerBytes <= 4);
    if (!fits || sf.validBits < 1 || sf.validBits > sf.containerBits()) {
      return "ready with odd resolution";
    }
    if (h.layout.framesInFile < 0 || h.layout.framesInFile > h.layout.sampleFrames + 1) {
      return "frames in the file beyond the declared frames";
    }
    const std::int64_t end = h.layout.dataOffset + h.layout.framesInFile * h.format.frameBytes();
    if (h.layout.dataOffset < 0 || end > static_cast<std::int64_t>(length)) {
      return "frames reach past the end";
    }
    if (a.result.peak[0] < 0 || a.result.peak[0] > 32767) return "peak level out of range";
    if (a.result.complete() &&
        (a.result.stored.size() != static_cast<std::size_t>(h.format.channels))) {
      return "figures for another number of channels";
    }
  }
  return {};
}

namespace {

// The first record of `got` that differs from `want`, described.
std::string compareRecords(const char* method, const StatsRecords& got, const StatsRecords& want) {
  for (int r = 0; r < 4; ++r) {
    if (!(got[r] == want[r])) {
      return std::string(method) + " statistics of record " + std::to_string(r + 1) +
             " differ from the plain ones (min " + std::to_string(got[r].min) + "/" +
             std::to_string(want[r].min) + ", max " + std::to_string(got[r].max) + "/" +
             std::to_string(want[r].max) + ", sum " + std::to_string(got[r].sum) + "/" +
             std::to_string(want[r].sum) + ", full scale " + std::to_string(got[r].fullScale) +
             "/" + std::to_string(want[r].fullScale) + ")";
    }
  }
  return {};
}

// The loudness traces of two runs over the same frames agree: every 400 ms
// above the gate to 1e-9 LU, the peaks and their places exactly.
std::string compareLoudness(const char* what, const LoudnessTrace& got, const LoudnessTrace& want) {
  const std::string name = what;
  if (got.bins.size() != want.bins.size()) return name + " loudness has another length";
  const double gate = std::pow(10.0, (-70.0 + 0.691) / 10.0) * 4 * want.binFrames;
  for (std::size_t k = 0; k + 4 <= want.bins.size(); ++k) {
    const double a = want.bins[k] + want.bins[k + 1] + want.bins[k + 2] + want.bins[k + 3];
    const double b = got.bins[k] + got.bins[k + 1] + got.bins[k + 2] + got.bins[k + 3];
    if (a > gate && !(std::fabs(10 * std::log10(b / a)) <= 1e-9)) {
      return name + " loudness differs from the serial run at block " + std::to_string(k);
    }
  }
  for (std::size_t c = 0; c < want.truePeaks.size(); ++c) {
    if (got.truePeaks[c].peak != want.truePeaks[c].peak ||
        got.truePeaks[c].at != want.truePeaks[c].at ||
        got.samplePeaks[c].peak != want.samplePeaks[c].peak ||
        got.samplePeaks[c].at != want.samplePeaks[c].at) {
      return name + " peaks differ from the serial run";
    }
  }
  return {};
}

// The data in two blocks cut at `split`, as the accumulator takes them.
template <class Accumulator>
void addBlocks(Accumulator& acc, const unsigned char* samples, std::int64_t frameBytes,
               std::int64_t split, std::int64_t frames) {
  test::addBlock(acc, samples, frameBytes, 0, split);
  test::addBlock(acc, samples, frameBytes, split, frames - split);
}

// The loudness meter as one serial run over the whole data.
LoudnessTrace serialLoudness(const WavFormat& format, const unsigned char* samples,
                             std::int64_t frames) {
  LoudnessMeter meter(format.sampleRate, channelWeightsFor(format.channels, format.channelMask));
  meter.setSegments(1);
  meter.add(PcmFrameSource(samples, format.channels, format.bitsPerSample), frames);
  return meter.trace();
}

// Every other format: the statistics threaded and split into blocks as the
// input chooses against one serial block, the plain reference, and the
// loudness against one serial run.
std::string checkFormatStatistics(const std::uint8_t* data, std::size_t size, const Analysed& a) {
  const WavFormat& format = a.header.format;
  const std::int64_t frames = a.header.layout.framesInFile;
  const unsigned char* samples = data + a.header.layout.dataOffset;
  const std::int64_t frameBytes = format.frameBytes();
  const bool deemphasis = format.sampleRate == 44100;
  const std::int64_t split = data[size - 1] % frames;
  FormatAccumulator serial(format.sample(), format.channels, deemphasis, 1, frames);
  serial.addBlockHere(samples, frames);
  std::vector<ChannelFigures> want[2], got[2];
  serial.finish(want[0], want[1]);
  const std::uint8_t choice = data[(size - 1) / 2];
  FormatAccumulator threaded(format.sample(), format.channels, deemphasis, 1 + choice % 4, frames,
                             (choice & 0x40) != 0);
  LoudnessMeter meter(format.sampleRate, channelWeightsFor(format.channels, format.channelMask));
  threaded.measureLoudness(&meter);
  addBlocks(threaded, samples, frameBytes, split, frames);
  threaded.finish(got[0], got[1]);
  if (got[0] != want[0] || got[1] != want[1]) return "threaded figures differ from the serial ones";
  const test::FormatReference ref = test::referenceFigures(samples, format, frames);
  const bool isFloat = format.sample().isFloat();
  if (!test::sameFigures(ref.stored, want[0], isFloat) ||
      !test::sameFigures(ref.filtered, want[1], isFloat)) {
    return "figures differ from the plain reference";
  }
  if (a.result.stored != want[0] || a.result.filtered != want[1]) {
    return "the analysis's figures differ from the serial ones";
  }
  if (a.result.peakValue[0] != ref.peak[0] || a.result.peakValue[1] != ref.peak[1]) {
    return "the peak differs from the plain reference";
  }
  LoudnessMeter one(format.sampleRate, channelWeightsFor(format.channels, format.channelMask));
  one.setSegments(1);
  FormatFrameSource source(format.sample(), format.channels);
  source.setBytes(samples, frames);
  one.add(source, frames);
  if (!a.result.loudness) return "the analysis measured no loudness";
  for (auto [what, trace] : {std::pair{"the analysis's", *a.result.loudness},
                             std::pair{"the threaded", meter.trace()}}) {
    if (std::string broken = compareLoudness(what, trace, one.trace()); !broken.empty()) {
      return broken;
    }
  }
  return {};
}

// The normalisation's own pass measures what one serial run measures (and
// with de-emphasis reads every frame), and the gain it gives never lifts the
// true peak over the limit.
std::string checkNormalisation(const WavFormat& format, const WavLayout& layout,
                               const unsigned char* samples, const LoudnessTrace& serial,
                               std::uint8_t choice) {
  if (format.bitsPerSample != 8 && format.bitsPerSample != 16) return {};
  const auto bytes = static_cast<std::size_t>(layout.framesInFile * format.frameBytes());
  for (const bool deemphasis : {false, true}) {
    MemorySource source(samples, bytes);
    const LoudnessMeasurement m =
        measureLoudness(source, format, layout, deemphasis, 1 + choice % 2);
    if (!m.complete) return "the loudness pass could not read the samples: " + m.failure;
    if (deemphasis) break;
    if (std::string broken = compareLoudness("the normalisation's", m.trace, serial);
        !broken.empty()) {
      return broken;
    }
  }
  const ProgrammeLoudness p = programmeLoudness({&serial});
  if (!p.integratedLufs.value || !p.truePeakDbtp) return {};
  const double limit = -0.5 * (choice % 8);
  const LoudnessGain g =
      loudnessGain(*p.integratedLufs.value, p.truePeakDbtp, -30.0 + choice % 29, limit);
  if (g.tenths > 0 && *p.truePeakDbtp + 20.0 * std::log10(g.tenths / 1000.0) > limit) {
    return "the loudness gain lifts the true peak over the limit";
  }
  return {};
}

}  // namespace

std::string checkReadAndAnalyse(const std::uint8_t* data, std::size_t size) {
  MemoryFileSystem fs;
  fs.put("/in/f.wav", Bytes(data, data + size));
  Analysed a;
  std::string broken = readAndAnalyse("/in/f.wav", fs, size, a);
  if (!broken.empty()) return broken;
  if (fs.paths().size() != 1 || *fs.get("/in/f.wav") != Bytes(data, data + size)) {
    return "reading changed the file system";
  }
  if (!a.header.hasFrames()) return {};
  const WavFormat& format = a.header.format;
  if (!format.classic()) return checkFormatStatistics(data, size, a);

  // The tuned statistics, with the data split in two blocks at a point the
  // input chooses, against the plain ones in a single block.
  const std::int64_t frames = a.header.layout.framesInFile;
  const unsigned char* samples = data + a.header.layout.dataOffset;
  const std::int64_t frameBytes = format.frameBytes();
  const bool deemphasis = format.sampleRate == 44100;
  SampleAccumulator plain(format.channels, format.bitsPerSample, deemphasis,
                          SampleAccumulator::Method::kPlain);
  plain.addBlock(samples, frames);
  SampleAccumulator tuned(format.channels, format.bitsPerSample, deemphasis,
                          SampleAccumulator::Method::kTuned);
  const std::int64_t split = data[size - 1] % frames;
  if (split > 0) tuned.addBlock(samples, split);
  tuned.addBlock(samples + split * frameBytes, frames - split);
  const StatsRecords want = plain.finish();
  if (std::string broken = compareRecords("tuned", tuned.finish(), want); !broken.empty()) {
    return broken;
  }
  // The same split for threads side by side, in parts of a size and with
  // guesses (spoilt or not) that the input chooses.
  const std::uint8_t choice = data[(size - 1) / 2];
  const test::KernelPaths paths(kernels::haveAvx2(), (choice & 4) != 0);
  ParallelAccumulator parallel(format.channels, format.bitsPerSample, deemphasis, 1 + choice % 4,
                               frames, (choice & 0x40) != 0);
  LoudnessMeter meter(format.sampleRate, channelWeightsFor(format.channels, format.channelMask));
  parallel.measureLoudness(&meter);
  LevelOverviewBuilder levels(format.channels, frames, integerFullScale(format.bitsPerSample));
  parallel.drawOverview(&levels);
  parallel.setPartUnit(65 + 37 * (choice >> 3));
  addBlocks(parallel, samples, frameBytes, split, frames);
  if (std::string broken = compareRecords("threaded", parallel.finish(), want); !broken.empty()) {
    return broken;
  }
  // The overview of the threaded run and of the analysis, as one serial run's.
  LevelOverviewBuilder serialLevels(format.channels, frames,
                                    integerFullScale(format.bitsPerSample));
  serialLevels.add(PcmFrameSource(samples, format.channels, format.bitsPerSample), 0, frames);
  if (!(levels.finish() == serialLevels.finish())) return "the threaded overview differs";
  if (!(a.result.overview == serialLevels.finish())) return "the analysis's overview differs";
  const LoudnessTrace serial = serialLoudness(format, samples, frames);
  if (!a.result.loudness) return "the analysis measured no loudness";
  for (auto [what, trace] : {std::pair{"the analysis's", *a.result.loudness},
                             std::pair{"the threaded", meter.trace()}}) {
    if (std::string broken = compareLoudness(what, trace, serial); !broken.empty()) return broken;
  }
  if (std::string broken = checkNormalisation(format, a.header.layout, samples, serial, choice);
      !broken.empty()) {
    return broken;
  }
  // The peaks the analysis stored, from the plain records.
  auto peak = [&](int first) {
    std::int32_t p = 0;
    for (int c = 0; c < format.channels; ++c) {
      const ChannelStats& r = want[first + c];
      p = std::max({p, r.max, r.min == -32768 ? 32767 : -r.min});
    }
    return p;
  };
  if (a.result.peak[0] != peak(0)) return "the peak differs from the plain statistics";
  if (deemphasis && a.result.peak[1] != peak(2)) {
    return "the de-emphasised peak differs from the plain statistics";
  }
  return {};
}

}  // namespace ril::properties
