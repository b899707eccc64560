// One description of a stored sample format: how a sample is encoded, how
// many bytes it takes, how many of its bits are valid, in which byte order it
// is stored, and the full scale its values are measured against. Reading,
// the statistics, the report and the rewriting all ask this one table.
#pragma once

#include <cstdint>
#include <string>

namespace ril {

enum class SampleEncoding {
  kPcm,    // integers: unsigned with 128 as zero in one byte, signed in more
  kFloat,  // IEEE float of 4 or 8 bytes, full scale 1.0
  kAlaw,   // G.711 A-law bytes, decoded to 16-bit integers
  kMulaw,  // G.711 µ-law bytes, decoded to 16-bit integers
};

struct SampleFormat {
  SampleEncoding encoding = SampleEncoding::kPcm;
  int containerBytes = 2;  // bytes a sample takes (1 to 4, or 4 and 8 for float)
  int validBits = 16;      // bits that carry the sample; the rest, at the bottom, are zero
  bool bigEndian = false;  // a RIFX file

  bool operator==(const SampleFormat&) const = default;

  bool isFloat() const { return encoding == SampleEncoding::kFloat; }
  bool isCompanded() const {
    return encoding == SampleEncoding::kAlaw || encoding == SampleEncoding::kMulaw;
  }
  int containerBits() const { return 8 * containerBytes; }

  // The value that counts as 100 %: 2^(bits - 1) of the container for
  // integers (128 for 8-bit), 32768 for the companded formats (decoded to 16
  // bits), 1.0 for float.
  double fullScale() const;

  // The statistics measure integer samples as stored, except that 8-bit
  // bytes and the companded formats are taken onto the 16-bit scale (an 8-bit
  // byte b as (b - 128) x 256), as the report always measured 8-bit data.
  bool onSixteenBitScale() const { return containerBytes <= 2 && !isFloat(); }
  // The factor from a stored integer (8-bit: b - 128) to the statistics' scale.
  int statisticsFactor() const { return containerBytes == 1 && !isCompanded() ? 256 : 1; }
  // Full scale on the statistics' scale: 32768 for the 16-bit scale.
  double statisticsFullScale() const;

  // The smallest and largest stored integer (8-bit: around 0): the valid
  // bits' range, on the container's scale; -1 and 1 for float.
  std::int64_t smallest() const;
  std::int64_t largest() const;
  // The distance between two stored integers: 2^(container bits - valid bits).
  std::int64_t step() const;
  // The same two limits on the statistics' scale.
  std::int64_t smallestMeasured() const { return smallest() * statisticsFactor(); }
  std::int64_t largestMeasured() const { return largest() * statisticsFactor(); }

  // The report's words: "24 bit", "32 bit float", "8 bit µ-law", "24 bit (20 valid)".
  std::string words() const;
  // The JSON name: "pcm", "float", "alaw" or "mulaw".
  const char* name() const;

  // The formats the program has always read, with their tuned paths and
  // exact results: 8- or 16-bit little-endian PCM with every bit valid (mono
  // or stereo is the caller's to check).
  bool isClassic() const {
    return encoding == SampleEncoding::kPcm && containerBytes <= 2 &&
           validBits == containerBits() && !bigEndian;
  }
  // Whether the rewriting can store its results in this format.
  bool modifiable() const { return !isCompanded(); }
};

// 8- or 16-bit little-endian PCM with every bit valid.
inline SampleFormat classicFormat(int bitsPerSample) {
  SampleFormat f;
  f.containerBytes = bitsPerSample == 8 ? 1 : 2;
  f.validBits = f.containerBits();
  return f;
}

}  // namespace ril
