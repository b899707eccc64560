// The `loudness` object of a file's JSON report.
#pragma once

#include <nlohmann/json.hpp>

#include "core/analysis/loudness.h"

namespace ril::cli {

// Every figure unrounded; a figure that cannot be given is null, and
// `reasons` says why, under the figure's name.
nlohmann::ordered_json loudnessJson(const LoudnessFigures& figures);

}  // namespace ril::cli
