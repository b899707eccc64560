// Where a modified file goes, the messages around it, and undoing a failed run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/base/host.h"
#include "core/io/files.h"
#include "core/modify/modification_engine.h"

namespace ril {

// Clusters a copy of `length` bytes needs on a drive with these figures:
// length / bytesPerSector / sectorsPerCluster + 0.5, rounded half to even.
// Throws RunError 11 when a figure is 0.
std::int64_t requiredClusters(std::uint64_t length, const DiskFree& free);

// Free bytes for the disk-space question: (sectorsPerCluster x bytesPerSector,
// which must fit a signed 32-bit value, else RunError 6) x freeClusters.
double availableBytes(const DiskFree& free);

Message diskSpaceQuestion(const std::string& appPath, std::uint64_t length, double available);
Message closingNotice(bool inProgramDir, const std::string& lineBreak);
// The one message of the failure path for error `number`; `path` is P.
Message failureMessage(int number, std::int64_t lastValue, const std::string& path);

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
void placeOutput(const PlacementRequest& request, FileSystem& fs, MessageHost& messages,
                 Placement& result);

// Undoes the placement after a failed or abandoned run: closes the input and
// renames P.old back to P. Never throws; false when the rename back failed.
bool restoreOriginal(FileSystem& fs, const std::string& path, Placement& placement);

// An output that carries its real name only once complete: written into a
// temporary file beside `target`, synced, then renamed over `target`.
class AtomicOutput {
 public:
  AtomicOutput(FileSystem& fs, std::string target);  // throws RunError
  ~AtomicOutput();                                   // abandons when not committed
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  OutputFile& file() { return *file_; }
  const std::string& temporaryPath() const { return tempPath_; }
  void commit();            // sync, close, rename over the target; throws RunError
  void abandon() noexcept;  // close and remove the temporary file

 private:
  FileSystem& fs_;
  std::string target_;
  std::string tempPath_;
  std::unique_ptr<OutputFile> file_;
  bool done_ = false;
};

}  // namespace ril
