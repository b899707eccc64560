// What the desktop program keeps between its windows: the chosen files, the
// report of the last batch run, the program directory, and what the file read
// last turned out to be.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/analysis/loudness_meter.h"
#include "core/base/text.h"
#include "core/io/program_directory.h"
#include "core/wav/wav_header.h"

namespace ril {

struct Session {
  std::string lineBreak = kLineBreak;  // of the report and the messages
  std::string appPath;                 // the program directory, ending in exactly one "/"
  std::vector<std::string> filePaths;  // the chosen files, full paths
  std::vector<std::string> fileNames;  // their bare names, as listed
  std::int16_t lastFileIndex = 0;      // number of chosen files - 1
  // True until the first batch run: the selection dialog opens in the
  // program directory then, afterwards where the user left it.
  bool firstSelection = false;
  std::string reportText;  // the report of the current batch run

  // The file read last, and the peaks of its analysis on the 16-bit scale:
  // [0] of the data as stored, [1] de-emphasised. [1] is only set for files
  // at 44100 Hz; after a file at another rate it still holds an earlier one's.
  WavHeader current;
  std::size_t currentIndex = 0;           // its entry in the chosen files
  std::array<double, 2> peakLevel{0, 0};  // on the format's statistics scale
  // The loudness its complete analysis measured on the data as stored.
  std::optional<LoudnessTrace> loudness;

  // The path and the listed name of the file read last, or "".
  const std::string& currentPath() const;
  const std::string& currentName() const;
};

// The start of a session: the line break and the program directory.
inline void startSession(Session& session, const std::string& programDir) {
  session.lineBreak = kLineBreak;
  session.appPath = withOneTrailingSlash(programDir);
}

inline const std::string& Session::currentPath() const {
  static const std::string none;
  return currentIndex < filePaths.size() ? filePaths[currentIndex] : none;
}

inline const std::string& Session::currentName() const {
  static const std::string none;
  return currentIndex < fileNames.size() ? fileNames[currentIndex] : none;
}

}  // namespace ril
