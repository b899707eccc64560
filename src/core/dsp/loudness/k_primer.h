// Where a segment of the K-weighting starts: the cascade's memory before a
// frame, taken from the frames in front alone, without running the filters
// over them. Each remembered output is a sum of the inputs weighted by the
// cascade's impulse response, cut where the rest of the response weighs less
// than 1e-13 of the input's magnitude; so the state's error stays below
// 1e-13 of the signal, and the loudness agrees with one serial run far below
// 1e-9 LU. The sums run along the frames in vector lanes, where a run of the
// filters would wait on each step.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/dsp/loudness/k_weighting.h"

namespace ril::kernels {

class KPrimer {
 public:
  explicit KPrimer(const KWeighting& k);

  // Frames in front of a segment's first that state() reads; kNoPrimer at
  // rates so high (MHz) that the response outlasts any block.
  std::int64_t frames() const { return frames_; }
  static constexpr std::int64_t kNoPrimer = std::int64_t{1} << 40;

  // The state before frame x[0], from the frames x[-frames(), 0).
  KState state(const double* x) const;

 private:
  // The shelf's and the cascade's responses, last tap first, each a multiple
  // of kDotLanes long.
  std::vector<double> shelf_, cascade_;
  std::int64_t frames_ = kNoPrimer;
};

// The primer of the K-weighting at `sampleRate` Hz, made once for each rate
// and shared (its making takes about as long as measuring a second of audio).
std::shared_ptr<const KPrimer> kPrimerFor(double sampleRate);

// Partial sums a dot product keeps: term i goes to sum i % kDotLanes, and the
// sums are added in order at the end, on every path.
inline constexpr int kDotLanes = 16;

// a = sum of r[i] p[i], b = sum of r[i] p[i - 1], for i < n (a multiple of
// kDotLanes), in kDotLanes partial sums.
void pairDot(const double* r, const double* p, std::int64_t n, double& a, double& b);

}  // namespace ril::kernels
