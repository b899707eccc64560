// The K-weighting of loudness measurement: a high shelf (the head's effect,
// +4 dB above about 1.7 kHz) followed by a high-pass (the revised low-frequency
// B-curve, about 38 Hz), each a biquad in transposed direct form II, designed
// for any sample rate from the analog prototype by the bilinear transform.
#pragma once

#include <cstdint>

namespace ril::kernels {

// y = b0 x + s1;  s1 = b1 x - a1 y + s2;  s2 = b2 x - a2 y  (a0 = 1).
struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

struct KWeighting {
  Biquad shelf;
  Biquad highPass;
};

// The two stages' states: s1 and s2 of the shelf, then of the high-pass.
struct KState {
  double s[4] = {0, 0, 0, 0};
};

// The filters at `sampleRate` Hz (> 0).
KWeighting kWeightingFor(double sampleRate);

// One step of the cascade; the reference every faster form follows operation
// for operation. The high-pass's numerator 1, -2, 1 is taken as it is: its
// products are exact, so they are left out.
inline double kStep(const KWeighting& k, KState& st, double x) {
  const Biquad& p = k.shelf;
  const double u = p.b0 * x + st.s[0];
  st.s[0] = (p.b1 * x + st.s[1]) - p.a1 * u;
  st.s[1] = p.b2 * x - p.a2 * u;
  const Biquad& q = k.highPass;
  const double y = u + st.s[2];
  st.s[2] = (st.s[3] - (u + u)) - q.a1 * y;
  st.s[3] = u - q.a2 * y;
  return y;
}

// The state the cascade settles in when its input has stood at `x` for ever.
KState steadyState(const KWeighting& k, double x);

// Steps a segment of the filtered data runs over the input in front of it,
// from the steady state of that input's first value, before its own first
// frame: enough for the state's error to fall below 1e-13 of the signal, so
// that the loudness agrees with one serial run far below 1e-9 LU.
std::int64_t kWarmUpFrames(double sampleRate);

}  // namespace ril::kernels
