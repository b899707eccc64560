// Where a modified file goes, and undoing that for a failed run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/base/host.h"
#include "core/io/files.h"
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
};

struct Placement {
  bool declined = false;
  std::string outputName;
  bool inProgramDir = false;
  bool inPlace = false;
  std::string inputPath;  // P.old or P
  std::unique_ptr<InputFile> input;
  bool renamedToOld = false;  // P is now P.old; a failed run renames it back
};

// The placement step. Fills `result` as it goes, so that a RunError thrown
// half-way leaves in it what must be undone (see restoreOriginal).
void placeOutput(const PlacementRequest& request, FileSystem& fs, MessageSink& messages,
                 Placement& result);

// Undoes the placement after a failed or abandoned run: closes the input and
// renames P.old back to P. Never throws; false when the rename back failed.
bool restoreOriginal(FileSystem& fs, const std::string& path, Placement& placement);

}  // namespace ril
