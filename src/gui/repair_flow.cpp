#include "gui/repair_flow.h"

#include <cstring>
#include <memory>
#include <stop_token>
#include <utility>

#include "core/base/errors.h"
#include "core/modify/modify_messages.h"
#include "core/repair/repair_text.h"
#include "gui/background_pass.h"
#include "gui/batch_run.h"
#include "gui/file_selection_dialog.h"
#include "gui/main_window.h"
#include "gui/modification_dialog.h"

namespace ril {

namespace {

Message notice(MessageKind kind, const char* title, std::string text) {
  Message m;
  m.kind = kind;
  m.title = title;
  m.text = std::move(text);
  return m;
}

// "/music/a.wav is not repaired: it has no data chunk."
Message refusedNotice(const std::string& path, const std::string& why) {
  std::string text = path + " is not repaired: " + why;
  if (text.back() != '.') text += '.';
  return notice(MessageKind::kWarning, "Warning", std::move(text));
}

// One repair: the plan the user agreed to, carried out on the repair's
// thread. Shared between the thread and the user-interface thread, so that
// it outlives whichever ends first.
struct RepairJob {
  explicit RepairJob(FileSystem& fileSystem) : fs(fileSystem) {}

  void run(std::stop_token stop) {
    try {
      RepairServices services{.fs = fs, .progress = progress};
      services.stop = std::move(stop);
      result = applyRepair(path, plan, services);
    } catch (...) {
      result = RepairResult{};
      result.outcome = RepairOutcome::kFailed;
      result.errorNumber = kErrInternal;
    }
  }

  FileSystem& fs;
  std::string path;
  RepairPlan plan;
  PassProgress progress;  // the main window's title
  RepairResult result;    // read once the thread has ended
};

// File, Open, Repair…, the modification dialog and a selection dialog left
// open are disabled while the repair runs; the pointer is busy.
void markRepairing(AppContext& ctx, bool repairing) {
  ctx.modifyRunning = repairing;
  if (ctx.modificationDialog) ctx.modificationDialog->setEnabled(!repairing);
  if (ctx.selectionDialog) ctx.selectionDialog->setEnabled(!repairing);
  if (ctx.mainWindow) {
    ctx.mainWindow->setBusyPointer(repairing);
    ctx.mainWindow->updateCommands();
  }
}

// Back on the user-interface thread: the outcome told, a repaired file read
// again; an exit asked for meanwhile ends the program instead.
void endRepair(AppContext& ctx, const RepairJob& job) {
  markRepairing(ctx, false);
  if (ctx.mainWindow) ctx.mainWindow->showProgressDone();
  if (ctx.exitRequested) {
    if (ctx.endProgram) ctx.endProgram();
    return;
  }
  const RepairResult& result = job.result;
  if (result.staleOldRemoved && ctx.messages) ctx.messages->show(staleOldNotice(job.path));
  if (ctx.messages) ctx.messages->show(repairOutcomeMessage(result, job.path));
  const bool repaired = result.outcome == RepairOutcome::kRepaired || result.committed;
  if (repaired && ctx.mainWindow) ctx.mainWindow->openFiles({job.path});
}

}  // namespace

Message repairQuestion(const std::string& path, const RepairPlan& plan,
                       const std::string& lineBreak) {
  std::string text = "Repair " + path + "?" + lineBreak + lineBreak;
  for (const std::string& line : planLines(plan)) text += "  " + line + lineBreak;
  text += lineBreak + "Only header fields change, never a sample byte. The repaired file is" +
          " written beside the original and then takes its name; the original is kept as " + path +
          ".old.";
  Message m = notice(MessageKind::kQuestion, "Repair", text);
  m.defaultAnswer = Answer::kNo;
  return m;
}

Message repairOutcomeMessage(const RepairResult& result, const std::string& path) {
  switch (result.outcome) {
    case RepairOutcome::kRepaired:
      return notice(MessageKind::kInformation,
                    "Info:", "Repaired: " + path + " (the original is kept as " + path + ".old)");
    case RepairOutcome::kRefused:
      return refusedNotice(path, result.refusal);
    case RepairOutcome::kStopped:
      return notice(MessageKind::kWarning, "Warning",
                    "The repair was stopped; " + path + " is left as it was.");
    case RepairOutcome::kFailed:
      break;
  }
  // "Disk full (error 61): /music/a.wav; /music/a.wav is left as it was."
  std::string cause =
      errorDescription(result.errorNumber) + " (error " + std::to_string(result.errorNumber) + ")";
  if (!result.errorDetail.empty()) cause += ": " + result.errorDetail;
  if (result.systemError != 0) cause += " (" + std::string(std::strerror(result.systemError)) + ")";
  std::string text;
  if (result.committed) {
    text = result.outputName + " is the repaired file and " +
           (result.keptAsOld ? path + ".old the original" : path + " is as it was") + ", but " +
           cause + ".";
  } else {
    text = "The repair failed: " + cause + "; " + path + " is left as it was.";
  }
  return notice(MessageKind::kWarning, "Warning", text);
}

void repairCurrentFile(AppContext& ctx) {
  if (ctx.batchRunning || ctx.modifyRunning || !ctx.fs || !ctx.messages || !ctx.mainWindow) return;
  const Session& s = ctx.session;
  const std::string path = s.currentPath();
  if (path.empty()) return;
  auto job = std::make_shared<RepairJob>(*ctx.fs);
  job->path = path;
  job->plan = planFileRepair(*ctx.fs, path);
  switch (job->plan.verdict) {
    case RepairVerdict::kNothingToRepair:
      ctx.messages->show(notice(MessageKind::kInformation, "Info:", path + ": nothing to repair"));
      return;
    case RepairVerdict::kRefused:
      ctx.messages->show(refusedNotice(path, job->plan.refusal));
      return;
    case RepairVerdict::kRepair:
      break;
  }
  if (ctx.messages->show(repairQuestion(path, job->plan, s.lineBreak)) != Answer::kYes) return;
  MainWindow* window = ctx.mainWindow;
  QObject::connect(&job->progress, &PassProgress::progressed, window,
                   [window](double, const QString& text) { window->showProgress(text); });
  ctx.stopRun = std::stop_source();
  markRepairing(ctx, true);
  runOffThread(
      window, [job, stop = ctx.stopRun.get_token()] { job->run(stop); },
      [&ctx, job] { endRepair(ctx, *job); });
}

}  // namespace ril
