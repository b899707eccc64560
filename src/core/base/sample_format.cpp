#include "core/base/sample_format.h"

#include <cmath>

namespace ril {

double SampleFormat::fullScale() const {
  if (isFloat()) return 1.0;
  if (isCompanded()) return 32768.0;
  return std::ldexp(1.0, containerBits() - 1);
}

double SampleFormat::statisticsFullScale() const {
  return isFloat() ? 1.0 : fullScale() * statisticsFactor();
}

std::int64_t SampleFormat::step() const {
  if (isFloat() || isCompanded() || validBits <= 0 || validBits >= containerBits()) return 1;
  return std::int64_t{1} << (containerBits() - validBits);
}

std::int64_t SampleFormat::smallest() const {
  if (isFloat()) return -1;  // full scale; float values are not limited to it
  if (isCompanded()) return -32768;
  return -(std::int64_t{1} << (containerBits() - 1));
}

std::int64_t SampleFormat::largest() const {
  if (isFloat()) return 1;
  if (isCompanded()) return 32767;
  return (std::int64_t{1} << (containerBits() - 1)) - step();
}

std::string SampleFormat::words() const {
  const std::string bits = std::to_string(containerBits()) + " bit";
  switch (encoding) {
    case SampleEncoding::kFloat:
      return bits + " float";
    case SampleEncoding::kAlaw:
      return bits + " A-law";
    case SampleEncoding::kMulaw:
      return bits + " µ-law";
    case SampleEncoding::kPcm:
      break;
  }
  if (validBits < containerBits()) return bits + " (" + std::to_string(validBits) + " valid)";
  return bits;
}

const char* SampleFormat::name() const {
  switch (encoding) {
    case SampleEncoding::kFloat:
      return "float";
    case SampleEncoding::kAlaw:
      return "alaw";
    case SampleEncoding::kMulaw:
      return "mulaw";
    case SampleEncoding::kPcm:
      break;
  }
  return "pcm";
}

}  // namespace ril
