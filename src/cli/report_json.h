// A file's report as one JSON object (a line of NDJSON): every figure of the
// text report unrounded, and the peak and RMS in dBFS, the count of samples
// at full scale and the headroom factors.
#pragma once

#include <string>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/repair/repair_plan.h"
#include "core/wav/wav_header.h"

namespace ril::cli {

// `result` is the analysis when the header allowed one (else nullptr);
// `reason` says why there are no statistics (empty when there are);
// `repair` what a repair would do (its changes, or null).
std::string reportJson(const std::string& path, const WavHeader& header,
                       const AnalysisResult* result, const std::vector<std::string>& warnings,
                       const std::string& reason, const RepairPlan* repair = nullptr);

}  // namespace ril::cli
