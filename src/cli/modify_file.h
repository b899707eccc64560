// rilmaton-cli modify: the modification of one FILE, as the modification
// dialog's Modify does it, without windows.
#pragma once

#include <string>

#include "cli/modify_album.h"
#include "cli/modify_options.h"

namespace ril::cli {

// What one FILE's modification takes besides the user's options.
struct FileModification {
  std::string file;
  std::string output;  // --output, or FILE's name under --output-dir; empty for neither
  int analysisThreads = 1;
  int rewritingThreads = 1;  // beside the reader and the writer
  AlbumSetting album;        // with --album: what the album gives every file
};

// Modifies one FILE, its failures caught and said on the calling thread's
// stderr; returns the FILE's exit status.
int modifyFile(const ModifyOptions& options, const FileModification& job);

}  // namespace ril::cli
