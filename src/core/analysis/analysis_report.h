// The text the analysis appends to the report: the statistics tables, the
// calculation time and the headroom statements.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/analysis/sample_statistics.h"
#include "core/wav/wav_header.h"

namespace ril {

struct ReportFormat {
  std::string lineBreak = "\r\n";
  char decimalSeparator = '.';
};

// Everything the analysis adds to the report for one file: the tables, the
// calculation time and the headroom, or the line that says why there are none.
std::string analysisReportLines(const AnalysisResult& result, const WavFormat& format,
                                const ReportFormat& report);

// The tables (original data, and the de-emphasised data at 44100 Hz), a line
// per channel with its figures in percent of `fullScale`, and the
// calculation-time line with the empty lines around it; after the first
// table how many float samples were NaN or infinite, when any were.
std::string statisticsLines(const std::vector<ChannelFigures>& stored,
                            const std::vector<ChannelFigures>& filtered, double fullScale,
                            std::int32_t sampleRate, float elapsedSeconds,
                            const ReportFormat& format, std::int64_t nonFiniteSamples = 0);

// "Volume of original data may be increased by up to 190.0%"
std::string volumeLine(double volumeLimit, const ReportFormat& format);
// "Volume of original data with de-emphasis may be increased by up to 404.8%"
std::string volumeLineDeemph(double volumeLimitDeemph, const ReportFormat& format);

// Lines for the cases the tables cannot show: silence, no samples, a short
// file, a failed read.
std::string silentLine(const ReportFormat& format);        // all samples 0
std::string silentDeemphLine(const ReportFormat& format);  // de-emphasised samples all 0
// A peak above 0 whose volume factor in percent lies beyond the largest double.
std::string tinyPeakLine(bool deemphasised, const ReportFormat& format);
std::string noSamplesLine(const ReportFormat& format);  // empty data chunk
std::string shortFileLine(std::int64_t framesInFile, std::int64_t declaredFrames,
                          const ReportFormat& format);
std::string readFailureLine(const std::string& what, std::int64_t framesRead, std::int64_t frames,
                            const ReportFormat& format);

}  // namespace ril
