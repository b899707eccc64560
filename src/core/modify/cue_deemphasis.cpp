#include "core/modify/cue_deemphasis.h"

#include <algorithm>

#include "core/base/errors.h"
#include "core/cue/cue_rewrite.h"
#include "core/cue/cue_wav.h"
#include "core/io/directories.h"
#include "core/modify/modify_messages.h"
#include "core/modify/output_placement.h"
#include "core/wav/wav_header_reader.h"

namespace ril {

namespace {

// A bare name gets "./" before it, so that its directory is never empty.
std::string withDirectory(const std::string& path) {
  return directoryOf(path).empty() ? "./" + path : path;
}

std::string trackList(const std::vector<int>& tracks) {
  std::string text;
  for (int t : tracks) text += (text.empty() ? "" : ", ") + twoDigits(t);
  return text;
}

// Whether P.old is in the way; a stale one (a second name of P) goes.
bool oldInTheWay(FileSystem& fs, const std::string& path, std::vector<Message>& notices) {
  if (!fs.exists(path + ".old")) return false;
  if (!removeStaleOld(fs, path)) return true;
  notices.push_back(staleOldNotice(path));
  return false;
}

// The job for file `file`, or a refusal.
std::optional<CueWavJob> planFile(FileSystem& fs, const CueSheet& sheet, int file,
                                  CueDeemphasisPlan& plan, bool outsideAllowed) {
  std::vector<std::string>& refusals = plan.refusals;
  CueWavJob job;
  job.file = file;
  job.path = withDirectory(sheet.files[static_cast<std::size_t>(file)].path);
  job.tracks = preEmphasisTracksIn(sheet, file);
  if (job.tracks.empty()) return std::nullopt;
  const std::string named = job.path + " (TRACK " + trackList(job.tracks) + ")";
  if (const std::string outside = outsideSheetProblem(fs, sheet, file);
      !outside.empty() && !outsideAllowed) {
    refusals.push_back(named + ": " + outside);
    return std::nullopt;
  }
  const FileKind kind = fs.identify(job.path).kind;
  if (kind != FileKind::kRegular && kind != FileKind::kMissing) {
    refusals.push_back(named + ": not a regular file");
    return std::nullopt;
  }
  job.header = readWavFile(fs, job.path).header;
  if (const std::string problem = cueFileProblem(sheet, file, job.header); !problem.empty()) {
    refusals.push_back(named + ": " + problem);
    return std::nullopt;
  }
  if (oldInTheWay(fs, job.path, plan.notices)) {
    refusals.push_back(named + ": " + job.path + ".old already exists");
    return std::nullopt;
  }
  const std::int64_t frames = job.header.layout.framesInFile;
  std::vector<FrameRange> ranges;
  for (const CueRange& r : trackRangesIn(sheet, file, frames)) {
    const bool flagged =
        std::find(job.tracks.begin(), job.tracks.end(), r.track) != job.tracks.end();
    if (flagged && r.frameCount > 0) ranges.push_back(FrameRange{r.firstFrame, r.frameCount});
  }
  if (!(ranges.size() == 1 && ranges[0].first == 0 && ranges[0].count >= frames)) {
    job.ranges = std::move(ranges);
  }
  return job;
}

}  // namespace

std::string outsideSheetProblem(FileSystem& fs, const CueSheet& sheet, int file) {
  const std::string dir = directoryOf(sheet.path);
  const std::string here = currentDirectory();
  const std::string root = normalPath(fs.resolveLinks(dir.empty() ? "." : dir), here);
  const CueFile& f = sheet.files[static_cast<std::size_t>(file)];
  const std::string resolved = normalPath(fs.resolveLinks(f.path), here);
  if (isWithin(resolved, root)) return {};
  return "FILE \"" + f.name + "\" leads outside the sheet's directory, to " + resolved;
}

CueDeemphasisPlan planCueDeemphasis(FileSystem& fs, const CueSheet& sheet, bool outsideAllowed) {
  CueDeemphasisPlan plan;
  plan.sheetPath = withDirectory(sheet.path);
  for (const CueTrack& t : sheet.tracks) {
    if (!t.preEmphasis()) continue;
    plan.tracks.push_back(t.number);
    if (!t.audio()) {
      plan.refusals.push_back("TRACK " + twoDigits(t.number) + " is " + t.mode + ", not audio");
    }
  }
  if (plan.tracks.empty()) return plan;
  if (oldInTheWay(fs, plan.sheetPath, plan.notices)) {
    plan.refusals.push_back(plan.sheetPath + ".old already exists");
  }
  for (std::size_t f = 0; f < sheet.files.size(); ++f) {
    std::optional<CueWavJob> job = planFile(fs, sheet, static_cast<int>(f), plan, outsideAllowed);
    if (!job) continue;
    const FileIdentity id = fs.identify(job->path);
    for (const CueWavJob& other : plan.files) {
      if (fs.identify(other.path).sameFileAs(id)) {
        plan.refusals.push_back(job->path + " is " + other.path + " again, under a second FILE");
      }
    }
    plan.files.push_back(std::move(*job));
  }
  return plan;
}

CueDeemphasisRun runCueDeemphasis(const CueSheet& sheet, const CueDeemphasisPlan& plan,
                                  const ModifyServices& services,
                                  const std::function<void(const CueWavJob&)>& starting) {
  CueDeemphasisRun run;
  if (!plan.refusals.empty()) throw RunError(kErrInternal, "a refused cue sheet was run");
  // Owned here until they take their names; dropped, they go unnamed.
  std::vector<std::shared_ptr<HeldOutput>> held;
  for (const CueWavJob& job : plan.files) {
    if (starting) starting(job);
    ModifyServices s = services;
    s.placement = PlacementMode::kProgramDirectory;
    s.holdOutput = true;
    s.followReportFilter = false;
    const ModifyTarget target{job.path, baseNameOf(job.path), directoryOf(job.path), job.header};
    ModifyRequest request;
    request.deemphasis = true;
    request.ranges = job.ranges;
    ModifyResult result = runModification(target, request, s);
    held.push_back(std::move(result.held));
    run.results.push_back(std::move(result));
    if (run.results.back().outcome != ModifyOutcome::kCompleted) return run;
  }
  if (services.stop.stop_requested()) {
    run.abandoned = true;
    return run;
  }
  HeldOutput sheetOutput;
  try {
    sheetOutput =
        holdNewContents(services.fs, plan.sheetPath, cueSheetWithoutPre(sheet, plan.tracks));
  } catch (const RunError& e) {
    run.sheetError = e.number();
    run.sheetErrorDetail = e.detail();
    return run;
  }
  std::vector<HeldOutput*> outputs;
  for (const auto& h : held) outputs.push_back(h.get());
  outputs.push_back(&sheetOutput);
  run.publish = publishTogether(services.fs, outputs);
  run.done = run.publish.done;
  return run;
}

}  // namespace ril
