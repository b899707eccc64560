// The peak of the data as stored, from the smallest and largest sample alone:
// all a volume change needs of the analysis.
#pragma once

#include <cstdint>
#include <string>

#include "core/io/files.h"
#include "core/wav/wav_header.h"

namespace ril {

// The largest magnitude on the 16-bit scale of the samples of `path`, -32768
// counting as -32767, as the analysis finds it. Reading stops at the end of
// the file; a failing read throws RunError.
std::int32_t storedPeak(FileSystem& fs, const std::string& path, const WavHeader& header);

}  // namespace ril
