// rilmaton-cli report: the report the main window shows, for each file.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/terminal.h"
#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/base/clock.h"
#include "core/base/text.h"
#include "core/base/thread_pool.h"
#include "core/io/files.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"

namespace ril::cli {

namespace {

const char* kReportUsage =
    "Usage: rilmaton-cli report [--crlf] [--threads N] FILE...\n"
    "\n"
    "Prints, for each FILE in turn, the report the main window shows after opening it.\n"
    "Lines end in LF; --crlf keeps CR LF as the report holds them.\n"
    "--threads N: N threads share the work on each file (default: one per processor);\n"
    "the report is the same for any N.\n"
    "\n"
    "Warnings (the lines the main window shows above the report) and errors go to\n"
    "stderr as \"warning: ...\" and \"error: ...\", with \"FILE: \" in front when more than\n"
    "one FILE is given. A file that cannot be read gets only its error; a file that\n"
    "cannot be analysed gets its report, which says why, and an error.\n"
    "\n"
    "Exit status: 0 every file was analysed, 1 a file could not be read or analysed\n"
    "(the other files are still reported), 2 usage error.\n";

// One file read and, when its header allows, analysed.
struct FileReport {
  WavHeader header;
  std::optional<AnalysisResult> result;  // when the header was ready
  std::string text;                      // the report, lines ending in CR LF
  std::vector<std::string> warnings;     // the header's warnings
  std::string error;                     // why there are no statistics; empty when there are

  bool analysed() const { return error.empty(); }
  bool readable() const { return header.status != HeaderStatus::kUnreadable; }
};

// The analysis' one line when it did not complete, without its line break.
std::string analysisProblem(const AnalysisResult& result, const WavFormat& format) {
  if (result.complete()) return {};
  std::string line = analysisReportLines(result, format, ReportFormat{"\n"});
  while (!line.empty() && line.back() == '\n') line.pop_back();
  return line;
}

FileReport reportFile(const std::string& file, int threads) {
  FileReport r;
  HeaderReading reading = readWavFile(realFileSystem(), file);
  r.header = reading.header;
  r.warnings = headerWarnings(r.header);
  r.text = headerReportLines(file, r.header, kLineBreak);
  r.error = headerProblem(r.header);
  if (r.header.ready()) {
    SilentProgress progress;
    r.result = analyseSamples(*reading.samples, r.header.format, r.header.layout, progress,
                              steadyClock(), '.', threads);
    r.text += analysisReportLines(*r.result, r.header.format, ReportFormat{});
    r.error = analysisProblem(*r.result, r.header.format);
  }
  return r;
}

// Lines for stderr: "warning: ..." and "error: ...", after "FILE: " when
// several files are reported.
class Diagnostics {
 public:
  explicit Diagnostics(bool nameFiles) : nameFiles_(nameFiles) {}
  void print(const std::string& file, const char* kind, const std::string& text) const {
    const std::string prefix = nameFiles_ ? file + ": " : std::string();
    std::fprintf(stderr, "%s%s: %s\n", prefix.c_str(), kind, text.c_str());
  }

 private:
  bool nameFiles_;
};

void printReport(const std::string& file, const FileReport& r, bool crlf,
                 const Diagnostics& diagnostics) {
  for (const std::string& line : r.warnings) diagnostics.print(file, "warning", line);
  if (r.readable()) {
    const std::string text = crlf ? r.text : toUnixLines(r.text);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
  if (!r.analysed()) diagnostics.print(file, "error", r.error);
}

}  // namespace

int runReportCommand(int argc, char** argv) {
  bool crlf = false;
  int threads = availableProcessors();
  Arguments args("report");
  args.flag({"--crlf"}, crlf);
  args.threadsOption(threads);
  if (const int status = args.parseOrExit(argc, argv, kReportUsage); status >= 0) return status;
  if (args.operands().empty()) {
    std::fputs(kReportUsage, stderr);
    return 2;
  }
  const Diagnostics diagnostics(args.operands().size() > 1);
  int status = 0;
  for (const std::string& file : args.operands()) {
    const FileReport r = reportFile(file, threads);
    printReport(file, r, crlf, diagnostics);
    if (!r.analysed()) status = 1;
    // Nobody reads the reports any more (a closed pipe).
    if (std::ferror(stdout)) return 1;
  }
  return status;
}

}  // namespace ril::cli
