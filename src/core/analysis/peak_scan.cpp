#include "core/analysis/peak_scan.h"

#include <algorithm>
#include <vector>

#include "core/dsp/formats/float_guard.h"
#include "core/dsp/formats/format_runs.h"
#include "core/dsp/formats/sample_codec.h"
#include "core/dsp/planar_conversion.h"
#include "core/dsp/run_statistics.h"

namespace ril {

namespace {

// Every other format: the samples of all channels as one run, decoded.
double formatPeak(ByteSource& input, const WavHeader& header) {
  const SampleFormat f = header.format.sample();
  const std::size_t sampleBytes = static_cast<std::size_t>(f.containerBytes);
  std::uint64_t left = static_cast<std::uint64_t>(header.layout.framesInFile) *
                       static_cast<std::uint64_t>(header.format.frameBytes());
  constexpr std::size_t kSamples = 1 << 16;
  std::vector<unsigned char> bytes(kSamples * sampleBytes);
  std::vector<double> values(kSamples);
  double low = 0.0, high = 0.0;
  while (left > 0) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, bytes.size()));
    const std::size_t got = input.read(bytes.data(), want);
    const auto n = static_cast<std::int64_t>(got / sampleBytes);
    kernels::storedValues(bytes.data(), sampleBytes, f, n, values.data());
    if (f.isFloat() && kernels::anyUnusual(values.data(), n)) {
      kernels::zeroNonFinite(values.data(), n);  // no levels
    }
    if (n > 0) {
      const kernels::FloatScan scan = kernels::scanFloats(values.data(), n, low, high);
      low = scan.lo;
      high = scan.hi;
    }
    if (got < want) break;
    left -= got;
  }
  return peakOfExtremes(f, low, high);
}

}  // namespace

double peakOfExtremes(const SampleFormat& f, double low, double high) {
  if (f.isFloat()) return std::max(high, -low);
  const double factor = f.statisticsFactor();
  low *= factor;
  high *= factor;
  const bool sixteen = f.onSixteenBitScale();
  const double lowest = sixteen ? -32768.0 : static_cast<double>(f.smallestMeasured());
  const double countedAs = sixteen ? 32767.0 : static_cast<double>(f.largestMeasured());
  return std::max(high, low == lowest ? countedAs : -low);
}

double storedPeak(FileSystem& fs, const std::string& path, const WavHeader& header) {
  auto input = fs.openRead(path);
  const std::uint64_t offset = static_cast<std::uint64_t>(header.layout.dataOffset);
  if (input->skip(offset) != offset) return 0;
  if (!header.format.classic()) {
    const double peak = formatPeak(*input, header);
    input->close();
    return peak;
  }
  const bool eightBit = header.format.bitsPerSample == 8;
  // Every sample of every channel counts alike: the data is taken as one run
  // of samples on the 16-bit scale (8-bit bytes scaled by 256 on the way).
  std::uint64_t left = static_cast<std::uint64_t>(header.layout.framesInFile) *
                       static_cast<std::uint64_t>(header.format.frameBytes());
  constexpr std::size_t kSamples = 1 << 19;
  std::vector<std::int16_t> samples(kSamples);
  std::vector<unsigned char> bytes(eightBit ? kSamples : 0);
  std::int32_t low = 0, high = 0;
  while (left > 0) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, eightBit ? kSamples : 2 * kSamples));
    std::size_t got = 0;
    if (eightBit) {
      got = input->read(bytes.data(), want);
      kernels::toPlanar16(bytes.data(), static_cast<std::int64_t>(got), 1, 8, samples.data(),
                          nullptr);
    } else {
      got = input->read(samples.data(), want);
    }
    const std::int64_t n = static_cast<std::int64_t>(eightBit ? got : got / 2);
    if (n > 0) {
      const kernels::RunStats s = kernels::statsOf16(samples.data(), n, kernels::Limits{});
      low = std::min(low, s.min);
      high = std::max(high, s.max);
    }
    if (got < want) break;
    left -= got;
  }
  input->close();
  return std::max(high, low == -32768 ? 32767 : -low);
}

}  // namespace ril
