// The Modify command on option bytes and a WAV file (properties.h), in named
// scenarios, against the reference computation; and the rewriting's filter
// kernels on their own.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <optional>
#include <vector>

#include "core/analysis/sample_statistics.h"
#include "core/dsp/cpu_features.h"
#include "core/dsp/double_filter/segmented_deemphasis.h"
#include "core/dsp/integer_filter/filter_follower.h"
#include "core/modify/modification_run.h"
#include "core/modify/modify_messages.h"
#include "core/modify/parallel_deemphasis.h"
#include "core/modify/volume_policy.h"
#include "core/wav/sample_blocks.h"
#include "properties/analysed_input.h"
#include "properties/properties.h"
#include "support/format_reference.h"
#include "support/kernel_switches.h"
#include "support/manual_clock.h"
#include "support/memory_file_system.h"
#include "support/reference_modification.h"
#include "support/scripted_host.h"

namespace ril::properties {

namespace {

using Bytes = MemoryFileSystem::Bytes;
using Files = std::map<std::string, Bytes>;

const char* const kProgramDir = "/prog/";

// ---- scenarios ----------------------------------------------------------

// Where a completed run's output is.
enum class Destination { kProgramDirectory, kExplicitFile, kInPlace, kStandardOutput };

// Where the output goes and what the file system around the file holds.
struct Scenario {
  const char* name;
  PlacementMode mode = PlacementMode::kProgramDirectory;
  const char* explicitOutput = "";  // with kExplicitOutput
  Destination destination = Destination::kProgramDirectory;
  bool inProgramDirectory = false;  // the user's file lies in the program directory
  std::optional<Answer> spaceQuestion =
      std::nullopt;              // too little space: the question, answered so
  int failure = 0;               // the error the run stops with before any work
  const char* failureText = "";  // its message; {P} stands for the file's path
  void (*arrange)(MemoryFileSystem& fs, const std::string& path) = nullptr;
};

// In the order of the first option byte, which the inputs kept in
// tests/data/fuzz-regressions rely on.
const Scenario kScenarios[] = {
    {.name = "the command-line tool's explicit output",
     .mode = PlacementMode::kExplicitOutput,
     .explicitOutput = "/out/f.wav",
     .destination = Destination::kExplicitFile},
    {.name = "the program directory"},
    {.name = "the file lies in the program directory itself", .inProgramDirectory = true},
    {.name = "P.old exists already",
     .failure = 58,
     .failureText = "File {P}.old already exists! Modification cancelled!",
     .arrange =
         [](MemoryFileSystem& fs, const std::string& path) {
           fs.put(path + ".old", Bytes{1, 2, 3});
         }},
    {.name = "too little space, answered Yes: in place",
     .destination = Destination::kInPlace,
     .spaceQuestion = Answer::kYes,
     .arrange =
         [](MemoryFileSystem& fs, const std::string&) {
           fs.free = DiskFree{1, 4096, 0};
         }},
    {.name = "too little space, answered No",
     .spaceQuestion = Answer::kNo,
     .arrange =
         [](MemoryFileSystem& fs, const std::string&) {
           fs.free = DiskFree{1, 4096, 0};
         }},
    {.name = "the free-space query reports nothing",
     .failure = 11,
     .failureText = "Division by zero (error 11)! Modification cancelled!",
     .arrange =
         [](MemoryFileSystem& fs, const std::string&) {
           fs.free = DiskFree{0, 0, 0};
         }},
    {.name = "the command-line tool's in place",
     .mode = PlacementMode::kInPlace,
     .destination = Destination::kInPlace},
    {.name = "a file of the same name waits in the program directory: never replaced",
     .failure = 58,
     .failureText = "File /prog/f.wav already exists! Modification cancelled!",
     .arrange =
         [](MemoryFileSystem& fs, const std::string&) {
           fs.put(std::string(kProgramDir) + "f.wav", Bytes{9, 9});
         }},
    {.name = "too little space on a drive whose cluster size overflows",
     .failure = 6,
     .failureText = "Overflow (last value 0! Modification cancelled!",
     .arrange =
         [](MemoryFileSystem& fs, const std::string&) {
           fs.free = DiskFree{65536, 65536, 0};
         }},
    {.name = "the program directory on a file system without hard links",
     .arrange = [](MemoryFileSystem& fs, const std::string&) { fs.hardLinks = false; }},
    {.name = "the command-line tool's standard output",
     .mode = PlacementMode::kExplicitOutput,
     .explicitOutput = "-",
     .destination = Destination::kStandardOutput},
};
constexpr int kScenarioCount = static_cast<int>(std::size(kScenarios));

// ---- comparisons ----------------------------------------------------------

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
  const std::string which =
      std::string(when) + ": files" + describeFiles(got) + ", expected" + describeFiles(want);
  if (got.size() != want.size()) return which;
  for (const auto& [p, b] : want) {
    auto it = got.find(p);
    if (it == got.end()) return which;
    const Bytes& g = it->second;
    if (g == b) continue;
    if (g.size() != b.size()) {
      return std::string(when) + ": " + p + " has " + std::to_string(g.size()) +
             " bytes, expected " + std::to_string(b.size());
    }
    std::size_t k = 0;
    while (g[k] == b[k]) ++k;
    return std::string(when) + ": " + p + " differs first at byte " + std::to_string(k);
  }
  return {};
}

// ---- the input ------------------------------------------------------------

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

// The options as the bytes in front of the file give them.
ModifyOptions decodeOptions(const std::uint8_t* o) {
  ModifyOptions options;
  options.scenario = o[0] % kScenarioCount;
  options.maximize = (o[1] & 1) != 0;
  options.gainMode = (o[1] >> 1) & 3;
  options.stopAtFirstClip = (o[1] & 8) != 0;
  options.deemphasis = (o[2] & 1) != 0;
  options.volumeTenths = static_cast<std::int16_t>(o[3] | o[4] << 8);
  options.ranges = o[5];
  std::memcpy(&options.rawGain, o + 6, 4);
  return options;
}

// The largest safe factor as a front end would pass it, or a raw one.
double maxGainFor(const ModifyOptions& o, const AnalysisResult& result, int bits) {
  const bool classic = result.sample.isClassic();
  switch (o.gainMode) {
    case 0:
      return classic ? maximumGain(result.peak[0], bits, false)
                     : maximumGainFor(result.sample, result.peakValue[0], false);
    case 1:
      return classic ? maximumGain(result.peak[0], bits, true)
                     : maximumGainFor(result.sample, result.peakValue[0], true);
    case 2:
      return classic ? maximumGain(result.peak[1], bits, true)
                     : maximumGainFor(result.sample, result.peakValue[1], true);
    default:
      return o.rawGain;
  }
}

// ---- the rewriting's filter kernels on their own -------------------------------

// BlockDeemphasis straight over the file's samples, in two blocks, with the
// threads, ranges and wrong guesses that `choice` picks, against the reference.
std::string checkBlockDeemphasis(const WavHeader& h, const Bytes& file, double factor,
                                 std::uint8_t choice) {
  const int channels = h.format.channels;
  const int bits = h.format.bitsPerSample;
  const std::int64_t frames = h.layout.framesInFile;
  if (channels < 1 || channels > 2 || frames <= 0 || !(factor >= 0.0) || factor > 1.0e6) return {};
  if (!h.format.classic()) return {};
  const unsigned char* in = file.data() + h.layout.dataOffset;
  const std::size_t bytes = static_cast<std::size_t>(frames * h.format.frameBytes());
  const test::Expected want =
      test::expectedOutput(Bytes(in, in + bytes), channels, bits, factor, true);
  Bytes got(bytes);
  const test::KernelPaths paths(kernels::haveAvx2(), (choice & 0x80) != 0);
  BlockDeemphasis block(channels, bits, factor, 1 + choice % 4);
  block.setLeastRangeFrames(20 * ((choice >> 2) & 31));
  DeemphasisFilterDouble filters[2];
  FollowedFilter follow[2];
  const std::int64_t split = (choice * 7919) % frames;
  const std::size_t splitBytes = static_cast<std::size_t>(split * h.format.frameBytes());
  unsigned limited = block.run(in, got.data(), split, filters, follow);
  limited |= block.run(in + splitBytes, got.data() + splitBytes, frames - split, filters, follow);
  if (got != want.samples) return "BlockDeemphasis differs from the serial filter";
  if (limited != want.clippedChannels)
    return "BlockDeemphasis limited other channels than the serial filter";
  for (int c = 0; c < channels; ++c) {
    const DeemphasisFilterDouble serial{want.lastInput[c], want.lastOutput[c]};
    if (std::memcmp(&filters[c], &serial, sizeof serial) != 0) {
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
  {
    const test::KernelPaths paths((choice & 1) != 0);
    kernels::deemphasiseSegmented(x.data(), got.data(), static_cast<std::int64_t>(n), segmented);
  }
  if (std::memcmp(got.data(), want.data(), n * sizeof(double)) != 0)
    return "the segmented filter differs from the serial one";
  if (std::memcmp(&segmented, &serial, sizeof serial) != 0)
    return "the segmented filter left another state than the serial one";
  return {};
}

// ---- one run ---------------------------------------------------------------------

// A run in a scenario, and everything its checks need.
struct ModifyCase {
  ModifyOptions options;
  std::uint8_t segmentChoice = 0;  // the segmented filter's own test (option bytes 5 and 6)
  const Scenario* scenario = nullptr;
  Bytes file;
  std::string path;
  MemoryFileSystem fs;
  ScriptedHost host;
  Analysed analysed;
  ModifyRequest request;
  Files before;
  Files after;
  ModifyResult result;

  double factor() const { return request.factor(); }
  bool inPlace() const { return scenario->destination == Destination::kInPlace; }
};

// Sets up the file system, reads and analyses the file, and runs the
// modification; returns the first rule broken on the way.
std::string runCase(ModifyCase& c) {
  const Scenario& s = *c.scenario;
  c.path = s.inProgramDirectory ? std::string(kProgramDir) + "f.wav" : "/in/f.wav";
  c.fs.put(c.path, c.file);
  if (s.arrange) s.arrange(c.fs, c.path);
  if (std::string broken = readAndAnalyse(c.path, c.fs, c.file.size(), c.analysed);
      !broken.empty()) {
    return broken;
  }
  const WavHeader& header = c.analysed.header;
  const ModifyOptions& o = c.options;
  c.request.deemphasis = o.deemphasis;
  c.request.stopAtFirstClip = o.stopAtFirstClip;
  c.request.maximize = o.maximize;
  c.request.volumeTenths = o.volumeTenths;
  c.request.maxGain = maxGainFor(o, c.analysed.result, header.format.bitsPerSample);
  // A float file maximized from its peak divides by the peak, as the front ends ask.
  if (header.format.sample().isFloat() && o.gainMode == 0) {
    c.request.peakToDivideBy = c.analysed.result.peakValue[0];
  }
  c.request.ranges = rangesFor(o.ranges, header.layout.framesInFile);
  if (std::string broken = checkBlockDeemphasis(header, c.file, c.factor(), o.ranges);
      !broken.empty()) {
    return broken;
  }
  if (std::string broken = checkSegmentedDeemphasis(c.file, c.factor(), c.segmentChoice);
      !broken.empty()) {
    return broken;
  }

  if (s.spaceQuestion) c.host.answers = {*s.spaceQuestion};
  ManualClock clock;
  ModifyServices services{.fs = c.fs, .clock = clock, .messages = c.host, .progress = c.host};
  // The run also follows the report's filter; that must change nothing else.
  services.followReportFilter = true;
  services.placement = s.mode;
  services.explicitOutput = s.explicitOutput;
  // Threads share the de-emphasis; the output must not change.
  services.threads = 1 + o.ranges % 4;
  c.before = snapshot(c.fs);
  c.result =
      runModification(ModifyTarget{c.path, "f.wav", kProgramDir, header}, c.request, services);
  c.after = snapshot(c.fs);
  return {};
}

// A run that must end before any work, the files as they were.
std::string checkFailure(const ModifyCase& c, int number, const std::string& text,
                         const std::vector<Message>& want) {
  const ModifyResult& r = c.result;
  if (r.outcome != ModifyOutcome::kFailed || r.errorNumber != number) {
    return "expected failure " + std::to_string(number) + ", got outcome " +
           std::to_string(static_cast<int>(r.outcome)) + " error " + std::to_string(r.errorNumber);
  }
  const Message shown = failureMessage(r, c.path);
  if (shown.text != text || shown.kind != MessageKind::kWarning || shown.title != "Warning") {
    return "the failure message reads \"" + shown.text + "\", expected \"" + text + "\"";
  }
  if (std::string m = compareMessages(c.host.messages, want); !m.empty()) return m;
  return compareFiles(c.after, c.before, "failed");
}

// The files a completed run leaves, by where its output went.
Files expectedFiles(const ModifyCase& c, const Bytes& output) {
  Files expected = c.before;
  switch (c.scenario->destination) {
    case Destination::kExplicitFile:
      expected[c.scenario->explicitOutput] = output;
      break;
    case Destination::kStandardOutput:
      break;
    case Destination::kInPlace:
      expected[c.path] = output;
      break;
    case Destination::kProgramDirectory:
      expected.erase(c.path);
      expected[c.path + ".old"] = c.file;
      expected[std::string(kProgramDir) + "f.wav"] = output;
      break;
  }
  return expected;
}

// A completed run: its messages, time, caption, followed range and files.
std::string checkCompleted(const ModifyCase& c, const Bytes& output,
                           const std::vector<Message>& want) {
  const ModifyResult& r = c.result;
  const WavHeader& header = c.analysed.header;
  if (r.outcome != ModifyOutcome::kCompleted) {
    return "not completed: outcome " + std::to_string(static_cast<int>(r.outcome)) + " error " +
           std::to_string(r.errorNumber);
  }
  if (std::string m = compareMessages(c.host.messages, want); !m.empty()) return m;
  if (manipulationTimeLine(r.elapsedSeconds, '.') != "Manipulation time = 0.00 sec.") {
    return "the manipulation time is not the clock's";
  }
  if (c.host.caption != "Done!") return "the caption does not read Done!";
  if (r.filteredRange.complete) {
    // Every block was de-emphasised in every channel: the range is the
    // analysis' filtered one.
    SampleAccumulator plain(header.format.channels, header.format.bitsPerSample, true,
                            SampleAccumulator::Method::kPlain);
    plain.addBlock(c.file.data() + header.layout.dataOffset, header.layout.framesInFile);
    const StatsRecords records = plain.finish();
    for (int ch = 0; ch < header.format.channels; ++ch) {
      if (r.filteredRange.min[ch] != records[2 + ch].min ||
          r.filteredRange.max[ch] != records[2 + ch].max) {
        return "the followed filter's range differs from the analysis' in channel " +
               std::to_string(ch + 1);
      }
    }
  }
  if (c.scenario->destination == Destination::kStandardOutput && *c.fs.standardOutput != output) {
    return "standard output differs from the expected output";
  }
  // The invariants of every completed run, stated on their own as well.
  const Bytes& written = c.scenario->destination == Destination::kStandardOutput
                             ? *c.fs.standardOutput
                         : c.after.count(r.outputName) ? c.after.at(r.outputName)
                                                       : Bytes{};
  if (written.size() != c.file.size()) return "the output's length differs from the input's";
  const auto dataOffset = static_cast<std::ptrdiff_t>(header.layout.dataOffset);
  const auto samplesEnd = static_cast<std::ptrdiff_t>(
      header.layout.dataOffset + header.layout.framesInFile * header.format.frameBytes());
  if (!std::equal(c.file.begin(), c.file.begin() + dataOffset, written.begin())) {
    return "the header bytes changed";
  }
  if (!std::equal(c.file.begin() + samplesEnd, c.file.end(), written.begin() + samplesEnd)) {
    return "the bytes behind the samples changed";
  }
  return compareFiles(c.after, expectedFiles(c, output), "completed");
}

// The same for every other format: the plain reference of its rewriting.
std::string judgeFormatRun(const ModifyCase& c, std::int64_t dataOffset, std::int64_t samplesEnd,
                           std::vector<Message>& want) {
  const WavHeader& header = c.analysed.header;
  const double divisor =
      c.request.maximize && !c.request.deemphasis ? c.request.peakToDivideBy : 0.0;
  std::int64_t beyond = 0;
  const test::Expected e = test::expectedFormatOutput(
      Bytes(c.file.begin() + dataOffset, c.file.begin() + samplesEnd), header.format, c.factor(),
      c.request.deemphasis, divisor, c.request.ranges, beyond);
  const std::int64_t firstBlock =
      std::min(nominalBlockFrames(header.format.channels, header.format.bitsPerSample),
               header.layout.framesInFile);
  if (c.request.stopAtFirstClip && !e.clipFrames.empty() &&
      !(c.inPlace() && e.clipFrames.front() >= firstBlock)) {
    if (c.result.outcome != ModifyOutcome::kClipped) return "a trial run went on past a clip";
    if (std::string m = compareMessages(c.host.messages, want); !m.empty()) return m;
    return compareFiles(c.after, c.before, "stopped at a clip");
  }
  if (c.result.outcome == ModifyOutcome::kCompleted && c.result.samplesBeyondFullScale != beyond) {
    return "another count of float samples beyond full scale";
  }
  const std::vector<Message> clips = test::shownClipMessages(e, c.path);
  want.insert(want.end(), clips.begin(), clips.end());
  Bytes output = c.file;
  std::copy(e.samples.begin(), e.samples.end(), output.begin() + dataOffset);
  return checkCompleted(c, output, want);
}

// Judges a run that got past the refusals: by its scenario, then by what the
// reference says the samples do.
std::string judgeRun(const ModifyCase& c) {
  const Scenario& s = *c.scenario;
  const WavHeader& header = c.analysed.header;
  std::vector<Message> want;
  if (s.failure != 0) {
    std::string text = s.failureText;
    if (const auto at = text.find("{P}"); at != std::string::npos) text.replace(at, 3, c.path);
    return checkFailure(c, s.failure, text, want);
  }
  if (s.spaceQuestion) {
    want.push_back(Message{MessageKind::kQuestion, "Warning",
                           "Not enough discspace available to create copy of file in " +
                               std::string(kProgramDir) + " (" + std::to_string(c.file.size()) +
                               " bytes required, but only 0 bytes available)!\r\n" +
                               "Do you want to overwrite the existing file?"});
    if (*s.spaceQuestion == Answer::kNo) {
      if (c.result.outcome != ModifyOutcome::kDeclined) return "not declined after the answer No";
      if (std::string m = compareMessages(c.host.messages, want); !m.empty()) return m;
      return compareFiles(c.after, c.before, "declined");
    }
    if (c.host.messages.empty() || c.host.messages[0].defaultAnswer != Answer::kNo) {
      return "the disk-space question does not default to No";
    }
  }
  const std::int64_t dataOffset = header.layout.dataOffset;
  const std::int64_t samplesEnd =
      dataOffset + header.layout.framesInFile * header.format.frameBytes();
  if (!header.format.classic()) return judgeFormatRun(c, dataOffset, samplesEnd, want);
  const test::Expected e = test::expectedOutput(
      Bytes(c.file.begin() + dataOffset, c.file.begin() + samplesEnd), header.format.channels,
      header.format.bitsPerSample, c.factor(), c.request.deemphasis, c.request.ranges);
  // A trial ends at its first clipped sample, unless an in-place rewrite has
  // begun writing, which it does once the first block is rewritten.
  const std::int64_t firstBlock =
      std::min(test::framesPerBlock(header.format.channels, header.format.bitsPerSample),
               header.layout.framesInFile);
  if (c.request.stopAtFirstClip && !e.clipFrames.empty() &&
      !(c.inPlace() && e.clipFrames.front() >= firstBlock)) {
    if (c.result.outcome != ModifyOutcome::kClipped) return "a trial run went on past a clip";
    if (std::string m = compareMessages(c.host.messages, want); !m.empty()) return m;
    return compareFiles(c.after, c.before, "stopped at a clip");
  }
  if (e.overflow) {
    if (c.options.maximize && c.options.gainMode <= 1) {
      return "the largest safe factor overflows the volume pass";
    }
    if (c.result.lastValue != *e.overflow) {
      return "overflow with last value " + std::to_string(c.result.lastValue) + ", expected " +
             std::to_string(*e.overflow);
    }
    return checkFailure(
        c, 6, "Overflow (last value " + std::to_string(*e.overflow) + "! Modification cancelled!",
        want);
  }
  const std::vector<Message> clips = test::shownClipMessages(e, c.path);
  want.insert(want.end(), clips.begin(), clips.end());
  Bytes output = c.file;
  std::copy(e.samples.begin(), e.samples.end(), output.begin() + dataOffset);
  return checkCompleted(c, output, want);
}

}  // namespace

std::vector<std::string> modifyScenarios() {
  std::vector<std::string> names;
  for (const Scenario& s : kScenarios) names.emplace_back(s.name);
  return names;
}

std::string encodeModifyOptions(const ModifyOptions& o) {
  std::string s(kModifyOptionBytes, '\0');
  s[0] = static_cast<char>(o.scenario);
  s[1] =
      static_cast<char>((o.maximize ? 1 : 0) | (o.gainMode & 3) << 1 | (o.stopAtFirstClip ? 8 : 0));
  s[2] = static_cast<char>(o.deemphasis ? 1 : 0);
  s[3] = static_cast<char>(o.volumeTenths & 0xFF);
  s[4] = static_cast<char>((o.volumeTenths >> 8) & 0xFF);
  s[5] = static_cast<char>(o.ranges);
  std::memcpy(&s[6], &o.rawGain, 4);
  return s;
}

std::string checkModify(const std::uint8_t* data, std::size_t size) {
  if (size < kModifyOptionBytes) return {};
  ModifyCase c;
  c.options = decodeOptions(data);
  c.segmentChoice = static_cast<std::uint8_t>(data[5] ^ data[6]);
  c.scenario = &kScenarios[c.options.scenario];
  c.file.assign(data + kModifyOptionBytes, data + size);
  if (std::string broken = runCase(c); !broken.empty()) return broken;

  const ModifyOptions& o = c.options;
  if (o.volumeTenths == 1000 && !o.maximize && !o.deemphasis) {
    if (c.result.outcome != ModifyOutcome::kNothingToDo) return "ran although nothing was to do";
    if (!c.host.messages.empty()) return "nothing to do, yet a message was shown";
    return compareFiles(c.after, c.before, "nothing to do");
  }
  const double factor = c.factor();
  const bool ready =
      c.analysed.header.hasFrames() && c.analysed.header.format.sample().modifiable();
  if (c.result.outcome == ModifyOutcome::kRefused) {
    if (ready && factor >= 0.0 && factor <= 1.0e6)
      return "refused a file and factor it can process";
    if (!c.host.messages.empty() || c.result.refusal.empty()) {
      return "a refusal with a message shown or without its text";
    }
    return compareFiles(c.after, c.before, "refused");
  }
  if (!ready || !(factor >= 0.0)) return "did not refuse an unready file or a negative factor";
  if (c.result.outcome == ModifyOutcome::kAbandoned) return "abandoned without a stop request";
  return judgeRun(c);
}

}  // namespace ril::properties
