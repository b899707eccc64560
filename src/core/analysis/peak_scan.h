// The peak of the data as stored, from the smallest and largest sample alone:
// all a volume change needs of the analysis.
#pragma once

#include <cstdint>
#include <string>

#include "core/base/sample_format.h"
#include "core/io/files.h"
#include "core/wav/wav_header.h"

namespace ril {

// The largest magnitude of the samples of `path` on the format's statistics
// scale, as the analysis finds it (AnalysisResult::peakValue): on the 16-bit
// scale -32768 counting as -32767. Reading stops at the end of the file; a
// failing read throws RunError.
double storedPeak(FileSystem& fs, const std::string& path, const WavHeader& header);

// The same peak from the smallest and largest sample (`low` <= 0 <= `high`)
// of a format other than 8- or 16-bit mono or stereo, as storedValues()
// gives them (float NaN and infinities taken as 0).
double peakOfExtremes(const SampleFormat& format, double low, double high);

}  // namespace ril
