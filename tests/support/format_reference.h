// The statistics and the rewriting of every sample format, written plainly:
// one sample at a time, decoded byte by byte from its description, with no
// kernel of the program's. What the tuned code is held to.
#pragma once

#include <cstdint>
#include <vector>

#include "core/analysis/format_statistics.h"
#include "core/wav/wav_header.h"
#include "support/reference_modification.h"

namespace ril::test {

// Sample k (frame x channels + channel) of interleaved data: integers as
// stored (8-bit around 0, A-law and µ-law expanded to 16 bits), float values.
double referenceSample(const unsigned char* data, const WavFormat& format, std::int64_t k);

struct FormatReference {
  std::vector<ChannelFigures> stored;
  std::vector<ChannelFigures> filtered;  // at 44100 Hz only
  double peak[2] = {0, 0};               // as AnalysisResult::peakValue
};
FormatReference referenceFigures(const unsigned char* data, const WavFormat& format,
                                 std::int64_t frames);

// Equal, but for the average and RMS of float channels (`isFloat`), which
// agree to rounding: the reference sums in frame order, in long double.
bool sameFigures(const std::vector<ChannelFigures>& a, const std::vector<ChannelFigures>& b,
                 bool isFloat);

// What a run on a file of any format other than 8- or 16-bit mono or stereo
// must write and show (see expectedOutput): each sample v to v x factor (or
// v / divisor when divisor > 0), through a fresh de-emphasis filter per
// channel and range when asked, rounded at the valid bits and limited with a
// message (integers) or stored to the nearest float, counting the results
// beyond +-1.0 in `beyond`.
Expected expectedFormatOutput(const Bytes& data, const WavFormat& format, double factor,
                              bool deemphasis, double divisor,
                              const std::optional<std::vector<FrameRange>>& ranges,
                              std::int64_t& beyond);

}  // namespace ril::test
