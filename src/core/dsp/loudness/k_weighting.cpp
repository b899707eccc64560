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

}  // namespace

KWeighting kWeightingFor(double sampleRate) {
  return KWeighting{shelfFor(sampleRate), highPassFor(sampleRate)};
}

}  // namespace ril::kernels
