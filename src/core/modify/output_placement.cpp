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

namespace {

// The checks of the program-directory placement before anything is written:
// no P.old (but a stale one goes), and no other file of the output's name.
void checkProgramDirectory(const PlacementRequest& request, FileSystem& fs, MessageSink& messages,
                           const std::string& output) {
  if (clearOldName(fs, request.path)) messages.show(staleOldNotice(request.path));
  if (fs.exists(output) && !fs.identify(output).sameFileAs(fs.identify(request.path))) {
    throw RunError(kErrFileExists, output);
  }
}

}  // namespace

void placeOutput(const PlacementRequest& request, FileSystem& fs, MessageSink& messages,
                 Placement& result) {
  const std::string& path = request.path;
  result.inputPath = path;
  result.attributesFrom = path;
  if (!request.inputLocked) result.lock = fs.lockForRun(path);
  switch (request.mode) {
    case PlacementMode::kExplicitOutput:
      placeExplicitOutput(fs, path, request.explicitOutput, result);
      return;
    case PlacementMode::kInPlace:
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
    const std::string output = request.appPath + request.bareName;
    checkProgramDirectory(request, fs, messages, output);
    result.input = fs.openRead(path);
    result.inputIdentity = fs.identify(path);
    result.outputName = output;
    result.inProgramDir = true;
    result.replacesOutput = fs.identify(output).sameFileAs(result.inputIdentity);
    return;
  }
  double available = availableBytes(free);
  if (!request.mayOverwrite) {
    throw RunError(kErrDiskFull, "no room for a copy of " + path + " in " + request.appPath);
  }
  if (messages.show(diskSpaceQuestion(request.appPath, length, available)) == Answer::kYes) {
    result.outputName = path;
    result.inPlace = true;
    result.input = fs.openRead(path);
  } else {
    result.declined = true;
  }
}

}  // namespace ril
