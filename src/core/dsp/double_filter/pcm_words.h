// The two stored sample formats as the rewriting computes with them: how a
// stored word becomes the value v that is scaled and filtered, and how a
// result is rounded, limited and stored again.
#pragma once

#include <cstdint>

namespace ril {

// floor(t) as an integer, for |t| well inside the 64-bit range.
inline std::int64_t floorToInt(double t) {
  auto i = static_cast<std::int64_t>(t);
  if (static_cast<double>(i) > t) --i;
  return i;
}

// Unsigned 8-bit: v = s - 128; stored results lie in 0..255 around 128.
struct Pcm8 {
  using Word = std::uint8_t;
  static constexpr std::int64_t kHigh = 255;
  static constexpr std::int64_t kLow = 0;
  static double sampleValue(Word s) { return static_cast<double>(static_cast<int>(s) - 128); }
  static std::int64_t roundVolume(double v, double factor) {
    return static_cast<std::int64_t>(v * factor + 128.5);  // truncated toward zero
  }
  static std::int64_t roundFiltered(double y) { return floorToInt(y + 128.5); }
  // The sample on the report's 16-bit scale, as its filter takes it.
  static std::int32_t analysisValue(Word s) { return (static_cast<std::int32_t>(s) - 128) * 256; }
  // A result as a message shows it (around 0).
  static std::int64_t shownValue(std::int64_t r) { return r - 128; }
  static Word store(std::int64_t r) { return static_cast<Word>(r); }
};

// Signed 16-bit little-endian, held as the raw bits of the word.
struct Pcm16 {
  using Word = std::uint16_t;
  static constexpr std::int64_t kHigh = 32767;
  static constexpr std::int64_t kLow = -32768;
  static double sampleValue(Word s) { return static_cast<double>(static_cast<std::int16_t>(s)); }
  static std::int64_t roundVolume(double v, double factor) { return floorToInt(v * factor + 0.5); }
  static std::int64_t roundFiltered(double y) { return floorToInt(y + 0.5); }
  static std::int32_t analysisValue(Word s) { return static_cast<std::int16_t>(s); }
  static std::int64_t shownValue(std::int64_t r) { return r; }
  static Word store(std::int64_t r) { return static_cast<Word>(static_cast<std::int16_t>(r)); }
};

}  // namespace ril
