// The K-weighting over sixteen independent runs at once (segments of one or
// more channels), eight lanes at a time in one AVX-512 vector or two AVX2
// vectors where the processor has them; each lane does kStep's operations in
// its order, so a lane's outputs are bit for bit those of kStep over the same
// inputs.
#pragma once

#include <cstdint>

#include "core/dsp/loudness/k_weighting.h"

namespace ril::kernels {

inline constexpr int kKLanes = 16;

// The lanes' states (s[i][j]: state i of lane j) and sums of squared outputs.
struct KLaneStates {
  alignas(64) double s[kKStateSize][kKLanes] = {};
  alignas(64) double sum[kKLanes] = {};

  KState state(int lane) const {
    KState st;
    for (int i = 0; i < kKStateSize; ++i) st.s[i] = s[i][lane];
    return st;
  }
  void setState(int lane, const KState& st) {
    for (int i = 0; i < kKStateSize; ++i) s[i][lane] = st.s[i];
  }
};

// Steps [from, to) of lanes 0 to count - 1 (others may change too; the rows
// of all kKLanes must be readable): lane j's input of step t is
// rows[j * stride + t]; each lane's squared output is added to its sum, step
// by step. Eight lanes or fewer take half the work of sixteen.
void kWeightLanes(const KWeighting& k, const double* rows, std::int64_t stride, std::int64_t from,
                  std::int64_t to, KLaneStates& lanes, int count = kKLanes);

}  // namespace ril::kernels
