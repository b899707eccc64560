// The program's version, as the about box, --version and the help text show it.
#pragma once

namespace ril {

inline constexpr const char* kVersionText = "1.01.0001";

}  // namespace ril
