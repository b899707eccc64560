// What the fuzz targets run on one input, shared with the test that replays
// every input that ever failed (tests/hardening/fuzz_regressions_test.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ril::fuzz {

// Arbitrary bytes as a WAV file through the header reader and the analysis.
// Returns the first rule the run broke, or an empty string.
std::string checkReadAndAnalyse(const std::uint8_t* data, std::size_t size);

// The first kModifyOptionBytes choose the dialog's settings and where the
// output goes; the rest is the WAV file. The file is read, analysed and
// modified in memory, and the result is compared byte by byte with a plain
// sample-by-sample computation. Returns the first rule the run broke, or an
// empty string.
inline constexpr std::size_t kModifyOptionBytes = 10;
std::string checkModify(const std::uint8_t* data, std::size_t size);

// Option bytes of checkModify, for building seeds.
struct ModifyOptions {
  int placementCase = 0;             // 0 .. kPlacementCases - 1, see harness.cpp
  bool maximize = false;             // use the largest safe factor
  int gainMode = 0;                  // 0..3: which factor maximize uses
  bool deemphasis = false;           // the de-emphasis box
  bool stopAtFirstClip = false;      // a trial run that ends at the first clipped sample
  std::int16_t volumeTenths = 1000;  // tenths of a percent
  float rawGain = 1.0f;              // gainMode 3
  std::uint8_t ranges = 0;           // high bit: frame ranges to process; see harness.cpp
};
inline constexpr int kPlacementCases = 12;
std::string encodeModifyOptions(const ModifyOptions& options);  // kModifyOptionBytes bytes

// Arbitrary bytes as a cue sheet: read, written back unchanged and with PRE
// taken off some tracks, and its tracks laid over files of a few lengths.
// Returns the first rule the run broke, or an empty string.
std::string checkCueSheet(const std::uint8_t* data, std::size_t size);

// Sheets to start fuzzing from: of the kinds rippers write, and malformed.
std::vector<std::string> cueSeedSheets();

}  // namespace ril::fuzz
