// The batch run: takes the chosen files through reading, analysis and the
// modification dialog.
#pragma once

#include "gui/app_context.h"

namespace ril {

// Runs after the selection dialog's OK has stored filePaths, fileNames and
// lastFileIndex: unloads the selection dialog, then reads and analyses each
// file and offers the modification dialog for it. A file that could not be
// analysed stays in the report and is not offered for modification. File, Open
// is disabled while the run is in progress.
void runBatch(AppContext& ctx);

}  // namespace ril
