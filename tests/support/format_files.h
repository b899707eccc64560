// WAV files of every sample format built in code for the tests: a table of
// formats, random samples within each one's range, extensible and RIFX
// headers.
#pragma once

#include <cstdint>
#include <string>

#include "support/test_support.h"

namespace ril::test {

struct FormatCase {
  const char* words;  // the report's "Resolution:" words
  std::int16_t tag;   // format tag, or -2 with `subFormat`
  std::int16_t bits;
  std::int16_t channels;
  std::int32_t rate;
  std::int16_t validBits = 0;  // extensible: the valid bits (0: all)
  std::uint32_t mask = 0;      // extensible: the speakers
  std::uint16_t subFormat = 0;
  bool rifx = false;
};

// `frames` frames of random samples (seeded), float values within +-`floatRange`.
Bytes formatSamples(const FormatCase& c, std::int64_t frames, std::uint32_t seed,
                    double floatRange = 1.5);
// A whole file with these samples.
Bytes formatFile(const FormatCase& c, const Bytes& samples);

}  // namespace ril::test
