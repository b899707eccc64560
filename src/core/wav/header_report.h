// The report's lines for one file's header, and the warnings that the front
// ends show beside the report.
#pragma once

#include <string>
#include <vector>

#include "core/wav/wav_header.h"

namespace ril {

// "Filename:", "Filelength:", the format lines and the playing time, with a
// line for each finding; every line ends in `lineBreak`.
std::string headerReportLines(const std::string& path, const WavHeader& header,
                              const std::string& lineBreak);

// Why the header leaves nothing to analyse, as one line without line break:
// the read error, an empty file, the reason the samples cannot be processed,
// or the missing data chunk. Empty when the header is ready.
std::string headerProblem(const WavHeader& header);

// The warnings about the form type, the format chunk's length and the format
// tag, one text each.
std::vector<std::string> headerWarnings(const WavHeader& header);

}  // namespace ril
