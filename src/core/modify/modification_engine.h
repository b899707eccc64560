// The Modify command: rewrites the sample data of the current file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/base/clock.h"
#include "core/base/host.h"
#include "core/io/files.h"
#include "core/program_state.h"

namespace ril {

// What the dialog's controls hold when Modify is pressed.
struct ModifyRequest {
  int chkVolume = 0;     // 1: use maxGain as the factor
  int hsbVolume = 1000;  // tenths of a percent
  double maxGain = 1.0;  // the dialog's largest safe factor
};

// Where the output goes. kProgramDirectory is the dialog's placement (with
// the disk-space question); the other two serve the command-line tool.
enum class PlacementMode { kProgramDirectory, kExplicitOutput, kInPlace };

// The report's de-emphasis filter (integer, rounded), followed over the samples
// a de-emphasis run reads: the smallest and largest output per channel, both
// starting at 0, as the analysis finds them. `complete` is true only when every
// block of the run was de-emphasised in every channel.
struct FilteredRange {
  std::int32_t min[2] = {0, 0};
  std::int32_t max[2] = {0, 0};
  bool complete = false;
};

struct ModifyServices {
  FileSystem& fs;
  Clock& clock;
  MessageHost& messages;
  ModifyView& dialog;  // caption, yield, chkEmph
  MainView& main;      // txtOut receives the "Manipulation time" line
  PlacementMode placement = PlacementMode::kProgramDirectory;
  std::string explicitOutput;              // for kExplicitOutput
  std::function<bool()> exitRequested;     // polled after each yield; may be empty
  char decimalSeparator = '.';             // for the "Manipulation time" line
  FilteredRange* filteredRange = nullptr;  // when given, filled in by the run
};

enum class ModifyOutcome {
  kNothingToDo,  // factor 1, no de-emphasis: dialog stays open
  kDeclined,     // disk-space question answered No
  kCompleted,
  kFailed,     // failure message shown, the user's files as before
  kRefused,    // the file cannot be modified (message shown)
  kAbandoned,  // exit requested mid-run; nothing left behind
};

// Everything a run found out, for callers that want more than the outcome.
struct ModifyResult {
  ModifyOutcome outcome = ModifyOutcome::kNothingToDo;
  int errorNumber = 0;         // kFailed: the error number shown
  std::int64_t lastValue = 0;  // the value most recently computed (overflow message)
  std::string outputName;      // where the modified file went (kCompleted)
  bool inProgramDir = false;
  bool inPlace = false;
  std::int64_t clippedSamples = 0;
  double elapsedSeconds = 0.0;  // the time the report line shows
  bool exitPending = false;     // an exit was asked for while an in-place rewrite ran
};

// The command, steps 1 to 16 (unloading the dialog is the caller's).
ModifyOutcome runModification(ProgramState& state, const ModifyRequest& request,
                              ModifyServices& services);
// `beforeCommit`, when given, is asked once when a complete output is about to
// take its name (not in place); false abandons the run as an exit request would.
ModifyResult runModificationDetailed(ProgramState& state, const ModifyRequest& request,
                                     ModifyServices& services,
                                     const std::function<bool()>& beforeCommit = {});

// Largest safe volume factor for a peak magnitude on the 16-bit scale.
// cutToThousandths: floor(32767000 / peak) / 1000, else 32767 / peak. A peak of 0
// gives 1. For 8-bit files the factor is kept below the point where the
// loudest sample would overflow the byte.
double maximumGain(std::int32_t peak, int bitsPerSample, bool cutToThousandths);

// Frames per block: 8 / channels x 1024 x 1024 / bits (half to even), at most
// `totalFrames`.
std::int64_t modifyBlockFrames(int channels, int bitsPerSample, std::int64_t totalFrames);

}  // namespace ril
