#include "core/modify/joint_commit.h"

#include <new>
#include <set>

#include "core/base/errors.h"

namespace ril {

HeldOutput holdNewContents(FileSystem& fs, const std::string& path, std::string_view bytes) {
  clearOldName(fs, path);
  HeldOutput held;
  held.path = path;
  Placement& p = held.placement;
  p.inputPath = p.outputName = p.attributesFrom = path;
  p.inProgramDir = true;
  p.inputIdentity = fs.identify(path);
  held.file = fs.createNewFile(path);
  held.file->write(bytes.data(), bytes.size());
  held.file->takeAttributesOf(path);
  held.file->sync();
  return held;
}

namespace {

void checkOutputs(const std::vector<HeldOutput*>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const HeldOutput& o = *outputs[i];
    if (!o.file || o.placement.outputName != o.path) {
      throw RunError(kErrInternal, o.path + " is not held to take its own name");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (outputs[j]->path == o.path ||
          outputs[j]->placement.inputIdentity.sameFileAs(o.placement.inputIdentity)) {
        throw RunError(kErrInternal, o.path + " comes twice");
      }
    }
  }
}

// Puts every original back after a failure: the first `published` outputs
// have taken their names, so their originals take them back from P.old; the
// others never did, so P.old (or P's own absence) is undone as after a
// failed run. Returns the files it could not put back.
std::vector<std::string> undo(FileSystem& fs, const std::vector<HeldOutput*>& outputs,
                              std::size_t published) {
  std::vector<std::string> notRestored;
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    HeldOutput& o = *outputs[i];
    if (i < published) {
      try {
        fs.renameReplacing(o.path + ".old", o.path);
        o.placement.keptAsOld = KeptAsOld::kNo;
      } catch (...) {
        notRestored.push_back(o.path);
      }
    } else {
      o.file->discard();
      if (!restoreOriginal(fs, o.path, o.placement)) notRestored.push_back(o.path);
    }
  }
  return notRestored;
}

void syncDirectories(FileSystem& fs, const std::vector<HeldOutput*>& outputs) {
  std::set<std::string> dirs;
  for (const HeldOutput* o : outputs) dirs.insert(directoryOf(o->path));
  for (const std::string& dir : dirs) fs.syncDirectory(dir);
}

}  // namespace

JointPublish publishTogether(FileSystem& fs, std::vector<HeldOutput*> outputs) {
  JointPublish result;
  std::size_t published = 0;
  try {
    checkOutputs(outputs);
    for (HeldOutput* o : outputs) keepOriginalAsOld(fs, o->path, o->placement);
    for (; published < outputs.size(); ++published) outputs[published]->file->publish();
  } catch (const RunError& e) {
    result.errorNumber = e.number();
    result.errorDetail = e.detail();
    result.systemError = e.sysErrno();
  } catch (const std::bad_alloc&) {
    result.errorNumber = kErrOutOfMemory;
  } catch (...) {
    result.errorNumber = kErrInternal;
  }
  if (result.errorNumber != 0) {
    result.notRestored = undo(fs, outputs, published);
    try {
      syncDirectories(fs, outputs);
    } catch (const RunError&) {
      // The failure that undid the renames is the one reported.
    }
    return result;
  }
  for (HeldOutput* o : outputs) settleOriginal(fs, o->path, o->placement);
  result.done = true;
  try {
    syncDirectories(fs, outputs);
  } catch (const RunError& e) {
    result.errorNumber = e.number();
    result.errorDetail = e.detail();
    result.systemError = e.sysErrno();
  }
  return result;
}

}  // namespace ril
