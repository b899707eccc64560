// rilmaton-cli: the analysis and the modification without windows.
#include <malloc.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/commands.h"
#include "core/base/version.h"

namespace {

const char* kUsage =
    "Usage: rilmaton-cli COMMAND [OPTIONS] FILE...\n"
    "\n"
    "Checks and repairs WAV files: integer PCM of 8 (unsigned), 16, 24 and 32 bits (also\n"
    "with fewer valid bits), IEEE float of 32 and 64 bits, A-law and mu-law (analysed,\n"
    "never modified); RIFF, RF64 and big-endian RIFX; 1 to 64 channels, any sample rate.\n"
    "Compressed formats (ADPCM, MPEG and so on) are refused with a line naming them.\n"
    "\n"
    "Commands:\n"
    "  report [OPTIONS] FILE...  print the report the main window shows for each FILE:\n"
    "                            format, playing time, per-channel statistics, the\n"
    "                            de-emphasised statistics at 44.1 kHz and the headroom;\n"
    "                            --json for one JSON line per FILE (see rilmaton-cli\n"
    "                            report --help)\n"
    "  modify [OPTIONS] FILE...  rewrite the samples of each FILE (see rilmaton-cli modify\n"
    "                            --help)\n"
    "  cue [--json] SHEET        list the tracks of a cue sheet, their flags (PRE for\n"
    "                            pre-emphasis) and whether their WAV files can be modified\n"
    "  repair [OPTIONS] FILE...  mend the header fields of each FILE where they lie about\n"
    "                            its audio: unfinished recordings, cut-short copies, sizes\n"
    "                            past 4 GiB (see rilmaton-cli repair --help)\n"
    "\n"
    "report, modify and repair take directories (--recursive) and lists of files\n"
    "(--files-from) and work on one FILE per processor at once (--jobs N), the output\n"
    "in FILE order.\n"
    "\n"
    "Options:\n"
    "  --help       show this help\n"
    "  --version    show the version\n"
    "\n"
    "Exit status: 0 success, 1 a file could not be read, analysed, modified or repaired,\n"
    "2 usage error, 128+N stopped by signal N (see rilmaton-cli modify --help).\n";

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);  // argv[0] is the command's name
};

const Command kCommands[] = {
    {"report", ril::cli::runReportCommand},
    {"modify", ril::cli::runModifyCommand},
    {"cue", ril::cli::runCueCommand},
    {"repair", ril::cli::runRepairCommand},
};

}  // namespace

int main(int argc, char** argv) {
  // A reader that goes away shows up as a failing write, not as the end of
  // the process half-way through a run.
  std::signal(SIGPIPE, SIG_IGN);
  // A file-size limit (ulimit -f) shows up as a failing write (EFBIG: disk
  // full, error 61) with the files as they were, not as a silent end.
  std::signal(SIGXFSZ, SIG_IGN);
  // The buffers of a file's analysis (up to a few MiB) are used again for the
  // next file rather than handed back to the system and faulted in afresh:
  // with many small files that would cost more than reading them.
  mallopt(M_MMAP_THRESHOLD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 128 << 20);
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "--version") {
    std::printf("rilmaton-cli %s\n", ril::kVersionText);
    return 0;
  }
  for (const Command& c : kCommands) {
    if (command == c.name) return c.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "rilmaton-cli: unknown command '%s'\nTry 'rilmaton-cli --help'.\n",
               command.c_str());
  return 2;
}
