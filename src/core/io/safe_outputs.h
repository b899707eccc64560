// The steps every run that writes a file takes to do so safely: where an
// explicit output leads (links followed only as the kernel's protection
// would), the input opened and locked against other runs, the original kept
// as P.old and given its name back after a failure.
#pragma once

#include <memory>
#include <string>

#include "core/io/files.h"

namespace ril {

// How an output is written.
enum class OutputRoute {
  kNewFile,         // a new file that takes the target's name once complete
  kDirect,          // a device or a pipe: written where it is
  kStandardOutput,  // the process's standard output
};

struct OutputTarget {
  std::string path;  // the file written; empty for standard output
  OutputRoute route = OutputRoute::kNewFile;
};

// Where an explicit output named `path` leads: "-" is standard output; a
// symbolic link leads to the file it names, which is replaced while the link
// stays, but only where the kernel's protection of sticky world-writable
// directories would follow it (else RefusedLink); what it leads to decides
// the route: a regular file, or none, is replaced by a new file; devices and
// pipes are written where they are, never renamed or replaced.
OutputTarget resolveOutput(FileSystem& fs, const std::string& path);

// Removes P.old when it is a second name of P itself: the mark of a run
// killed between keeping the original and naming the output. True when it
// did.
bool removeStaleOld(FileSystem& fs, const std::string& path);

// Makes sure P.old is free before a run keeps the original under that name:
// a stale one (see removeStaleOld) goes, and true says so; any other file of
// that name fails with RunError 58.
bool clearOldName(FileSystem& fs, const std::string& path);

// How the original came to be P.old at the end of a run.
enum class KeptAsOld {
  kNo,
  kLinked,   // P.old is a second name of P (P itself goes once the output has its name)
  kRenamed,  // P was renamed (a file system without hard links)
};

struct Placement {
  bool declined = false;
  std::string outputName;  // the file written
  OutputRoute route = OutputRoute::kNewFile;
  // A new file in the program directory (or beside P): P is kept as P.old.
  bool inProgramDir = false;
  bool inPlace = false;
  std::string inputPath;  // P
  std::unique_ptr<InputFile> input;
  FileIdentity inputIdentity;  // P as it was opened
  // Whose permission bits, owner and extended attributes a new file takes.
  std::string attributesFrom;
  KeptAsOld keptAsOld = KeptAsOld::kNo;  // a failed run undoes it
  // Whether the new file may replace a file of its name: P itself, or an
  // explicit output; never another file in the program directory.
  bool replacesOutput = true;
  std::shared_ptr<FileLock> lock;  // keeps other runs off P until the run ends
};

// The placement of an output written to `explicitOutput` (see
// resolveOutput): the route, the attributes a replaced regular file passes
// on, and P (`path`) opened for reading. A directory fails with RunError 75.
void placeExplicitOutput(FileSystem& fs, const std::string& path, const std::string& explicitOutput,
                         Placement& result);

// Keeps the original as P.old, never replacing a file of that name (RunError
// 58): as a second name of P where the file system has hard links, so that P
// keeps its name until the output takes it; renamed otherwise. A file that is
// no longer the one the run read (moved, deleted or replaced meanwhile) fails
// with RunError 53 and is left alone.
void keepOriginalAsOld(FileSystem& fs, const std::string& path, Placement& placement);

// After the output has taken its name: P's own name goes when the output went
// elsewhere (the original stays as P.old). Nothing is undone after this.
void settleOriginal(FileSystem& fs, const std::string& path, Placement& placement);

// Undoes the placement after a failed or abandoned run: closes the input and
// gives the original back its name. Never throws; false when it could not
// (P.old then still holds the original).
bool restoreOriginal(FileSystem& fs, const std::string& path, Placement& placement);

}  // namespace ril
