// rilmaton-cli repair: mends the header fields of WAV files whose headers lie.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/file_list.h"
#include "cli/output_files.h"
#include "cli/repair_json.h"
#include "cli/stop_signals.h"
#include "cli/terminal.h"
#include "core/base/errors.h"
#include "core/io/files.h"
#include "core/io/safe_outputs.h"
#include "core/modify/modify_messages.h"
#include "core/repair/repair_run.h"
#include "core/repair/repair_text.h"

namespace ril::cli {

namespace {

using Json = nlohmann::ordered_json;

const char* kRepairUsage =
    "Usage: rilmaton-cli repair [--dry-run] [--in-place | --output OUT | --output-dir DIR]\n"
    "                           [--format RATE:CHANNELS:BITS[:float]] [--json]\n"
    "                           [--recursive] [--files-from LIST [-0]] [--jobs N] FILE...\n"
    "\n"
    "Mends the header of each FILE where it lies about the audio: a data size of 0 or\n"
    "0xFFFFFFFF left by a recording that was never finished, a data chunk that declares\n"
    "more than a file cut short holds (the seconds missing are stated), 32-bit sizes\n"
    "that wrapped or stuck past 4 GiB (the file becomes an RF64 file), a RIFF size that\n"
    "is not the file's length less 8, blockAlign and byteRate that disagree with the\n"
    "channels and bits. Only header fields change, never a sample byte; each change is\n"
    "shown with its offset, old and new value. The header and the last bytes of FILE\n"
    "are read, never its audio.\n"
    "\n"
    "Where the data size is 0, 0xFFFFFFFF or past the end, the audio runs to the end of\n"
    "FILE, but for a chain of chunks that ends exactly there, begins at a frame\n"
    "boundary and starts with a chunk that may follow audio (LIST, cue, id3, bext,\n"
    "...): found by walking back from the end, it stays as it is. A partial last frame\n"
    "stays behind the data as trailing bytes.\n"
    "\n"
    "  --dry-run          show what a repair would change, and write nothing\n"
    "  --in-place         write only the changed fields into FILE, each in one write,\n"
    "                     then flush; their old values go to stderr first. Refused\n"
    "                     where bytes must be inserted (a ds64 chunk without a JUNK\n"
    "                     chunk to take its place, a header for --format)\n"
    "  --output OUT       write the repaired file to OUT (one FILE only); FILE stays as\n"
    "                     it is. OUT - is standard output (not a terminal); a symbolic\n"
    "                     link keeps pointing at the new file (in a sticky\n"
    "                     world-writable directory such as /tmp only a link of yours\n"
    "                     or of the directory's owner is followed). OUT may not be\n"
    "                     FILE itself (use --in-place)\n"
    "  --output-dir DIR   write each repaired file to DIR under its FILE's own name\n"
    "  --format RATE:CHANNELS:BITS[:float]\n"
    "                     the format of a FILE whose format chunk is missing or zeroed,\n"
    "                     or that has no header at all (44100:2:16, 48000:1:32:float):\n"
    "                     a new header goes in front of its audio. It is never guessed\n"
    "  --json             one JSON object per FILE on a line of its own: the outcome\n"
    "                     and the changes (field, offset, old, new)\n"
    "  -r, --recursive    a directory stands for the *.wav files (any case) under it\n"
    "  --files-from LIST  also the paths in LIST, one a line (- reads standard input)\n"
    "  -0, --null         the paths in LIST end in a NUL byte, not a line break\n"
    "  -j, --jobs N       work on N files at once (default: one per processor); the\n"
    "                     output comes in the order of the files\n"
    "\n"
    "Without --output, --output-dir or --in-place, the repaired file is written\n"
    "completely beside FILE first; then FILE is kept as FILE.old and the repaired file\n"
    "takes FILE's name, mode, owner and extended attributes. A FILE.old that is a\n"
    "second name of FILE, left by a killed run, is removed. A FILE that another run is\n"
    "modifying or repairing is refused at once.\n"
    "\n"
    "A FILE that cannot be repaired without guessing (no data chunk, a format chunk\n"
    "that contradicts itself, trailing bytes that are neither audio nor chunks) is\n"
    "refused with the reason and left as it is; a healthy FILE gets \"nothing to\n"
    "repair\". SIGHUP, SIGINT, SIGQUIT and SIGTERM stop a repair with FILE as it was\n"
    "and no temporary file left.\n"
    "\n"
    "Exit status: 0 every FILE repaired or with nothing to repair, 1 a FILE refused or\n"
    "not repaired, 2 usage error, 128+N stopped by signal N (129 SIGHUP, 130 SIGINT,\n"
    "131 SIGQUIT, 143 SIGTERM).\n";

struct Options {
  bool dryRun = false;
  bool inPlace = false;
  bool json = false;
  std::string output;
  std::string outputDir;
  RepairOptions repair;
  FileSources sources;
};

int usageError(const std::string& what) {
  return printUsageError("repair", what);
}

// The bytes of a field as hexadecimal pairs: "24 00 00 00".
std::string hexBytes(const std::vector<unsigned char>& bytes) {
  std::string text;
  char pair[4];
  for (unsigned char b : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    text += (text.empty() ? "" : " ") + std::string(pair);
  }
  return text;
}

// One FILE: its plan shown, then carried out.
class RepairOne {
 public:
  RepairOne(const Options& o, std::string file) : o_(o), file_(std::move(file)) {
    json_["path"] = file_;
  }

  int run() {
    if (const int status = checkOutput(); status >= 0) return status;
    if (!o_.dryRun) {
      // No second run may change the file meanwhile, from the plan on.
      try {
        lock_ = fs_.lockForRun(file_);
      } catch (const RunError& e) {
        RepairResult result;
        result.errorNumber = e.number();
        result.errorDetail = e.detail();
        result.systemError = e.sysErrno();
        return failed(result);
      }
    }
    const RepairPlan plan = planFileRepair(fs_, file_, o_.repair);
    json_["changes"] = repairChangesJson(plan);
    json_["notes"] = plan.notes;
    switch (plan.verdict) {
      case RepairVerdict::kNothingToRepair:
        if (!o_.json) std::fprintf(notices(), "%s: nothing to repair\n", shown().c_str());
        return done("nothingToRepair", 0);
      case RepairVerdict::kRefused:
        return refused(plan.refusalCode, plan.refusal);
      case RepairVerdict::kRepair:
        break;
    }
    json_["insertedBytes"] = static_cast<std::int64_t>(plan.header.size()) -
                             static_cast<std::int64_t>(plan.sourceOffset);
    if (!o_.json) printPlan(plan);
    if (o_.dryRun) {
      if (!o_.json) std::fputs("Not written (--dry-run).\n", notices());
      return done("wouldRepair", 0);
    }
    return apply(plan);
  }

 private:
  // Refuses outputs that cannot be: FILE itself, a terminal, or a link the
  // kernel would not follow. Returns the exit status of a usage error, or -1.
  int checkOutput() {
    if (o_.output.empty()) return -1;
    dataOnStdout_ =
        o_.output == "-" || fs_.identify(o_.output).sameFileAs(fs_.identify("/dev/stdout"));
    if (fs_.identify(o_.output).sameFileAs(fs_.identify(file_))) {
      if (o_.outputDir.empty()) {
        return usageError("--output names FILE itself; use --in-place to repair FILE");
      }
      std::fprintf(errStream(),
                   "rilmaton-cli repair: --output-dir: the repaired %s would be written over %s "
                   "itself; use --in-place to repair it\n",
                   shown().c_str(), shown().c_str());
      return 2;
    }
    if (dataOnStdout_ && ::isatty(STDOUT_FILENO) == 1) {
      return usageError("the WAV data would go to a terminal; redirect standard output");
    }
    try {
      resolveOutput(fs_, o_.output);
    } catch (const RefusedLink& e) {
      std::fprintf(errStream(), "rilmaton-cli repair: refused: %s\n",
                   shownName(e.detail()).c_str());
      return 2;
    }
    return -1;
  }

  std::string shown() const { return shownName(file_); }

  std::FILE* notices() const { return dataOnStdout_ ? errStream() : outStream(); }

  int done(const char* outcome, int status) {
    json_["outcome"] = outcome;
    if (o_.json) {
      const std::string line = json_.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
      std::fwrite(line.data(), 1, line.size(), outStream());
    }
    std::fflush(outStream());
    return status;
  }

  int refused(const std::string& code, const std::string& why) {
    std::fprintf(errStream(), "rilmaton-cli repair: %s: not repaired: %s\n", shown().c_str(),
                 withShownNames(why, names()).c_str());
    json_["reason"] = why;
    json_["reasonCode"] = code;
    return done("refused", 1);
  }

  // The file names a line may hold, shown escaped.
  std::vector<std::string> names() const { return {file_, o_.output}; }

  void printPlan(const RepairPlan& plan) {
    std::FILE* to = notices();
    std::fprintf(to, "%s:\n", shown().c_str());
    for (const std::string& line : planLines(plan)) std::fprintf(to, "  %s\n", line.c_str());
  }

  RepairServices services() {
    RepairServices s{.fs = fs_, .progress = bar_};
    s.stop = StopSignals::stopToken();
    s.inputLocked = lock_ != nullptr;
    if (o_.inPlace) {
      s.placement = RepairPlacement::kInPlace;
    } else if (!o_.output.empty()) {
      s.placement = RepairPlacement::kExplicitOutput;
      s.output = o_.output;
    }
    return s;
  }

  int apply(const RepairPlan& plan) {
    if (o_.inPlace && !plan.insertsBytes()) {
      // Written first, so that the file can be put back whatever happens next.
      for (const FieldChange& c : plan.changes) {
        std::fprintf(errStream(), "rilmaton-cli repair: %s: old value of %s at offset %llu: %s\n",
                     shown().c_str(), c.field.c_str(), static_cast<unsigned long long>(c.offset),
                     hexBytes(c.oldBytes).c_str());
      }
      std::fflush(errStream());
    }
    RepairServices s = services();
    const RepairResult result = applyRepair(file_, plan, s);
    bar_.clear();
    if (result.staleOldRemoved) {
      std::fprintf(o_.json ? errStream() : notices(), "Info: %s\n",
                   withShownNames(staleOldNotice(file_).text, names()).c_str());
    }
    switch (result.outcome) {
      case RepairOutcome::kRepaired:
        return repaired(result);
      case RepairOutcome::kRefused:
        return refused(result.refusalCode, result.refusal);
      case RepairOutcome::kStopped:
        return done("stopped", stoppedLeavingFile(StopSignals::received(), file_));
      case RepairOutcome::kFailed:
        break;
    }
    return failed(result);
  }

  // "rilmaton-cli repair: Disk full (error 61): OUT; FILE is left as it was".
  int failed(const RepairResult& result) {
    std::string line = failureText(result.errorNumber, result.errorDetail, result.systemError);
    if (result.committed) {
      // "a.wav is the repaired file and a.wav.old the original, but ..."
      const std::string where =
          result.keptAsOld ? file_ + ".old the original" : file_ + " is as it was";
      line = result.outputName + " is the repaired file and " + where + ", but " + line;
    } else {
      line += "; " + file_ +
              (result.partlyWritten ? " is partly repaired: the old values above put it back"
                                    : " is left as it was");
    }
    std::vector<std::string> shownNames = names();
    shownNames.push_back(result.outputName);
    std::fprintf(errStream(), "rilmaton-cli repair: %s\n",
                 withShownNames(line, shownNames).c_str());
    json_["reason"] = line;
    json_["reasonCode"] = errorCode(result.errorNumber);
    return done("failed", 1);
  }

  int repaired(const RepairResult& result) {
    json_["output"] = result.outputName.empty() ? Json(nullptr) : Json(result.outputName);
    json_["keptAsOld"] = result.keptAsOld;
    if (!o_.json) {
      std::FILE* to = notices();
      if (o_.inPlace) {
        std::fprintf(to, "Repaired in place: %s\n", shown().c_str());
      } else if (result.keptAsOld) {
        std::fprintf(to, "Repaired: %s (the original is kept as %s.old)\n", shown().c_str(),
                     shown().c_str());
      } else if (o_.output == "-") {
        std::fputs("Written to standard output.\n", to);
      } else {
        std::fprintf(to, "Written: %s\n", shownName(result.outputName).c_str());
      }
    }
    return done("repaired", 0);
  }

  const Options& o_;
  std::string file_;
  FileSystem& fs_ = realFileSystem();
  std::unique_ptr<FileLock> lock_;  // FILE, from its plan on
  ProgressBar bar_;
  Json json_;
  bool dataOnStdout_ = false;
};

int parseOptions(int argc, char** argv, Options& o, std::vector<std::string>& operands) {
  Arguments args("repair");
  args.flag({"--dry-run"}, o.dryRun);
  args.flag({"--in-place"}, o.inPlace);
  args.flag({"--json"}, o.json);
  bool haveOutput = false;
  args.outputOptions(o.output, haveOutput, o.outputDir);
  args.option({"--format"}, "RATE:CHANNELS:BITS[:float]", [&](const std::string& value) {
    std::string error;
    o.repair.format = parseGivenFormat(value, error);
    return error;
  });
  o.sources.addTo(args);
  if (const int status = args.parseOrExit(argc, argv, kRepairUsage); status >= 0) return status;
  operands = args.operands();
  if (operands.empty() && o.sources.lists.empty()) return usageError("no FILE given");
  if (haveOutput + o.inPlace + !o.outputDir.empty() > 1) {
    return usageError("--output, --output-dir and --in-place exclude each other");
  }
  if (o.json && o.output == "-") {
    return usageError("--json and --output - would both write to standard output");
  }
  return -1;
}

}  // namespace

int runRepairCommand(int argc, char** argv) {
  // From the first moment: a stop signal ends a repair through its failure path.
  StopSignals stopSignals;
  Options options;
  std::vector<std::string> operands;
  if (const int status = parseOptions(argc, argv, options, operands); status >= 0) return status;
  OutputFiles run("repair", operands, options.sources, options.output, options.outputDir);
  if (run.status >= 0) return run.status;
  return run.each(false, [&](const std::string& file, const std::string& output) {
    Options o = options;
    o.output = output;
    return RepairOne(o, file).run();
  });
}

}  // namespace ril::cli
