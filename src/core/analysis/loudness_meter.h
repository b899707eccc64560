// The loudness meter: K-weighted power in 100 ms steps, from which the
// integrated loudness, the loudness range and the largest momentary and
// short-term loudness follow, and the sample and true peaks of each channel.
//
// The filters carry their state from frame to frame. To run them side by
// side, in vector lanes and on several threads, each block of frames is cut
// into segments at 100 ms boundaries; a segment after the first starts from
// the state the frames in front of it leave (KPrimer), within 1e-13 of the
// signal of the state one serial run reaches there. The cut depends only on
// the block, so the result is the same for any number of threads.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/analysis/frame_source.h"
#include "core/dsp/loudness/k_lanes.h"
#include "core/dsp/loudness/k_primer.h"
#include "core/dsp/loudness/k_weighting.h"
#include "core/dsp/loudness/true_peak.h"

namespace ril {

// How much each channel counts: 1.0 for left, right and centre, 1.41 for the
// surround channels, 0 for the LFE.
struct ChannelWeights {
  std::vector<double> weights;
  bool orderAssumed = false;  // six channels without a mask: L R C LFE Ls Rs taken
};

// From the extensible format's speaker mask (0 when there is none): channel
// i is the i-th speaker the mask names. Without a mask six channels are taken
// as L R C LFE Ls Rs; other counts count every channel as 1.0.
ChannelWeights channelWeightsFor(int channels, std::uint32_t channelMask);

// The lowest sample rate at which the K-weighting is measured.
inline constexpr int kLeastLoudnessRate = 8000;

// Everything the figures need, compact: one number per 100 ms, and the peaks.
// Traces of several files can be gated together (an album).
struct LoudnessTrace {
  double sampleRate = 0;
  std::int64_t binFrames = 0;  // frames per 100 ms, rounded
  std::int64_t frames = 0;
  bool weighted = false;  // the sample rate allowed the K-weighting
  // The channels' weighted sums of squared K-weighted samples over each whole
  // 100 ms from the first frame on.
  std::vector<double> bins;
  ChannelWeights weights;
  std::vector<kernels::PeakFound> samplePeaks;  // per channel
  std::vector<kernels::PeakFound> truePeaks;    // per channel, never below the sample peak
};

class LoudnessMeter {
 public:
  LoudnessMeter(double sampleRate, ChannelWeights weights);

  // Room for the 100 ms figures of `frames` frames (up to a day's), so that
  // a long file's do not move as they grow.
  void expectFrames(std::int64_t frames);

  // The next `frames` frames of `source` (its frame 0 the first of them),
  // on this thread.
  void add(const FrameSource& source, std::int64_t frames);

  // The same in parallel: plan() the block and get the number of tasks,
  // runTask() each once (on any thread, side by side), then finishBlock().
  int plan(std::int64_t frames);
  void runTask(int task, const FrameSource& source);
  void finishBlock();

  // The trace of every frame added; a meter no longer needed gives its own.
  LoudnessTrace trace() const&;
  LoudnessTrace trace() &&;

  // Segments per channel of a block (at most; short blocks get fewer). One
  // makes the meter the plain serial computation, for comparisons.
  void setSegments(int perChannel) { segments_ = perChannel; }
  // Lanes a task runs at most: 8 (the default) or 16. Sixteen take fewer
  // instructions; eight make more tasks to share out. The figures are the
  // same either way.
  void setTaskLanes(int lanes) {
    taskLanes_ = static_cast<std::size_t>(std::clamp(lanes, 1, kernels::kKLanes));
  }
  // A block's tasks in two halves of whole segments, as even as the lanes
  // allow (each at most the lanes a task runs): for two threads sharing
  // the blocks, a half each.
  void splitTasksInHalves(bool on) { halves_ = on; }
  // The lanes (segments times channels) of the block of `frames` frames
  // that will start at frame `blockStart`.
  std::int64_t lanes(std::int64_t blockStart, std::int64_t frames) const;
  // Of the block of `frames` frames that will start at frame `blockStart`:
  // the frames (from the block's first) that the earlier half of its tasks
  // read, tasks 0 to tasks / 2 - 1; `frames` when there is only one task.
  std::int64_t earlierTasksEnd(std::int64_t blockStart, std::int64_t frames) const;

 private:
  struct Lane {
    int channel = 0;
    std::int64_t begin = 0, end = 0;  // its segment's frames
    kernels::PeakFound sample, interpolated;
  };
  // One task's buffers: each lane's frames (kTruePeakHistory in front) and
  // the filter's lanes.
  struct TaskScratch {
    std::vector<double> planar;
    kernels::KLaneStates k;
    std::vector<double*> rows;  // per channel, for reading lanes together
  };
  void startLanes(Lane* lanes, int count, const FrameSource& source, TaskScratch& s);
  void primeLanes(const Lane* lanes, int count, const FrameSource& source, TaskScratch& s);
  void readLanes(const Lane* lanes, int count, const FrameSource& source, std::int64_t t0,
                 std::int64_t steps, TaskScratch& s);
  void fillLanes(Lane* lanes, int count, const FrameSource& source, std::int64_t t0,
                 std::int64_t steps, TaskScratch& s);
  void filterSteps(Lane* lanes, int count, std::int64_t from, std::int64_t to, TaskScratch& s);
  std::int64_t nextEvent(const Lane& lane, std::int64_t t) const;
  void handleEvent(const Lane& lane, int index, std::int64_t t, TaskScratch& s);
  void mergeBins();
  void takeTruePeaks(LoudnessTrace& t) const;  // from the peaks found
  // The first frame of each segment of the block of `frames` frames from
  // frame A, and the block's end.
  std::vector<std::int64_t> segmentBegins(std::int64_t A, std::int64_t frames) const;
  std::size_t lanesPerTask(std::int64_t segments) const;

  int channels_;
  LoudnessTrace trace_;
  kernels::KWeighting k_;
  int factor_;
  std::shared_ptr<const kernels::KPrimer> primer_;
  int segments_;
  // Carried from block to block, per channel.
  std::vector<kernels::KState> state_;
  std::vector<double> openBin_;  // the partial sum of the 100 ms the last block ended in
  std::vector<double> history_;  // the last kTruePeakHistory frames
  std::vector<kernels::PeakFound> interpolated_;
  // What the block's last segments leave for the next block.
  std::vector<kernels::KState> endState_;
  std::vector<double> endHistory_;
  // The block in progress.
  std::int64_t blockStart_ = 0, blockFrames_ = 0;
  std::int64_t firstBin_ = 0;
  std::vector<double> blockBins_;  // [channel][bin - firstBin_]
  std::vector<Lane> lanes_;
  std::vector<TaskScratch> scratch_;
  std::size_t taskLanes_ = 8;
  bool halves_ = false;
  std::size_t blockTaskLanes_ = 8;  // the block in progress's
};

}  // namespace ril
