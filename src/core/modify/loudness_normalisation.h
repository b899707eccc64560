// Normalisation to a loudness target: the loudness of a file (or of several
// played as one programme), measured as stored or after the rewriting's
// de-emphasis filter, and the gain that brings it to the target, held down so
// that the true peak stays at or below a limit, as a volume factor in the
// volume setting's steps of 0.1 %.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/analysis/loudness.h"
#include "core/io/files.h"
#include "core/wav/wav_header.h"

namespace ril {

// The loudness of a programme: the integrated loudness gated over the blocks
// of all its traces together (none across two), and the largest true peak of
// any channel of any of them (absent when all are silent).
struct ProgrammeLoudness {
  LoudnessFigure integratedLufs;
  std::optional<double> truePeakDbtp;
};
ProgrammeLoudness programmeLoudness(const std::vector<const LoudnessTrace*>& traces);

struct LoudnessGain {
  double db = 0;            // target less integrated, or what the limit leaves
  long long tenths = 1000;  // the factor 10^(db / 20) in tenths of a percent, rounded down
  bool limitedByTruePeak = false;
};

// The gain from `integratedLufs` to `targetLufs`, held down so that the true
// peak after it (truePeakDbtp + the gain of the factor) is at most
// `limitDbtp`.
LoudnessGain loudnessGain(double integratedLufs, std::optional<double> truePeakDbtp,
                          double targetLufs, double limitDbtp);

// "Loudness gain: -4.37 dB (60.4%)", with ", limited by the true peak of
// -1.0 dBTP" when the limit held it down.
std::string loudnessGainLine(const LoudnessGain& gain, double limitDbtp);

struct LoudnessMeasurement {
  bool complete = false;
  std::string failure;  // when not complete: why
  LoudnessTrace trace;
};

// The loudness meter over every frame of `layout` from `samples` (positioned
// at the first sample byte), on `threads` threads: the data as stored, or
// with `deemphasis` as the rewriting's de-emphasis filter puts out the
// samples at 100 % (unrounded). Every sample format the analysis reads.
LoudnessMeasurement measureLoudness(ByteSource& samples, const WavFormat& format,
                                    const WavLayout& layout, bool deemphasis, int threads);

}  // namespace ril
