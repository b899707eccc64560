// The de-emphasis filter, one state per channel.
//   y[n] = (15.5 x[n-1] - 2.75 x[n] + 20.75 y[n-1]) / 33.5
#pragma once

#include <cstdint>

namespace ril {

// Integer form (analysis): y = (62 x[n-1] - 11 x[n] + 83 y[n-1]) / 134,
// rounded to nearest with halves to even; the rounded output is fed back.
class DeemphasisFilter {
 public:
  void reset() { prevInput = 0; prevOutput = 0; }
  std::int32_t step(std::int32_t x);

  std::int32_t prevInput = 0;
  std::int32_t prevOutput = 0;
};

// Double form (modification): unrounded, in exactly this order of operations.
class DeemphasisFilterDouble {
 public:
  void reset() { prevInput = 0.0; prevOutput = 0.0; }
  double step(double x) {
    double v = 15.5 * prevInput + (-2.75) * x;
    v = v + 20.75 * prevOutput;
    v = v / 33.5;
    prevInput = x;
    prevOutput = v;
    return v;
  }

  double prevInput = 0.0;
  double prevOutput = 0.0;
};

}  // namespace ril
