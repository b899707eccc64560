// rilmaton-cli report: the report the main window shows, for each file.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/commands.h"
#include "cli/file_list.h"
#include "cli/file_runs.h"
#include "cli/level_pictures.h"
#include "cli/report_json.h"
#include "cli/terminal.h"
#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/base/clock.h"
#include "core/base/text.h"
#include "core/base/thread_pool.h"
#include "core/io/files.h"
#include "core/repair/repair_text.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"

namespace ril::cli {

namespace {

const char* kReportUsage =
    "Usage: rilmaton-cli report [--crlf | --json] [--no-loudness] [--no-times] [--svg DIR]\n"
    "                           [--recursive]\n"
    "                           [--files-from LIST [-0]] [--jobs N] [--threads N] FILE...\n"
    "\n"
    "Prints, for each FILE in turn, the report the main window shows after opening it.\n"
    "Lines end in LF; --crlf keeps CR LF as the report holds them. With several\n"
    "files, each report comes after a line \"== FILE\".\n"
    "\n"
    "  --json             one JSON object per FILE on a line of its own (NDJSON): every\n"
    "                     figure of the report unrounded, with peak and RMS in dBFS,\n"
    "                     the count of samples at full scale and the headroom factors\n"
    "  --no-loudness      leaves out the loudness measurement (integrated loudness,\n"
    "                     loudness range, true peak): only the peak statistics\n"
    "  --svg DIR          also writes the picture of each FILE's levels (the smallest\n"
    "                     and largest samples over time, full scale in red, the\n"
    "                     short-term loudness) as DIR/NAME.svg, NAME being the FILE's\n"
    "                     name without .wav\n"
    "  --no-times         leaves out the calculation time, so that two reports can be\n"
    "                     compared with diff\n"
    "  -r, --recursive    a directory stands for the *.wav files (any case) under it\n"
    "  --files-from LIST  also the paths in LIST, one a line (- reads standard input)\n"
    "  -0, --null         the paths in LIST end in a NUL byte, not a line break\n"
    "  -j, --jobs N       work on N files at once (default: one per processor); the\n"
    "                     output still comes in the order of the files\n"
    "  --threads N        N threads share the work on each file (default: the\n"
    "                     processors shared among the files worked on at once); the\n"
    "                     report is the same for any N\n"
    "\n"
    "Warnings (the lines the main window shows above the report) and errors go to\n"
    "stderr as \"warning: ...\" and \"error: ...\", with \"FILE: \" in front when more than\n"
    "one FILE is given. A file that cannot be read gets only its error; a file that\n"
    "cannot be analysed gets its report, which says why, and an error. With several\n"
    "files on a terminal, one line on stderr counts the files done.\n"
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
  RepairPlan repair;                     // what a repair would do

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

FileReport reportFile(const std::string& file, int threads, bool loudness, bool overview) {
  FileReport r;
  HeaderReading reading = readWavFile(realFileSystem(), file);
  r.header = reading.header;
  r.warnings = headerWarnings(r.header);
  r.text = headerReportLines(shownName(file), r.header, kLineBreak);
  r.error = headerProblem(r.header);
  if (r.header.ready()) {
    SilentProgress progress;
    r.result = analyseSamples(*reading.samples, r.header.format, r.header.layout, progress,
                              steadyClock(), '.', threads, loudness, overview);
    r.text += analysisReportLines(*r.result, r.header.format, ReportFormat{});
    r.error = analysisProblem(*r.result, r.header.format);
  }
  r.repair = planReportedRepair(realFileSystem(), file, r.header);
  r.text += repairReportLine(r.repair, kLineBreak);
  return r;
}

// Lines for stderr: "warning: ..." and "error: ...", after "FILE: " when
// several files are reported.
class Diagnostics {
 public:
  explicit Diagnostics(bool nameFiles) : nameFiles_(nameFiles) {}
  void print(const std::string& file, const char* kind, const std::string& text) const {
    const std::string prefix = nameFiles_ ? shownName(file) + ": " : std::string();
    std::fprintf(errStream(), "%s%s: %s\n", prefix.c_str(), kind,
                 withShownNames(text, {file}).c_str());
  }

 private:
  bool nameFiles_;
};

// The report without its "Calculation time" line, which differs from run to run.
std::string withoutTimeLine(std::string text) {
  const std::string lineBreak = kLineBreak;
  std::size_t at = text.rfind(lineBreak + "Calculation time = ");
  if (at == std::string::npos) return text;
  at += lineBreak.size();
  const std::size_t end = text.find(lineBreak, at);
  text.erase(at, end == std::string::npos ? std::string::npos : end + lineBreak.size() - at);
  return text;
}

struct TextChoice {
  bool crlf = false;
  bool json = false;
  bool noTimes = false;
  bool named = false;  // several files: each text report after a line "== FILE"
};

void printReport(const std::string& file, const FileReport& r, const TextChoice& choice,
                 const Diagnostics& diagnostics) {
  for (const std::string& line : r.warnings) diagnostics.print(file, "warning", line);
  if (choice.json) {
    const std::string line = reportJson(file, r.header, r.result ? &*r.result : nullptr, r.warnings,
                                        r.error, &r.repair) +
                             "\n";
    std::fwrite(line.data(), 1, line.size(), outStream());
  } else {
    std::string text;
    if (choice.named) text = "== " + shownName(file) + kLineBreak;
    if (r.readable()) text += choice.noTimes ? withoutTimeLine(r.text) : r.text;
    if (!choice.crlf) text = toUnixLines(text);
    std::fwrite(text.data(), 1, text.size(), outStream());
  }
  std::fflush(outStream());
  if (!r.analysed()) diagnostics.print(file, "error", r.error);
}

}  // namespace

int runReportCommand(int argc, char** argv) {
  TextChoice choice;
  bool& crlf = choice.crlf;
  bool& json = choice.json;
  bool noLoudness = false;
  std::string svgDir;
  int threads = 0;  // 0: the processors shared among the files at once
  FileSources sources;
  Arguments args("report");
  args.flag({"--crlf"}, crlf);
  args.flag({"--json"}, json);
  args.flag({"--no-loudness"}, noLoudness);
  args.option({"--svg"}, "a directory", [&](const std::string& value) {
    svgDir = value;
    return value.empty() ? std::string("--svg needs a directory") : std::string();
  });
  args.flag({"--no-times"}, choice.noTimes);
  args.threadsOption(threads);
  sources.addTo(args);
  if (const int status = args.parseOrExit(argc, argv, kReportUsage); status >= 0) return status;
  if (crlf && json) return args.usageError("--crlf and --json exclude each other");
  if (args.operands().empty() && sources.lists.empty()) {
    std::fputs(kReportUsage, stderr);
    return 2;
  }
  const FileList list = collectFiles(args.operands(), sources);
  for (const std::string& error : list.errors) std::fprintf(stderr, "error: %s\n", error.c_str());
  const std::vector<std::string>& files = list.files;
  if (files.empty()) {
    if (list.errors.empty()) std::fputs("rilmaton-cli report: no FILE found\n", stderr);
    return 1;
  }
  if (!svgDir.empty()) {
    if (std::string why = checkPictureDirectory(svgDir, files); !why.empty()) {
      return args.usageError(why);
    }
  }
  choice.named = files.size() > 1;
  const Diagnostics diagnostics(files.size() > 1 || sources.recursive || !sources.lists.empty());
  std::atomic<bool> closed{false};
  const unsigned jobs = sources.jobs ? sources.jobs : defaultJobs();
  if (threads == 0) threads = threadsPerFile(availableProcessors(), jobs, files.size());
  const std::vector<int> statuses = runEach(files.size(), jobs, true, [&](std::size_t i) {
    // Nobody reads the reports any more (a closed pipe): the rest is not worked on.
    if (closed || std::ferror(stdout)) {
      closed = true;
      return 1;
    }
    const FileReport r = reportFile(files[i], threads, !noLoudness, !svgDir.empty());
    printReport(files[i], r, choice, diagnostics);
    if (!svgDir.empty() && r.analysed() && r.result) {
      const std::string error =
          writeLevelPicture(picturePath(svgDir, files[i]), files[i], *r.result, r.header.format);
      if (!error.empty()) diagnostics.print(files[i], "error", error);
      if (!error.empty()) return 1;
    }
    return r.analysed() ? 0 : 1;
  });
  if (std::ferror(stdout)) return 1;
  const int status = combinedStatus(statuses);
  return list.errors.empty() ? status : std::max(status, 1);
}

}  // namespace ril::cli
