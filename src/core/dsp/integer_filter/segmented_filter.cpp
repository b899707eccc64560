#include "core/dsp/integer_filter/segmented_filter.h"

namespace ril::kernels {

namespace {

// Chains of C channels times S segments, stepped together.
template <int C, int S>
void speculativeChunk(const std::uint64_t* p, const std::int16_t* const* x, std::int64_t n,
                      std::int64_t* state, std::int32_t* yb) {
  constexpr std::int64_t W = kWarmUp;
  constexpr std::int64_t D = kChannelStride;
  std::int64_t begin[S + 1];
  const std::int64_t T = segmentBegins(n, S, begin);
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

  for (int c = 0; c < C; ++c) {
    std::int32_t* yc = yb + c * D;
    auto stored = [yc](int, std::int64_t i) -> std::int32_t& { return yc[i]; };
    state[c] = static_cast<std::int64_t>(settleSegments(x[c], n, S, begin, guess[c], stored, yc));
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
