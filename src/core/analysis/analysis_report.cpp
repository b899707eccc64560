#include "core/analysis/analysis_report.h"

#include <cmath>

#include "core/analysis/loudness_report.h"
#include "core/base/number_format.h"

namespace ril {

namespace {

const char kHeading[] = "Channel\tMin\t@ sec.\tMax\t@ sec.\tAvg\tRms";

std::string recordLine(const std::string& label, const ChannelFigures& r, double fullScale,
                       std::int32_t sampleRate, const ReportFormat& f) {
  const char sep = f.decimalSeparator;
  const double rate = static_cast<double>(sampleRate);
  std::string line = label;
  line += '\t' + formatNumber(r.min / fullScale, "0.00%", sep);
  line += '\t' + formatNumber(static_cast<double>(r.minPos) / rate, "0.000", sep);
  line += '\t' + formatNumber(r.max / fullScale, "0.00%", sep);
  line += '\t' + formatNumber(static_cast<double>(r.maxPos) / rate, "0.000", sep);
  line += '\t' + formatNumber(r.avg, "0.00%", sep);
  line += '\t' + formatNumber(r.rms, "0.00%", sep);
  return line + f.lineBreak;
}

std::string tableLines(const std::vector<ChannelFigures>& figures, double fullScale,
                       std::int32_t sampleRate, const ReportFormat& f) {
  std::string text = kHeading + f.lineBreak;
  for (std::size_t c = 0; c < figures.size(); ++c) {
    text += recordLine(std::to_string(c + 1), figures[c], fullScale, sampleRate, f);
  }
  return text;
}

}  // namespace

std::string statisticsLines(const std::vector<ChannelFigures>& stored,
                            const std::vector<ChannelFigures>& filtered, double fullScale,
                            std::int32_t sampleRate, float elapsedSeconds, const ReportFormat& f,
                            std::int64_t nonFiniteSamples) {
  std::string text = tableLines(stored, fullScale, sampleRate, f);
  if (nonFiniteSamples > 0) {
    text += "Samples that are not numbers or infinite:\t" + std::to_string(nonFiniteSamples) +
            " (counted as 0)" + f.lineBreak;
  }
  if (sampleRate == 44100) {
    text += f.lineBreak;
    text += "After application of De-emphasis:" + f.lineBreak;
    text += tableLines(filtered, fullScale, sampleRate, f);
  }
  text += f.lineBreak;
  text += "Calculation time = " + formatNumber(elapsedSeconds, "0.00", f.decimalSeparator) +
          " sec." + f.lineBreak;
  text += f.lineBreak;
  return text;
}

std::string volumeLine(double volumeLimit, const ReportFormat& f) {
  return "Volume of original data may be increased by up to " +
         formatNumber(volumeLimit, "0.0%", f.decimalSeparator) + f.lineBreak;
}

std::string volumeLineDeemph(double volumeLimitDeemph, const ReportFormat& f) {
  return "Volume of original data with de-emphasis may be increased by up to " +
         formatNumber(volumeLimitDeemph, "0.0%", f.decimalSeparator) + f.lineBreak;
}

std::string silentLine(const ReportFormat& f) {
  return "All samples are 0 (silence): there is no peak to raise the volume to." + f.lineBreak;
}

std::string silentDeemphLine(const ReportFormat& f) {
  return "With de-emphasis all samples are 0: there is no peak to raise the volume to." +
         f.lineBreak;
}

std::string tinyPeakLine(bool deemphasised, const ReportFormat& f) {
  return std::string(deemphasised ? "With de-emphasis the peak" : "The peak") +
         " is too small for the volume factor that would raise it to be written as a number." +
         f.lineBreak;
}

std::string noSamplesLine(const ReportFormat& f) {
  return "The data chunk holds no samples." + f.lineBreak;
}

std::string shortFileLine(std::int64_t framesInFile, std::int64_t declaredFrames,
                          const ReportFormat& f) {
  return "The file holds only " + std::to_string(framesInFile) + " of the " +
         std::to_string(declaredFrames) + " sample frames its data chunk declares." + f.lineBreak;
}

std::string readFailureLine(const std::string& what, std::int64_t framesRead, std::int64_t frames,
                            const ReportFormat& f) {
  return "Reading the samples failed after " + std::to_string(framesRead) + " of " +
         std::to_string(frames) + " frames: " + what + f.lineBreak;
}

std::string analysisReportLines(const AnalysisResult& result, const WavFormat& format,
                                const ReportFormat& f) {
  switch (result.outcome) {
    case AnalysisResult::Outcome::kNoFrames:
      return result.declaredFrames > 0 ? shortFileLine(0, result.declaredFrames, f)
                                       : noSamplesLine(f);
    case AnalysisResult::Outcome::kReadFailed:
      return readFailureLine(result.failure, result.framesRead, result.frames, f);
    case AnalysisResult::Outcome::kComplete:
      break;
  }
  std::string text =
      statisticsLines(result.stored, result.filtered, result.sample.statisticsFullScale(),
                      format.sampleRate, result.elapsedSeconds, f, result.nonFiniteSamples);
  if (result.peakValue[0] == 0) {
    text += silentLine(f);  // and with de-emphasis it stays silence
  } else {
    // A float file's peak may be so small that its factor, or that as a
    // percentage, lies beyond the largest double.
    const double limit = result.volumeLimit();
    text += std::isfinite(limit * 100.0) ? volumeLine(limit, f) : tinyPeakLine(false, f);
    if (result.deemphasised) {
      const double limitDeemph = result.volumeLimitDeemphasis();
      text += result.peakValue[1] == 0             ? silentDeemphLine(f)
              : std::isfinite(limitDeemph * 100.0) ? volumeLineDeemph(limitDeemph, f)
                                                   : tinyPeakLine(true, f);
    }
  }
  if (result.frames < result.declaredFrames) {
    text += shortFileLine(result.frames, result.declaredFrames, f);
  }
  if (result.loudness) text += loudnessReportLines(loudnessFigures(*result.loudness), f);
  return text;
}

}  // namespace ril
