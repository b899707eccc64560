// Properties that hold for every input, checked on one input at a time: by
// the fuzz targets (fuzz/fuzz_*.cpp, thin entry points), and by the tests
// that replay every input that ever failed and run the corpus through them
// (tests/core/hardening/fuzz_regressions_test.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ril::properties {

// Arbitrary bytes as a WAV file through the header reader and the analysis;
// the tuned and threaded statistics against the plain ones. Returns the first
// rule the run broke, or an empty string.
std::string checkReadAndAnalyse(const std::uint8_t* data, std::size_t size);

// The first kModifyOptionBytes choose the settings and the scenario (where
// the output goes, what the file system around it holds); the rest is the WAV
// file. The file is read, analysed and modified in memory, and the outcome,
// every message and every byte are compared with the reference computation
// (tests/support/reference_modification.h). Returns the first rule the run
// broke, or an empty string.
inline constexpr std::size_t kModifyOptionBytes = 10;
std::string checkModify(const std::uint8_t* data, std::size_t size);

// The scenarios of checkModify, by name; the first option byte picks one
// (modulo their count).
std::vector<std::string> modifyScenarios();

// Option bytes of checkModify, for building inputs.
struct ModifyOptions {
  int scenario = 0;                  // an index into modifyScenarios()
  bool maximize = false;             // use the largest safe factor
  int gainMode = 0;                  // 0..3: which factor maximize uses
  bool deemphasis = false;           // the de-emphasis box
  bool stopAtFirstClip = false;      // a trial run that ends at the first clipped sample
  std::int16_t volumeTenths = 1000;  // tenths of a percent
  float rawGain = 1.0f;              // gainMode 3
  std::uint8_t ranges = 0;           // high bit: frame ranges to process (modify_properties.cpp)
};
std::string encodeModifyOptions(const ModifyOptions& options);  // kModifyOptionBytes bytes

// Arbitrary bytes as a cue sheet: read, written back unchanged and with PRE
// taken off some tracks, and its tracks laid over files of a few lengths.
// Returns the first rule the run broke, or an empty string.
std::string checkCueSheet(const std::uint8_t* data, std::size_t size);

// Sheets to start fuzzing from: of the kinds rippers write, and malformed.
std::vector<std::string> cueSeedSheets();

// Arbitrary bytes as a WAV file: planned (with a format given when the last
// byte's high bit is set), repaired beside itself and in place in memory,
// and checked: no byte changes outside the header fields, the changes lie
// before the first audio byte, a refusal writes nothing, and the repaired
// file has nothing left to repair. Returns the first rule broken, or empty.
std::string checkRepair(const std::uint8_t* data, std::size_t size);

}  // namespace ril::properties
