// The inner loops of the tuned statistics pass, on chunks of one channel's
// samples. Each kernel has a vector path (SSE2, the x86-64 baseline) and a
// scalar path that gives the same results.
#pragma once

#include <cstdint>
#include <vector>

namespace ril::kernels {

// Minimum, maximum and exact sums of a run of values.
struct RunStats {
  std::int32_t min = 0;
  std::int32_t max = 0;
  std::int64_t sum = 0;
  std::uint64_t sumSq = 0;
};

// Converts `frames` frames of stored sample bytes (unsigned 8-bit or signed
// 16-bit little-endian, 1 or 2 channels interleaved) to the common 16-bit scale,
// one array per channel (`right` only for two channels).
void toPlanar16(const unsigned char* bytes, std::int64_t frames, int channels, int bitsPerSample,
                std::int16_t* left, std::int16_t* right);

// Statistics of x[0..n); n > 0.
RunStats statsOf16(const std::int16_t* x, std::int64_t n);

// Statistics of yb[i] - bias for yb[0..n), where 0 <= yb[i] < 2^20; n > 0.
RunStats statsOfBiased32(const std::int32_t* yb, std::int64_t n, std::int32_t bias);

// Index of the first element equal to v (n when there is none).
std::int64_t firstIndexOf16(const std::int16_t* x, std::int64_t n, std::int16_t v);
std::int64_t firstIndexOf32(const std::int32_t* x, std::int64_t n, std::int32_t v);

// The input part of each filter step, already multiplied by the magic
// reciprocal of the fast division: p[i] = (62 x[i-1] - 11 x[i] + kPrepOffset)
// * fastdiv::kMagic. x[-1] must be readable (the previous input). The factor
// is positive and below 2^23.
inline constexpr std::int32_t kPrepOffset = 102 * 32768 + 67;
void filterPrep(const std::int16_t* x, std::int64_t n, std::uint64_t* p);

// Frames per chunk of the tuned pass, and the distance between the channels'
// arrays in the buffers filterChunk works on.
inline constexpr std::int64_t kChunkFrames = 16384;
inline constexpr std::int64_t kChannelStride = kChunkFrames + 64;

// The filter over one chunk of n <= kChunkFrames frames of 1 or 2 channels.
// p + c * kChannelStride holds channel c's prepared inputs (filterPrep), and
// yb + c * kChannelStride receives its outputs plus 65536 (the bias of the
// fast division); x[c] are the inputs themselves (x[c][-1] the previous one);
// state[c] is the biased previous output, carried from chunk to chunk.
//
// Each channel is cut into segments that run as independent chains, so that
// the processor overlaps several recurrences. A segment after the first starts
// from a guess and warms up over the kWarmUp inputs in front of it; as the
// recursion forgets its state by a factor 83/134 per step, the guess has then
// almost always become the true state. Afterwards each segment's state at its
// start is compared with the true output of the segment before; where they
// differ, the segment is recomputed serially until its output meets the
// speculative one (from there on the two runs are the same run). The result is
// always exactly the serial recurrence.
inline constexpr std::int64_t kWarmUp = 64;
void filterChunk(int channels, const std::uint64_t* p, const std::int16_t* const* x, std::int64_t n,
                 std::int64_t* state, std::int32_t* yb);

// Lets the kernels use AVX2 where the processor has it (the default), or
// keeps them to the baseline; for tests of both paths.
void allowWideVectors(bool allow);

// Runs filterChunk, or on processors with AVX2 the same scheme with eight
// segments per channel in vector lanes, and gives the statistics of each
// channel's outputs.
class ChunkFilter {
 public:
  // x[c] are channel c's n inputs, x[c][-1] the previous one.
  void run(int channels, const std::int16_t* const* x, std::int64_t n, std::int64_t* state);
  const RunStats& stats(int channel) const { return stats_[channel]; }
  // Frame index of the first output of the last chunk equal to v.
  std::int64_t firstIndexOf(int channel, std::int32_t v) const;

 private:
  std::int32_t outputAt(int channel, std::int64_t i) const;  // biased

  static constexpr int kLanes = 8;
  int channels_ = 1;
  std::int64_t n_ = 0;
  bool lanes_ = false;  // the last chunk ran in vector lanes
  std::int64_t steps_ = 0;
  std::int64_t begin_[kLanes + 1] = {};
  RunStats stats_[2];
  std::vector<std::int32_t> natural_;    // outputs in frame order (serial and segmented runs)
  std::vector<std::uint64_t> prepared_;  // filterPrep, for filterChunk
  std::vector<std::int32_t> laneInputs_;
  std::vector<std::int32_t> laneOutputs_;
};

// The filter recurrence over prepared inputs as one serial chain (two
// channels interleaved): yb[i] receives the biased output; `state` holds the
// biased previous output and is updated.
void filterChain(const std::uint64_t* p, std::int64_t n, std::int64_t& state, std::int32_t* yb);
void filterChain2(const std::uint64_t* p0, const std::uint64_t* p1, std::int64_t n,
                  std::int64_t& state0, std::int64_t& state1, std::int32_t* yb0, std::int32_t* yb1);

}  // namespace ril::kernels
