#include "gui/batch_run.h"

#include <cstdint>

#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/base/thread_pool.h"
#include "core/cue/cue_notice.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"
#include "gui/file_selection_dialog.h"
#include "gui/main_window.h"
#include "gui/modification_dialog.h"

namespace ril {

namespace {

// Holds File, Open disabled and the hourglass up for the length of the run, and
// keeps a modification dialog left open from an earlier run from acting on the
// session while the files are read; every way out restores them.
class BatchScope {
 public:
  explicit BatchScope(AppContext& ctx) : ctx_(ctx), wasRunning_(ctx.batchRunning) {
    ctx_.batchRunning = true;
    if (ctx_.modificationDialog) ctx_.modificationDialog->setEnabled(false);
    if (ctx_.mainWindow) {
      ctx_.mainWindow->updateCommands();
      ctx_.mainWindow->setBusyPointer(true);
    }
  }
  ~BatchScope() {
    ctx_.batchRunning = wasRunning_;
    if (ctx_.modificationDialog) ctx_.modificationDialog->setEnabled(true);
    if (ctx_.mainWindow) {
      ctx_.mainWindow->setBusyPointer(false);
      ctx_.mainWindow->updateCommands();
    }
  }

 private:
  AppContext& ctx_;
  bool wasRunning_;
};

// Reads the header of file `index` into the session and shows its lines;
// returns the samples when the file can be analysed.
std::unique_ptr<ByteSource> readHeader(AppContext& ctx, std::size_t index) {
  Session& s = ctx.session;
  const std::string path = index < s.filePaths.size() ? s.filePaths[index] : std::string();
  HeaderReading reading = readWavFile(*ctx.fs, path);
  s.current = reading.header;
  ctx.mainWindow->clearFindings();
  for (const std::string& line : headerWarnings(s.current)) ctx.mainWindow->addFinding(line);
  if (!path.empty()) {
    for (const std::string& line : preEmphasisNotices(*ctx.fs, path)) {
      ctx.mainWindow->addFinding(line);
    }
  }
  s.reportText += headerReportLines(path, s.current, s.lineBreak);
  ctx.mainWindow->setReportText(s.reportText);
  ctx.mainWindow->repaintNow();
  return std::move(reading.samples);
}

// Analyses the current file, adds the lines to the report and keeps the
// peaks; true when every sample was read.
bool analyse(AppContext& ctx, ByteSource& samples) {
  Session& s = ctx.session;
  const AnalysisResult result =
      analyseSamples(samples, s.current.format, s.current.layout, *ctx.mainWindow, *ctx.clock,
                     ctx.decimalSeparator, availableProcessors());
  s.reportText += analysisReportLines(result, s.current.format,
                                      ReportFormat{s.lineBreak, ctx.decimalSeparator});
  ctx.mainWindow->setReportText(s.reportText);
  if (!result.complete()) return false;
  s.peakLevel[0] = result.peakValue[0];
  if (result.deemphasised) s.peakLevel[1] = result.peakValue[1];
  return true;
}

}  // namespace

void runBatch(AppContext& ctx) {
  if (ctx.selectionDialog) ctx.selectionDialog->unload();
  Session& s = ctx.session;
  s.firstSelection = false;
  BatchScope scope(ctx);
  s.reportText.clear();

  const std::int16_t last = s.lastFileIndex;
  for (std::int16_t i = 0; i <= last; ++i) {
    std::unique_ptr<ByteSource> samples = readHeader(ctx, static_cast<std::size_t>(i));
    bool analysed = false;
    if (samples) analysed = analyse(ctx, *samples) && s.current.hasFrames();
    samples.reset();
    if (analysed) {
      showModificationDialog(ctx);
    } else if (ctx.modificationDialog) {
      // A dialog from an earlier run would now act on this file.
      ctx.modificationDialog->unload();
    }
  }
}

void runBatchOn(AppContext& ctx, std::vector<std::string> paths, std::vector<std::string> names) {
  Session& s = ctx.session;
  s.lastFileIndex = static_cast<std::int16_t>(paths.size() - 1);
  s.filePaths = std::move(paths);
  s.fileNames = std::move(names);
  runBatch(ctx);
}

}  // namespace ril
