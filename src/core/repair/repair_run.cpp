#include "core/repair/repair_run.h"

#include <algorithm>
#include <new>

#include "core/base/errors.h"
#include "core/base/number_format.h"
#include "core/io/safe_outputs.h"

namespace ril {

namespace {

// The copy goes in stretches of this size, between which progress is shown
// and a stop request is heard.
constexpr std::uint64_t kStretch = std::uint64_t{64} << 20;

struct Stopped {};

void noteFailure(RepairResult& result, const RunError& e) {
  result.outcome = RepairOutcome::kFailed;
  result.errorNumber = e.number();
  result.errorDetail = e.detail();
  result.systemError = e.sysErrno();
}

// The repaired file written anew: the plan's header, the file's header
// bytes with the changes written over them, then the rest copied as it is.
class RepairCopy {
 public:
  RepairCopy(const std::string& path, const RepairPlan& plan, RepairServices& services)
      : path_(path), plan_(plan), sv_(services) {}

  void run(RepairResult& result) {
    try {
      place(result);
      result.outputName = placement_.outputName;
      write();
      commit(result);
      result.keptAsOld = placement_.inProgramDir;
      result.outcome = RepairOutcome::kRepaired;
      return;
    } catch (const Stopped&) {
      result.outcome = RepairOutcome::kStopped;
    } catch (const RunError& e) {
      noteFailure(result, e);
    } catch (const std::bad_alloc&) {
      result.outcome = RepairOutcome::kFailed;
      result.errorNumber = kErrOutOfMemory;
    }
    if (result.committed) {
      result.keptAsOld = placement_.inProgramDir;
      if (placement_.input) placement_.input->close();
    } else {
      undo();
    }
  }

 private:
  // Beside P (P.old must be free, or stale from a killed run), or where
  // `output` leads. Nothing is renamed here.
  void place(RepairResult& result) {
    placement_.inputPath = path_;
    placement_.attributesFrom = path_;
    if (sv_.placement == RepairPlacement::kExplicitOutput) {
      placeExplicitOutput(sv_.fs, path_, sv_.output, placement_);
      if (placement_.route != OutputRoute::kStandardOutput &&
          sv_.fs.identify(placement_.outputName).sameFileAs(sv_.fs.identify(path_))) {
        throw RunError(kErrFileExists, placement_.outputName + " is the file to be repaired");
      }
      return;
    }
    result.staleOldRemoved = clearOldName(sv_.fs, path_);
    placement_.input = sv_.fs.openRead(path_);
    placement_.inputIdentity = sv_.fs.identify(path_);
    placement_.outputName = path_;
    placement_.inProgramDir = true;
  }

  OutputFile& open() {
    switch (placement_.route) {
      case OutputRoute::kNewFile:
        newFile_ = sv_.fs.createNewFile(placement_.outputName);
        return *newFile_;
      case OutputRoute::kDirect:
        plain_ = sv_.fs.openWrite(placement_.outputName, WriteMode::kDirect);
        return *plain_;
      case OutputRoute::kStandardOutput:
        break;
    }
    plain_ = sv_.fs.openStandardOutput();
    return *plain_;
  }

  void write() {
    OutputFile& out = open();
    out.write(plan_.header.data(), plan_.header.size());
    InputFile& in = *placement_.input;
    // The original's bytes from sourceOffset up to the end of the last
    // change there: read, changed and written; the rest is copied.
    const std::uint64_t shift = plan_.header.size();
    std::uint64_t headEnd = plan_.sourceOffset;
    for (const FieldChange& c : plan_.changes) {
      if (c.offset >= shift)
        headEnd = std::max(headEnd, c.offset + c.bytes.size() - shift + plan_.sourceOffset);
    }
    if (in.skip(plan_.sourceOffset) != plan_.sourceOffset) throw RunError(kErrInputPastEnd, path_);
    std::vector<unsigned char> head(static_cast<std::size_t>(headEnd - plan_.sourceOffset));
    if (in.read(head.data(), head.size()) != head.size()) throw RunError(kErrInputPastEnd, path_);
    for (const FieldChange& c : plan_.changes) {
      if (c.offset < shift) continue;
      std::copy(c.bytes.begin(), c.bytes.end(),
                head.begin() + static_cast<std::ptrdiff_t>(c.offset - shift));
    }
    out.write(head.data(), head.size());
    copyRest(in, out, plan_.fileLength - headEnd);
    in.close();
  }

  void copyRest(InputFile& in, OutputFile& out, std::uint64_t rest) {
    std::uint64_t done = 0;
    while (done < rest) {
      const double fraction = static_cast<double>(done) / static_cast<double>(rest);
      sv_.progress.progress(fraction, "Progress " + formatNumber(fraction, "0%"));
      sv_.progress.yield();
      checkStop();
      const std::uint64_t want = std::min(kStretch, rest - done);
      if (out.copyFrom(in, want) != want) throw RunError(kErrInputPastEnd, path_);
      done += want;
    }
    // Bytes beyond the planned length: the file grew meanwhile.
    unsigned char extra;
    if (in.read(&extra, 1) != 0)
      throw RunError(kErrFileNotFound, path_ + " changed while it was read");
    sv_.progress.progressDone({});
  }

  // Complete and on disk first; then the original is kept as P.old and the
  // repaired file takes its name, and the directory is flushed.
  void commit(RepairResult& result) {
    if (!newFile_) {
      plain_->sync();
      plain_->close();
      return;
    }
    newFile_->takeAttributesOf(placement_.attributesFrom);
    newFile_->sync();
    checkStop();
    if (placement_.inProgramDir) keepOriginalAsOld(sv_.fs, path_, placement_);
    if (placement_.replacesOutput) {
      newFile_->publish();
    } else {
      newFile_->publishWithoutReplacing();
    }
    // From here on nothing is undone: a failure says where the files are.
    result.committed = true;
    settleOriginal(sv_.fs, path_, placement_);
    sv_.fs.syncDirectory(directoryOf(placement_.outputName));
  }

  void undo() noexcept {
    if (newFile_) newFile_->discard();
    if (plain_) {
      try {
        plain_->close();
      } catch (...) {
      }
    }
    restoreOriginal(sv_.fs, path_, placement_);
  }

  void checkStop() {
    if (sv_.stop.stop_requested()) throw Stopped{};
  }

  const std::string& path_;
  const RepairPlan& plan_;
  RepairServices& sv_;
  Placement placement_;
  std::unique_ptr<NewFile> newFile_;
  std::unique_ptr<OutputFile> plain_;
};

// The changed fields written into the file itself, each in one write.
void repairInPlace(const std::string& path, const RepairPlan& plan, RepairServices& sv,
                   RepairResult& result) {
  result.outputName = path;
  try {
    std::unique_ptr<OutputFile> out = sv.fs.openWrite(path, WriteMode::kExisting);
    for (const FieldChange& c : plan.changes) {
      out->writeAt(c.offset, c.bytes.data(), c.bytes.size());
      result.partlyWritten = true;
    }
    out->sync();
    out->close();
    result.outcome = RepairOutcome::kRepaired;
    result.partlyWritten = false;
  } catch (const RunError& e) {
    noteFailure(result, e);
  }
}

RepairResult refused(std::string code, std::string why) {
  RepairResult r;
  r.outcome = RepairOutcome::kRefused;
  r.refusal = std::move(why);
  r.refusalCode = std::move(code);
  return r;
}

}  // namespace

RepairResult applyRepair(const std::string& path, const RepairPlan& plan,
                         RepairServices& services) {
  if (plan.verdict == RepairVerdict::kRefused) return refused(plan.refusalCode, plan.refusal);
  if (plan.verdict == RepairVerdict::kNothingToRepair)
    return refused("nothing-to-repair", "there is nothing to repair");
  const bool inPlace = services.placement == RepairPlacement::kInPlace;
  if (inPlace && plan.insertsBytes()) {
    return refused("in-place-insert", "an in-place repair cannot insert bytes: " + plan.insertion);
  }
  RepairResult result;
  // No other run may change the file from here to the end.
  std::unique_ptr<FileLock> lock;
  try {
    if (!services.inputLocked) lock = services.fs.lockForRun(path);
  } catch (const RunError& e) {
    noteFailure(result, e);
    return result;
  }
  const RepairPlan now = planFileRepair(services.fs, path, plan.options);
  if (now != plan) {
    if (now.verdict == RepairVerdict::kRefused && !now.refusal.empty()) {
      return refused(now.refusalCode, now.refusal);
    }
    return refused("changed", "the file has changed since the repair was planned");
  }
  if (inPlace) {
    repairInPlace(path, plan, services, result);
  } else {
    RepairCopy(path, plan, services).run(result);
  }
  return result;
}

}  // namespace ril
