// One modification run: where the output goes, the block loop over the
// sample data, and putting everything back when the run fails.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/base/clock.h"
#include "core/base/host.h"
#include "core/io/files.h"
#include "core/modify/sample_rewriter.h"
#include "core/wav/wav_header.h"

namespace ril {

// Where the output goes. kProgramDirectory keeps the original as P.old and
// writes the result into the program directory (asking to overwrite P in
// place when that drive lacks the space); the other two serve the
// command-line tool. Outputs other than in place are written completely
// before any name changes: P keeps its name and its contents until the last
// step of a completed run.
enum class PlacementMode { kProgramDirectory, kExplicitOutput, kInPlace };

// The file a run works on, as its header was read.
struct ModifyTarget {
  std::string path;      // P
  std::string bareName;  // its name as listed
  std::string appPath;   // the program directory, ending in "/"
  WavHeader header;
};

// What the user chose, fixed for the whole run: a run does what was chosen
// when it started.
struct ModifyRequest {
  bool deemphasis = false;  // apply the de-emphasis filter
  bool maximize = false;    // use maxGain as the factor
  int volumeTenths = 1000;  // the volume in tenths of a percent otherwise
  double maxGain = 1.0;     // the largest factor that does not clip
  // Factor 1 without de-emphasis writes the output all the same (an identical
  // copy) instead of doing nothing.
  bool copyWhenUnchanged = false;
  // Only these frames are processed, each range from a fresh filter state;
  // every other byte of the file is copied unchanged (see SampleRewriter).
  // In order and apart; the parts beyond the data are left out.
  std::optional<std::vector<FrameRange>> ranges;
  // Ends the run at the first sample the de-emphasis has to limit, before
  // any message about it, with nothing left behind (outcome kClipped): for a
  // trial run whose result only counts when nothing clips. An in-place
  // rewrite that has begun writing goes on as without it.
  bool stopAtFirstClip = false;
  // A float file maximized without de-emphasis: its peak, by which every
  // sample is divided, so that the peak becomes exactly full scale (0: the
  // factor is used).
  double peakToDivideBy = 0.0;
  double factor() const { return maximize ? maxGain : volumeTenths / 1000.0; }
};

struct HeldOutput;  // joint_commit.h

struct ModifyServices {
  FileSystem& fs;
  Clock& clock;
  MessageSink& messages;   // the disk-space question and the clipped samples
  ProgressSink& progress;  // "Progress 44%" per block, "Done!" at the end
  // Looked at after each yield and once more before the names change: a stop
  // requested abandons the run (nothing is left behind; an in-place rewrite
  // that has begun writing finishes first).
  std::stop_token stop = {};
  PlacementMode placement = PlacementMode::kProgramDirectory;
  std::string explicitOutput = {};  // for kExplicitOutput; "-" is standard output
  bool followReportFilter = false;  // fill ModifyResult::filteredRange
  // For a trial into a new file (not in place) of a format other than 8- and
  // 16-bit mono and stereo: the peak of the samples as stored is followed
  // (ModifyResult::followedPeak) and given to this test after each block;
  // false ends the run as a clipped sample ends a trial (kClipped, nothing
  // left behind).
  std::function<bool(double peak)> peakHolds = {};
  // Keeps a complete new file unnamed instead of giving it its name: the
  // result's `held` owns it, synced and with the original's attributes, and
  // publishTogether (joint_commit.h) names it along with others. A drive
  // without the space for a copy fails with 61 instead of asking to overwrite
  // in place. Outputs other than new files are written as usual.
  bool holdOutput = false;
  int threads = 1;  // threads that share the de-emphasis
  // The caller holds FileSystem::lockForRun on the file already; otherwise
  // the run takes it (a file another run holds fails with 70).
  bool inputLocked = false;
};

enum class ModifyOutcome {
  kNothingToDo,  // factor 1, no de-emphasis: nothing was written
  kDeclined,     // disk-space question answered No
  kCompleted,
  kFailed,     // the user's files as before; errorNumber says why
  kRefused,    // the file or the factor cannot be used; refusal says why
  kAbandoned,  // a stop requested mid-run; nothing left behind
  kClipped,    // stopAtFirstClip and a sample clipped, or peakHolds said no; nothing left behind
};

// Clipping messages shown one by one; later clipped samples are counted and
// summed up in one more message.
inline constexpr std::int64_t kClipMessagesShown = 10;

struct ModifyResult {
  ModifyOutcome outcome = ModifyOutcome::kNothingToDo;
  int errorNumber = 0;           // kFailed
  std::string errorDetail;       // kFailed: the file or step the failure concerned
  int systemError = 0;           // kFailed: the errno behind it, if any
  bool partlyRewritten = false;  // kFailed in place after the first sample was written
  // kFailed after the output had its name (flushing the directory failed):
  // the modified file is outputName and the original is kept as P.old (or
  // is P itself, for an explicit output); nothing was undone.
  bool committed = false;
  std::int64_t lastValue = 0;  // the value an overflow did not fit
  std::string refusal;         // kRefused
  std::string outputName;      // where the modified file went (kCompleted)
  bool inProgramDir = false;
  bool inPlace = false;
  std::int64_t clippedSamples = 0;
  std::int64_t samplesBeyondFullScale = 0;  // float samples written beyond +-1.0
  double elapsedSeconds = 0.0;              // the time the "Manipulation time" line shows
  bool exitPending = false;                 // a stop was requested while an in-place rewrite ran
  FilteredRange filteredRange;              // with followReportFilter
  double followedPeak = 0.0;                // with peakHolds, as storedPeak() finds it
  // With holdOutput (kCompleted): the output waiting for its name; dropping
  // it discards the output and leaves the original as it was.
  std::shared_ptr<HeldOutput> held;
};

// Asked once, with the result so far, when a complete output is about to take
// its name (not in place); false abandons the run as a stop request would.
using CommitCheck = std::function<bool(const ModifyResult&)>;

// Runs the modification.
ModifyResult runModification(const ModifyTarget& target, const ModifyRequest& request,
                             ModifyServices& services, const CommitCheck& beforeCommit = {});

}  // namespace ril
