// The loudness figures of a file (or of several gated together), from the
// meter's traces: integrated loudness, loudness range, the largest momentary
// and short-term loudness, and the peaks. A figure that cannot be given is
// absent, with the reason.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/analysis/loudness_meter.h"

namespace ril {

// A figure, or why there is none ("too short", "below the gate", "silence",
// "sample rate below 8000 Hz").
struct LoudnessFigure {
  std::optional<double> value;
  std::string reason;
  double second = 0;  // where it occurs, for the figures that have a place
};

struct ChannelPeaks {
  LoudnessFigure truePeakDbtp;
  LoudnessFigure samplePeakDbfs;
};

struct LoudnessFigures {
  LoudnessFigure integratedLufs;
  LoudnessFigure rangeLu;
  LoudnessFigure momentaryMaxLufs;  // second: start of its 400 ms
  LoudnessFigure shortTermMaxLufs;  // second: start of its 3 s
  LoudnessFigure truePeakDbtp;      // over all channels, at its place
  int truePeakChannel = 0;          // 1-based; 0 when there is none
  std::vector<ChannelPeaks> channels;
  ChannelWeights weights;
};

LoudnessFigures loudnessFigures(const LoudnessTrace& trace);

// The integrated loudness of several files gated together as one programme:
// every 400 ms block of every file, none across two files.
LoudnessFigure integratedLoudness(const std::vector<const LoudnessTrace*>& traces);

// Loudness (LUFS or dB) of a mean square: -0.691 + 10 log10(power).
double loudnessOfPower(double power);

}  // namespace ril
