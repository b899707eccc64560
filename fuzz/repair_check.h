// The repair's rules, checked on any file: used by the read target (every
// input is also planned and repaired) and by the repair tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/repair/repair_plan.h"

namespace ril::fuzz {

// Where `repaired` differs from what `plan` makes of `original`: the plan's
// header, then the original's bytes from its sourceOffset, with nothing
// changed but the plan's fields (each holding its old bytes before). Empty
// when it does not.
std::string unplannedDifference(const std::vector<unsigned char>& original,
                                const std::vector<unsigned char>& repaired, const RepairPlan& plan);

// Arbitrary bytes as a WAV file: planned (with a format given when the last
// byte's high bit is set), repaired beside itself and in place in memory,
// and checked: no byte changes outside the header fields, the changes lie
// before the first audio byte, a refusal writes nothing, and the repaired
// file has nothing left to repair. Returns the first rule broken, or empty.
std::string checkRepair(const std::uint8_t* data, std::size_t size);

}  // namespace ril::fuzz
