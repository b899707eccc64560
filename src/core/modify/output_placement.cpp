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

OutputTarget resolveOutput(FileSystem& fs, const std::string& path) {
  if (path == "-") return {std::string(), OutputRoute::kStandardOutput};
  const std::string resolved = fs.resolveLinks(path);
  const FileKind kind = fs.identify(resolved).kind;
  if (kind == FileKind::kDevice || kind == FileKind::kFifo || kind == FileKind::kOther) {
    return {resolved, OutputRoute::kDirect};
  }
  return {resolved, OutputRoute::kNewFile};
}

bool removeStaleOld(FileSystem& fs, const std::string& path, MessageSink* messages) {
  const std::string old = path + ".old";
  if (!fs.exists(old) || !fs.identify(old).sameFileAs(fs.identify(path))) return false;
  fs.remove(old);
  if (fs.exists(old)) return false;
  if (messages) messages->show(staleOldNotice(path));
  return true;
}

namespace {

void placeExplicitOutput(const PlacementRequest& request, FileSystem& fs, Placement& result) {
  const OutputTarget target = resolveOutput(fs, request.explicitOutput);
  result.outputName = target.path;
  result.route = target.route;
  if (target.route == OutputRoute::kNewFile) {
    const FileKind kind = fs.identify(target.path).kind;
    if (kind == FileKind::kDirectory) {
      throw RunError(kErrPathFileAccess, request.explicitOutput + " is a directory");
    }
    // A file that is replaced passes its own attributes on.
    if (kind == FileKind::kRegular) result.attributesFrom = target.path;
  }
  result.input = fs.openRead(request.path);
}

// The checks of the program-directory placement before anything is written:
// no P.old (but a stale one goes), and no other file of the output's name.
void checkProgramDirectory(const PlacementRequest& request, FileSystem& fs, MessageSink& messages,
                           const std::string& output) {
  const std::string old = request.path + ".old";
  if (fs.exists(old) && !removeStaleOld(fs, request.path, &messages)) {
    throw RunError(kErrFileExists, old);
  }
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
      placeExplicitOutput(request, fs, result);
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

void keepOriginalAsOld(FileSystem& fs, const std::string& path, Placement& placement) {
  if (!fs.identify(path).sameFileAs(placement.inputIdentity)) {
    throw RunError(kErrFileNotFound, path + " changed while it was read");
  }
  const std::string old = path + ".old";
  if (fs.linkNoReplace(path, old)) {
    placement.keptAsOld = KeptAsOld::kLinked;
  } else {
    fs.renameNoReplace(path, old);
    placement.keptAsOld = KeptAsOld::kRenamed;
  }
}

void settleOriginal(FileSystem& fs, const std::string& path, Placement& placement) {
  // Where the output took P's own name, P is the new file already.
  if (placement.keptAsOld == KeptAsOld::kLinked &&
      fs.identify(path).sameFileAs(fs.identify(path + ".old"))) {
    fs.remove(path);
  }
  placement.keptAsOld = KeptAsOld::kNo;
}

bool restoreOriginal(FileSystem& fs, const std::string& path, Placement& placement) {
  if (placement.input) placement.input->close();
  const std::string old = path + ".old";
  try {
    switch (placement.keptAsOld) {
      case KeptAsOld::kNo:
        return true;
      case KeptAsOld::kLinked:
        if (fs.identify(path).sameFileAs(fs.identify(old))) {
          fs.remove(old);
          break;
        }
        // P has gone meanwhile: the original takes its name back if it is free.
        [[fallthrough]];
      case KeptAsOld::kRenamed:
        fs.renameNoReplace(old, path);
        break;
    }
  } catch (...) {
    return false;
  }
  placement.keptAsOld = KeptAsOld::kNo;
  return true;
}

}  // namespace ril
