// The one record of values the windows and the processing steps share.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/io/files.h"

namespace ril {

// How far the header reader got with the current file.
enum class HeaderStatus {
  kNone,         // no file read yet
  kUnreadable,   // could not be found, measured or opened
  kEmpty,        // 0 bytes
  kNoDataChunk,  // "data" not found
  kUnsupported,  // data found, but samples the program cannot process
  kReady,        // data found; 8/16-bit PCM, mono or stereo
};

struct ProgramState {
  std::string lineBreak;  // "\r\n"
  std::string appPath;    // program directory, ending in exactly one "/"
  std::vector<std::string> filePaths;
  std::vector<std::string> fileNames;
  std::int16_t lastFileIndex = 0;
  bool firstSelection = false;

  // Format of the current file, as read from its header.
  std::int16_t channels = 0;
  std::int16_t bitsPerSample = 0;
  std::int32_t sampleRate = 0;
  // Sizes are 64-bit so that files up to 4 GiB (unsigned 32-bit RIFF sizes) work.
  std::int64_t sampleFrames = 0;   // frames the data chunk declares (rounded)
  std::int64_t dataOffset = 0;     // offset of the first sample byte
  std::int64_t trailerLength = 0;  // bytes after the declared data; negative past the end

  std::string reportText;
  std::array<std::int32_t, 2> peakLevel{0, 0};

  // Beyond the classic record: what the header reader found out.
  HeaderStatus headerStatus = HeaderStatus::kNone;
  std::int16_t formatTag = 0;
  std::int64_t fileLength = 0;
  std::uint32_t dataSize = 0;
  // Whole frames that lie inside both the data chunk and the file: what the
  // analysis and the modification process. Never more than sampleFrames'
  // byte-exact count; less when the file is cut short.
  std::int64_t framesInFile = 0;

  // The input file slot: opened by the header reader at the first sample
  // byte, closed by the analysis.
  std::unique_ptr<ByteSource> wavInput;

  // Bytes per frame of the current (supported) format.
  int frameBytes() const { return channels * (bitsPerSample == 8 ? 1 : 2); }
};

// Directory of the running executable, ending in "/" (from /proc/self/exe).
std::string programDirectory();

// Sets lineBreak and appPath as the start-up does.
void initialiseProgramState(ProgramState& state, const std::string& appPath);

}  // namespace ril
