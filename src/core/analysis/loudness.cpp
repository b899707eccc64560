#include "core/analysis/loudness.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace ril {

namespace {

constexpr double kAbsoluteGateLufs = -70.0;
constexpr int kMomentaryBins = 4;   // 400 ms
constexpr int kShortTermBins = 30;  // 3 s
const char kTooShort[] = "too short";
const char kBelowGate[] = "below the gate";

double powerOfLoudness(double lufs) {
  return std::pow(10.0, (lufs + 0.691) / 10.0);
}

// The mean squares of the windows of `width` bins, one every bin.
std::vector<double> windowPowers(const LoudnessTrace& t, int width) {
  std::vector<double> out;
  const auto n = static_cast<std::int64_t>(t.bins.size());
  if (n >= width) out.reserve(static_cast<std::size_t>(n - width + 1));
  const double frames = static_cast<double>(width) * static_cast<double>(t.binFrames);
  for (std::int64_t k = 0; k + width <= n; ++k) {
    double sum = 0.0;
    for (int i = 0; i < width; ++i) sum = sum + t.bins[static_cast<std::size_t>(k + i)];
    out.push_back(sum / frames);
  }
  return out;
}

LoudnessFigure missing(const char* reason) {
  LoudnessFigure f;
  f.reason = reason;
  return f;
}

// Why a trace gives no loudness at all, or nothing.
const char* unmeasured(const LoudnessTrace& t) {
  return t.weighted ? nullptr : "sample rate below 8000 Hz";
}

// The largest window, where it starts; absent below the absolute gate.
LoudnessFigure maximumOf(const LoudnessTrace& t, int width) {
  if (const char* why = unmeasured(t)) return missing(why);
  const std::vector<double> powers = windowPowers(t, width);
  if (powers.empty()) return missing(kTooShort);
  const auto top = std::max_element(powers.begin(), powers.end());  // the first of the largest
  if (!(*top > powerOfLoudness(kAbsoluteGateLufs))) return missing(kBelowGate);
  LoudnessFigure f;
  f.value = loudnessOfPower(*top);
  f.second = static_cast<double>((top - powers.begin()) * t.binFrames) / t.sampleRate;
  return f;
}

// Tech 3342: short-term values above the absolute gate and above the mean of
// those less 20 LU, from the 10th to the 95th percentile (nearest rank).
LoudnessFigure rangeOf(const LoudnessTrace& t) {
  if (const char* why = unmeasured(t)) return missing(why);
  std::vector<double> powers = windowPowers(t, kShortTermBins);
  if (powers.empty()) return missing(kTooShort);
  const double absolute = powerOfLoudness(kAbsoluteGateLufs);
  std::erase_if(powers, [&](double p) { return !(p > absolute); });
  if (powers.empty()) return missing(kBelowGate);
  double mean = 0.0;
  for (double p : powers) mean = mean + p;
  mean = mean / static_cast<double>(powers.size());
  const double relative = mean * std::pow(10.0, -20.0 / 10.0);
  std::erase_if(powers, [&](double p) { return !(p > relative); });
  if (powers.empty()) return missing(kBelowGate);
  // The two ranks' values, as a sort would place them.
  const double last = static_cast<double>(powers.size() - 1);
  const auto lowRank = static_cast<std::ptrdiff_t>(last * 0.10 + 0.5);
  const auto highRank = static_cast<std::ptrdiff_t>(last * 0.95 + 0.5);
  std::nth_element(powers.begin(), powers.begin() + highRank, powers.end());
  std::nth_element(powers.begin(), powers.begin() + lowRank, powers.begin() + highRank);
  const double low = powers[static_cast<std::size_t>(lowRank)];
  const double high = powers[static_cast<std::size_t>(highRank)];
  LoudnessFigure f;
  f.value = loudnessOfPower(high) - loudnessOfPower(low);
  return f;
}

double dbOf(double magnitude) {
  return 20.0 * std::log10(magnitude);
}

LoudnessFigure peakFigure(const kernels::PeakFound& p, double rate) {
  if (!(p.peak > 0)) return missing("silence");
  LoudnessFigure f;
  f.value = dbOf(p.peak);
  f.second = std::max(0.0, p.at) / rate;
  return f;
}

}  // namespace

double loudnessOfPower(double power) {
  return -0.691 + 10.0 * std::log10(power);
}

LoudnessFigure integratedLoudness(const std::vector<const LoudnessTrace*>& traces) {
  std::vector<double> blocks;
  std::size_t most = 0;
  for (const LoudnessTrace* t : traces) most += t->bins.size();
  blocks.reserve(most);
  bool longEnough = false;
  for (const LoudnessTrace* t : traces) {
    if (const char* why = unmeasured(*t)) return missing(why);
    const std::vector<double> powers = windowPowers(*t, kMomentaryBins);
    longEnough = longEnough || !powers.empty();
    const double absolute = powerOfLoudness(kAbsoluteGateLufs);
    for (double p : powers) {
      if (p > absolute) blocks.push_back(p);
    }
  }
  if (!longEnough) return missing(kTooShort);
  if (blocks.empty()) return missing(kBelowGate);
  double mean = 0.0;
  for (double p : blocks) mean = mean + p;
  mean = mean / static_cast<double>(blocks.size());
  const double relative = mean * std::pow(10.0, -10.0 / 10.0);
  double gated = 0.0;
  std::int64_t count = 0;
  for (double p : blocks) {
    if (p > relative) {
      gated = gated + p;
      ++count;
    }
  }
  if (count == 0) return missing(kBelowGate);
  LoudnessFigure f;
  f.value = loudnessOfPower(gated / static_cast<double>(count));
  return f;
}

LoudnessFigures loudnessFigures(const LoudnessTrace& t) {
  LoudnessFigures f;
  f.integratedLufs = integratedLoudness({&t});
  f.rangeLu = rangeOf(t);
  f.momentaryMaxLufs = maximumOf(t, kMomentaryBins);
  f.shortTermMaxLufs = maximumOf(t, kShortTermBins);
  f.weights = t.weights;
  f.truePeakDbtp = missing("silence");
  for (std::size_t c = 0; c < t.truePeaks.size(); ++c) {
    ChannelPeaks peaks{peakFigure(t.truePeaks[c], t.sampleRate),
                       peakFigure(t.samplePeaks[c], t.sampleRate)};
    // The first channel with the largest peak; within a channel its first place.
    if (peaks.truePeakDbtp.value &&
        (!f.truePeakDbtp.value || *peaks.truePeakDbtp.value > *f.truePeakDbtp.value)) {
      f.truePeakDbtp = peaks.truePeakDbtp;
      f.truePeakChannel = static_cast<int>(c) + 1;
    }
    f.channels.push_back(peaks);
  }
  return f;
}

}  // namespace ril
