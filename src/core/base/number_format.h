// Number patterns of the report, captions and messages.
#pragma once

#include <string>
#include <string_view>

namespace ril {

// Formats `value` with a pattern such as "0.000 MB", "00:", "00", "0.00%",
// "0.000", "0.00", "0.0%", "0%" or "0": rounded to the digits shown, halves away
// from zero (the value is first taken to 15 significant digits), at least as
// many integer digits as the pattern has zeros there, no thousands separator,
// a leading "-" for negative values (none when the shown value is zero); "%"
// multiplies by 100; other characters are copied as they stand.
std::string formatNumber(double value, std::string_view pattern, char decimalSeparator = '.');

// General format of a single-precision value: up to 7 significant digits,
// no trailing zeros, no exponent for ordinary magnitudes (123.5 -> "123.5").
std::string formatGeneral(float value, char decimalSeparator = '.');

}  // namespace ril
