// rilmaton-cli modify --deemphasis --cue SHEET: de-emphasises exactly the
// tracks the sheet flags PRE, then takes PRE off them in the sheet.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/stop_signals.h"
#include "cli/terminal.h"
#include "core/base/clock.h"
#include "core/base/errors.h"
#include "core/cue/cue_reader.h"
#include "core/io/files.h"
#include "core/modify/cue_deemphasis.h"
#include "core/modify/modify_messages.h"

namespace ril::cli {

namespace {

const char* kCueModifyUsage =
    "Usage: rilmaton-cli modify --deemphasis --cue SHEET [--cue-outside-ok]\n"
    "\n"
    "De-emphasises exactly the tracks the cue sheet SHEET flags PRE, at their own\n"
    "volume. A file that one flagged track fills is done as `modify --deemphasis FILE`\n"
    "does it; in a file holding other tracks too (an image) only the flagged tracks'\n"
    "frames change, each track starting the filter afresh, and every other byte stays\n"
    "as it is. Samples the filter takes past full scale are clipped and counted.\n"
    "\n"
    "Every file is checked before anything is written: a flagged track that is not\n"
    "audio, a file that is not a 44100 Hz WAV file of PCM or float samples, a file that\n"
    "cannot be read, a FILE that leads outside the sheet's directory and its\n"
    "subdirectories (after links), one file named twice, or a FILE.old or SHEET.old\n"
    "that exists already refuses the whole sheet. A FILE.old that is a second name of\n"
    "FILE, left by a killed run, is removed.\n"
    "\n"
    "  --cue-outside-ok   allow FILEs outside the sheet's directory (a downloaded\n"
    "                     sheet could otherwise name any file of yours)\n"
    "\n"
    "A symbolic link in a sticky world-writable directory (as /tmp) is followed only\n"
    "when it is yours or the directory owner's; another refuses the sheet (exit\n"
    "status 2).\n"
    "\n"
    "Each file is written completely beside itself first, then the sheet without PRE\n"
    "on the de-emphasised tracks (nothing else in it changes). Only when all of them\n"
    "are complete do names change: each original is kept as FILE.old (SHEET.old for\n"
    "the sheet) and the new file takes its name, mode, owner and extended attributes.\n"
    "A failure before then, or SIGHUP, SIGINT, SIGQUIT or SIGTERM, leaves every file\n"
    "and the sheet as they were; a failure among the renames puts back the ones\n"
    "already done. There is no --in-place, --output, --volume or --maximize with\n"
    "--cue.\n"
    "\n"
    "Exit status: 0 done (or no track flagged), 1 refused or failed, 2 usage error or\n"
    "a refused link, 128+N stopped by signal N.\n";

std::string trackList(const std::vector<int>& tracks) {
  std::string text;
  for (int t : tracks) text += (text.empty() ? "" : ", ") + twoDigits(t);
  return text;
}

class CueModify {
 public:
  CueModify(std::string sheet, bool outsideAllowed)
      : sheetPath_(std::move(sheet)), outsideAllowed_(outsideAllowed), messages_(bar_) {}

  int run() {
    const CueReading reading = readCueSheet(fs_, sheetPath_);
    if (!reading.sheet) {
      std::fprintf(stderr, "rilmaton-cli modify: %s\n", shownName(reading.error).c_str());
      return 1;
    }
    const CueSheet& sheet = *reading.sheet;
    for (const std::string& note : sheet.notes) {
      std::fprintf(stderr, "warning: %s\n", shownName(note).c_str());
    }
    CueDeemphasisPlan plan;
    try {
      plan = planCueDeemphasis(fs_, sheet, outsideAllowed_);
    } catch (const RefusedLink& e) {
      std::fprintf(stderr, "rilmaton-cli modify: refused: %s\n", shownName(e.detail()).c_str());
      std::fprintf(stderr, "Nothing written: %s and its files are left as they were.\n",
                   shownName(sheetPath_).c_str());
      return 2;
    }
    for (const Message& notice : plan.notices) printMessage(notice, {notice.text});
    if (plan.tracks.empty()) {
      std::printf("Nothing to do: %s flags no track PRE.\n", shownName(sheetPath_).c_str());
      return 0;
    }
    if (!plan.refusals.empty()) {
      for (const std::string& why : plan.refusals) {
        std::fprintf(stderr, "rilmaton-cli modify: refused: %s\n", shownName(why).c_str());
      }
      std::fprintf(stderr, "Nothing written: %s and its files are left as they were.\n",
                   shownName(sheetPath_).c_str());
      return 1;
    }
    const CueDeemphasisRun run =
        runCueDeemphasis(sheet, plan, services(), [this](const CueWavJob& job) { starting(job); });
    return report(plan, run);
  }

 private:
  ModifyServices services() {
    ModifyServices s{.fs = fs_, .clock = steadyClock(), .messages = messages_, .progress = bar_};
    s.stop = StopSignals::stopToken();
    return s;
  }

  void starting(const CueWavJob& job) {
    bar_.clear();
    const std::string what =
        job.ranges ? std::to_string(job.ranges->size()) + " of its tracks" : "the whole file";
    std::printf("TRACK %s: %s (%s)\n", trackList(job.tracks).c_str(), shownName(job.path).c_str(),
                what.c_str());
    std::fflush(stdout);
  }

  int report(const CueDeemphasisPlan& plan, const CueDeemphasisRun& run) {
    bar_.clear();
    const int signal = StopSignals::received();
    for (const ModifyResult& r : run.results) {
      if (r.outcome == ModifyOutcome::kCompleted && r.clippedSamples > 0) {
        std::fprintf(stderr, "%s: %lld samples clipped\n", shownName(r.outputName).c_str(),
                     static_cast<long long>(r.clippedSamples));
      }
    }
    if (run.done) {
      std::string originals;
      for (const CueWavJob& job : plan.files) originals += shownName(job.path) + ".old, ";
      std::printf(
          "Info: the originals are kept as %sthe sheet as %s.old; TRACK %s "
          "de-emphasised and no longer flagged PRE.\n",
          originals.c_str(), shownName(plan.sheetPath).c_str(), trackList(plan.tracks).c_str());
      if (run.publish.errorNumber != 0) {
        std::fprintf(stderr, "rilmaton-cli modify: every file has its new contents, but %s\n",
                     shownName(failureText(run.publish.errorNumber, run.publish.errorDetail,
                                           run.publish.systemError, true))
                         .c_str());
        return 1;
      }
      if (signal != 0) {
        std::fprintf(stderr,
                     "%s came when the renames could no longer be stopped; they were "
                     "finished.\n",
                     signalName(signal).c_str());
      }
      return 0;
    }
    const std::string asTheyWere =
        "every file and " + shownName(plan.sheetPath) + " are left as they were";
    const ModifyResult* last = run.results.empty() ? nullptr : &run.results.back();
    if (signal != 0 && (run.abandoned || (last && last->outcome == ModifyOutcome::kAbandoned))) {
      std::fprintf(stderr, "Stopped by %s: %s.\n", signalName(signal).c_str(), asTheyWere.c_str());
      return StopSignals::exitStatus(signal);
    }
    if (last && last->outcome == ModifyOutcome::kRefused) {
      printMessage(refusalMessage(shownName(last->refusal)));
    } else if (last && last->outcome != ModifyOutcome::kCompleted) {
      const std::string& file =
          last->outputName.empty() ? plan.files[run.results.size() - 1].path : last->outputName;
      std::fprintf(
          stderr, "rilmaton-cli modify: %s: %s; %s\n", shownName(file).c_str(),
          shownName(failureText(last->errorNumber, last->errorDetail, last->systemError, true))
              .c_str(),
          asTheyWere.c_str());
    } else if (run.sheetError != 0) {
      std::fprintf(stderr, "rilmaton-cli modify: %s; %s\n",
                   shownName(failureText(run.sheetError, run.sheetErrorDetail, 0, true)).c_str(),
                   asTheyWere.c_str());
    } else {
      reportPublishFailure(run.publish, asTheyWere);
    }
    return 1;
  }

  static void reportPublishFailure(const JointPublish& p, const std::string& asTheyWere) {
    const std::string cause =
        shownName(failureText(p.errorNumber, p.errorDetail, p.systemError, true));
    if (p.notRestored.empty()) {
      std::fprintf(stderr, "rilmaton-cli modify: renaming failed: %s; %s\n", cause.c_str(),
                   asTheyWere.c_str());
      return;
    }
    std::fprintf(stderr, "rilmaton-cli modify: renaming failed: %s\n", cause.c_str());
    for (const std::string& path : p.notRestored) {
      std::fprintf(stderr,
                   "rilmaton-cli modify: %s could not be put back: it holds the new contents, "
                   "the original is %s.old\n",
                   shownName(path).c_str(), shownName(path).c_str());
    }
  }

  std::string sheetPath_;
  bool outsideAllowed_;
  FileSystem& fs_ = realFileSystem();
  ProgressBar bar_;
  TerminalMessages messages_;
};

}  // namespace

bool asksForCue(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") return false;
    if (arg == "--cue" || arg.rfind("--cue=", 0) == 0) return true;
  }
  return false;
}

int runCueModifyCommand(int argc, char** argv) {
  StopSignals stopSignals;
  bool help = false, deemphasis = false, maximize = false, inPlace = false;
  bool volume = false, output = false, outsideAllowed = false;
  std::string sheet;
  Arguments args("modify");
  args.flag({"--help", "-h"}, help);
  args.flag({"--deemphasis"}, deemphasis);
  args.flag({"--maximize"}, maximize);
  args.flag({"--in-place"}, inPlace);
  args.flag({"--cue-outside-ok"}, outsideAllowed);
  args.option({"--volume"}, "a PERCENT", [&](const std::string&) {
    volume = true;
    return std::string();
  });
  args.option({"--output"}, "a file name", [&](const std::string&) {
    output = true;
    return std::string();
  });
  args.option({"--cue"}, "a cue sheet", [&](const std::string& value) {
    sheet = value;
    return value.empty() ? std::string("--cue needs a cue sheet") : std::string();
  });
  // "--cue --help" asks for this text too, not for a sheet named --help.
  for (int i = 1; i < argc && std::string(argv[i]) != "--"; ++i) {
    help = help || std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h";
  }
  if (!help && !args.parse(argc, argv)) return args.usageError(args.error());
  if (help) {
    std::fputs(kCueModifyUsage, stdout);
    return 0;
  }
  if (!deemphasis) return args.usageError("--cue needs --deemphasis");
  if (volume || maximize) {
    return args.usageError("--volume and --maximize are not offered with --cue");
  }
  if (output || inPlace) {
    return args.usageError("--output and --in-place are not offered with --cue");
  }
  if (!args.operands().empty()) {
    return args.usageError("no FILE with --cue: the sheet names the files");
  }
  CueModify command(sheet, outsideAllowed);
  try {
    return command.run();
  } catch (const RunError& e) {
    std::fprintf(stderr, "rilmaton-cli modify: %s; nothing was renamed\n",
                 shownName(failureText(e.number(), e.detail(), e.sysErrno(), true)).c_str());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "rilmaton-cli modify: out of memory; nothing was renamed\n");
  }
  return 1;
}

}  // namespace ril::cli
