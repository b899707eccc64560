// The true peak: the largest magnitude of the signal between its samples,
// found by oversampling with the 48-tap interpolator that loudness
// measurement prescribes (four phases of 12 taps): 4x below 96 kHz, 2x (every
// other phase) below 192 kHz, and from there on the samples themselves.
#pragma once

#include <cstdint>

namespace ril::kernels {

inline constexpr int kTruePeakTaps = 12;
// Frames in front of a scan that it reads (at least the taps less one).
inline constexpr int kTruePeakHistory = 16;

// 4, 2 or 1.
int truePeakFactor(double sampleRate);

// The largest magnitude found so far and where: a frame position with the
// fraction of the interpolated point (-1 while nothing beat the start value).
struct PeakFound {
  double peak = 0;
  double at = -1;
};

// Scans frames x[0, n) of one channel, whose first frame is frame `first` of
// the file (x[-kTruePeakHistory, 0) are the frames in front, zeros at the
// start of the file), for sample magnitudes above `sample.peak` and
// interpolated ones above `interpolated.peak`, keeping the first of the
// largest in each (phase p of 4 at input frame i lies at frame position
// i - 5.875 + p / 4). Runs of frames whose bound (the taps' absolute sums
// times their largest samples) cannot beat interpolated.peak are passed
// over: the result is the same as with every value computed. With factor 1
// nothing is interpolated.
void scanPeaks(const double* x, std::int64_t n, std::int64_t first, int factor, PeakFound& sample,
               PeakFound& interpolated);

}  // namespace ril::kernels
