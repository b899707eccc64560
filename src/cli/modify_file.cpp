#include "cli/modify_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "cli/stop_signals.h"
#include "cli/terminal.h"
#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/analysis/peak_scan.h"
#include "core/base/clock.h"
#include "core/base/errors.h"
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
  ModifyCommand(const ModifyOptions& options, const FileModification& job)
      : o_(options), job_(job), tenths_(options.tenths), messages_(bar_) {}

  int run() {
    messages_.names = {job_.file, job_.output};
    if (const int status = checkOutput(); status >= 0) return status;
    // No second run may work on the file meanwhile, from its reading on.
    lock_ = fs_.lockForRun(job_.file);
    reading_ = readWavFile(fs_, job_.file);
    const WavHeader& header = reading_.header;
    for (const std::string& line : headerWarnings(header)) {
      std::fprintf(errStream(), "warning: %s\n", line.c_str());
    }
    if (header.status == HeaderStatus::kUnreadable) {
      const HeaderFindings& f = header.findings;
      std::fprintf(errStream(), "rilmaton-cli modify: cannot read %s: %s\n", shown().c_str(),
                   f.readErrorDetail.empty() ? failureCause(f.readErrorNumber, 0).c_str()
                                             : f.readErrorDetail.c_str());
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
    target_ = ModifyTarget{job_.file, baseNameOf(job_.file), directoryOf(job_.file), header};
    if (target_.appPath.empty()) target_.appPath = "./";
    if (refusedAtOnce()) return 1;
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
    if (job_.output.empty()) return -1;
    const FileIdentity terminal = identityOf(STDOUT_FILENO);
    const FileIdentity output = job_.output == "-" ? terminal : fs_.identify(job_.output);
    if (fs_.identify(job_.file).sameFileAs(output) && !o_.outputDir.empty()) {
      std::fprintf(errStream(),
                   "rilmaton-cli modify: --output-dir: the result of %s would be written over %s "
                   "itself; use --in-place to overwrite it\n",
                   shown().c_str(), shown().c_str());
      return 2;
    }
    if (fs_.identify(job_.file).sameFileAs(output)) {
      return modifyUsageError("--output names FILE itself; use --in-place to overwrite FILE");
    }
    dataOnStdout_ = job_.output == "-" || output.sameFileAs(terminal);
    if (dataOnStdout_ && ::isatty(STDOUT_FILENO) == 1) {
      return modifyUsageError("the WAV data would go to a terminal; redirect standard output");
    }
    try {
      newFileOutput_ = resolveOutput(fs_, job_.output).route == OutputRoute::kNewFile;
    } catch (const RefusedLink& e) {
      std::fprintf(errStream(), "rilmaton-cli modify: refused: %s\n",
                   shownName(e.detail()).c_str());
      return 2;
    }
    return -1;
  }

  std::string shown() const { return shownName(job_.file); }

  // A file the run would refuse (one it never modifies, one without
  // samples) is refused before any word about its volume. Asked to change
  // nothing, it is left alone as any file is.
  bool refusedAtOnce() {
    const bool nothingAsked =
        tenths_ == 1000 && !o_.maximize && !o_.deemphasis && !o_.loudness && job_.output.empty();
    if (nothingAsked) return false;
    const std::optional<std::string> why = refusalText(target_.path, target_.header);
    if (why) printMessage(refusalMessage(*why), messages_.names);
    return why.has_value();
  }

  void noteRequestedVolume() {
    if (o_.percentRounded) {
      std::fprintf(errStream(), "note: volume taken as %s (steps of 0.1%%)\n",
                   percentText(tenths_).c_str());
    }
    const VolumeChoice range = limitToRange(tenths_);
    if (range.limitedToRange) {
      tenths_ = range.tenths;
      std::fprintf(errStream(), "note: volume limited to %s (range 0%% to 1000%%)\n",
                   percentText(tenths_).c_str());
    }
  }

  // --loudness: the volume that brings the file to the target (the album's
  // when it gave one). False, and said why, when the file has no loudness.
  bool chooseLoudnessVolume() {
    if (!target_.header.hasFrames()) return true;  // the run refuses the file and says why
    if (job_.album.tenths) {
      tenths_ = *job_.album.tenths;
      return true;
    }
    const WavHeader& h = target_.header;
    const LoudnessMeasurement m =
        measureLoudness(*reading_.samples, h.format, h.layout, o_.deemphasis, job_.analysisThreads);
    reading_ = readWavFile(fs_, job_.file);  // from the first sample again, for what follows
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
    tenths_ = g.tenths;
    return true;
  }

  double maxGain() const {
    return safeGainFor(target_.header.format.sample(), peak_[0], peak_[1], o_.deemphasis);
  }

  // Holds the volume at or below maxGain, and says so.
  void limitVolume(double gain) {
    if (!holdsDown(gain, tenths_, o_.maximize)) return;
    tenths_ = tenthsAtMost(gain);
    heldDown_ = true;
    std::fprintf(errStream(), "note: volume limited to %s, the largest change without clipping\n",
                 percentText(tenths_).c_str());
  }

  // The analysis of the data, for the peaks; false (and said why) when it
  // could not read every sample.
  bool analyse() {
    const WavHeader& header = target_.header;
    if (!header.hasFrames()) return true;  // the run refuses the file and says why
    const AnalysisResult result =
        analyseSamples(*reading_.samples, header.format, header.layout, silent_, steadyClock(), '.',
                       job_.analysisThreads, false);
    reading_.samples.reset();
    if (result.complete()) {
      peak_[0] = result.peakValue[0];
      peak_[1] = result.peakValue[1];
      return true;
    }
    const std::string why =
        result.outcome == AnalysisResult::Outcome::kReadFailed
            ? readFailureLine(result.failure, result.framesRead, result.frames, ReportFormat{""})
            : noSamplesLine(ReportFormat{""});
    std::fprintf(errStream(), "rilmaton-cli modify: %s\n", why.c_str());
    return false;
  }

  ModifyServices services() {
    ModifyServices s{.fs = fs_, .clock = steadyClock(), .messages = messages_, .progress = bar_};
    s.stop = StopSignals::stopToken();
    s.threads = job_.rewritingThreads;
    s.inputLocked = lock_ != nullptr;
    if (!job_.output.empty()) {
      s.placement = PlacementMode::kExplicitOutput;
      s.explicitOutput = job_.output;
    } else if (o_.inPlace) {
      s.placement = PlacementMode::kInPlace;
    }
    return s;
  }

  ModifyRequest request(double gain) const {
    ModifyRequest r;
    r.deemphasis = o_.deemphasis;
    r.maximize = o_.maximize;
    r.volumeTenths = static_cast<int>(tenths_);
    r.maxGain = gain;
    r.peakToDivideBy = peakToDivideBy(target_.header.format.sample(), peak_[0]);
    // A script that got exit status 0 finds the file it named.
    r.copyWhenUnchanged = !job_.output.empty();
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
    if (job_.album.gain) {
      reading_.samples.reset();  // the album's analysis gave the factor
      ModifyServices s = services();
      return runModification(target_, request(*job_.album.gain), s);
    }
    if (!o_.deemphasis) {
      reading_.samples.reset();
      // A volume of at most 100 % cannot clip an integer sample: then the
      // file is read once, by the run, without a peak scan before it.
      const bool peakNeeded =
          o_.maximize || tenths_ > 1000 || target_.header.format.sample().isFloat();
      if (peakNeeded && target_.header.hasFrames()) {
        if (volumeTrialPays()) {
          ModifyResult result = tryVolumeFirst();
          if (result.outcome != ModifyOutcome::kClipped || StopSignals::received()) return result;
          bar_.clear();
        }
        peak_[0] = storedPeak(fs_, job_.file, target_.header);
      }
    } else if (!analyse()) {
      ModifyResult failed;
      failed.outcome = ModifyOutcome::kFailed;
      return failed;
    }
    limitVolume(maxGain());
    unchanged_ = tenths_ == 1000 && !o_.maximize && !o_.deemphasis;
    ModifyServices s = services();
    return runModification(target_, request(maxGain()), s);
  }

  // Without maximize the peak serves only to hold the volume down. Into a
  // new file of its own, a format beyond 8- and 16-bit mono and stereo is
  // rewritten at once, its peak followed alongside: the trial counts when it
  // runs through without a clipped sample and the peak leaves the volume as
  // asked, so the file is read once. It ends at the first clipped sample or
  // block whose peak so far holds the volume down, and then the peak scan and
  // the run that counts follow.
  bool volumeTrialPays() const {
    return !o_.maximize && newFileOutput_ && !target_.header.format.classic();
  }

  ModifyResult tryVolumeFirst() {
    ModifyServices s = services();
    s.peakHolds = [this](double peak) {
      peak_[0] = peak;
      return !holdsDown(maxGain(), tenths_, false);
    };
    ModifyRequest r = request(1.0);
    r.stopAtFirstClip = true;
    unchanged_ = tenths_ == 1000;
    return runModification(target_, r, s);
  }

  ModifyResult tryDeemphasisFirst() {
    ModifyServices s = services();
    s.followReportFilter = true;
    ModifyRequest r = request(1.0);
    r.stopAtFirstClip = true;
    return runModification(target_, r, s, [this](const ModifyResult& soFar) {
      std::int32_t peak = 0;
      const bool holds = deemphasisTrialHolds(soFar.filteredRange, target_.header.format.channels,
                                              target_.header.format.bitsPerSample, tenths_, peak);
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
        if (signal != 0) return stoppedLeavingFile(signal, job_.file);
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
      std::string line = committedStateText(result, job_.file) + ", but " + result.errorDetail +
                         " (error " + std::to_string(result.errorNumber) + ")";
      if (result.systemError != 0)
        line += " (" + std::string(std::strerror(result.systemError)) + ")";
      std::fprintf(errStream(), "rilmaton-cli modify: %s\n",
                   withShownNames(line, messages_.names).c_str());
      return;
    }
    std::string line = failureCause(result.errorNumber, result.lastValue);
    if (!result.errorDetail.empty() && result.errorNumber != kErrOverflow) {
      line += ": " + result.errorDetail;
    }
    if (result.systemError != 0)
      line += " (" + std::string(std::strerror(result.systemError)) + ")";
    line +=
        "; " + job_.file + (result.partlyRewritten ? " is partly rewritten" : " is left as it was");
    std::fprintf(errStream(), "rilmaton-cli modify: %s\n",
                 withShownNames(line, messages_.names).c_str());
  }

  // "Volume: 163.4%": the factor --maximize found, or the volume held down
  // to it, in tenths of a percent (a maximized factor cut down to them).
  std::string appliedVolumeLine() const {
    const long long tenths =
        o_.maximize ? tenthsAtMost(job_.album.gain.value_or(maxGain())) : tenths_;
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
    const std::string output = shownName(job_.output);
    if (result.inPlace) {
      std::fprintf(to, "Info: %s is overwritten with the modified file.\n", file.c_str());
    } else if (result.inProgramDir) {
      std::fprintf(to, "Info: the original is kept as %s.old; the modified file is %s.\n",
                   file.c_str(), file.c_str());
    } else if (job_.output == "-") {
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

  const ModifyOptions& o_;
  const FileModification& job_;
  long long tenths_;  // the volume asked for, once held to the range and the safe factor
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
}  // namespace

int modifyFile(const ModifyOptions& options, const FileModification& job) {
  ModifyCommand command(options, job);
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

}  // namespace ril::cli
