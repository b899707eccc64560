#include "harness.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/analysis/parallel_statistics.h"
#include "core/analysis/sample_statistics.h"
#include "core/dsp/cpu_features.h"
#include "core/dsp/deemphasis_filter.h"
#include "core/dsp/segmented_deemphasis.h"
#include "core/modify/modification_run.h"
#include "core/modify/modify_messages.h"
#include "core/modify/parallel_deemphasis.h"
#include "core/modify/volume_policy.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"
#include "support/manual_clock.h"
#include "support/memory_file_system.h"
#include "support/scripted_host.h"

namespace ril::fuzz {

namespace {

using Bytes = MemoryFileSystem::Bytes;
using Files = std::map<std::string, Bytes>;

const char* const kProgramDir = "/prog/";

// A file read and analysed as the batch run does.
struct Analysed {
  WavHeader header;
  AnalysisResult result;
  std::string report;
};

// Reads and analyses `path`; returns the first broken rule.
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
        line.rfind("Filelength", 0) == 0 || line.rfind("Length of file", 0) == 0;
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
    if (h.format.formatTag != 1 && h.format.formatTag != -2) return "ready with a non-PCM tag";
    if (h.format.channels != 1 && h.format.channels != 2) {
      return "ready with a channel count not 1 or 2";
    }
    if (h.format.bitsPerSample != 8 && h.format.bitsPerSample != 16) {
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
  }
  return {};
}

Files snapshot(const MemoryFileSystem& fs) {
  Files files;
  for (const std::string& p : fs.paths()) files[p] = *fs.get(p);
  return files;
}

std::string describeFiles(const Files& files) {
  std::string s;
  for (const auto& [p, b] : files) s += " " + p + "(" + std::to_string(b.size()) + ")";
  return s;
}

// The de-emphasis choice as the run reads it, call by call.
class ScriptedChoice {
 public:
  ScriptedChoice(bool toggle, std::uint8_t bits) : toggle_(toggle), bits_(bits) {}
  bool next() { return valueAt(calls_++); }
  bool valueAt(int call) const { return ((bits_ >> (toggle_ ? call % 8 : 0)) & 1) != 0; }

 private:
  bool toggle_;
  std::uint8_t bits_;
  int calls_ = 0;
};

Message clip(std::int64_t frame, std::int64_t shown, const char* ending) {
  Message m;
  m.kind = MessageKind::kError;
  m.title = "Error:";
  m.text = "Error at sample " + std::to_string(frame) + "! Calculated value of " +
           std::to_string(shown) + ending;
  return m;
}

// The sample processing of the Modify command, written out sample by sample.
struct Expected {
  bool failed = false;
  std::int64_t lastValue = 0;
  std::vector<Message> clips;  // one per clipped sample
  std::vector<std::int64_t> clipFrames;
  Bytes output;
};

// The clipping messages shown: the first ones, then one for all the others.
std::vector<Message> shownClips(const Expected& e, const std::string& path) {
  const auto shown = static_cast<std::ptrdiff_t>(
      std::min<std::size_t>(e.clips.size(), static_cast<std::size_t>(kClipMessagesShown)));
  std::vector<Message> messages(e.clips.begin(), e.clips.begin() + shown);
  if (e.clips.size() > static_cast<std::size_t>(shown)) {
    const auto later = e.clipFrames.begin() + shown;
    messages.push_back(laterClipsMessage(path, static_cast<std::int64_t>(e.clips.size()) - shown,
                                         *std::min_element(later, e.clipFrames.end()),
                                         *std::max_element(later, e.clipFrames.end())));
  }
  return messages;
}

// The stretches of the data a run processes in turn: each block whole, or
// with frame ranges each range's part of each block, in order. `fresh`: the
// filter starts afresh there.
struct Piece {
  std::int64_t start = 0;
  std::int64_t frames = 0;
  bool fresh = false;
};

std::vector<Piece> piecesOf(const std::vector<std::pair<std::int64_t, std::int64_t>>& blocks,
                            const std::optional<std::vector<FrameRange>>& ranges) {
  std::vector<Piece> pieces;
  for (const auto& [start, frames] : blocks) {
    if (!ranges) {
      pieces.push_back({start, frames, false});
      continue;
    }
    for (const FrameRange& r : *ranges) {
      const std::int64_t from = std::max(r.first, start);
      const std::int64_t to = std::min(r.first + r.count, start + frames);
      if (from < to) pieces.push_back({from, to - from, r.first >= start});
    }
  }
  return pieces;
}

// Ranges chosen by the option byte `choice` over a file of `total` frames:
// none when its high bit is clear (half of all inputs run over whole files),
// else up to three, in order and apart, some running past the end, some
// adjacent, some empty.
std::optional<std::vector<FrameRange>> rangesFor(std::uint8_t choice, std::int64_t total) {
  if ((choice & 0x80) == 0) return std::nullopt;
  std::uint64_t x = choice * 2654435761u + static_cast<std::uint64_t>(total);
  auto next = [&x](std::int64_t below) {
    x = x * 6364136223846793005u + 1442695040888963407u;
    return static_cast<std::int64_t>((x >> 33) % static_cast<std::uint64_t>(below));
  };
  std::vector<std::int64_t> points;
  for (int i = 0; i < 2 * (1 + choice % 3); ++i) points.push_back(next(total + total / 8 + 2));
  std::sort(points.begin(), points.end());
  std::vector<FrameRange> ranges;
  for (std::size_t i = 0; i < points.size(); i += 2) {
    const std::int64_t first =
        (choice & 0x10) && i > 0 ? ranges.back().first + ranges.back().count : points[i];
    ranges.push_back({first, points[i + 1] - first});
  }
  if (choice & 0x20) ranges.back().count = std::int64_t{1} << 40;
  return ranges;
}

Expected processSamples(const WavHeader& header, const Bytes& file, double factor,
                        const ScriptedChoice& dialog, bool overflowCheckFirst,
                        const std::optional<std::vector<FrameRange>>& ranges) {
  Expected e;
  e.output = file;
  const int channels = header.format.channels;
  const bool eight = header.format.bitsPerSample == 8;
  const int width = eight ? 1 : 2;
  const std::int64_t total = header.layout.framesInFile;
  const std::int64_t dataOffset = header.layout.dataOffset;
  auto sampleAt = [&](std::int64_t frame, int c) -> double {
    const std::size_t k = static_cast<std::size_t>(dataOffset + (frame * channels + c) * width);
    if (eight) return static_cast<double>(static_cast<int>(file[k]) - 128);
    return static_cast<double>(static_cast<std::int16_t>(file[k] | file[k + 1] << 8));
  };
  auto store = [&](std::int64_t frame, int c, std::int64_t r) {
    const std::size_t k = static_cast<std::size_t>(dataOffset + (frame * channels + c) * width);
    if (eight) {
      e.output[k] = static_cast<unsigned char>(r);
    } else {
      e.output[k] = static_cast<unsigned char>(r & 0xFF);
      e.output[k + 1] = static_cast<unsigned char>((r >> 8) & 0xFF);
    }
  };
  // The volume pass: v x factor + 128.5 truncated (8 bits), + 0.5 rounded down (16 bits).
  auto volume = [&](double v) -> std::int64_t {
    if (eight) return static_cast<std::int64_t>(std::trunc(v * factor + 128.5));
    return static_cast<std::int64_t>(std::floor(v * factor + 0.5));
  };
  const std::int64_t low = eight ? 0 : -32768;
  const std::int64_t high = eight ? 255 : 32767;

  double nominal = 8.0 / channels * 1024 * 1024 / header.format.bitsPerSample;
  const std::int64_t firstBlock =
      std::min<std::int64_t>(static_cast<std::int64_t>(std::nearbyint(nominal)), total);
  // The block boundaries: every block nominal, the rest merged into the last.
  std::vector<std::pair<std::int64_t, std::int64_t>> blocks;
  {
    std::int64_t blockFrames = firstBlock, remaining = total, done = 0;
    while (remaining >= blockFrames) {
      remaining -= blockFrames;
      if (remaining < blockFrames) {
        blockFrames += remaining;
        remaining = 0;
      }
      blocks.emplace_back(done, blockFrames);
      done += blockFrames;
    }
  }

  const std::vector<Piece> pieces = piecesOf(blocks, ranges);
  if (overflowCheckFirst) {
    // An in-place rewrite reads the whole file for a volume overflow first.
    for (const auto& [start, frames, fresh] : pieces) {
      for (int c = 0; c < channels; ++c) {
        for (std::int64_t i = 0; i < frames; ++i) {
          const std::int64_t value = volume(sampleAt(start + i, c));
          if (value < low || value > high) {
            e.failed = true;
            e.lastValue = value;
            return e;
          }
        }
      }
    }
  }

  DeemphasisFilterDouble filters[2];
  int call = 1;  // call 0 was the command's first look at the de-emphasis box
  for (const auto& [start, frames, fresh] : pieces) {
    if (fresh) filters[0] = filters[1] = DeemphasisFilterDouble{};
    for (int c = 0; c < channels; ++c) {
      const bool emphasis = dialog.valueAt(call++);
      for (std::int64_t i = 0; i < frames; ++i) {
        const double v = sampleAt(start + i, c);
        std::int64_t r;
        if (!emphasis) {
          r = volume(v);
          e.lastValue = r;
          if (r < low || r > high) {
            e.failed = true;
            return e;
          }
        } else {
          const double y = filters[c].step(v * factor);
          r = static_cast<std::int64_t>(std::floor(y + (eight ? 128.5 : 0.5)));
          const std::int64_t shown = eight ? r - 128 : r;
          if (r > high) {
            e.clips.push_back(
                clip(start + i, shown, eight ? " limited to 127!" : " limited to 32767!"));
            e.clipFrames.push_back(start + i);
            r = high;
          } else if (r < low) {
            e.clips.push_back(
                clip(start + i, shown, eight ? " limited to -128!" : " limited to -32768!"));
            e.clipFrames.push_back(start + i);
            r = low;
          }
          e.lastValue = r;
        }
        store(start + i, c, r);
      }
    }
  }
  return e;
}

std::string compareMessages(const std::vector<Message>& shown, const std::vector<Message>& want) {
  for (const Message& m : shown) {
    if (m.text.empty() || m.title.empty()) return "a message box without text or title";
  }
  if (shown.size() != want.size()) {
    std::string s = "shown " + std::to_string(shown.size()) + " messages, expected " +
                    std::to_string(want.size());
    if (!shown.empty()) s += "; last shown: " + shown.back().text;
    if (!want.empty()) s += "; last expected: " + want.back().text;
    return s;
  }
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (shown[i].text != want[i].text || shown[i].title != want[i].title ||
        shown[i].kind != want[i].kind) {
      return "message " + std::to_string(i) + " reads \"" + shown[i].title + ": " + shown[i].text +
             "\", expected \"" + want[i].title + ": " + want[i].text + "\"";
    }
  }
  return {};
}

std::string compareFiles(const Files& got, const Files& want, const char* when) {
  if (got.size() != want.size()) {
    return std::string(when) + ": files" + describeFiles(got) + ", expected" + describeFiles(want);
  }
  for (const auto& [p, b] : want) {
    auto it = got.find(p);
    if (it == got.end()) {
      return std::string(when) + ": files" + describeFiles(got) + ", expected" +
             describeFiles(want);
    }
    if (it->second != b) {
      const Bytes& g = it->second;
      if (g.size() != b.size()) {
        return std::string(when) + ": " + p + " has " + std::to_string(g.size()) +
               " bytes, expected " + std::to_string(b.size());
      }
      std::size_t k = 0;
      while (g[k] == b[k]) ++k;
      return std::string(when) + ": " + p + " differs first at byte " + std::to_string(k);
    }
  }
  return {};
}

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

// BlockDeemphasis straight over the file's samples, in two blocks, with the
// threads, ranges and wrong guesses that `choice` picks, against the serial
// filter sample by sample.
std::string checkBlockDeemphasis(const WavHeader& h, const Bytes& file, double factor,
                                 std::uint8_t choice) {
  const int channels = h.format.channels;
  const int bits = h.format.bitsPerSample;
  const std::int64_t frames = h.layout.framesInFile;
  if (channels < 1 || channels > 2 || frames <= 0 || !(factor >= 0.0) || factor > 1.0e6) return {};
  const unsigned char* in = file.data() + h.layout.dataOffset;
  const std::size_t bytes = static_cast<std::size_t>(frames * h.format.frameBytes());
  Bytes want(bytes), got(bytes);
  DeemphasisFilterDouble serial[2];
  unsigned wantLimited = 0;
  for (std::int64_t k = 0; k < frames * channels; ++k) {
    const int c = static_cast<int>(k % channels);
    const double s =
        bits == 8 ? in[k] - 128.0 : static_cast<std::int16_t>(in[2 * k] | in[2 * k + 1] << 8);
    const auto r = static_cast<std::int64_t>(
        std::floor(serial[c].step(s * factor) + (bits == 8 ? 128.5 : 0.5)));
    const std::int64_t low = bits == 8 ? 0 : -32768, high = bits == 8 ? 255 : 32767;
    if (r < low || r > high) wantLimited |= 1u << c;
    const std::int64_t v = std::clamp(r, low, high);
    if (bits == 8) {
      want[static_cast<std::size_t>(k)] = static_cast<unsigned char>(v);
    } else {
      want[static_cast<std::size_t>(2 * k)] = static_cast<unsigned char>(v & 0xFF);
      want[static_cast<std::size_t>(2 * k + 1)] = static_cast<unsigned char>((v >> 8) & 0xFF);
    }
  }
  BlockDeemphasis block(channels, bits, factor, 1 + choice % 4);
  block.setLeastRangeFrames(20 * ((choice >> 2) & 31));
  if (choice & 0x80) block.spoilGuesses();
  DeemphasisFilterDouble filters[2];
  FollowedFilter follow[2];
  const std::int64_t split = (choice * 7919) % frames;
  const std::size_t splitBytes = static_cast<std::size_t>(split * h.format.frameBytes());
  unsigned limited = block.run(in, got.data(), split, filters, follow);
  limited |= block.run(in + splitBytes, got.data() + splitBytes, frames - split, filters, follow);
  if (got != want) return "BlockDeemphasis differs from the serial filter";
  if (limited != wantLimited)
    return "BlockDeemphasis limited other channels than the serial filter";
  for (int c = 0; c < channels; ++c) {
    if (std::memcmp(&filters[c], &serial[c], sizeof serial[c]) != 0) {
      return "BlockDeemphasis left another state than the serial filter";
    }
  }
  return {};
}

// The segmented double filter on its own, over the file's bytes taken as
// 16-bit samples and repeated up to a length (chosen by `choice`) at which it
// runs in lanes, on the vector path `choice` picks, against the serial steps:
// the modification's ranges are mostly too short for the lanes.
std::string checkSegmentedDeemphasis(const Bytes& file, double factor, std::uint8_t choice) {
  if (file.size() < 2 || !(factor >= 0.0) || factor > 1.0e6) return {};
  const std::size_t words = file.size() / 2;
  const std::size_t n = 8000 + static_cast<std::size_t>(choice) * 160 + words % 97;
  std::vector<double> x(n), want(n), got(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t k = 2 * (i % words);
    x[i] = static_cast<std::int16_t>(file[k] | file[k + 1] << 8) * factor;
  }
  DeemphasisFilterDouble serial{x[0], 0.5 * x[n - 1]};
  DeemphasisFilterDouble segmented = serial;
  for (std::size_t i = 0; i < n; ++i) want[i] = serial.step(x[i]);
  kernels::allowWideVectors((choice & 1) != 0);
  kernels::deemphasiseSegmented(x.data(), got.data(), static_cast<std::int64_t>(n), segmented);
  kernels::allowWideVectors(true);
  if (std::memcmp(got.data(), want.data(), n * sizeof(double)) != 0)
    return "the segmented filter differs from the serial one";
  if (std::memcmp(&segmented, &serial, sizeof serial) != 0)
    return "the segmented filter left another state than the serial one";
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
  ParallelAccumulator parallel(format.channels, format.bitsPerSample, deemphasis, 1 + choice % 4,
                               frames);
  parallel.setPartUnit(65 + 37 * (choice >> 3));
  if (choice & 4) parallel.spoilGuesses();
  std::memcpy(parallel.nextBuffer(), samples, static_cast<std::size_t>(split * frameBytes));
  parallel.addBlock(split);
  std::memcpy(parallel.nextBuffer(), samples + split * frameBytes,
              static_cast<std::size_t>((frames - split) * frameBytes));
  parallel.addBlock(frames - split);
  if (std::string broken = compareRecords("threaded", parallel.finish(), want); !broken.empty()) {
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

std::string encodeModifyOptions(const ModifyOptions& o) {
  std::string s(kModifyOptionBytes, '\0');
  s[0] = static_cast<char>(o.placementCase);
  s[1] =
      static_cast<char>((o.maximize ? 1 : 0) | (o.gainMode & 3) << 1 | (o.toggleEmphasis ? 8 : 0));
  s[2] = static_cast<char>(o.emphasisBits);
  s[3] = static_cast<char>(o.volumeTenths & 0xFF);
  s[4] = static_cast<char>((o.volumeTenths >> 8) & 0xFF);
  s[5] = static_cast<char>(o.ranges);
  std::memcpy(&s[6], &o.rawGain, 4);
  return s;
}

// Placement cases (first option byte modulo kPlacementCases):
//   0 the command-line tool's explicit output, 1 the program directory,
//   2 the file lies in the program directory itself, 3 P.old exists already,
//   4 too little space and Yes (in place), 5 too little space and No,
//   6 the free-space query reports nothing, 7 the command-line tool's in place,
//   8 a file of the same name waits in the program directory,
//   9 too little space on a drive whose cluster size overflows,
//   10 the program directory on a file system without hard links,
//   11 the command-line tool's output to standard output.
std::string checkModify(const std::uint8_t* data, std::size_t size) {
  if (size < kModifyOptionBytes) return {};
  const std::uint8_t* o = data;
  const int placementCase = o[0] % kPlacementCases;
  const bool maximize = (o[1] & 1) != 0;
  const int gainMode = (o[1] >> 1) & 3;
  const bool toggle = (o[1] & 8) != 0;
  const auto volumeTenths = static_cast<std::int16_t>(o[3] | o[4] << 8);
  float rawGain;
  std::memcpy(&rawGain, o + 6, 4);
  const Bytes file(data + kModifyOptionBytes, data + size);

  const std::string path = placementCase == 2 ? "/prog/f.wav" : "/in/f.wav";
  const std::string old = path + ".old";
  const std::string programCopy = std::string(kProgramDir) + "f.wav";
  MemoryFileSystem fs;
  fs.put(path, file);
  if (placementCase == 3) fs.put(old, Bytes{1, 2, 3});
  if (placementCase == 8) fs.put(programCopy, Bytes{9, 9});
  if (placementCase == 4 || placementCase == 5) fs.free = DiskFree{1, 4096, 0};
  if (placementCase == 6) fs.free = DiskFree{0, 0, 0};
  if (placementCase == 9) fs.free = DiskFree{65536, 65536, 0};
  if (placementCase == 10) fs.hardLinks = false;

  Analysed analysed;
  std::string broken = readAndAnalyse(path, fs, file.size(), analysed);
  if (!broken.empty()) return broken;
  const WavHeader& header = analysed.header;
  const std::int32_t peak0 = analysed.result.peak[0];
  const std::int32_t peak1 = analysed.result.peak[1];
  const int bits = header.format.bitsPerSample;

  double maxGain = 1.0;
  switch (gainMode) {
    case 0:
      maxGain = maximumGain(peak0, bits, false);
      break;
    case 1:
      maxGain = maximumGain(peak0, bits, true);
      break;
    case 2:
      maxGain = maximumGain(peak1, bits, true);
      break;
    default:
      maxGain = rawGain;
      break;
  }

  ScriptedHost host;
  if (placementCase == 5) host.answers = {Answer::kNo};
  if (placementCase == 4) host.answers = {Answer::kYes};
  ScriptedChoice dialog(toggle, o[2]);
  ManualClock clock;
  ModifyServices services{.fs = fs, .clock = clock, .messages = host, .progress = host};
  services.deemphasisChosen = [&dialog] { return dialog.next(); };
  // The run also follows the report's filter; that must change nothing else.
  services.followReportFilter = true;
  if (placementCase == 0) {
    services.placement = PlacementMode::kExplicitOutput;
    services.explicitOutput = "/out/f.wav";
  } else if (placementCase == 7) {
    services.placement = PlacementMode::kInPlace;
  } else if (placementCase == 11) {
    services.placement = PlacementMode::kExplicitOutput;
    services.explicitOutput = "-";
  }
  ModifyRequest request;
  request.maximize = maximize;
  request.volumeTenths = volumeTenths;
  request.maxGain = maxGain;
  request.ranges = rangesFor(o[5], header.layout.framesInFile);

  // Threads share the de-emphasis; the output must not change.
  services.threads = 1 + o[5] % 4;
  const double requestFactor = maximize ? maxGain : volumeTenths / 1000.0;
  if (std::string broken = checkBlockDeemphasis(header, file, requestFactor, o[5]);
      !broken.empty()) {
    return broken;
  }
  if (std::string broken =
          checkSegmentedDeemphasis(file, requestFactor, static_cast<std::uint8_t>(o[5] ^ o[6]));
      !broken.empty()) {
    return broken;
  }

  const Files before = snapshot(fs);
  const ModifyTarget target{path, "f.wav", kProgramDir, header};
  const ModifyResult result = runModification(target, request, services);
  const Files after = snapshot(fs);
  const FilteredRange& range = result.filteredRange;

  // What must have happened.
  const bool emphasisAtStart = dialog.valueAt(0);
  if (volumeTenths == 1000 && !maximize && !emphasisAtStart) {
    if (result.outcome != ModifyOutcome::kNothingToDo) return "ran although nothing was to do";
    if (!host.messages.empty()) return "nothing to do, yet a message was shown";
    return compareFiles(after, before, "nothing to do");
  }
  const double factor = maximize ? maxGain : volumeTenths / 1000.0;
  const bool ready = header.hasFrames();
  const bool refusable = !ready || !(factor >= 0.0) || factor > 1.0e6;
  if (result.outcome == ModifyOutcome::kRefused) {
    if (!refusable) return "refused a file and factor it can process";
    if (!host.messages.empty() || result.refusal.empty()) {
      return "a refusal with a message shown or without its text";
    }
    return compareFiles(after, before, "refused");
  }
  if (!ready || !(factor >= 0.0)) return "did not refuse an unready file or a negative factor";
  if (result.outcome == ModifyOutcome::kAbandoned) return "abandoned without an exit request";

  std::vector<Message> want;
  auto failWith = [&](int number, const std::string& text) -> std::string {
    if (result.outcome != ModifyOutcome::kFailed || result.errorNumber != number) {
      return "expected failure " + std::to_string(number) + ", got outcome " +
             std::to_string(static_cast<int>(result.outcome)) + " error " +
             std::to_string(result.errorNumber);
    }
    const Message shown = failureMessage(result.errorNumber, result.lastValue, path);
    if (shown.text != text || shown.kind != MessageKind::kWarning || shown.title != "Warning") {
      return "the failure message reads \"" + shown.text + "\", expected \"" + text + "\"";
    }
    std::string m = compareMessages(host.messages, want);
    if (!m.empty()) return m;
    return compareFiles(after, before, "failed");
  };

  switch (placementCase) {
    case 3:
      return failWith(58, "File " + path + ".old already exists! Modification cancelled!");
    case 6:
      return failWith(11, "Unknown error number 11! Modification cancelled!");
    case 9:
      return failWith(6, "Overflow (last value 0! Modification cancelled!");
    default:
      break;
  }
  if (placementCase == 4 || placementCase == 5) {
    Message q;
    q.kind = MessageKind::kQuestion;
    q.title = "Warning";
    q.text = "Not enough discspace available to create copy of file in " +
             std::string(kProgramDir) + " (" + std::to_string(file.size()) +
             " bytes required, but only 0 bytes available)!\r\n" +
             "Do you want to overwrite the existing file?";
    want.push_back(q);
    if (placementCase == 5) {
      if (result.outcome != ModifyOutcome::kDeclined) return "not declined after the answer No";
      std::string m = compareMessages(host.messages, want);
      if (!m.empty()) return m;
      return compareFiles(after, before, "declined");
    }
    if (host.messages.empty() || host.messages[0].defaultAnswer != Answer::kYes) {
      return "the disk-space question does not default to Yes";
    }
  }

  const bool inPlace = placementCase == 4 || placementCase == 7;
  const Expected e =
      processSamples(header, file, factor, dialog, inPlace && !emphasisAtStart, request.ranges);
  // The message for the clipped samples beyond the first ones comes after
  // the last block, which a run stopped by an overflow does not reach.
  std::vector<Message> clips = shownClips(e, path);
  if (e.failed) clips.resize(std::min<std::size_t>(clips.size(), kClipMessagesShown));
  want.insert(want.end(), clips.begin(), clips.end());
  if (e.failed) {
    if (maximize && gainMode <= 1) return "the largest safe factor overflows the volume pass";
    if (result.lastValue != e.lastValue) {
      return "overflow with last value " + std::to_string(result.lastValue) + ", expected " +
             std::to_string(e.lastValue);
    }
    return failWith(
        6, "Overflow (last value " + std::to_string(e.lastValue) + "! Modification cancelled!");
  }
  if (result.outcome != ModifyOutcome::kCompleted) {
    return "not completed: outcome " + std::to_string(static_cast<int>(result.outcome)) +
           " error " + std::to_string(result.errorNumber);
  }
  std::string m = compareMessages(host.messages, want);
  if (!m.empty()) return m;
  if (manipulationTimeLine(result.elapsedSeconds, '.') != "Manipulation time = 0.00 sec.") {
    return "the manipulation time is not the clock's";
  }
  if (host.caption != "Done!") return "the caption does not read Done!";
  if (range.complete) {
    // Every block was de-emphasised in every channel (the de-emphasis box may have been
    // ticked only after the start): the range is the analysis' filtered one.
    SampleAccumulator plain(header.format.channels, bits, true, SampleAccumulator::Method::kPlain);
    plain.addBlock(file.data() + header.layout.dataOffset, header.layout.framesInFile);
    const StatsRecords records = plain.finish();
    for (int c = 0; c < header.format.channels; ++c) {
      if (range.min[c] != records[2 + c].min || range.max[c] != records[2 + c].max) {
        return "the followed filter's range differs from the analysis' in channel " +
               std::to_string(c + 1);
      }
    }
  }

  Files expected = before;
  if (placementCase == 0) {
    expected["/out/f.wav"] = e.output;
  } else if (placementCase == 11) {
    if (*fs.standardOutput != e.output) return "standard output differs from the expected output";
  } else if (inPlace) {
    expected[path] = e.output;
  } else {
    expected.erase(path);
    expected[old] = file;
    expected[programCopy] = e.output;
  }
  // The invariants of every completed run, stated on their own as well.
  const Bytes& written = placementCase == 11              ? *fs.standardOutput
                         : after.count(result.outputName) ? after.at(result.outputName)
                                                          : Bytes{};
  if (written.size() != file.size()) return "the output's length differs from the input's";
  const std::size_t samplesEnd = static_cast<std::size_t>(
      header.layout.dataOffset + header.layout.framesInFile * header.format.frameBytes());
  if (!std::equal(file.begin(),
                  file.begin() + static_cast<std::ptrdiff_t>(header.layout.dataOffset),
                  written.begin())) {
    return "the header bytes changed";
  }
  if (!std::equal(file.begin() + static_cast<std::ptrdiff_t>(samplesEnd), file.end(),
                  written.begin() + static_cast<std::ptrdiff_t>(samplesEnd))) {
    return "the bytes behind the samples changed";
  }
  return compareFiles(after, expected, "completed");
}

}  // namespace ril::fuzz
