// The K-weighting of loudness measurement: a high shelf (the head's effect,
// +4 dB above about 1.7 kHz) followed by a high-pass (the revised low-frequency
// B-curve, about 38 Hz), each a biquad in direct form I, designed for any
// sample rate from the analog prototype by the bilinear transform.
//
// Direct form I keeps each stage's recursion to one product and one
// subtraction a step (the feedback of the last output comes last), where the
// transposed form chains a product and two sums: vector lanes that run the
// steps of one segment each wait on that chain.
#pragma once

namespace ril::kernels {

// y[t] = b0 x[t] + b1 x[t-1] + b2 x[t-2] - a1 y[t-1] - a2 y[t-2]  (a0 = 1).
struct Biquad {
  double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
};

struct KWeighting {
  Biquad shelf;
  Biquad highPass;
};

// The cascade's memory: the shelf's last two inputs and outputs, then the
// high-pass's last two outputs (its inputs are the shelf's outputs).
enum KStateIndex { kX1, kX2, kU1, kU2, kY1, kY2, kKStateSize };
struct KState {
  double s[kKStateSize] = {0, 0, 0, 0, 0, 0};
};

// The end of a step, on one lane or a vector of them: each stage's memory
// moves on by one frame, x the step's input, u the shelf's output, y the
// high-pass's. By reference: a vector passed by value would change the
// calling convention outside the functions built for its instructions.
template <typename V>
[[gnu::always_inline]] inline void moveOn(V* s, const V& x, const V& u, const V& y) {
  s[kX2] = s[kX1];
  s[kX1] = x;
  s[kU2] = s[kU1];
  s[kU1] = u;
  s[kY2] = s[kY1];
  s[kY1] = y;
}

// The filters at `sampleRate` Hz (> 0).
KWeighting kWeightingFor(double sampleRate);

// One step of the cascade; the reference every faster form follows operation
// for operation. The high-pass's numerator 1, -2, 1 is taken as it is: its
// products are exact, so they are left out.
inline double kStep(const KWeighting& k, KState& st, double x) {
  double* s = st.s;
  const Biquad& p = k.shelf;
  const double u = (((p.b0 * x + p.b1 * s[kX1]) + p.b2 * s[kX2]) - p.a2 * s[kU2]) - p.a1 * s[kU1];
  const Biquad& q = k.highPass;
  const double y = (((u - (s[kU1] + s[kU1])) + s[kU2]) - q.a2 * s[kY2]) - q.a1 * s[kY1];
  moveOn(s, x, u, y);
  return y;
}

}  // namespace ril::kernels
