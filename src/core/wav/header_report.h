// The report's lines for one file's header, and the warnings that the front
// ends show beside the report.
#pragma once

#include <string>
#include <vector>

#include "core/wav/wav_header.h"

namespace ril {

// "Filename:", "Filelength:", the format lines and the playing time, with a
// line for each finding; every line ends in `lineBreak`. A file that is not
// a WAV file, or whose format is not known, gets no format lines: the line
// "This file cannot be analysed: ..." says why.
std::string headerReportLines(const std::string& path, const WavHeader& header,
                              const std::string& lineBreak);

// Why the header leaves nothing to analyse, as one line without line break:
// the read error, an empty file, the reason the samples cannot be processed,
// or the missing data chunk. Empty when the header is ready.
std::string headerProblem(const WavHeader& header);
// The same as a stable word for scripts, whatever the wording: "unreadable",
// "empty", "not-wav", "no-format-chunk", "no-data-chunk",
// "unsupported-format"; empty when the header is ready.
std::string headerProblemCode(const WavHeader& header);
// Why a file could not be read, in words: the detail found, or what its
// error number stands for.
std::string readErrorWords(const HeaderFindings& findings);

// The findings about the header that are not part of the report: what a
// file that is not a WAV file looks like, a chunk before the format chunk, a
// short format chunk, a format that is not PCM. Each is a sentence, with the
// bytes or the value it rests on last, in parentheses: "A 'bext' chunk comes
// before the format chunk, as in broadcast WAV files; the file is read
// correctly. (WAVEbext)". A valid extensible PCM format has none.
std::vector<std::string> headerWarnings(const WavHeader& header);

}  // namespace ril
