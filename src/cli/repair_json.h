// A repair plan's changes as JSON, for `repair --json` and the report's
// `repair` field.
#pragma once

#include <nlohmann/json.hpp>

#include "core/repair/repair_plan.h"

namespace ril::cli {

// The changes a repair makes (`field`, `offset`, `old`, `new`), or null when
// the plan makes none (nothing to repair, or refused).
nlohmann::ordered_json repairChangesJson(const RepairPlan& plan);

}  // namespace ril::cli
