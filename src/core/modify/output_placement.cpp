#include "core/modify/output_placement.h"

#include <climits>
#include <cmath>

#include "core/base/errors.h"
#include "core/modify/modify_messages.h"

namespace ril {

std::int64_t requiredClusters(std::uint64_t length, const DiskFree& free) {
  if (free.bytesPerSector == 0 || free.sectorsPerCluster == 0) {
    throw RunError(kErrDivisionByZero, "free-space figures of the program directory");
  }
  double quotient = static_cast<double>(length) / static_cast<double>(free.bytesPerSector) /
                    static_cast<double>(free.sectorsPerCluster);
  // The default rounding mode rounds halves to the even neighbour.
  return static_cast<std::int64_t>(std::nearbyint(quotient + 0.5));
}

double availableBytes(const DiskFree& free) {
  std::int64_t clusterBytes = free.sectorsPerCluster * free.bytesPerSector;
  if (clusterBytes > INT32_MAX || clusterBytes < INT32_MIN) {
    throw RunError(kErrOverflow, "cluster size of the program directory's drive");
  }
  return static_cast<double>(clusterBytes) * static_cast<double>(free.freeClusters);
}

void placeOutput(const PlacementRequest& request, FileSystem& fs, MessageSink& messages,
                 Placement& result) {
  const std::string& path = request.path;
  switch (request.mode) {
    case PlacementMode::kExplicitOutput:
      result.inputPath = path;
      result.outputName = request.explicitOutput;
      result.inProgramDir = false;
      result.input = fs.openRead(path);
      return;
    case PlacementMode::kInPlace:
      result.inputPath = path;
      result.outputName = path;
      result.inPlace = true;
      result.input = fs.openRead(path);
      return;
    case PlacementMode::kProgramDirectory:
      break;
  }

  DiskFree free = fs.freeSpace(request.appPath);
  std::uint64_t length = fs.fileLength(path);
  std::int64_t required = requiredClusters(length, free);
  if (free.freeClusters >= required) {
    std::string old = path + ".old";
    fs.renameNoReplace(path, old);
    result.renamedToOld = true;
    result.inputPath = old;
    result.input = fs.openRead(old);
    result.outputName = request.appPath + request.bareName;
    result.inProgramDir = true;
    return;
  }
  double available = availableBytes(free);
  if (messages.show(diskSpaceQuestion(request.appPath, length, available)) == Answer::kYes) {
    result.inputPath = path;
    result.outputName = path;
    result.inPlace = true;
    result.input = fs.openRead(path);
  } else {
    result.declined = true;
  }
}

bool restoreOriginal(FileSystem& fs, const std::string& path, Placement& placement) {
  if (placement.input) placement.input->close();
  if (!placement.renamedToOld) return true;
  try {
    fs.renameNoReplace(path + ".old", path);
  } catch (...) {
    return false;
  }
  placement.renamedToOld = false;
  return true;
}

}  // namespace ril
