#include "core/modify/volume_policy.h"

#include <algorithm>
#include <cmath>

namespace ril {

double maximumGain(std::int32_t peak, int bitsPerSample, bool cutToThousandths) {
  if (peak <= 0) return 1.0;  // silence: nothing to raise
  double gain = cutToThousandths ? std::floor(32767000.0 / peak) / 1000.0 : 32767.0 / peak;
  if (bitsPerSample != 8) return gain;

  // A byte holds -128..127 around 128. The loudest sample, v = peak / 256 on
  // either side, must still give v x factor + 128.5 below 256 (and above -1).
  const double magnitude = peak / 256.0;
  const double positive = std::min(magnitude, 127.0);
  const double negative = std::min(magnitude, 128.0);
  auto fits = [&](double f) {
    return positive * f + 128.5 < 256.0 && -negative * f + 128.5 > -1.0;
  };
  if (fits(gain)) return gain;
  if (cutToThousandths) {
    double thousandths = std::floor(127.5 / positive * 1000.0);
    while (thousandths > 0 && !fits(thousandths / 1000.0)) thousandths -= 1;
    return thousandths / 1000.0;
  }
  gain = 127.5 / positive;
  while (!fits(gain)) gain = std::nextafter(gain, 0.0);
  return gain;
}

double safeGain(std::int32_t peak, std::int32_t peakDeemphasised, int bitsPerSample,
                bool deemphasis) {
  return deemphasis ? maximumGain(peakDeemphasised, bitsPerSample, true)
                    : maximumGain(peak, bitsPerSample, false);
}

double maximumGainFor(const SampleFormat& format, double peak, bool cutToThousandths) {
  if (format.onSixteenBitScale()) {
    return maximumGain(static_cast<std::int32_t>(peak), format.containerBytes == 1 ? 8 : 16,
                       cutToThousandths);
  }
  if (!(peak > 0)) return 1.0;
  const double limit = format.isFloat() ? 1.0 : static_cast<double>(format.largest());
  return cutToThousandths ? std::floor(1000.0 * limit / peak) / 1000.0 : limit / peak;
}

double chosenPeak(double peak, double peakDeemphasised, bool deemphasis) {
  return deemphasis ? peakDeemphasised : peak;
}

double safeGainFor(const SampleFormat& format, double peak, double peakDeemphasised,
                   bool deemphasis) {
  return safeGainFor(format, peak, peakDeemphasised, deemphasis, deemphasis);
}

double safeGainFor(const SampleFormat& format, double peak, double peakDeemphasised,
                   bool deemphasis, bool cutToThousandths) {
  return maximumGainFor(format, chosenPeak(peak, peakDeemphasised, deemphasis),
                        cutToThousandths || deemphasis);
}

double peakToDivideBy(const SampleFormat& format, double peak) {
  return format.isFloat() ? peak : 0.0;
}

VolumeChoice limitToRange(long long tenths) {
  VolumeChoice choice;
  choice.tenths = std::clamp(tenths, 0LL, 10000LL);
  choice.limitedToRange = choice.tenths != tenths;
  return choice;
}

bool holdsDown(double maxGain, long long tenths, bool maximize) {
  return !maximize && static_cast<float>(maxGain) < static_cast<float>(tenths) / 1000.0f;
}

long long tenthsAtMost(double maxGain) {
  auto tenths = static_cast<long long>(std::nearbyint(maxGain * 1000.0));
  if (static_cast<double>(tenths) / 1000.0 > maxGain) --tenths;
  return tenths;
}

VolumeChoice chooseVolume(long long tenths, double maxGain, bool maximize) {
  VolumeChoice choice = limitToRange(tenths);
  if (holdsDown(maxGain, choice.tenths, maximize)) {
    choice.tenths = tenthsAtMost(maxGain);
    choice.heldDown = true;
  }
  return choice;
}

bool deemphasisTrialPays(bool deemphasis, bool maximize, bool ownOutput, bool hasFrames) {
  return deemphasis && !maximize && ownOutput && hasFrames;
}

bool deemphasisTrialHolds(const FilteredRange& range, int channels, int bitsPerSample,
                          long long tenths, std::int32_t& peak) {
  if (!range.complete) return false;
  peak = peakOfRange(range, channels);
  return !holdsDown(maximumGain(peak, bitsPerSample, true), tenths, false);
}

std::int32_t peakOfRange(const FilteredRange& range, int channels) {
  std::int32_t peak = 0;
  for (int c = 0; c < std::min(channels, 2); ++c) {
    peak = std::max({peak, range.max[c], range.min[c] == -32768 ? 32767 : -range.min[c]});
  }
  return peak;
}

}  // namespace ril
