// Where a modified file goes (the steps it shares with every output are in
// core/io/safe_outputs.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/base/host.h"
#include "core/io/files.h"
#include "core/io/safe_outputs.h"
#include "core/modify/modification_run.h"

namespace ril {

// Clusters a copy of `length` bytes needs on a drive with these figures:
// length / bytesPerSector / sectorsPerCluster + 0.5, rounded half to even.
// Throws RunError 11 when a figure is 0.
std::int64_t requiredClusters(std::uint64_t length, const DiskFree& free);

// Free bytes for the disk-space question: (sectorsPerCluster x bytesPerSector,
// which must fit a signed 32-bit value, else RunError 6) x freeClusters.
double availableBytes(const DiskFree& free);

struct PlacementRequest {
  std::string path;      // P
  std::string bareName;  // its name as listed
  std::string appPath;   // program directory, ending in "/"
  PlacementMode mode = PlacementMode::kProgramDirectory;
  std::string explicitOutput;  // PlacementMode::kExplicitOutput
  // kProgramDirectory: whether the user is asked to overwrite P in place when
  // the drive lacks the space for a copy; otherwise that fails with 61.
  bool mayOverwrite = true;
  bool inputLocked = false;  // the caller holds lockForRun(P) already
};

// The placement step: where the output goes, and the input opened and locked
// against other runs. Nothing is renamed here. In the program directory,
// P.old existing already fails with RunError 58, and so does a file of the
// output's name there other than P (no result is replaced). Fills `result`
// as it goes.
void placeOutput(const PlacementRequest& request, FileSystem& fs, MessageSink& messages,
                 Placement& result);

}  // namespace ril
