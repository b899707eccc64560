// Reading and checking the RIFF/WAVE header of one file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/io/files.h"
#include "core/wav/wav_header.h"

namespace ril {

struct HeaderReading {
  WavHeader header;
  // When the header is ready: the rest of the file, positioned at the first
  // sample byte, for the analysis.
  std::unique_ptr<ByteSource> samples;
};

// Reads the header of a file of `fileLength` bytes from `source` (positioned
// at offset 0). Rejects nothing: every deviation becomes a finding. A failing
// read makes the header kUnreadable; it never throws.
HeaderReading readWavHeader(std::unique_ptr<ByteSource> source, std::uint64_t fileLength);

// The same for the file `path`; a file that cannot be measured or opened is
// kUnreadable with the error number in its findings.
HeaderReading readWavFile(FileSystem& fs, const std::string& path);

}  // namespace ril
