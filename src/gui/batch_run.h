// The batch run: takes the chosen files through reading, analysis and the
// modification dialog.
#pragma once

#include <string>
#include <vector>

#include "gui/app_context.h"

namespace ril {

// Starts the run after the selection dialog's OK has stored filePaths,
// fileNames and lastFileIndex, and returns at once: unloads the selection
// dialog, then reads and analyses each file on a thread of its own, showing
// its report as it comes, and offers the modification dialog for it. A file
// that could not be analysed stays in the report and is not offered for
// modification. While the run is in progress (ctx.batchRunning) File, Open is
// disabled and no second run starts.
void runBatch(AppContext& ctx);

// Stores the chosen files (full paths and the names as listed) in the session
// and runs the batch over them: what the selection dialog's OK does, files
// dropped onto the main window, and files named on the command line.
void runBatchOn(AppContext& ctx, std::vector<std::string> paths, std::vector<std::string> names);

}  // namespace ril
