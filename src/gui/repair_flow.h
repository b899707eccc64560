// Repair… in the findings box: the repair of the file read last, planned
// again, shown and asked for, carried out on a thread of its own, and the
// file then read and analysed again.
#pragma once

#include <string>

#include "core/base/host.h"
#include "core/repair/repair_plan.h"
#include "core/repair/repair_run.h"
#include "gui/app_context.h"

namespace ril {

// The question that shows what the repair of `path` would change, before
// anything is written; No is the default answer.
Message repairQuestion(const std::string& path, const RepairPlan& plan,
                       const std::string& lineBreak);

// What the user is told when the repair of `path` has ended: where the files
// are, why it was not repaired, or what failed and what became of the file.
Message repairOutcomeMessage(const RepairResult& result, const std::string& path);

// Repair…: plans the repair of the current file, shows the plan and asks;
// on Yes the repaired file is written complete beside the original, which
// is then kept as NAME.wav.old while the repaired file takes its name (the
// command line's default placement). The repair runs on a thread of its own
// and this returns at once; meanwhile File, Open, Repair… and the
// modification dialog are disabled (ctx.modifyRunning), and File, Exit
// stops it with the file as it was. When it has ended, the outcome is told
// and a repaired file is read and analysed again. A file with nothing to
// repair, or one a repair refuses, gets one message saying so.
void repairCurrentFile(AppContext& ctx);

}  // namespace ril
