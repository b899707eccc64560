// How far the volume may be raised, and how a chosen volume is held to it.
#pragma once

#include <cstdint>

#include "core/base/sample_format.h"
#include "core/modify/sample_rewriter.h"

namespace ril {

// Largest safe volume factor for a peak magnitude on the 16-bit scale.
// cutToThousandths: floor(32767000 / peak) / 1000, else 32767 / peak. A peak of
// 0 gives 1. For 8-bit files the factor is kept below the point where the
// loudest sample would overflow the byte.
double maximumGain(std::int32_t peak, int bitsPerSample, bool cutToThousandths);

// The same for any format, from a peak on its statistics scale (see
// AnalysisResult::peakValue): the 16-bit scale's formats as above, wider
// integers against their largest value, float against 1.0.
double maximumGainFor(const SampleFormat& format, double peak, bool cutToThousandths);

// The peak that limits a run's factor: the de-emphasised data's when
// de-emphasis is chosen, else the data's as stored.
double chosenPeak(double peak, double peakDeemphasised, bool deemphasis);
// The largest factor for the chosen data (see chosenPeak): uncut for the
// data as stored, cut to thousandths once de-emphasis is chosen. Where the
// choice has been made and taken back, `cutToThousandths` keeps the cut for
// the data as stored too.
double safeGainFor(const SampleFormat& format, double peak, double peakDeemphasised,
                   bool deemphasis);
double safeGainFor(const SampleFormat& format, double peak, double peakDeemphasised,
                   bool deemphasis, bool cutToThousandths);
// What a run maximizing a float file divides its samples by: the peak as
// stored, so that it becomes exactly full scale; 0 (the factor is used) for
// integer formats.
double peakToDivideBy(const SampleFormat& format, double peak);

// The largest factor a file's volume may be changed by without clipping:
// uncut for the data as stored, cut to thousandths once de-emphasis is chosen.
double safeGain(std::int32_t peak, std::int32_t peakDeemphasised, int bitsPerSample,
                bool deemphasis);

// A volume asked for in tenths of a percent, held as both front ends hold it:
// first to the range of 0 to 10000, then at or below maxGain.
struct VolumeChoice {
  long long tenths = 1000;
  bool limitedToRange = false;  // the request lay outside 0 to 10000
  bool heldDown = false;        // maxGain held it down
};
VolumeChoice limitToRange(long long tenths);
// Whether maxGain holds `tenths` down (compared in single precision, as the
// volume setting always has been); never with maximize, which uses maxGain
// itself.
bool holdsDown(double maxGain, long long tenths, bool maximize);
// maxGain x 1000 to the nearest tenth of a percent, but never above maxGain,
// where the loudest sample would overflow.
long long tenthsAtMost(double maxGain);
// Both steps: the range, then maxGain.
VolumeChoice chooseVolume(long long tenths, double maxGain, bool maximize);

// A de-emphasis into a file of its own can start before the analysis: the
// run follows the report's filter alongside and stops at the first clipped
// sample, and its result stands when the followed peak leaves the asked
// volume as it is. Whether such a trial is worth making (a volume asked for,
// not maximize; the file has frames to work on).
bool deemphasisTrialPays(bool deemphasis, bool maximize, bool ownOutput, bool hasFrames);
// Whether a trial that ran through without a clipped sample stands; `peak`
// receives the de-emphasised peak.
bool deemphasisTrialHolds(const FilteredRange& range, int channels, int bitsPerSample,
                          long long tenths, std::int32_t& peak);

// The de-emphasised peak as the analysis finds it (-32768 counting as
// -32767) from the report filter's range a run followed.
std::int32_t peakOfRange(const FilteredRange& range, int channels);

}  // namespace ril
