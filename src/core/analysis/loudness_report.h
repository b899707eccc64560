// The loudness block of the report: an empty line, a heading, and one
// TAB-separated line per figure.
#pragma once

#include <string>

#include "core/analysis/analysis_report.h"
#include "core/analysis/loudness.h"

namespace ril {

std::string loudnessReportLines(const LoudnessFigures& figures, const ReportFormat& format);

}  // namespace ril
