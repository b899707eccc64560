// The integer de-emphasis filter as the tuned pass runs it: a chain of fast
// divisions (divide134RoundEvenFast) whose input parts are prepared ahead, so
// that the chain itself carries one multiply per step.
#pragma once

#include <cstdint>

#include "core/dsp/integer_filter/fast_division.h"

namespace ril::kernels {

// The bias of the chain's outputs and states, as the fast division leaves them.
inline constexpr std::int32_t kOutputBias = static_cast<std::int32_t>(2 * fastdiv::kBias);

// Offset of the input part: the fast division's offset less the share that the
// bias of the fed-back output brings (83 * kOutputBias), so that the operand is
// the input part plus 83 times the biased previous output.
inline constexpr std::int32_t kPrepOffset = static_cast<std::int32_t>(
    fastdiv::kOffset - deemphasis::kPrevOutputX4 * std::int64_t{kOutputBias});

// The feedback factor of a step: 83 times the magic reciprocal.
inline constexpr std::uint64_t kFeedback = deemphasis::kPrevOutputX4 * fastdiv::kMagic;

// The input weights 62 (low half) and -11 (high half) as one 32-bit word, for
// the pairwise multiply-add of interleaved (x[i-1], x[i]) in the vector paths.
inline constexpr std::int32_t kPrepWeightPair =
    static_cast<std::int32_t>((static_cast<std::uint32_t>(deemphasis::kInputX4) << 16) |
                              static_cast<std::uint16_t>(deemphasis::kPrevInputX4));

// The input part of a step: 62 prev - 11 cur + kPrepOffset, positive and
// below 2^23 for 16-bit inputs.
inline std::int32_t prepFactor(std::int32_t prev, std::int32_t cur) {
  return deemphasis::kPrevInputX4 * prev + deemphasis::kInputX4 * cur + kPrepOffset;
}

// The prepared input of step i, the input part times the magic reciprocal;
// x[i-1] must be readable.
inline std::uint64_t preparedAt(const std::int16_t* x, std::int64_t i) {
  return static_cast<std::uint64_t>(prepFactor(x[i - 1], x[i])) * fastdiv::kMagic;
}

// One step from the prepared input p and the biased previous output yb to the
// biased output: the operand of the fast division, already multiplied by the
// magic reciprocal, is p + yb * kFeedback, so the feedback product is the only
// multiply.
inline std::uint64_t chainStep(std::uint64_t p, std::uint64_t yb) {
  return roundedFromProduct(p + yb * kFeedback);
}

// The prepared inputs of steps 0..n - 1: p[i] = preparedAt(x, i). x[-1] must be
// readable (the previous input).
void filterPrep(const std::int16_t* x, std::int64_t n, std::uint64_t* p);

// The filter recurrence over prepared inputs as one serial chain (two
// channels interleaved): yb[i] receives the biased output; `state` holds the
// biased previous output and is updated.
void filterChain(const std::uint64_t* p, std::int64_t n, std::int64_t& state, std::int32_t* yb);
void filterChain2(const std::uint64_t* p0, const std::uint64_t* p1, std::int64_t n,
                  std::int64_t& state0, std::int64_t& state1, std::int32_t* yb0, std::int32_t* yb1);

}  // namespace ril::kernels
