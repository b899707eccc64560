// Reading and checking the RIFF/WAVE header; the one definition of the layout.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/base/host.h"
#include "core/io/files.h"
#include "core/program_state.h"

namespace ril {

// Everything one header reading found, before it goes into the program state.
struct HeaderReading {
  std::string lines;                     // report lines, each ending in the line break
  std::vector<std::string> windowLines;  // lines drawn onto the main window
  HeaderStatus status = HeaderStatus::kNone;
  bool formatRead = false;  // the format fields below are valid (file length > 0)
  std::int16_t formatTag = 0;
  std::int16_t channels = 0;
  std::int16_t bitsPerSample = 0;
  std::int32_t sampleRate = 0;
  bool dataFound = false;  // the fields below are valid
  std::int64_t dataOffset = 0;
  std::uint32_t dataSize = 0;
  std::int64_t sampleFrames = 0;
  std::int64_t trailerLength = 0;
  std::int64_t framesInFile = 0;
  std::unique_ptr<ByteSource> input;  // positioned at the first sample byte
};

// Reads the header of the file `path` of `fileLength` bytes from `source`
// (positioned at offset 0). Never throws for malformed content; a failing read
// throws RunError.
HeaderReading parseWavHeader(std::unique_ptr<ByteSource> source, std::uint64_t fileLength,
                             const std::string& path, const std::string& lineBreak);

// Reads the header of filePaths[fileIndex]: appends its description to the
// report (when showReport), sets the format fields, and leaves wavInput open
// at the first sample byte.
void ReadWavHeader(ProgramState& state, int fileIndex, bool showReport, FileSystem& fs,
                   MainView& view);

}  // namespace ril
