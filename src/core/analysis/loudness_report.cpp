#include "core/analysis/loudness_report.h"

#include "core/base/number_format.h"

namespace ril {

namespace {

// "-23.0 LUFS", or "none (too short)".
std::string figureText(const LoudnessFigure& f, const char* unit, char sep) {
  if (!f.value) return "none (" + f.reason + ")";
  return formatNumber(*f.value, "0.0", sep) + " " + unit;
}

std::string atText(const LoudnessFigure& f, char sep) {
  return f.value ? "\t@ " + formatNumber(f.second, "0.000", sep) + " sec." : std::string();
}

}  // namespace

std::string loudnessReportLines(const LoudnessFigures& figures, const ReportFormat& format) {
  const char sep = format.decimalSeparator;
  const std::string& br = format.lineBreak;
  std::string text = br + "Loudness (ITU-R BS.1770-4):" + br;
  if (figures.weights.orderAssumed) {
    text += "Channels taken as\tL R C LFE Ls Rs (no channel mask)" + br;
  }
  text += "Integrated loudness\t" + figureText(figures.integratedLufs, "LUFS", sep) + br;
  text += "Loudness range\t" + figureText(figures.rangeLu, "LU", sep) + br;
  text += "True peak\t" + figureText(figures.truePeakDbtp, "dBTP", sep);
  if (figures.truePeakDbtp.value) {
    text +=
        "\tchannel " + std::to_string(figures.truePeakChannel) + atText(figures.truePeakDbtp, sep);
  }
  text += br;
  text += "Max. momentary loudness\t" + figureText(figures.momentaryMaxLufs, "LUFS", sep) +
          atText(figures.momentaryMaxLufs, sep) + br;
  text += "Max. short-term loudness\t" + figureText(figures.shortTermMaxLufs, "LUFS", sep) +
          atText(figures.shortTermMaxLufs, sep) + br;
  return text;
}

}  // namespace ril
