// Writing a cue sheet back after its tracks were de-emphasised.
#pragma once

#include <string>
#include <vector>

#include "core/cue/cue_sheet.h"

namespace ril {

// The sheet's bytes as read, except that PRE is taken off the FLAGS lines of
// the tracks numbered in `tracks`: the word goes with the blanks before it,
// the other flags stay, and a FLAGS line left without flags goes with its line
// end. The BOM, every other line and every line end stay as they were.
std::string cueSheetWithoutPre(const CueSheet& sheet, const std::vector<int>& tracks);

}  // namespace ril
