// De-emphasis of the tracks a cue sheet flags PRE: which files and which of
// their frames, whether every one of them can be done, and the run over all
// of them in which no name changes before every new file is complete.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/cue/cue_sheet.h"
#include "core/io/files.h"
#include "core/modify/joint_commit.h"
#include "core/modify/modification_run.h"
#include "core/wav/wav_header.h"

namespace ril {

// One WAV file holding flagged tracks.
struct CueWavJob {
  int file = 0;             // into CueSheet::files
  std::string path;         // the file's path, with "./" before a bare name
  std::vector<int> tracks;  // the flagged tracks with frames in it
  // The flagged tracks' frames, one range per track, in order. Nothing when
  // one track covers the whole file: it is then de-emphasised as a whole,
  // as a file of its own is.
  std::optional<std::vector<FrameRange>> ranges;
  WavHeader header;
};

struct CueDeemphasisPlan {
  std::string sheetPath;    // the sheet's path, with "./" before a bare name
  std::vector<int> tracks;  // every flagged track, in order
  std::vector<CueWavJob> files;
  // Why the sheet cannot be done, one line each ("TRACK 03 is MODE1/2352, not
  // audio", "album.wav: 48000 Hz, not 44100 Hz"). With any, nothing may be
  // written.
  std::vector<std::string> refusals;
  // Stale FILE.old and SHEET.old (second names of the file itself, left by a
  // run that was killed) removed while planning.
  std::vector<Message> notices;
};

// Why the FILE `file` of `sheet` lies outside the sheet's directory and its
// subdirectories once every link is followed ("FILE \"../x.wav\" leads
// outside the sheet's directory, to /music/x.wav"), or empty when it lies
// within. A link the kernel's protection would not follow throws RefusedLink.
std::string outsideSheetProblem(FileSystem& fs, const CueSheet& sheet, int file);

// Reads the header of every file holding a flagged track and checks all of
// them, that each lies within the sheet's directory (unless `outsideAllowed`)
// and comes once, and that no FILE.old and no SHEET.old exists, before
// anything is written. A link the kernel's protection would not follow
// throws RefusedLink.
CueDeemphasisPlan planCueDeemphasis(FileSystem& fs, const CueSheet& sheet,
                                    bool outsideAllowed = false);

struct CueDeemphasisRun {
  bool done = false;  // every file and the sheet have their new contents
  // One per file run, in the plan's order; a run that did not complete is
  // the last, and then no name has changed.
  std::vector<ModifyResult> results;
  // The sheet's new contents could not be written (nothing renamed):
  // the error number and its detail.
  int sheetError = 0;
  std::string sheetErrorDetail;
  bool abandoned = false;  // a stop was requested before the names changed
  JointPublish publish;    // once every new file was complete
};

// De-emphasises the plan's files (which must have no refusals) into complete
// new files, writes the sheet without PRE on the flagged tracks, and then
// gives every one of them its name at once, each original kept as NAME.old
// (see publishTogether). `services` gives the file system, clock, messages,
// progress and stop token; `starting` is told of each file before its run.
CueDeemphasisRun runCueDeemphasis(const CueSheet& sheet, const CueDeemphasisPlan& plan,
                                  const ModifyServices& services,
                                  const std::function<void(const CueWavJob&)>& starting = {});

}  // namespace ril
