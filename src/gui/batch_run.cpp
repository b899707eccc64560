#include "gui/batch_run.h"

#include <cstdint>

#include "core/analysis/sample_statistics.h"
#include "core/wav/wav_header_reader.h"
#include "gui/file_selection_dialog.h"
#include "gui/main_window.h"
#include "gui/modification_dialog.h"

namespace ril {

namespace {

// Holds File, Open disabled and the hourglass up for the length of the run, and
// keeps a modification dialog left open from an earlier run from acting on the
// program state while the files are read; every way out restores them.
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

}  // namespace

bool currentFileCanBeModified(const ProgramState& state) {
  return state.headerStatus == HeaderStatus::kReady && state.framesInFile > 0;
}

void runBatch(AppContext& ctx) {
  if (ctx.selectionDialog) ctx.selectionDialog->unload();
  ProgramState& state = ctx.state;
  state.firstSelection = false;
  BatchScope scope(ctx);
  state.reportText.clear();

  const std::int16_t last = state.lastFileIndex;
  for (std::int16_t i = 0; i <= last; ++i) {
    ReadWavHeader(state, i, true, *ctx.fs, *ctx.mainWindow);
    const bool analysed =
        AnalyseSamples(state, *ctx.mainWindow, *ctx.clock, ctx.decimalSeparator) &&
        currentFileCanBeModified(state);
    if (analysed) {
      showModificationDialog(ctx);
    } else if (ctx.modificationDialog) {
      // A dialog from an earlier run would now act on this file.
      ctx.modificationDialog->unload();
    }
  }
}

}  // namespace ril
