#include "core/io/safe_outputs.h"

#include "core/base/errors.h"

namespace ril {

OutputTarget resolveOutput(FileSystem& fs, const std::string& path) {
  if (path == "-") return {std::string(), OutputRoute::kStandardOutput};
  const std::string resolved = fs.resolveLinks(path);
  const FileKind kind = fs.identify(resolved).kind;
  if (kind == FileKind::kDevice || kind == FileKind::kFifo || kind == FileKind::kOther) {
    return {resolved, OutputRoute::kDirect};
  }
  return {resolved, OutputRoute::kNewFile};
}

bool removeStaleOld(FileSystem& fs, const std::string& path) {
  const std::string old = path + ".old";
  if (!fs.exists(old) || !fs.identify(old).sameFileAs(fs.identify(path))) return false;
  fs.remove(old);
  return !fs.exists(old);
}

bool clearOldName(FileSystem& fs, const std::string& path) {
  const std::string old = path + ".old";
  if (!fs.exists(old)) return false;
  if (!removeStaleOld(fs, path)) throw RunError(kErrFileExists, old);
  return true;
}

void placeExplicitOutput(FileSystem& fs, const std::string& path, const std::string& explicitOutput,
                         Placement& result) {
  const OutputTarget target = resolveOutput(fs, explicitOutput);
  result.outputName = target.path;
  result.route = target.route;
  if (target.route == OutputRoute::kNewFile) {
    const FileKind kind = fs.identify(target.path).kind;
    if (kind == FileKind::kDirectory) {
      throw RunError(kErrPathFileAccess, explicitOutput + " is a directory");
    }
    // A file that is replaced passes its own attributes on.
    if (kind == FileKind::kRegular) result.attributesFrom = target.path;
  }
  result.input = fs.openRead(path);
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
