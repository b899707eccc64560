#include "cli/modify_options.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "cli/arguments.h"
#include "cli/terminal.h"
#include "core/base/number_format.h"

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

}  // namespace

int modifyUsageError(const std::string& what) {
  return printUsageError("modify", what, errStream());
}

std::string percentText(long long tenths) {
  return formatGeneral(static_cast<float>(tenths) / 10.0f) + "%";
}

int parseModifyOptions(int argc, char** argv, ModifyOptions& o) {
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
  if (!args.parse(argc, argv)) return modifyUsageError(args.error());
  if (o.help) {
    std::fputs(kModifyUsage, stdout);
    return 0;
  }
  o.operands = args.operands();
  if (o.operands.empty() && o.sources.lists.empty()) return modifyUsageError("no FILE given");
  if (o.maximize && o.haveVolume)
    return modifyUsageError("--maximize and --volume exclude each other");
  if (o.loudness && (o.maximize || o.haveVolume)) {
    return modifyUsageError("--loudness excludes --maximize and --volume");
  }
  if (o.haveTruePeakLimit && !o.loudness)
    return modifyUsageError("--true-peak-limit needs --loudness");
  if (o.album && !o.maximize && !o.loudness)
    return modifyUsageError("--album needs --maximize or --loudness");
  const int places = haveOutput + o.inPlace + !o.outputDir.empty();
  if (places > 1)
    return modifyUsageError("--output, --output-dir and --in-place exclude each other");
  return -1;
}
}  // namespace ril::cli
