#include "support/format_files.h"

#include <algorithm>
#include <cstring>

namespace ril::test {

namespace {

void reverse(Bytes& b, std::size_t at, std::size_t n) {
  std::reverse(b.begin() + static_cast<std::ptrdiff_t>(at),
               b.begin() + static_cast<std::ptrdiff_t>(at + n));
}

}  // namespace

Bytes formatSamples(const FormatCase& c, std::int64_t frames, std::uint32_t seed,
                    double floatRange) {
  const int width = (c.bits + 7) / 8;
  Bytes out(static_cast<std::size_t>(frames * c.channels * width));
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  const bool isFloat = c.tag == 3 || (c.tag == -2 && c.subFormat == 3);
  const int valid = c.validBits > 0 ? c.validBits : c.bits;
  for (std::size_t k = 0; k < out.size(); k += static_cast<std::size_t>(width)) {
    unsigned char le[8] = {};
    const double u = (static_cast<double>(next() >> 8) / 16777216.0 * 2 - 1) * floatRange;
    if (isFloat && width == 4) {
      const auto f = static_cast<float>(u);
      std::memcpy(le, &f, 4);
    } else if (isFloat) {
      std::memcpy(le, &u, 8);
    } else {
      std::uint64_t raw = static_cast<std::uint64_t>(next()) << 32 | next();
      raw &= ~((std::uint64_t{1} << (8 * width - valid)) - 1);  // the unused bits zero
      std::memcpy(le, &raw, 8);
    }
    if (c.rifx) std::reverse(le, le + width);
    std::memcpy(&out[k], le, static_cast<std::size_t>(width));
  }
  return out;
}

Bytes formatFile(const FormatCase& c, const Bytes& samples) {
  WavShape s;
  s.formatTag = c.tag;
  s.bitsPerSample = c.bits;
  s.channels = c.channels;
  s.sampleRate = c.rate;
  s.blockAlign = static_cast<std::int16_t>(c.channels * ((c.bits + 7) / 8));
  if (c.tag == -2) {
    putLe16(s.fmtExtra, 22);
    putLe16(s.fmtExtra, static_cast<std::uint16_t>(c.validBits > 0 ? c.validBits : c.bits));
    putLe32(s.fmtExtra, c.mask);
    putLe16(s.fmtExtra, c.subFormat);
    const unsigned char tail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                    0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    s.fmtExtra.insert(s.fmtExtra.end(), tail, tail + 14);
  }
  s.data = samples;
  Bytes b = buildWav(s);
  if (!c.rifx) return b;
  // Big-endian: the identifier, the sizes and the format fields turned round
  // (the samples are so already).
  b[3] = 'X';
  reverse(b, 4, 4);
  reverse(b, 16, 4);
  for (std::size_t at : {20, 22, 32, 34}) reverse(b, at, 2);
  for (std::size_t at : {24, 28}) reverse(b, at, 4);
  const std::size_t data = 20 + 16 + s.fmtExtra.size();
  if (c.tag == -2) {
    for (std::size_t at : {36, 38}) reverse(b, at, 2);
    reverse(b, 40, 4);
    reverse(b, 44, 4);  // the GUID's first field
    for (std::size_t at : {48, 50}) reverse(b, at, 2);
  }
  reverse(b, data + 4, 4);
  return b;
}

}  // namespace ril::test
