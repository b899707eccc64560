#include "core/analysis/loudness_meter.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

namespace ril {

namespace {

using kernels::kKLanes;
using kernels::kTruePeakHistory;

// Steps filled and filtered at a time.
constexpr std::int64_t kChunk = 512;
// Room behind a lane's frames for the interpolator's whole runs.
constexpr std::int64_t kPad = 8;
constexpr std::int64_t kRow = kTruePeakHistory + kChunk + kPad;
constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

// Speaker bits of the extensible format, in channel order, and their weights:
// front left, right, centre, LFE, back left, right, front left and right of
// centre, back centre, side left, right; higher ones count as 1.0.
constexpr double kSpeakerWeights[11] = {1.0, 1.0, 1.0, 0.0, 1.41, 1.41, 1.0, 1.0, 1.0, 1.41, 1.41};

}  // namespace

ChannelWeights channelWeightsFor(int channels, std::uint32_t channelMask) {
  ChannelWeights w;
  w.weights.assign(static_cast<std::size_t>(std::max(channels, 0)), 1.0);
  if (channelMask != 0) {
    int bit = 0;
    for (double& weight : w.weights) {
      while (bit < 32 && (channelMask & (1u << bit)) == 0) ++bit;
      if (bit >= 32) break;  // more channels than speakers named
      weight = bit < 11 ? kSpeakerWeights[bit] : 1.0;
      ++bit;
    }
  } else if (channels == 6) {
    w.weights = {1.0, 1.0, 1.0, 0.0, 1.41, 1.41};
    w.orderAssumed = true;
  }
  return w;
}

LoudnessMeter::LoudnessMeter(double sampleRate, ChannelWeights weights)
    : channels_(static_cast<int>(weights.weights.size())),
      k_(kernels::kWeightingFor(std::max(sampleRate, double{kLeastLoudnessRate}))),
      factor_(kernels::truePeakFactor(sampleRate)),
      primer_(kernels::kPrimerFor(std::max(sampleRate, double{kLeastLoudnessRate}))),
      segments_(channels_ <= 1   ? 16
                : channels_ == 2 ? 8
                                 : 4) {
  trace_.sampleRate = sampleRate;
  trace_.binFrames = std::max<std::int64_t>(1, (static_cast<std::int64_t>(sampleRate) + 5) / 10);
  trace_.weighted = sampleRate >= kLeastLoudnessRate;
  trace_.weights = std::move(weights);
  const auto c = static_cast<std::size_t>(channels_);
  trace_.samplePeaks.resize(c);
  interpolated_.resize(c);
  state_.resize(c);
  endState_.resize(c);
  openBin_.assign(c, 0.0);
  history_.assign(c * kTruePeakHistory, 0.0);
  endHistory_ = history_;
}

void LoudnessMeter::expectFrames(std::int64_t frames) {
  constexpr std::int64_t kDayOfBins = 24 * 60 * 60 * 10;
  const std::int64_t bins = std::clamp<std::int64_t>(frames / trace_.binFrames + 1, 0, kDayOfBins);
  trace_.bins.reserve(static_cast<std::size_t>(bins));
}

void LoudnessMeter::add(const FrameSource& source, std::int64_t frames) {
  const int tasks = plan(frames);
  for (int t = 0; t < tasks; ++t) runTask(t, source);
  if (tasks > 0) finishBlock();
}

std::vector<std::int64_t> LoudnessMeter::segmentBegins(std::int64_t A, std::int64_t frames) const {
  const std::int64_t B = trace_.binFrames;
  // Segments of at least three times the frames a segment reads in front,
  // so that those cost little and lie within the block.
  const std::int64_t front = primer_->frames();
  std::int64_t segments = std::clamp<std::int64_t>(frames / (3 * front + B), 1, segments_);
  if (!trace_.weighted) segments = 1;
  const std::int64_t own = frames / segments;
  std::vector<std::int64_t> begin(static_cast<std::size_t>(segments) + 1);
  begin[0] = A;
  for (std::int64_t j = 1; j < segments; ++j) begin[j] = (A + j * own) / B * B;
  begin[segments] = A + frames;
  return begin;
}

std::size_t LoudnessMeter::lanesPerTask(std::int64_t segments) const {
  if (!halves_) return taskLanes_;
  const auto half = static_cast<std::size_t>((segments + 1) / 2 * channels_);
  return std::clamp<std::size_t>(half, 1, taskLanes_);
}

std::int64_t LoudnessMeter::lanes(std::int64_t A, std::int64_t frames) const {
  if (frames <= 0 || channels_ <= 0) return 0;
  return (static_cast<std::int64_t>(segmentBegins(A, frames).size()) - 1) * channels_;
}

std::int64_t LoudnessMeter::earlierTasksEnd(std::int64_t A, std::int64_t frames) const {
  if (frames <= 0 || channels_ <= 0) return frames;
  const std::vector<std::int64_t> begin = segmentBegins(A, frames);
  const auto segments = static_cast<std::int64_t>(begin.size()) - 1;
  const auto perTask = static_cast<std::int64_t>(lanesPerTask(segments));
  const std::int64_t tasks = (segments * channels_ + perTask - 1) / perTask;
  if (tasks < 2) return frames;
  // The segment of the first later task's first lane, and of its last
  // earlier one: the earlier tasks end where the later segment begins.
  const std::int64_t firstLater = tasks / 2 * perTask;
  const std::int64_t segment = (firstLater - 1) / channels_ + 1;
  return begin[static_cast<std::size_t>(segment)] - A;
}

int LoudnessMeter::plan(std::int64_t frames) {
  if (frames <= 0 || channels_ <= 0) return 0;
  const std::int64_t B = trace_.binFrames;
  const std::int64_t A = trace_.frames;
  blockStart_ = A;
  blockFrames_ = frames;
  firstBin_ = A / B;
  const std::int64_t bins = (A + frames - 1) / B - firstBin_ + 1;
  blockBins_.assign(static_cast<std::size_t>(bins * channels_), 0.0);
  const std::vector<std::int64_t> begin = segmentBegins(A, frames);
  const auto segments = static_cast<std::int64_t>(begin.size()) - 1;
  // Segment by segment, its channels side by side: a task of fewer lanes
  // than the block's still reads a segment's channels in one pass.
  lanes_.clear();
  for (std::int64_t j = 0; j < segments; ++j) {
    for (int c = 0; c < channels_; ++c) {
      Lane lane;
      lane.channel = c;
      lane.begin = begin[j];
      lane.end = begin[j + 1];
      lanes_.push_back(lane);
    }
  }
  blockTaskLanes_ = lanesPerTask(segments);
  const int tasks = static_cast<int>((lanes_.size() + blockTaskLanes_ - 1) / blockTaskLanes_);
  if (static_cast<int>(scratch_.size()) < tasks) scratch_.resize(static_cast<std::size_t>(tasks));
  return tasks;
}

void LoudnessMeter::runTask(int task, const FrameSource& source) {
  const std::size_t first = static_cast<std::size_t>(task) * blockTaskLanes_;
  const int count = static_cast<int>(std::min<std::size_t>(blockTaskLanes_, lanes_.size() - first));
  Lane* lanes = lanes_.data() + first;
  TaskScratch& s = scratch_[static_cast<std::size_t>(task)];
  startLanes(lanes, count, source, s);
  std::int64_t steps = 0;
  for (int i = 0; i < count; ++i) steps = std::max(steps, lanes[i].end - lanes[i].begin);
  for (std::int64_t t0 = 0; t0 < steps; t0 += kChunk) {
    const std::int64_t n = std::min(kChunk, steps - t0);
    fillLanes(lanes, count, source, t0, n, s);
    if (trace_.weighted) filterSteps(lanes, count, t0, t0 + n, s);
    for (int i = 0; i < count; ++i) {
      double* row = s.planar.data() + i * kRow;
      if (n >= kTruePeakHistory) std::memmove(row, row + n, kTruePeakHistory * sizeof(double));
    }
  }
}

void LoudnessMeter::startLanes(Lane* lanes, int count, const FrameSource& source, TaskScratch& s) {
  // Rows of lanes beyond `count` are filtered too, unread: any finite values
  // do, so they are cleared once, not for every block.
  if (s.planar.empty()) s.planar.assign(static_cast<std::size_t>(kKLanes * kRow), 0.0);
  s.k = kernels::KLaneStates{};
  for (int i = 0; i < count; ++i) {
    Lane& lane = lanes[i];
    const auto c = static_cast<std::size_t>(lane.channel);
    lane.sample = {trace_.samplePeaks[c].peak, -1};
    // An interpolated value no larger than a sample peak is never the true
    // peak (the sample peak wins the tie): only larger ones are looked for.
    lane.interpolated = {std::max(interpolated_[c].peak, trace_.samplePeaks[c].peak), -1};
    if (lane.begin == blockStart_) {
      s.k.setState(i, state_[c]);
      std::copy_n(history_.data() + c * kTruePeakHistory, kTruePeakHistory,
                  s.planar.data() + i * kRow);
    }
  }
  primeLanes(lanes, count, source, s);
}

namespace {

// Lane i and the later lanes over the same frames as it (its segment's other
// channels, each once), marked done and listed in `taken`, of which it gives
// the count; `point(k)` gives where lane k's channel is read to, in
// rows[channel] (the others null).
template <typename Lane, typename Point>
int gatherSegment(const Lane* lanes, int i, int count, bool* done, int* taken,
                  std::vector<double*>& rows, Point point) {
  std::fill(rows.begin(), rows.end(), nullptr);
  int n = 0;
  for (int k = i; k < count; ++k) {
    double*& row = rows[static_cast<std::size_t>(lanes[k].channel)];
    if (lanes[k].begin == lanes[i].begin && lanes[k].end == lanes[i].end && !row) {
      row = point(k);
      done[k] = true;
      taken[n++] = k;
    }
  }
  return n;
}

}  // namespace

// The lanes of segments that begin inside the block start from the frames
// in front of them: their filters' state, and the interpolator's history.
void LoudnessMeter::primeLanes(const Lane* lanes, int count, const FrameSource& source,
                               TaskScratch& s) {
  const std::int64_t F = primer_->frames();
  // The frames in front of a segment, for each of its lanes in the task:
  // kept by the thread, whose next files need it again.
  thread_local std::vector<double> front;
  bool done[kKLanes] = {};
  int taken[kKLanes];
  s.rows.resize(static_cast<std::size_t>(channels_));
  for (int i = 0; i < count; ++i) {
    if (done[i] || lanes[i].begin == blockStart_) continue;
    const auto most = static_cast<std::size_t>(std::count_if(
        lanes + i, lanes + count, [&](const Lane& l) { return l.begin == lanes[i].begin; }));
    front.resize(std::max(front.size(), most * static_cast<std::size_t>(F)));
    std::size_t next = 0;
    const int n = gatherSegment(lanes, i, count, done, taken, s.rows, [&](int) {
      return front.data() + static_cast<std::size_t>(F) * next++;
    });
    source.readChannels(lanes[i].begin - F - blockStart_, F, s.rows.data(), channels_);
    for (int j = 0; j < n; ++j) {
      const int k = taken[j];
      const double* x = s.rows[static_cast<std::size_t>(lanes[k].channel)] + F;
      s.k.setState(k, primer_->state(x));
      std::copy_n(x - kTruePeakHistory, kTruePeakHistory, s.planar.data() + k * kRow);
    }
  }
}

// The lanes' next frames; lanes of different channels over the same frames
// (a segment's channels) are read together, in one pass over their bytes.
void LoudnessMeter::readLanes(const Lane* lanes, int count, const FrameSource& source,
                              std::int64_t t0, std::int64_t steps, TaskScratch& s) {
  bool done[kKLanes] = {};
  int taken[kKLanes];
  s.rows.resize(static_cast<std::size_t>(channels_));
  for (int i = 0; i < count; ++i) {
    const std::int64_t at = lanes[i].begin + t0;
    const std::int64_t n = std::clamp<std::int64_t>(lanes[i].end - at, 0, steps);
    if (done[i] || n <= 0) continue;
    gatherSegment(lanes, i, count, done, taken, s.rows,
                  [&](int k) { return s.planar.data() + k * kRow + kTruePeakHistory; });
    source.readChannels(at - blockStart_, n, s.rows.data(), channels_);
  }
}

void LoudnessMeter::fillLanes(Lane* lanes, int count, const FrameSource& source, std::int64_t t0,
                              std::int64_t steps, TaskScratch& s) {
  readLanes(lanes, count, source, t0, steps, s);
  for (int i = 0; i < count; ++i) {
    Lane& lane = lanes[i];
    double* x = s.planar.data() + i * kRow + kTruePeakHistory;
    const std::int64_t at = lane.begin + t0;
    const std::int64_t n = std::clamp<std::int64_t>(lane.end - at, 0, steps);
    if (n < steps) std::fill(x + n, x + steps + kPad, 0.0);
    if (n > 0) kernels::scanPeaks(x, n, at, factor_, lane.sample, lane.interpolated);
    if (at + n == lane.end && n > 0 && lane.end == blockStart_ + blockFrames_) {
      std::copy_n(x + n - kTruePeakHistory, kTruePeakHistory,
                  endHistory_.data() + static_cast<std::size_t>(lane.channel) * kTruePeakHistory);
    }
  }
}

std::int64_t LoudnessMeter::nextEvent(const Lane& lane, std::int64_t t) const {
  const std::int64_t at = lane.begin + t;
  if (at >= lane.end) return kNever;
  const std::int64_t B = trace_.binFrames;
  return std::min(lane.end, (at / B + 1) * B) - lane.begin;
}

void LoudnessMeter::handleEvent(const Lane& lane, int index, std::int64_t t, TaskScratch& s) {
  const std::int64_t at = lane.begin + t;
  const std::int64_t bin = (at - 1) / trace_.binFrames - firstBin_;
  blockBins_[static_cast<std::size_t>(bin * channels_ + lane.channel)] = s.k.sum[index];
  s.k.sum[index] = 0.0;
  if (at == lane.end && lane.end == blockStart_ + blockFrames_) {
    endState_[static_cast<std::size_t>(lane.channel)] = s.k.state(index);
  }
}

void LoudnessMeter::filterSteps(Lane* lanes, int count, std::int64_t from, std::int64_t to,
                                TaskScratch& s) {
  std::int64_t t = from;
  while (t < to) {
    std::int64_t next = to;
    for (int i = 0; i < count; ++i) next = std::min(next, nextEvent(lanes[i], t));
    kernels::kWeightLanes(k_, s.planar.data() + kTruePeakHistory, kRow, t - from, next - from, s.k,
                          count);
    t = next;
    for (int i = 0; i < count; ++i) {
      const std::int64_t at = lanes[i].begin + t;
      const bool event =
          at <= lanes[i].end && t > 0 && (at == lanes[i].end || at % trace_.binFrames == 0);
      if (event) handleEvent(lanes[i], i, t, s);
    }
  }
}

void LoudnessMeter::mergeBins() {
  const std::int64_t B = trace_.binFrames;
  const std::int64_t end = blockStart_ + blockFrames_;
  const std::int64_t bins = static_cast<std::int64_t>(blockBins_.size()) / channels_;
  for (std::int64_t b = 0; b < bins; ++b) {
    const bool whole = (firstBin_ + b + 1) * B <= end;
    double weighted = 0.0;
    for (int c = 0; c < channels_; ++c) {
      double sum = blockBins_[static_cast<std::size_t>(b * channels_ + c)];
      if (b == 0) sum = openBin_[static_cast<std::size_t>(c)] + sum;
      openBin_[static_cast<std::size_t>(c)] = whole ? 0.0 : sum;
      weighted = weighted + trace_.weights.weights[static_cast<std::size_t>(c)] * sum;
    }
    if (whole) trace_.bins.push_back(weighted);
  }
}

void LoudnessMeter::finishBlock() {
  // A lane starts from the peaks before the block: a larger one is its own.
  // An interpolated point may lie before frame 0 (between the silence in
  // front of the file and its first frames).
  for (const Lane& lane : lanes_) {
    const auto c = static_cast<std::size_t>(lane.channel);
    if (lane.sample.peak > trace_.samplePeaks[c].peak) trace_.samplePeaks[c] = lane.sample;
    if (lane.interpolated.at != -1 && lane.interpolated.peak > interpolated_[c].peak) {
      interpolated_[c] = lane.interpolated;
    }
  }
  if (trace_.weighted) mergeBins();
  state_ = endState_;
  history_ = endHistory_;
  trace_.frames += blockFrames_;
  blockFrames_ = 0;
}

LoudnessTrace LoudnessMeter::trace() const& {
  LoudnessTrace t = trace_;
  takeTruePeaks(t);
  return t;
}

LoudnessTrace LoudnessMeter::trace() && {
  LoudnessTrace t = std::move(trace_);
  takeTruePeaks(t);
  return t;
}

void LoudnessMeter::takeTruePeaks(LoudnessTrace& t) const {
  t.truePeaks.resize(t.samplePeaks.size());
  for (std::size_t c = 0; c < t.samplePeaks.size(); ++c) {
    t.truePeaks[c] =
        interpolated_[c].peak > t.samplePeaks[c].peak ? interpolated_[c] : t.samplePeaks[c];
  }
}

}  // namespace ril
