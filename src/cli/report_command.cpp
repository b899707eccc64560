#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/cli_view.h"
#include "cli/commands.h"
#include "core/analysis/sample_statistics.h"
#include "core/base/clock.h"
#include "core/io/files.h"
#include "core/program_state.h"
#include "core/wav/wav_header_reader.h"

namespace ril::cli {

namespace {
const char* kReportUsage =
    "Usage: rilmaton-cli report [--crlf] FILE...\n"
    "\n"
    "Prints, for each FILE in turn, the report the main window shows after opening it.\n"
    "Lines end in LF; --crlf keeps CR LF as the report holds them. Warnings that the\n"
    "main window draws onto its surface go to stderr, prefixed \"warning: \".\n"
    "\n"
    "Exit status: 0 every file was read, 1 a file could not be read, 2 usage error.\n";
}  // namespace

int runReportCommand(int argc, char** argv) {
  bool crlf = false;
  std::vector<std::string> files;
  bool optionsDone = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (!optionsDone && a == "--") {
      optionsDone = true;
    } else if (!optionsDone && (a == "--help" || a == "-h")) {
      std::fputs(kReportUsage, stdout);
      return 0;
    } else if (!optionsDone && a == "--crlf") {
      crlf = true;
    } else if (!optionsDone && a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "rilmaton-cli report: unknown option '%s'\n\n%s", a.c_str(),
                   kReportUsage);
      return 2;
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) {
    std::fputs(kReportUsage, stderr);
    return 2;
  }

  int status = 0;
  for (const std::string& file : files) {
    ProgramState state;
    initialiseProgramState(state, programDirectory());
    state.filePaths = {file};
    state.fileNames = {baseNameOf(file)};
    state.lastFileIndex = 0;
    CliView view;
    ReadWavHeader(state, 0, true, realFileSystem(), view);
    AnalyseSamples(state, view, steadyClock());
    if (state.headerStatus == HeaderStatus::kUnreadable) status = 1;
    std::string text = view.reportViewText();
    if (!crlf) text = toUnixLines(text);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
  return status;
}

}  // namespace ril::cli
