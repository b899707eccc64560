#include "core/dsp/double_filter/segmented_deemphasis.h"

#include <bit>

#include "core/dsp/cpu_features.h"

namespace ril::kernels {

namespace {

constexpr std::int64_t W = kDoubleWarmUp;

bool sameBits(double a, double b) {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

void serialRun(const double* x, double* y, std::int64_t from, std::int64_t to,
               DeemphasisFilterDouble& filter) {
  for (std::int64_t i = from; i < to; ++i) y[i] = filter.step(x[i]);
}

// The lanes' states: previous input and previous output per segment.
struct LaneStates {
  alignas(32) double in[kDoubleSegments];
  alignas(32) double out[kDoubleSegments];
};

// Steps t in [from, to) of every segment; segment j reads xs[j][t] and
// writes ys[j][t]. Each lane does deemphasisStep's operations in its order.
#if RIL_AVX2
// Row k of the result holds element k of each of the four rows.
__attribute__((target("avx2"))) inline void transpose4(__m256d (&r)[4]) {
  const __m256d a0 = _mm256_unpacklo_pd(r[0], r[1]);
  const __m256d a1 = _mm256_unpackhi_pd(r[0], r[1]);
  const __m256d a2 = _mm256_unpacklo_pd(r[2], r[3]);
  const __m256d a3 = _mm256_unpackhi_pd(r[2], r[3]);
  r[0] = _mm256_permute2f128_pd(a0, a2, 0x20);
  r[1] = _mm256_permute2f128_pd(a1, a3, 0x20);
  r[2] = _mm256_permute2f128_pd(a0, a2, 0x31);
  r[3] = _mm256_permute2f128_pd(a1, a3, 0x31);
}

// deemphasisStep on four lanes, updating the lanes' previous input and output.
__attribute__((target("avx2"))) inline __m256d stepAvx2(__m256d x, __m256d& in, __m256d& out) {
  __m256d v = _mm256_add_pd(_mm256_mul_pd(_mm256_set1_pd(deemphasis::kPrevInput), in),
                            _mm256_mul_pd(_mm256_set1_pd(deemphasis::kInput), x));
  v = _mm256_add_pd(v, _mm256_mul_pd(_mm256_set1_pd(deemphasis::kPrevOutput), out));
  v = _mm256_div_pd(v, _mm256_set1_pd(deemphasis::kDivisor));
  in = x;
  out = v;
  return v;
}

// Four steps at a time: each segment's four inputs are one load, turned
// into four vectors of one step each, and the outputs turned back.
__attribute__((target("avx2"))) void stepLanesAvx2(const double* const* xs, double* const* ys,
                                                   std::int64_t from, std::int64_t to,
                                                   LaneStates& s) {
  constexpr int kGroups = kDoubleSegments / 4;
  __m256d in[kGroups], out[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    in[g] = _mm256_load_pd(s.in + 4 * g);
    out[g] = _mm256_load_pd(s.out + 4 * g);
  }
  std::int64_t t = from;
  for (; t + 4 <= to; t += 4) {
    __m256d v[kGroups][4];
#pragma GCC unroll 4
    for (int g = 0; g < kGroups; ++g) {
#pragma GCC unroll 4
      for (int k = 0; k < 4; ++k) v[g][k] = _mm256_loadu_pd(xs[4 * g + k] + t);
      transpose4(v[g]);
    }
#pragma GCC unroll 4
    for (int k = 0; k < 4; ++k) {
#pragma GCC unroll 4
      for (int g = 0; g < kGroups; ++g) v[g][k] = stepAvx2(v[g][k], in[g], out[g]);
    }
#pragma GCC unroll 4
    for (int g = 0; g < kGroups; ++g) {
      transpose4(v[g]);
#pragma GCC unroll 4
      for (int k = 0; k < 4; ++k) _mm256_storeu_pd(ys[4 * g + k] + t, v[g][k]);
    }
  }
  for (; t < to; ++t) {
    for (int g = 0; g < kGroups; ++g) {
      const double* const* xg = xs + 4 * g;
      double* const* yg = ys + 4 * g;
      const __m256d v =
          stepAvx2(_mm256_set_pd(xg[3][t], xg[2][t], xg[1][t], xg[0][t]), in[g], out[g]);
      alignas(32) double lanes[4];
      _mm256_store_pd(lanes, v);
      for (int k = 0; k < 4; ++k) yg[k][t] = lanes[k];
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    _mm256_store_pd(s.in + 4 * g, in[g]);
    _mm256_store_pd(s.out + 4 * g, out[g]);
  }
}
#endif

#if RIL_SSE2
void stepLanesSse2(const double* const* xs, double* const* ys, std::int64_t from, std::int64_t to,
                   LaneStates& s) {
  const __m128d prevInputWeight = _mm_set1_pd(deemphasis::kPrevInput);
  const __m128d inputWeight = _mm_set1_pd(deemphasis::kInput);
  const __m128d prevOutputWeight = _mm_set1_pd(deemphasis::kPrevOutput);
  const __m128d divisor = _mm_set1_pd(deemphasis::kDivisor);
  constexpr int kGroups = kDoubleSegments / 2;
  __m128d in[kGroups], out[kGroups];
  for (int g = 0; g < kGroups; ++g) {
    in[g] = _mm_load_pd(s.in + 2 * g);
    out[g] = _mm_load_pd(s.out + 2 * g);
  }
  for (std::int64_t t = from; t < to; ++t) {
#pragma GCC unroll 8
    for (int g = 0; g < kGroups; ++g) {
      const __m128d x = _mm_set_pd(xs[2 * g + 1][t], xs[2 * g][t]);
      __m128d v = _mm_add_pd(_mm_mul_pd(prevInputWeight, in[g]), _mm_mul_pd(inputWeight, x));
      v = _mm_add_pd(v, _mm_mul_pd(prevOutputWeight, out[g]));
      v = _mm_div_pd(v, divisor);
      in[g] = x;
      out[g] = v;
      _mm_storel_pd(ys[2 * g] + t, v);
      _mm_storeh_pd(ys[2 * g + 1] + t, v);
    }
  }
  for (int g = 0; g < kGroups; ++g) {
    _mm_store_pd(s.in + 2 * g, in[g]);
    _mm_store_pd(s.out + 2 * g, out[g]);
  }
}
#else
void stepLanesScalar(const double* const* xs, double* const* ys, std::int64_t from, std::int64_t to,
                     LaneStates& s) {
  DeemphasisFilterDouble f[kDoubleSegments];
  for (int j = 0; j < kDoubleSegments; ++j) f[j] = {s.in[j], s.out[j]};
  for (std::int64_t t = from; t < to; ++t) {
    for (int j = 0; j < kDoubleSegments; ++j) ys[j][t] = f[j].step(xs[j][t]);
  }
  for (int j = 0; j < kDoubleSegments; ++j) {
    s.in[j] = f[j].prevInput;
    s.out[j] = f[j].prevOutput;
  }
}
#endif

void stepLanes(const double* const* xs, double* const* ys, std::int64_t from, std::int64_t to,
               LaneStates& s) {
#if RIL_AVX2
  if (haveAvx2()) {
    stepLanesAvx2(xs, ys, from, to, s);
    return;
  }
#endif
#if RIL_SSE2
  stepLanesSse2(xs, ys, from, to, s);
#else
  stepLanesScalar(xs, ys, from, to, s);
#endif
}

}  // namespace

DeemphasisFilterDouble guessStateBefore(const double* x, std::int64_t b) {
  DeemphasisFilterDouble f;
  f.prevInput = x[b - W - 1];
  f.prevOutput = x[b - W - 1];
  for (std::int64_t i = b - W; i < b; ++i) f.step(x[i]);
  return f;
}

DeemphasisFilterDouble settleSegment(const double* x, double* y, std::int64_t b, std::int64_t e,
                                     const DeemphasisFilterDouble& guess,
                                     const DeemphasisFilterDouble& truth) {
  if (!sameBits(guess.prevInput, truth.prevInput) ||
      !sameBits(guess.prevOutput, truth.prevOutput)) {
    DeemphasisFilterDouble f = truth;
    for (std::int64_t i = b; i < e; ++i) {
      const double v = f.step(x[i]);
      if (sameBits(v, y[i])) break;  // the runs have met
      y[i] = v;
    }
  }
  return DeemphasisFilterDouble{x[e - 1], y[e - 1]};
}

void deemphasiseSegmented(const double* x, double* y, std::int64_t n,
                          DeemphasisFilterDouble& filter) {
  if (n < kLeastSegmentedFrames) {
    serialRun(x, y, 0, n, filter);
    return;
  }
  // Segment 0 owns the first T frames, every later one the next T - W after
  // warming up over the W in front of them; the rest runs serially.
  const std::int64_t T = (n + (kDoubleSegments - 1) * W) / kDoubleSegments;
  std::int64_t begin[kDoubleSegments + 1];
  begin[0] = 0;
  begin[1] = T;
  for (int j = 1; j < kDoubleSegments; ++j) begin[j + 1] = begin[j] + T - W;

  const double* xs[kDoubleSegments];
  double* ys[kDoubleSegments];
  LaneStates s;
  for (int j = 0; j < kDoubleSegments; ++j) {
    const std::int64_t start = j == 0 ? 0 : begin[j] - W;
    xs[j] = x + start;
    ys[j] = y + start;
    s.in[j] = j == 0 ? filter.prevInput : x[start - 1];
    s.out[j] = j == 0 ? filter.prevOutput : x[start - 1];
  }
  // The warm-up's outputs land on frames of the segment in front, which
  // writes them again later (T >= 2 W).
  stepLanes(xs, ys, 0, W, s);
  LaneStates guess = s;
  stepLanes(xs, ys, W, T, s);

  DeemphasisFilterDouble state{x[begin[1] - 1], y[begin[1] - 1]};
  for (int j = 1; j < kDoubleSegments; ++j) {
    state = settleSegment(x, y, begin[j], begin[j + 1],
                          DeemphasisFilterDouble{guess.in[j], guess.out[j]}, state);
  }
  serialRun(x, y, begin[kDoubleSegments], n, state);
  filter = state;
}

}  // namespace ril::kernels
