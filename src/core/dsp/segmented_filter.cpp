#include "core/dsp/segmented_filter.h"

namespace ril::kernels {

namespace {

// Chains of C channels times S segments, stepped together.
template <int C, int S>
void speculativeChunk(const std::uint64_t* p, const std::int16_t* const* x, std::int64_t n,
                      std::int64_t* state, std::int32_t* yb) {
  constexpr std::int64_t W = kWarmUp;
  constexpr std::int64_t D = kChannelStride;
  // Segment 0 has T own outputs, every later one T - W after W warm-up steps.
  const std::int64_t T = (n + (S - 1) * W) / S;
  std::int64_t begin[S + 1];
  begin[0] = 0;
  begin[1] = T;
  for (int j = 1; j < S; ++j) begin[j + 1] = begin[j] + T - W;
  const std::uint64_t* in[S];
  std::int32_t* out[S];
  for (int j = 0; j < S; ++j) {
    in[j] = p + (j == 0 ? 0 : begin[j] - W);
    out[j] = yb + (j == 0 ? 0 : begin[j] - W);
  }

  std::uint64_t y[C][S];
  for (int c = 0; c < C; ++c) {
    y[c][0] = static_cast<std::uint64_t>(state[c]);
    // The filter has unity gain at 0 Hz: the input is a fair first guess.
    for (int j = 1; j < S; ++j) {
      y[c][j] = static_cast<std::uint64_t>(x[c][begin[j] - W - 1] + kOutputBias);
    }
  }
  // Warm-up: the later segments' outputs here are dropped; segment 0 runs on.
  for (std::int64_t t = 0; t < W; ++t) {
#pragma GCC unroll 4
    for (int c = 0; c < C; ++c) {
      y[c][0] = chainStep(in[0][c * D + t], y[c][0]);
      out[0][c * D + t] = static_cast<std::int32_t>(y[c][0]);
#pragma GCC unroll 8
      for (int j = 1; j < S; ++j) y[c][j] = chainStep(in[j][c * D + t], y[c][j]);
    }
  }
  std::uint64_t guess[C][S];
  for (int c = 0; c < C; ++c) {
    for (int j = 0; j < S; ++j) guess[c][j] = y[c][j];
  }
  for (std::int64_t t = W; t < T; ++t) {
#pragma GCC unroll 4
    for (int c = 0; c < C; ++c) {
#pragma GCC unroll 8
      for (int j = 0; j < S; ++j) {
        y[c][j] = chainStep(in[j][c * D + t], y[c][j]);
        out[j][c * D + t] = static_cast<std::int32_t>(y[c][j]);
      }
    }
  }

  // Check every segment against the true state in front of it, repair where
  // needed, then run the few frames behind the last segment.
  for (int c = 0; c < C; ++c) {
    std::int32_t* yc = yb + c * D;
    const std::int16_t* xc = x[c];
    std::uint64_t prev = static_cast<std::uint32_t>(yc[begin[1] - 1]);
    for (int j = 1; j < S; ++j) {
      if (guess[c][j] != prev) {
        for (std::int64_t i = begin[j]; i < begin[j + 1]; ++i) {
          prev = chainStep(preparedAt(xc, i), prev);
          if (static_cast<std::uint32_t>(yc[i]) == prev) break;  // the runs have met
          yc[i] = static_cast<std::int32_t>(prev);
        }
      }
      prev = static_cast<std::uint32_t>(yc[begin[j + 1] - 1]);
    }
    for (std::int64_t i = begin[S]; i < n; ++i) {
      prev = chainStep(p[c * D + i], prev);
      yc[i] = static_cast<std::int32_t>(prev);
    }
    state[c] = static_cast<std::int64_t>(prev);
  }
}

}  // namespace

void filterChunk(int channels, const std::uint64_t* p, const std::int16_t* const* x, std::int64_t n,
                 std::int64_t* state, std::int32_t* yb) {
  constexpr int kSegmentsStereo = 3;
  constexpr int kSegmentsMono = 5;
  if (channels == 2) {
    if (n >= 4 * kWarmUp * kSegmentsStereo) {
      speculativeChunk<2, kSegmentsStereo>(p, x, n, state, yb);
    } else {
      filterChain2(p, p + kChannelStride, n, state[0], state[1], yb, yb + kChannelStride);
    }
  } else {
    if (n >= 4 * kWarmUp * kSegmentsMono) {
      speculativeChunk<1, kSegmentsMono>(p, x, n, state, yb);
    } else {
      filterChain(p, n, state[0], yb);
    }
  }
}

}  // namespace ril::kernels
