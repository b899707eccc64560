#include "gui/batch_run.h"

#include <QObject>
#include <exception>
#include <memory>

#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/base/thread_pool.h"
#include "core/cue/cue_notice.h"
#include "core/repair/repair_text.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"
#include "gui/background_pass.h"
#include "gui/file_selection_dialog.h"
#include "gui/main_window.h"
#include "gui/modification_dialog.h"
#include "gui/recent_files.h"

namespace ril {

namespace {

// One file read and analysed on the pass's thread. Everything here belongs to
// that thread until it has ended; the windows and the session are touched on
// the user-interface thread only.
struct FilePass {
  std::size_t index = 0;
  std::string path;
  WavHeader header;
  bool analysed = false;  // the analysis ran (completely or not)
  AnalysisResult result;
  std::string repairLine;     // the report's line on what a repair would mend
  std::string repairFinding;  // the same as a finding, for Repair…
};

// The run over the chosen files, one file after the other: the header read
// and the samples analysed off the user-interface thread, the report and the
// modification dialog updated on it. File, Open is disabled, a modification
// dialog left open is greyed out and the pointer is busy from start() until
// the last file is shown; the run then discards itself.
class BatchRun : public QObject {
 public:
  explicit BatchRun(AppContext& ctx) : ctx_(ctx), progress_(this) {
    QObject::connect(&progress_, &PassProgress::progressed, this,
                     [this](double, const QString& text) {
                       if (ctx_.mainWindow) ctx_.mainWindow->showProgress(text);
                     });
    QObject::connect(&progress_, &PassProgress::ended, this, [this] {
      if (ctx_.mainWindow) ctx_.mainWindow->showProgressDone();
    });
  }

  void start() {
    if (ctx_.selectionDialog) ctx_.selectionDialog->unload();
    Session& s = ctx_.session;
    s.firstSelection = false;
    s.reportText.clear();
    count_ = static_cast<std::size_t>(s.lastFileIndex + 1);
    ctx_.batchRunning = true;
    if (ctx_.modificationDialog) ctx_.modificationDialog->setEnabled(false);
    ctx_.mainWindow->updateCommands();
    ctx_.mainWindow->setBusyPointer(true);
    readNext();
  }

 private:
  void readNext() {
    if (next_ >= count_) {
      finish();
      return;
    }
    auto pass = std::make_shared<FilePass>();
    pass->index = next_++;
    const Session& s = ctx_.session;
    if (pass->index < s.filePaths.size()) pass->path = s.filePaths[pass->index];
    runOffThread(
        this,
        [this, pass, &fs = *ctx_.fs, &clock = *ctx_.clock, separator = ctx_.decimalSeparator,
         lineBreak = s.lineBreak] {
          readAndAnalyse(*pass, fs, clock, separator);
          findRepair(*pass, fs, lineBreak);
        },
        [this, pass] {
          showAnalysis(*pass);
          readNext();
        });
  }

  // On the pass's thread: the header is shown as soon as it is read, the
  // analysis follows.
  void readAndAnalyse(FilePass& pass, FileSystem& fs, Clock& clock, char separator) {
    try {
      HeaderReading reading = readWavFile(fs, pass.path);
      pass.header = reading.header;
      std::vector<std::string> notices;
      if (!pass.path.empty()) notices = preEmphasisNotices(fs, pass.path);
      QMetaObject::invokeMethod(
          this,
          [this, index = pass.index, path = pass.path, header = pass.header,
           notices = std::move(notices)] { showHeader(index, path, header, notices); },
          Qt::QueuedConnection);
      if (!reading.samples) return;
      pass.result = analyseSamples(*reading.samples, pass.header.format, pass.header.layout,
                                   progress_, clock, separator, availableProcessors());
      pass.analysed = true;
    } catch (const std::exception&) {
      // Out of memory and the like: the file is reported without its analysis.
      pass.analysed = false;
    }
  }

  // On the pass's thread, after the analysis: the plan a repair would carry
  // out, read from the header and the file's end.
  static void findRepair(FilePass& pass, FileSystem& fs, const std::string& lineBreak) {
    if (pass.path.empty()) return;
    try {
      const RepairPlan plan = planReportedRepair(fs, pass.path, pass.header);
      pass.repairLine = repairReportLine(plan, lineBreak);
      if (!pass.repairLine.empty()) pass.repairFinding = plan.finding + ".";
    } catch (const std::exception&) {
      pass.repairLine.clear();  // no line rather than a guess
      pass.repairFinding.clear();
    }
  }

  // The header's lines in the report, its findings above it.
  void showHeader(std::size_t index, const std::string& path, const WavHeader& header,
                  const std::vector<std::string>& notices) {
    Session& s = ctx_.session;
    s.current = header;
    s.currentIndex = index;
    s.loudness.reset();
    if (!ctx_.mainWindow) return;  // the program is ending
    MainWindow& window = *ctx_.mainWindow;
    window.clearFindings();
    window.clearLevels();
    for (const std::string& line : headerWarnings(header)) window.addFinding(line);
    for (const std::string& line : notices) window.addFinding(line);
    // The reports of several files read together stand a blank line apart.
    if (index > 0) s.reportText += s.lineBreak;
    s.reportText += headerReportLines(path, header, s.lineBreak);
    window.setReportText(s.reportText);
    if (ctx_.recentFiles && header.status != HeaderStatus::kUnreadable) {
      ctx_.recentFiles->add(path);
    }
  }

  // The analysis' lines and peaks; the modification dialog for a file whose
  // every sample was read.
  void showAnalysis(const FilePass& pass) {
    Session& s = ctx_.session;
    bool offered = false;
    if (pass.analysed) {
      s.reportText += analysisReportLines(pass.result, pass.header.format,
                                          ReportFormat{s.lineBreak, ctx_.decimalSeparator});
      if (ctx_.mainWindow) ctx_.mainWindow->setReportText(s.reportText);
      if (pass.result.complete()) {
        if (ctx_.mainWindow) {
          ctx_.mainWindow->showLevels(pass.result, pass.header.format.sampleRate, pass.path);
        }
        s.peakLevel[0] = pass.result.peakValue[0];
        if (pass.result.deemphasised) s.peakLevel[1] = pass.result.peakValue[1];
        s.loudness = pass.result.loudness;
        offered = s.current.hasFrames();
      }
    }
    if (!pass.repairLine.empty()) {
      s.reportText += pass.repairLine;
      if (ctx_.mainWindow) {
        ctx_.mainWindow->setReportText(s.reportText);
        ctx_.mainWindow->offerRepair(pass.repairFinding);
      }
    }
    if (offered && ctx_.mainWindow) {
      // Greyed out until the run is over, like a dialog left open before it.
      showModificationDialog(ctx_)->setEnabled(false);
    } else if (ctx_.modificationDialog) {
      // A dialog from an earlier file would now act on this one.
      ctx_.modificationDialog->unload();
    }
  }

  void finish() {
    ctx_.batchRunning = false;
    if (ctx_.modificationDialog) ctx_.modificationDialog->setEnabled(true);
    if (ctx_.mainWindow) {
      ctx_.mainWindow->setBusyPointer(false);
      ctx_.mainWindow->updateCommands();
    }
    deleteLater();
  }

  AppContext& ctx_;
  PassProgress progress_;
  std::size_t count_ = 0;
  std::size_t next_ = 0;
};

}  // namespace

namespace {

bool canRunBatch(const AppContext& ctx) {
  return !ctx.batchRunning && !ctx.modifyRunning && ctx.mainWindow && ctx.fs && ctx.clock;
}

}  // namespace

void runBatch(AppContext& ctx) {
  if (!canRunBatch(ctx)) return;
  (new BatchRun(ctx))->start();
}

void runBatchOn(AppContext& ctx, std::vector<std::string> paths, std::vector<std::string> names) {
  if (paths.empty() || !canRunBatch(ctx)) return;
  // The file lists are counted in 16 bits.
  constexpr std::size_t kMostFiles = 32767;
  if (paths.size() > kMostFiles) paths.resize(kMostFiles);
  names.resize(paths.size());
  Session& s = ctx.session;
  s.lastFileIndex = static_cast<std::int16_t>(paths.size() - 1);
  s.filePaths = std::move(paths);
  s.fileNames = std::move(names);
  runBatch(ctx);
}

}  // namespace ril
