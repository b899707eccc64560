#include "core/dsp/loudness/k_weighting.h"

#include <cmath>
#include <numbers>

namespace ril::kernels {

namespace {

// The analog prototype that gives the printed 48 kHz coefficients: the
// shelf's corner, gain and quality, the shape of its band edge, and the
// high-pass's corner and quality.
constexpr double kShelfHz = 1681.974450955533;
constexpr double kShelfGainDb = 3.999843853973347;
constexpr double kShelfQ = 0.7071752369554196;
constexpr double kShelfBandExponent = 0.4996667741545416;
constexpr double kHighPassHz = 38.13547087602444;
constexpr double kHighPassQ = 0.5003270373238773;

Biquad shelfFor(double rate) {
  const double K = std::tan(std::numbers::pi * kShelfHz / rate);
  const double Vh = std::pow(10.0, kShelfGainDb / 20.0);
  const double Vb = std::pow(Vh, kShelfBandExponent);
  const double a0 = 1.0 + K / kShelfQ + K * K;
  Biquad f;
  f.b0 = (Vh + Vb * K / kShelfQ + K * K) / a0;
  f.b1 = 2.0 * (K * K - Vh) / a0;
  f.b2 = (Vh - Vb * K / kShelfQ + K * K) / a0;
  f.a1 = 2.0 * (K * K - 1.0) / a0;
  f.a2 = (1.0 - K / kShelfQ + K * K) / a0;
  return f;
}

// Unnormalised numerator 1, -2, 1, as the printed coefficients have it.
Biquad highPassFor(double rate) {
  const double K = std::tan(std::numbers::pi * kHighPassHz / rate);
  const double a0 = 1.0 + K / kHighPassQ + K * K;
  Biquad f;
  f.b0 = 1.0;
  f.b1 = -2.0;
  f.b2 = 1.0;
  f.a1 = 2.0 * (K * K - 1.0) / a0;
  f.a2 = (1.0 - K / kHighPassQ + K * K) / a0;
  return f;
}

// The gain of a biquad for a constant input.
double restingGain(const Biquad& f) {
  return (f.b0 + f.b1 + f.b2) / (1.0 + f.a1 + f.a2);
}

}  // namespace

KWeighting kWeightingFor(double sampleRate) {
  return KWeighting{shelfFor(sampleRate), highPassFor(sampleRate)};
}

KState steadyState(const KWeighting& k, double x) {
  const double u = restingGain(k.shelf) * x;
  const double y = restingGain(k.highPass) * u;
  KState st;
  st.s[kX1] = st.s[kX2] = x;
  st.s[kU1] = st.s[kU2] = u;
  st.s[kY1] = st.s[kY2] = y;
  return st;
}

std::int64_t kWarmUpFrames(double sampleRate) {
  // The high-pass's double pole near 1 is the slow part: an error in the
  // state dies away as n r^n. The step where that falls below 1e-13.
  const double r = std::sqrt(kWeightingFor(sampleRate).highPass.a2);
  double n = 1;
  while (n * std::pow(r, n) > 1e-13 && n < 1e7) n *= 1.05;
  return static_cast<std::int64_t>(std::ceil(n));
}

}  // namespace ril::kernels
