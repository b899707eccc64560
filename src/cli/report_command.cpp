// rilmaton-cli report: the report the main window shows, for each file.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/base/clock.h"
#include "core/base/text.h"
#include "core/io/files.h"
#include "core/wav/header_report.h"
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

// The report of one file; false when it could not be read.
bool reportFile(const std::string& file, bool crlf) {
  HeaderReading reading = readWavFile(realFileSystem(), file);
  const WavHeader& header = reading.header;
  for (const std::string& line : headerWarnings(header)) {
    std::fprintf(stderr, "warning: %s\n", line.c_str());
  }
  std::string text = headerReportLines(file, header, kLineBreak);
  if (header.ready()) {
    SilentProgress progress;
    const AnalysisResult result =
        analyseSamples(*reading.samples, header.format, header.layout, progress, steadyClock());
    reading.samples.reset();
    text += analysisReportLines(result, header.format, ReportFormat{});
  }
  if (!crlf) text = toUnixLines(text);
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
  return header.status != HeaderStatus::kUnreadable;
}

}  // namespace

int runReportCommand(int argc, char** argv) {
  bool crlf = false;
  bool help = false;
  Arguments args("report");
  args.flag({"--help", "-h"}, help);
  args.flag({"--crlf"}, crlf);
  if (!args.parse(argc, argv)) {
    std::fprintf(stderr, "rilmaton-cli report: %s\n\n%s", args.error().c_str(), kReportUsage);
    return 2;
  }
  if (help) {
    std::fputs(kReportUsage, stdout);
    return 0;
  }
  if (args.operands().empty()) {
    std::fputs(kReportUsage, stderr);
    return 2;
  }
  int status = 0;
  for (const std::string& file : args.operands()) {
    if (!reportFile(file, crlf)) status = 1;
    // Nobody reads the reports any more (a closed pipe).
    if (std::ferror(stdout)) return 1;
  }
  return status;
}

}  // namespace ril::cli
