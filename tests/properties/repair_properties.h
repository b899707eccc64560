// The repair's rules, checked on any file (checkRepair, properties.h): the
// comparison of a repaired file with its plan, which the repair tests use too.
#pragma once

#include <string>
#include <vector>

#include "core/repair/repair_plan.h"

namespace ril::properties {

// Where `repaired` differs from what `plan` makes of `original`: the plan's
// header, then the original's bytes from its sourceOffset, with nothing
// changed but the plan's fields (each holding its old bytes before). Empty
// when it does not.
std::string unplannedDifference(const std::vector<unsigned char>& original,
                                const std::vector<unsigned char>& repaired, const RepairPlan& plan);

}  // namespace ril::properties
