// New files that take their names together: a run over several files writes
// each new file completely first, and only then do names change, all of them
// or none.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/io/files.h"
#include "core/modify/output_placement.h"

namespace ril {

// A complete new file, synced and with its original's attributes, waiting to
// take the original's name P; the original is then kept as P.old. Dropped
// unpublished, it goes and leaves the original as it was.
struct HeldOutput {
  std::string path;  // P
  std::unique_ptr<NewFile> file;
  Placement placement;  // P as it was read (its identity), and how P.old came to be
};

// Holds `bytes` as the new contents of the file `path` (a small text: a cue
// sheet), with its attributes. Fails with RunError 58 when P.old exists.
HeldOutput holdNewContents(FileSystem& fs, const std::string& path, std::string_view bytes);

// How publishing ended. On failure every original holds its name and its
// contents again and no P.old made here is left, except for the files named
// in `notRestored`: putting those back failed too, and each of them holds its
// new contents with the original kept as P.old. When `done` comes with an
// error, every file has its new contents and its original as P.old, but the
// directories could not be flushed to disk.
struct JointPublish {
  bool done = false;
  int errorNumber = 0;
  std::string errorDetail;
  int systemError = 0;
  std::vector<std::string> notRestored;
};

// Gives every held output its original's name: first each original is kept
// as P.old (P keeping its name and contents meanwhile), then each new file
// takes its name, then the directories are flushed. A failing step undoes
// every step before it. Each output must take the name of its own original,
// and no file may come twice.
JointPublish publishTogether(FileSystem& fs, std::vector<HeldOutput*> outputs);

}  // namespace ril
