// How a repair plan reads: its changes, notes and refusal as lines, and the
// line the report adds for a file a repair would mend.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/repair/repair_plan.h"

namespace ril {

// 210763776 as "210,763,776".
std::string groupedNumber(std::uint64_t value);

// "RIFF size at offset 4: 36 -> 210,763,812"; a field of an inserted header
// reads "ds64 data size at offset 28: new, 5,000,000,000".
std::string changeLine(const FieldChange& change);

// A plan as lines without line breaks: "nothing to repair", "not repaired:
// WHY", or each change and then each note.
std::vector<std::string> planLines(const RepairPlan& plan);

// The report's line for a file a repair would mend ("The data chunk declares
// 0 bytes, but 210,763,776 bytes of audio follow it: it can be repaired
// (rilmaton-cli repair, or Repair… in the window)."), ending in `lineBreak`;
// empty when there is nothing a repair would do.
std::string repairReportLine(const RepairPlan& plan, const std::string& lineBreak);

// The value of a field as a line shows it: a number grouped by thousands
// (0xFFFFFFFF also in hexadecimal), an identifier in quotes.
std::string fieldValueText(const FieldValue& value);

}  // namespace ril
