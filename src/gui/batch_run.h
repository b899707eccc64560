// The batch run: takes the chosen files through reading, analysis and the
// modification dialog.
#pragma once

#include <string>
#include <vector>

#include "gui/app_context.h"

namespace ril {

// Runs after the selection dialog's OK has stored filePaths, fileNames and
// lastFileIndex: unloads the selection dialog, then reads and analyses each
// file and offers the modification dialog for it. A file that could not be
// analysed stays in the report and is not offered for modification. File, Open
// is disabled while the run is in progress.
void runBatch(AppContext& ctx);

// Stores the chosen files (full paths and the names as listed) in the session
// and runs the batch over them: what the selection dialog's OK does, and a
// file dropped onto the main window.
void runBatchOn(AppContext& ctx, std::vector<std::string> paths, std::vector<std::string> names);

}  // namespace ril
