// An input file read and analysed in memory as the batch run does, with the
// rules every such reading keeps; shared by the property checks.
#pragma once

#include <cstdint>
#include <string>

#include "core/analysis/analysis.h"
#include "core/wav/wav_header.h"
#include "support/memory_file_system.h"

namespace ril::properties {

struct Analysed {
  WavHeader header;
  AnalysisResult result;
  std::string report;
};

// Reads and analyses `path` (`length` bytes) into `a`; returns the first rule
// the reading broke, or an empty string.
std::string readAndAnalyse(const std::string& path, MemoryFileSystem& fs, std::uint64_t length,
                           Analysed& a);

}  // namespace ril::properties
