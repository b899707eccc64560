// A file read and analysed as a batch run does, without windows.
#pragma once

#include <string>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/io/files.h"
#include "core/wav/wav_header.h"

namespace ril::test {

struct AnalysedFile {
  WavHeader header;
  AnalysisResult result;  // outcome kNoFrames when the header was not ready
  std::string report;     // the header's and the analysis' lines
  bool analysed() const { return header.ready() && result.complete(); }
};

AnalysedFile analyseFile(const std::string& path, FileSystem& fs = realFileSystem(),
                         int threads = 1, bool loudness = true);
// The bytes of a whole file, read from memory as "/f.wav".
AnalysedFile analyseBytes(const std::vector<unsigned char>& file, int threads = 1,
                          bool loudness = true);

}  // namespace ril::test
