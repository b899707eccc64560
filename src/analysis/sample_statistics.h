// One pass over all samples: per-channel statistics and headroom.
#pragma once

#include <array>
#include <cstdint>

#include "app/program_state.h"
#include "platform/clock.h"
#include "platform/ui_host.h"

namespace ril {

struct ChannelStats {
  std::int32_t min = 0;
  std::int32_t max = 0;
  std::int64_t minPos = 0;
  std::int64_t maxPos = 0;
  std::int64_t sum = 0;       // exact
  std::uint64_t sumSq = 0;    // exact
  double avg = 0.0;           // fraction of 32768
  double rms = 0.0;           // fraction of 32768
};

// Records 0..3: channel 1, channel 2, channel 1 de-emphasised, channel 2 de-emphasised.
using StatsRecords = std::array<ChannelStats, 4>;

// Analyses the current file from wavInput (left by the header reader), appends
// the report lines, stores peakLevel, closes wavInput and shows the report.
// Files the header reader could not make ready are not analysed.
void AnalyseSamples(ProgramState& state, MainView& view, Clock& clock);

}  // namespace ril
