// rilmaton-cli modify: what the modification dialog's Modify does, without windows.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <string>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/file_list.h"
#include "cli/file_runs.h"
#include "cli/stop_signals.h"
#include "cli/terminal.h"
#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/analysis/peak_scan.h"
#include "core/base/clock.h"
#include "core/base/errors.h"
#include "core/base/number_format.h"
#include "core/base/text.h"
#include "core/base/thread_pool.h"
#include "core/io/directories.h"
#include "core/io/files.h"
#include "core/modify/loudness_normalisation.h"
#include "core/modify/modification_run.h"
#include "core/modify/modify_messages.h"
#include "core/modify/output_placement.h"
#include "core/modify/volume_policy.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"

namespace ril::cli {

namespace {

const char* kModifyUsage =
    "Usage: rilmaton-cli modify [--deemphasis] [--maximize [--album] | --volume PERCENT |\n"
    "                           --loudness TARGET [--true-peak-limit DBTP] [--album]]\n"
    "                           [--output OUT | --output-dir DIR | --in-place]\n"
    "                           [--recursive] [--files-from LIST [-0]] [--jobs N]\n"
    "                           [--threads N] FILE...\n"
    "       rilmaton-cli modify --deemphasis --cue SHEET [--cue-outside-ok]\n"
    "                           (see modify --cue --help; --cue-outside-ok allows files\n"
    "                           outside the sheet's directory)\n"
    "\n"
    "Analyses each FILE, then rewrites its samples as the modification dialog's Modify\n"
    "does: every byte outside the sample data stays as it is, and the file keeps its length.\n"
    "\n"
    "  --deemphasis       apply the de-emphasis filter (44100 Hz files only)\n"
    "  --maximize         raise the volume to the largest factor that does not clip\n"
    "  --album            with --maximize: one factor for all FILEs, the smallest of\n"
    "                     their own (with --deemphasis, of the de-emphasised data), so\n"
    "                     the tracks keep their levels; it is stated with the file that\n"
    "                     limited it. With --loudness: the FILEs' integrated loudness\n"
    "                     gated as one programme, and one gain for all. Every FILE is\n"
    "                     analysed before any is written\n"
    "  --volume PERCENT   change the volume by PERCENT (steps of 0.1, 0 to 1000), held\n"
    "                     at or below the largest factor that does not clip\n"
    "  --loudness TARGET  change the volume so that the integrated loudness (ITU-R\n"
    "                     BS.1770-4) comes to TARGET LUFS (-70 to 0; e.g. -23, -16,\n"
    "                     -14), held down so that the true peak stays at or below the\n"
    "                     limit; the gain becomes a volume in steps of 0.1%, rounded\n"
    "                     down, applied as --volume applies it. With --deemphasis the\n"
    "                     loudness is measured after the de-emphasis. A FILE too short\n"
    "                     or too quiet for a loudness is not modified\n"
    "  --true-peak-limit DBTP  with --loudness: the highest true peak after the gain\n"
    "                     (-70 to 0 dBTP; default -1.0)\n"
    "  --output OUT       write the result to OUT (one FILE only); FILE stays as it is.\n"
    "                     When the settings change nothing, OUT is an identical copy.\n"
    "                     OUT - is standard output (not a terminal); a symbolic link\n"
    "                     keeps pointing at the new file (in a sticky world-writable\n"
    "                     directory such as /tmp only a link of yours or of the\n"
    "                     directory's owner is followed; another is refused); a device\n"
    "                     or pipe is written as it is. OUT may not be FILE itself (use\n"
    "                     --in-place)\n"
    "  --output-dir DIR   write each result to DIR under its FILE's own name (as --output\n"
    "                     does); two FILEs of the same name are refused before anything\n"
    "                     is written\n"
    "  --in-place         overwrite FILE\n"
    "  -r, --recursive    a directory stands for the *.wav files (any case) under it\n"
    "  --files-from LIST  also the paths in LIST, one a line (- reads standard input)\n"
    "  -0, --null         the paths in LIST end in a NUL byte, not a line break\n"
    "  -j, --jobs N       work on N files at once (default: one per processor); the\n"
    "                     output comes in the order of the files, each file's after a\n"
    "                     line \"== FILE\" when there are several\n"
    "  --threads N        N threads share the work on each file's samples (default: the\n"
    "                     processors shared among the files worked on at once, one fewer\n"
    "                     while rewriting, where a reader and a writer thread run beside\n"
    "                     them); the result is the same for any N\n"
    "\n"
    "Without --output, --output-dir or --in-place, the result is written completely\n"
    "beside FILE first; then FILE is kept as FILE.old and the result takes FILE's name,\n"
    "mode, owner and extended attributes. When FILE's drive lacks the space for a copy\n"
    "you are asked whether to overwrite FILE instead: [y/N], only y overwrites (answered\n"
    "No when there is no terminal to ask, and with several FILEs, which are worked on at\n"
    "once). A FILE.old that is a second name of FILE, left by a killed run, is removed.\n"
    "A FILE that another run is modifying is refused at once.\n"
    "\n"
    "SIGHUP, SIGINT, SIGQUIT and SIGTERM stop a run with FILE as it was and no temporary\n"
    "file left; an in-place rewrite that has begun writing is finished first; files not\n"
    "begun are left alone.\n"
    "\n"
    "Clipping messages (the first ten, then their count) and failures go to stderr.\n"
    "A file that fails does not stop the others.\n"
    "Exit status: 0 every FILE modified (or nothing to do), 1 a FILE not modified,\n"
    "2 usage error, 128+N stopped by signal N (129 SIGHUP, 130 SIGINT, 131 SIGQUIT,\n"
    "143 SIGTERM).\n";

struct Options {
  bool help = false;
  bool deemphasis = false;
  bool maximize = false;
  bool haveVolume = false;
  long long tenths = 1000;
  bool percentRounded = false;
  std::string output;
  bool inPlace = false;
  int threads = 0;           // --threads; 0: as many as suit each step
  int analysisThreads = 1;   // per file, for the analysis
  int rewritingThreads = 1;  // per file, beside the reader and writer
  std::string file;          // the file of one ModifyCommand
  std::string outputDir;
  bool album = false;
  double albumGain = 0;   // with --album: the factor for every file
  bool loudness = false;  // --loudness: the volume comes from the loudness
  double targetLufs = 0;
  double truePeakLimit = -1.0;
  bool haveTruePeakLimit = false;
  long long albumTenths = -1;  // with --album --loudness: the volume of every file
  FileSources sources;
  std::vector<std::string> operands;
};

int usageError(const std::string& what) {
  return printUsageError("modify", what, errStream());
}

// PERCENT in tenths of a percent; false when it is not a number.
bool parsePercent(const std::string& text, long long& tenths, bool& rounded) {
  if (text.empty()) return false;
  char* end = nullptr;
  double percent = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || *end != '\0' || !std::isfinite(percent)) return false;
  double scaled = std::nearbyint(percent * 10.0);
  if (std::fabs(scaled) > 1e9) scaled = std::copysign(1e9, scaled);
  rounded = std::fabs(scaled - percent * 10.0) > 1e-6;
  tenths = static_cast<long long>(scaled);
  return true;
}

// A number of dB or LUFS from -70 to 0, for `option`; the error, or "".
std::string parseLevel(const std::string& option, const std::string& text, double& value) {
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(value >= -70.0 && value <= 0.0)) {
    return option + " needs a number from -70 to 0, not '" + text + "'";
  }
  return {};
}

std::string percentText(long long tenths) {
  return formatGeneral(static_cast<float>(tenths) / 10.0f) + "%";
}

// The options, or the exit status of a usage error or --help.
int parseOptions(int argc, char** argv, Options& o) {
  bool haveOutput = false;
  Arguments args("modify");
  args.flag({"--help", "-h"}, o.help);
  args.flag({"--deemphasis"}, o.deemphasis);
  args.flag({"--maximize"}, o.maximize);
  args.flag({"--in-place"}, o.inPlace);
  args.threadsOption(o.threads);
  args.option({"--volume"}, "a PERCENT", [&](const std::string& value) {
    o.haveVolume = true;
    return parsePercent(value, o.tenths, o.percentRounded)
               ? std::string()
               : "--volume needs a number, not '" + value + "'";
  });
  args.outputOptions(o.output, haveOutput, o.outputDir);
  args.flag({"--album"}, o.album);
  args.option({"--loudness"}, "a TARGET", [&](const std::string& value) {
    o.loudness = true;
    return parseLevel("--loudness", value, o.targetLufs);
  });
  args.option({"--true-peak-limit"}, "a DBTP", [&](const std::string& value) {
    o.haveTruePeakLimit = true;
    return parseLevel("--true-peak-limit", value, o.truePeakLimit);
  });
  o.sources.addTo(args);
  if (!args.parse(argc, argv)) return usageError(args.error());
  if (o.help) {
    std::fputs(kModifyUsage, stdout);
    return 0;
  }
  o.operands = args.operands();
  if (o.operands.empty() && o.sources.lists.empty()) return usageError("no FILE given");
  if (o.maximize && o.haveVolume) return usageError("--maximize and --volume exclude each other");
  if (o.loudness && (o.maximize || o.haveVolume)) {
    return usageError("--loudness excludes --maximize and --volume");
  }
  if (o.haveTruePeakLimit && !o.loudness) return usageError("--true-peak-limit needs --loudness");
  if (o.album && !o.maximize && !o.loudness)
    return usageError("--album needs --maximize or --loudness");
  const int places = haveOutput + o.inPlace + !o.outputDir.empty();
  if (places > 1) return usageError("--output, --output-dir and --in-place exclude each other");
  return -1;
}

// The cause of failure `number` in words, with the number: "disk full (error 61)".
std::string causeText(int number, std::int64_t lastValue) {
  if (number == kErrOverflow) {
    return "overflow (error 6): a sample came to " + std::to_string(lastValue) +
           ", beyond what the file's samples hold";
  }
  if (number == kErrPathFileAccess) return "write protected or not accessible (error 75)";
  std::string words = errorDescription(number);
  if (!words.empty())
    words[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(words[0])));
  return words + " (error " + std::to_string(number) + ")";
}

// The identity of an open file descriptor.
FileIdentity identityOf(int fd) {
  FileIdentity id;
  struct stat st;
  if (::fstat(fd, &st) != 0) return id;
  id.kind = S_ISREG(st.st_mode) ? FileKind::kRegular : FileKind::kOther;
  id.device = static_cast<std::uint64_t>(st.st_dev);
  id.inode = static_cast<std::uint64_t>(st.st_ino);
  return id;
}

// One modify command: the file's header, the analysis it needs, the volume
// policy, and the run (a trial first where that can spare the analysis).
class ModifyCommand {
 public:
  ModifyCommand(Options options) : o_(std::move(options)), messages_(bar_) {}

  int run() {
    messages_.names = {o_.file, o_.output};
    if (const int status = checkOutput(); status >= 0) return status;
    // No second run may work on the file meanwhile, from its reading on.
    lock_ = fs_.lockForRun(o_.file);
    reading_ = readWavFile(fs_, o_.file);
    const WavHeader& header = reading_.header;
    for (const std::string& line : headerWarnings(header)) {
      std::fprintf(errStream(), "warning: %s\n", line.c_str());
    }
    if (header.status == HeaderStatus::kUnreadable) {
      std::fprintf(errStream(), "rilmaton-cli modify: cannot read %s: %s\n", shown().c_str(),
                   causeText(header.findings.readErrorNumber, 0).c_str());
      return 1;
    }
    // A file without a format (an empty one) is refused by the run, which says why.
    if (o_.deemphasis && header.findings.formatRead && header.format.sampleRate != 44100) {
      std::fprintf(errStream(),
                   "rilmaton-cli modify: de-emphasis is offered for 44100 Hz files only; %s is at "
                   "%d Hz\n",
                   shown().c_str(), static_cast<int>(header.format.sampleRate));
      return 1;
    }
    target_ = ModifyTarget{o_.file, baseNameOf(o_.file), directoryOf(o_.file), header};
    if (target_.appPath.empty()) target_.appPath = "./";
    if (o_.loudness && !chooseLoudnessVolume()) return 1;
    noteRequestedVolume();
    return report(modify());
  }

  // A failure outside the run (the file vanishing under the peak scan).
  int failed(const RunError& e) {
    ModifyResult result;
    result.outcome = ModifyOutcome::kFailed;
    result.errorNumber = e.number();
    result.errorDetail = e.detail();
    result.systemError = e.sysErrno();
    return report(result);
  }

 private:
  // Refuses outputs that cannot be: FILE itself, a terminal, or a link the
  // kernel would not follow. Returns the exit status of a usage error, or -1.
  int checkOutput() {
    if (o_.output.empty()) return -1;
    const FileIdentity terminal = identityOf(STDOUT_FILENO);
    const FileIdentity output = o_.output == "-" ? terminal : fs_.identify(o_.output);
    if (fs_.identify(o_.file).sameFileAs(output) && !o_.outputDir.empty()) {
      std::fprintf(errStream(),
                   "rilmaton-cli modify: --output-dir: the result of %s would be written over %s "
                   "itself; use --in-place to overwrite it\n",
                   shown().c_str(), shown().c_str());
      return 2;
    }
    if (fs_.identify(o_.file).sameFileAs(output)) {
      return usageError("--output names FILE itself; use --in-place to overwrite FILE");
    }
    dataOnStdout_ = o_.output == "-" || output.sameFileAs(terminal);
    if (dataOnStdout_ && ::isatty(STDOUT_FILENO) == 1) {
      return usageError("the WAV data would go to a terminal; redirect standard output");
    }
    try {
      newFileOutput_ = resolveOutput(fs_, o_.output).route == OutputRoute::kNewFile;
    } catch (const RefusedLink& e) {
      std::fprintf(errStream(), "rilmaton-cli modify: refused: %s\n",
                   shownName(e.detail()).c_str());
      return 2;
    }
    return -1;
  }

  std::string shown() const { return shownName(o_.file); }

  void noteRequestedVolume() {
    if (o_.percentRounded) {
      std::fprintf(errStream(), "note: volume taken as %s (steps of 0.1%%)\n",
                   percentText(o_.tenths).c_str());
    }
    const VolumeChoice range = limitToRange(o_.tenths);
    if (range.limitedToRange) {
      o_.tenths = range.tenths;
      std::fprintf(errStream(), "note: volume limited to %s (range 0%% to 1000%%)\n",
                   percentText(o_.tenths).c_str());
    }
  }

  // --loudness: the volume that brings the file to the target (the album's
  // when it gave one). False, and said why, when the file has no loudness.
  bool chooseLoudnessVolume() {
    if (!target_.header.hasFrames()) return true;  // the run refuses the file and says why
    if (o_.albumTenths >= 0) {
      o_.tenths = o_.albumTenths;
      return true;
    }
    const WavHeader& h = target_.header;
    const LoudnessMeasurement m =
        measureLoudness(*reading_.samples, h.format, h.layout, o_.deemphasis, o_.analysisThreads);
    reading_ = readWavFile(fs_, o_.file);  // from the first sample again, for what follows
    const ProgrammeLoudness p = programmeLoudness({&m.trace});
    if (!m.complete || !p.integratedLufs.value) {
      std::fprintf(errStream(), "rilmaton-cli modify: %s: %s; not modified\n", shown().c_str(),
                   m.complete ? ("no loudness to normalise to: " + p.integratedLufs.reason).c_str()
                              : m.failure.c_str());
      return false;
    }
    const LoudnessGain g =
        loudnessGain(*p.integratedLufs.value, p.truePeakDbtp, o_.targetLufs, o_.truePeakLimit);
    std::fprintf(notices(), "%s\n", loudnessGainLine(g, o_.truePeakLimit).c_str());
    o_.tenths = g.tenths;
    return true;
  }

  double maxGain() const {
    return safeGainFor(target_.header.format.sample(), peak_[0], peak_[1], o_.deemphasis);
  }

  // Holds the volume at or below maxGain, and says so.
  void limitVolume(double gain) {
    if (!holdsDown(gain, o_.tenths, o_.maximize)) return;
    o_.tenths = tenthsAtMost(gain);
    heldDown_ = true;
    std::fprintf(errStream(), "note: volume limited to %s, the largest change without clipping\n",
                 percentText(o_.tenths).c_str());
  }

  // The analysis of the data, for the peaks; false (and said why) when it
  // could not read every sample.
  bool analyse() {
    const WavHeader& header = target_.header;
    if (!header.hasFrames()) return true;  // the run refuses the file and says why
    const AnalysisResult result =
        analyseSamples(*reading_.samples, header.format, header.layout, silent_, steadyClock(), '.',
                       o_.analysisThreads, false);
    reading_.samples.reset();
    if (result.complete()) {
      peak_[0] = result.peakValue[0];
      peak_[1] = result.peakValue[1];
      return true;
    }
    std::string text = toUnixLines(analysisReportLines(result, header.format, ReportFormat{}));
    while (!text.empty() && text.back() == '\n') text.pop_back();
    std::fprintf(errStream(), "rilmaton-cli modify: %s\n",
                 text.substr(text.rfind('\n') + 1).c_str());
    return false;
  }

  ModifyServices services() {
    ModifyServices s{.fs = fs_, .clock = steadyClock(), .messages = messages_, .progress = bar_};
    s.stop = StopSignals::stopToken();
    s.threads = o_.rewritingThreads;
    s.inputLocked = lock_ != nullptr;
    if (!o_.output.empty()) {
      s.placement = PlacementMode::kExplicitOutput;
      s.explicitOutput = o_.output;
    } else if (o_.inPlace) {
      s.placement = PlacementMode::kInPlace;
    }
    return s;
  }

  ModifyRequest request(double gain) const {
    ModifyRequest r;
    r.deemphasis = o_.deemphasis;
    r.maximize = o_.maximize;
    r.volumeTenths = static_cast<int>(o_.tenths);
    r.maxGain = gain;
    if (target_.header.format.sample().isFloat()) r.peakToDivideBy = peak_[0];
    // A script that got exit status 0 finds the file it named.
    r.copyWhenUnchanged = !o_.output.empty();
    return r;
  }

  // A volume change needs only the loudest sample. With de-emphasis maxGain
  // comes from the filtered samples, which the analysis gives. Into a new
  // file of its own (--output) the modification is tried at once instead,
  // following the report's filter alongside and stopping at the first
  // clipped sample: the trial counts when nothing clipped and the filtered
  // peak leaves the volume as asked. Otherwise it is thrown away and the
  // analysis runs, then the run that counts. Written where it is (standard
  // output, a pipe), nothing could be thrown away.
  ModifyResult modify() {
    const bool trial =
        deemphasisTrialPays(o_.deemphasis, o_.maximize, newFileOutput_, target_.header.hasFrames());
    if (trial) {
      ModifyResult result = tryDeemphasisFirst();
      const bool givenUp =
          result.outcome == ModifyOutcome::kClipped || result.outcome == ModifyOutcome::kAbandoned;
      if (!givenUp || StopSignals::received()) return result;
      bar_.clear();
    }
    if (o_.albumGain > 0) {
      reading_.samples.reset();  // the album's analysis gave the factor
      ModifyServices s = services();
      return runModification(target_, request(o_.albumGain), s);
    }
    if (!o_.deemphasis) {
      reading_.samples.reset();
      if (target_.header.hasFrames()) peak_[0] = storedPeak(fs_, o_.file, target_.header);
    } else if (!analyse()) {
      ModifyResult failed;
      failed.outcome = ModifyOutcome::kFailed;
      return failed;
    }
    limitVolume(maxGain());
    unchanged_ = o_.tenths == 1000 && !o_.maximize && !o_.deemphasis;
    ModifyServices s = services();
    return runModification(target_, request(maxGain()), s);
  }

  ModifyResult tryDeemphasisFirst() {
    ModifyServices s = services();
    s.followReportFilter = true;
    ModifyRequest r = request(1.0);
    r.stopAtFirstClip = true;
    return runModification(target_, r, s, [this](const ModifyResult& soFar) {
      std::int32_t peak = 0;
      const bool holds = deemphasisTrialHolds(soFar.filteredRange, target_.header.format.channels,
                                              target_.header.format.bitsPerSample, o_.tenths, peak);
      if (holds) peak_[1] = peak;
      return holds;
    });
  }

  // Texts about the result go to stdout, unless the WAV data goes there.
  std::FILE* notices() const { return dataOnStdout_ ? errStream() : outStream(); }

  int report(const ModifyResult& result) {
    bar_.clear();
    const int signal = StopSignals::received();
    switch (result.outcome) {
      case ModifyOutcome::kNothingToDo:
        std::fputs("Nothing to do: volume 100% without de-emphasis leaves the file as it is.\n",
                   errStream());
        return 0;
      case ModifyOutcome::kCompleted:
        return reportCompleted(result, signal);
      case ModifyOutcome::kDeclined:
      case ModifyOutcome::kAbandoned:
      case ModifyOutcome::kClipped:
        if (signal != 0) return stoppedLeavingFile(signal, o_.file);
        std::fprintf(errStream(), "%s not modified.\n", shown().c_str());
        return 1;
      case ModifyOutcome::kFailed:
        if (result.errorNumber != 0) reportFailure(result);
        // A stop signal that cut a wait short (a pipe nobody opened) ended it.
        return signal != 0 && !result.partlyRewritten ? StopSignals::exitStatus(signal) : 1;
      case ModifyOutcome::kRefused:
        printMessage(refusalMessage(result.refusal), messages_.names);
        return 1;
    }
    return 1;
  }

  // "rilmaton-cli modify: disk full (error 61): OUT; FILE is left as it was".
  void reportFailure(const ModifyResult& result) {
    if (result.committed) {
      // "a.wav is the modified file and a.wav.old the original, but the
      // directory ./ could not be flushed to disk (error 57)"
      std::string line = committedStateText(result, o_.file) + ", but " + result.errorDetail +
                         " (error " + std::to_string(result.errorNumber) + ")";
      if (result.systemError != 0)
        line += " (" + std::string(std::strerror(result.systemError)) + ")";
      std::fprintf(errStream(), "rilmaton-cli modify: %s\n",
                   withShownNames(line, messages_.names).c_str());
      return;
    }
    std::string line = causeText(result.errorNumber, result.lastValue);
    if (!result.errorDetail.empty() && result.errorNumber != kErrOverflow) {
      line += ": " + result.errorDetail;
    }
    if (result.systemError != 0)
      line += " (" + std::string(std::strerror(result.systemError)) + ")";
    line +=
        "; " + o_.file + (result.partlyRewritten ? " is partly rewritten" : " is left as it was");
    std::fprintf(errStream(), "rilmaton-cli modify: %s\n",
                 withShownNames(line, messages_.names).c_str());
  }

  // "Volume: 163.4%": the factor --maximize found, or the volume held down
  // to it, in tenths of a percent (a maximized factor cut down to them).
  std::string appliedVolumeLine() const {
    const long long tenths =
        o_.maximize ? tenthsAtMost(o_.albumGain > 0 ? o_.albumGain : maxGain()) : o_.tenths;
    return "Volume: " + std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + "%";
  }

  int reportCompleted(const ModifyResult& result, int signal) {
    std::FILE* to = notices();
    if (o_.maximize || heldDown_) std::fprintf(to, "%s\n", appliedVolumeLine().c_str());
    std::fprintf(to, "%s\n", manipulationTimeLine(result.elapsedSeconds, '.').c_str());
    if (result.clippedSamples > 0) {
      std::fprintf(errStream(), "%lld samples clipped\n",
                   static_cast<long long>(result.clippedSamples));
    }
    if (target_.header.format.sample().isFloat()) {
      std::fprintf(to, "%s\n", beyondFullScaleLine(result.samplesBeyondFullScale).c_str());
    }
    const std::string file = shown();
    const std::string output = shownName(o_.output);
    if (result.inPlace) {
      std::fprintf(to, "Info: %s is overwritten with the modified file.\n", file.c_str());
    } else if (result.inProgramDir) {
      std::fprintf(to, "Info: the original is kept as %s.old; the modified file is %s.\n",
                   file.c_str(), file.c_str());
    } else if (o_.output == "-") {
      std::fputs("Written to standard output.\n", to);
    } else if (unchanged_) {
      std::fprintf(to, "Written: %s, an identical copy of %s (the settings change nothing)\n",
                   output.c_str(), file.c_str());
    } else {
      std::fprintf(to, "Written: %s\n", output.c_str());
    }
    if (signal != 0) {
      std::fprintf(errStream(),
                   "%s came when the rewrite could no longer be stopped; it was finished.\n",
                   signalName(signal).c_str());
    }
    return 0;
  }

  Options o_;
  FileSystem& fs_ = realFileSystem();
  std::unique_ptr<FileLock> lock_;  // FILE, for the whole command
  ProgressBar bar_;
  SilentProgress silent_;
  TerminalMessages messages_;
  HeaderReading reading_;
  ModifyTarget target_;
  double peak_[2] = {0, 0};     // on the format's statistics scale
  bool unchanged_ = false;      // factor 1 without de-emphasis
  bool heldDown_ = false;       // the volume asked for was limited to the safe factor
  bool dataOnStdout_ = false;   // --output is standard output
  bool newFileOutput_ = false;  // --output is a new file that takes its name at the end
};

// One file's modification, its failures caught.
int modifyOne(Options options) {
  ModifyCommand command(std::move(options));
  try {
    return command.run();
  } catch (const RunError& e) {
    return command.failed(e);
  } catch (const std::bad_alloc&) {
    return command.failed(RunError(kErrOutOfMemory, {}));
  } catch (const std::exception& e) {
    return command.failed(RunError(kErrInternal, e.what()));
  }
}

// What the album needs of one file: the factor its dialog would use.
struct AlbumTrack {
  bool analysed = false;
  bool silent = false;  // stays silence under any factor: it limits nothing
  double gain = 0;
};

// Why an album's file cannot be analysed, or "".
std::string albumTrackProblem(const WavHeader& h, bool deemphasis) {
  std::string problem = headerProblem(h);
  if (problem.empty() && !h.hasFrames()) problem = "the data chunk holds no samples";
  if (problem.empty() && deemphasis && h.format.sampleRate != 44100) {
    problem = "de-emphasis is offered for 44100 Hz files only; it is at " +
              std::to_string(h.format.sampleRate) + " Hz";
  }
  return problem;
}

AlbumTrack analyseAlbumTrack(const std::string& file, bool deemphasis) {
  AlbumTrack track;
  HeaderReading reading = readWavFile(realFileSystem(), file);
  const WavHeader& h = reading.header;
  std::string problem = albumTrackProblem(h, deemphasis);
  if (problem.empty()) {
    SilentProgress silent;
    const AnalysisResult r =
        analyseSamples(*reading.samples, h.format, h.layout, silent, steadyClock(), '.', 1, false);
    if (r.complete()) {
      track.analysed = true;
      const double peak = deemphasis ? r.peakValue[1] : r.peakValue[0];
      track.silent = peak == 0;
      track.gain = safeGainFor(h.format.sample(), r.peakValue[0], r.peakValue[1], deemphasis);
      return track;
    }
    problem = r.failure.empty() ? std::string("the samples could not all be read") : r.failure;
  }
  std::fprintf(errStream(), "rilmaton-cli modify: %s: %s\n", shownName(file).c_str(),
               problem.c_str());
  return track;
}

// Analyses every file and sets the album's factor, the smallest of theirs;
// the exit status of a failure, or -1.
int chooseAlbumFactor(const std::vector<std::string>& files, unsigned jobs, Options& o) {
  std::vector<AlbumTrack> tracks(files.size());
  const int status = combinedStatus(runEach(files.size(), jobs, true, [&](std::size_t i) {
    tracks[i] = analyseAlbumTrack(files[i], o.deemphasis);
    return tracks[i].analysed ? 0 : 1;
  }));
  if (status != 0) {
    std::fputs("rilmaton-cli modify: no file modified: the album's factor needs every file.\n",
               stderr);
    return status;
  }
  std::size_t limiting = files.size();
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (!tracks[i].silent && (limiting == files.size() || tracks[i].gain < tracks[limiting].gain)) {
      limiting = i;
    }
  }
  if (limiting == files.size()) {
    o.albumGain = 1.0;
    std::printf("Album factor: 1 (100%%): every file is silent.\n");
  } else {
    o.albumGain = tracks[limiting].gain;
    std::printf("Album factor: %.6f (%.1f%%), limited by %s\n", o.albumGain, o.albumGain * 100.0,
                shownName(files[limiting]).c_str());
  }
  std::fflush(stdout);
  return -1;
}

// Measures every file's loudness and sets the album's volume from their
// loudness gated together; the exit status of a failure, or -1.
int chooseAlbumLoudness(const std::vector<std::string>& files, unsigned jobs, Options& o) {
  std::vector<LoudnessMeasurement> measured(files.size());
  const int status = combinedStatus(runEach(files.size(), jobs, true, [&](std::size_t i) {
    HeaderReading reading = readWavFile(realFileSystem(), files[i]);
    const WavHeader& h = reading.header;
    std::string problem = albumTrackProblem(h, o.deemphasis);
    if (problem.empty()) {
      measured[i] = measureLoudness(*reading.samples, h.format, h.layout, o.deemphasis, 1);
      problem = measured[i].failure;
    }
    if (problem.empty()) return 0;
    std::fprintf(errStream(), "rilmaton-cli modify: %s: %s\n", shownName(files[i]).c_str(),
                 problem.c_str());
    return 1;
  }));
  std::vector<const LoudnessTrace*> traces;
  for (const LoudnessMeasurement& m : measured) traces.push_back(&m.trace);
  const ProgrammeLoudness p = programmeLoudness(traces);
  if (status != 0) {
    std::fputs("rilmaton-cli modify: no file modified: the album's loudness needs every file.\n",
               stderr);
    return status;
  }
  if (!p.integratedLufs.value) {
    std::fprintf(stderr,
                 "rilmaton-cli modify: no file modified: the album has no loudness to "
                 "normalise to: %s.\n",
                 p.integratedLufs.reason.c_str());
    return 1;
  }
  const LoudnessGain g =
      loudnessGain(*p.integratedLufs.value, p.truePeakDbtp, o.targetLufs, o.truePeakLimit);
  std::printf("Album loudness: %s LUFS\n%s\n",
              formatNumber(*p.integratedLufs.value, "0.00").c_str(),
              loudnessGainLine(g, o.truePeakLimit).c_str());
  std::fflush(stdout);
  o.albumTenths = g.tenths;
  return -1;
}

}  // namespace

int runModifyCommand(int argc, char** argv) {
  if (asksForCue(argc, argv)) return runCueModifyCommand(argc, argv);
  // From the first moment: nothing is written before the run, and the run
  // ends through its failure path when one of these comes.
  StopSignals stopSignals;
  Options options;
  if (const int status = parseOptions(argc, argv, options); status >= 0) return status;
  const FileList list = collectCommandFiles("modify", options.operands, options.sources);
  const std::vector<std::string>& files = list.files;
  if (files.empty()) return 1;
  if (const std::string problem = outputsProblem(files, options.output, options.outputDir);
      !problem.empty()) {
    return usageError(problem);
  }
  const unsigned jobs = options.sources.jobs ? options.sources.jobs : defaultJobs();
  options.analysisThreads =
      options.threads ? options.threads : threadsPerFile(availableProcessors(), jobs, files.size());
  options.rewritingThreads =
      options.threads ? options.threads : threadsPerFile(rewritingThreads(), jobs, files.size());
  if (options.album) {
    const int status = options.loudness ? chooseAlbumLoudness(files, jobs, options)
                                        : chooseAlbumFactor(files, jobs, options);
    if (status >= 0) return status;
  }
  const bool many = files.size() > 1;
  const int status = combinedStatus(runEach(files.size(), jobs, true, [&](std::size_t i) {
    if (many) std::fprintf(outStream(), "== %s\n", shownName(files[i]).c_str());
    if (const int signal = StopSignals::received(); signal != 0) {
      return stoppedLeavingFile(signal, files[i]);
    }
    Options o = options;
    o.file = files[i];
    if (!o.outputDir.empty()) o.output = joinPath(o.outputDir, baseNameOf(o.file));
    return modifyOne(std::move(o));
  }));
  return list.errors.empty() ? status : std::max(status, 1);
}

}  // namespace ril::cli
