// Carrying out a repair plan: the repaired file written complete beside the
// original and then given its name, written where asked, or the changed
// header fields rewritten in the file itself.
#pragma once

#include <stop_token>
#include <string>

#include "core/base/host.h"
#include "core/io/files.h"
#include "core/repair/repair_plan.h"

namespace ril {

enum class RepairPlacement {
  // The repaired file is written beside P, complete and flushed; then P is
  // kept as P.old and the repaired file takes P's name and attributes.
  kBesideOriginal,
  // Written to `output` ("-" is standard output, see resolveOutput in
  // core/io/safe_outputs.h); P stays.
  kExplicitOutput,
  // The changed fields are written into P, each in one write, then flushed.
  // A plan that inserts bytes is refused.
  kInPlace,
};

struct RepairServices {
  FileSystem& fs;
  ProgressSink& progress;  // the copy's progress ("Progress 44%")
  // Looked at between stretches of the copy and once more before the names
  // change: a stop ends the repair with P as it was and nothing left behind.
  // An in-place repair, a few writes long, is never stopped half-way.
  std::stop_token stop = {};
  RepairPlacement placement = RepairPlacement::kBesideOriginal;
  std::string output = {};  // kExplicitOutput
  // The caller holds lockForRun(P) already (from before it planned);
  // otherwise the repair takes it before it plans again.
  bool inputLocked = false;
};

enum class RepairOutcome {
  kRepaired,
  kRefused,  // nothing written; `refusal` says why
  kFailed,   // P as it was (unless partlyWritten or committed); errorNumber says why
  kStopped,  // stopRequested: P as it was, nothing left behind
};

struct RepairResult {
  RepairOutcome outcome = RepairOutcome::kFailed;
  std::string refusal;
  std::string refusalCode;  // as RepairPlan's; "in-place-insert", "changed" of the run's own
  int errorNumber = 0;
  std::string errorDetail;     // the file or step the failure concerned
  int systemError = 0;         // the errno behind it, if any
  bool partlyWritten = false;  // in place: some of the fields were written when it failed
  std::string outputName;      // where the repaired file went
  bool keptAsOld = false;      // the original is P.old
  // The repaired file had taken its name when a later step (a directory's
  // flush) failed: the files are as after a repair, and nothing is undone.
  bool committed = false;
  bool staleOldRemoved = false;  // a P.old left by a killed run was removed first
};

// Carries out `plan`, made for the file `path` with planFileRepair. The file
// is locked against other runs and planned again first: when it has changed
// since, nothing is written. A new file is written as every output is (see
// core/io/safe_outputs.h): a link at `output` followed only as the kernel's
// protection would, the file complete and flushed before any name changes,
// the original kept as P.old until the repaired file has its name.
RepairResult applyRepair(const std::string& path, const RepairPlan& plan, RepairServices& services);

}  // namespace ril
