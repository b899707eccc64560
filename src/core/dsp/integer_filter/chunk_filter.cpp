#include "core/dsp/integer_filter/chunk_filter.h"

#include "core/dsp/integer_filter/segmented_filter.h"

namespace ril::kernels {

void ChunkFilter::run(int channels, const std::int16_t* const* x, std::int64_t n,
                      std::int64_t* state) {
  channels_ = channels;
  n_ = n;
  if (natural_.empty()) natural_.assign(2 * kChannelStride, 0);
  // Mono has too few chains for the vector lanes to pay; the scalar segments
  // serve it better.
  lanes_ = haveAvx2() && channels == 2 && n >= kLanes * 4 * kWarmUp;
  if (lanes_) {
    runInLanes(x, state);
  } else {
    runSegmented(x, state);
  }
}

void ChunkFilter::runSegmented(const std::int16_t* const* x, std::int64_t* state) {
  constexpr std::int64_t D = kChannelStride;
  if (prepared_.empty()) prepared_.assign(2 * D, 0);
  for (int c = 0; c < channels_; ++c) filterPrep(x[c], n_, prepared_.data() + c * D);
  filterChunk(channels_, prepared_.data(), x, n_, state, natural_.data());
  for (int c = 0; c < channels_; ++c) {
    stats_[c] = statsOfBiased32(natural_.data() + c * D, n_, kOutputBias, kFilteredLimits);
  }
}

#if RIL_AVX2
void ChunkFilter::runInLanes(const std::int16_t* const* x, std::int64_t* state) {
  constexpr std::int64_t W = kWarmUp;
  const int C = channels_;
  const std::int64_t T = segmentBegins(n_, kLanes, begin_);
  steps_ = T;
  std::int64_t start[kLanes];
  for (int j = 0; j < kLanes; ++j) start[j] = j == 0 ? 0 : begin_[j] - W;
  alignas(32) std::uint64_t init[2][kLanes];
  alignas(32) std::uint64_t guess[2][kLanes];
  for (int c = 0; c < C; ++c) {
    init[c][0] = static_cast<std::uint64_t>(state[c]);
    // The filter has unity gain at 0 Hz: the input is a fair first guess.
    for (int j = 1; j < kLanes; ++j) {
      init[c][j] = static_cast<std::uint64_t>(x[c][begin_[j] - W - 1] + kOutputBias);
    }
  }
  const std::size_t cells = static_cast<std::size_t>(T * C * kLanes);
  if (laneInputs_.size() < cells) {
    laneInputs_.resize(cells);
    laneOutputs_.resize(cells);
  }
  laneChunkAvx2(C, x, T, start, init, laneInputs_.data(), laneOutputs_.data(), guess);

  for (int c = 0; c < C; ++c) {
    // Segment j's own frame i sits in the row i - begin_[j] after its warm-up.
    auto stored = [&](int j, std::int64_t i) -> std::int32_t& {
      return laneOutputs_[laneCell(c, j == 0 ? i : W + i - begin_[j], j)];
    };
    std::int32_t* tail = natural_.data() + c * kChannelStride;
    state[c] =
        static_cast<std::int64_t>(settleSegments(x[c], n_, kLanes, begin_, guess[c], stored, tail));
    stats_[c] = statsInLanes(c);
  }
}

RunStats ChunkFilter::statsInLanes(int c) const {
  // All lanes of the rows after the warm-up, segment 0's own outputs during
  // it, and the frames behind the last segment.
  constexpr std::int64_t W = kWarmUp;
  RunStats s = rowStatsOfBiased32Avx2(laneOutputs_.data() + laneRow(c, W), steps_ - W,
                                      channels_ * kLanes, kOutputBias, kFilteredLimits);
  std::int32_t first[W];
  for (std::int64_t t = 0; t < W; ++t) first[t] = laneOutputs_[laneCell(c, t, 0)];
  combine(s, statsOfBiased32(first, W, kOutputBias, kFilteredLimits));
  const std::int32_t* tail = natural_.data() + c * kChannelStride;
  if (begin_[kLanes] < n_) {
    combine(s, statsOfBiased32(tail + begin_[kLanes], n_ - begin_[kLanes], kOutputBias,
                               kFilteredLimits));
  }
  return s;
}
#else
void ChunkFilter::runInLanes(const std::int16_t* const*, std::int64_t*) {}
#endif

std::int32_t ChunkFilter::outputAt(int c, std::int64_t i) const {
  const std::int32_t* tail = natural_.data() + c * kChannelStride;
  if (!lanes_ || i >= begin_[kLanes]) return tail[i];
  int j = 0;
  std::int64_t row = i;
  if (i >= begin_[1]) {
    j = 1 + static_cast<int>((i - begin_[1]) / (steps_ - kWarmUp));
    row = kWarmUp + (i - begin_[j]);
  }
  return laneOutputs_[laneCell(c, row, j)];
}

std::int64_t ChunkFilter::firstIndexOf(int c, std::int32_t v) const {
  const std::int32_t biased = v + kOutputBias;
  for (std::int64_t i = 0; i < n_; ++i) {
    if (outputAt(c, i) == biased) return i;
  }
  return n_;
}

}  // namespace ril::kernels
