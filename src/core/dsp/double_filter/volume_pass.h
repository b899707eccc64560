// The volume change of stored sample words: v x factor rounded as the format
// rounds it (pcm_words.h). Every possible word is computed once per run into
// a table; 16-bit words go through AVX2 lanes where the processor has it,
// with the table's very operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

#include "core/dsp/double_filter/double_conversion.h"
#include "core/dsp/double_filter/pcm_words.h"

namespace ril {

template <class Pcm>
class VolumePass {
 public:
  using Word = typename Pcm::Word;

  explicit VolumePass(double factor)
      : factor_(factor), stored_(kSize), value_(kSize), outside_(kSize) {
    for (std::size_t raw = 0; raw < kSize; ++raw) {
      const std::int64_t result =
          Pcm::roundVolume(Pcm::sampleValue(static_cast<Word>(raw)), factor);
      value_[raw] = result;
      outside_[raw] = result < Pcm::kLow || result > Pcm::kHigh;
      anyOutside_ = anyOutside_ || outside_[raw];
      stored_[raw] = outside_[raw] ? Word{0} : Pcm::store(result);
    }
  }

  // Whether some stored word would come out beyond the format's range.
  bool canOverflow() const { return anyOutside_; }
  bool overflows(Word s) const { return outside_[s] != 0; }
  // The result for `s`, unlimited.
  std::int64_t value(Word s) const { return value_[s]; }

  // Scales `count` words from `in` into `out`; true when one came out beyond
  // the range (its stored word is then meaningless).
  bool apply(const Word* in, Word* out, std::int64_t count) const {
    std::size_t k = 0;
    bool outside = false;
    if constexpr (std::is_same_v<Pcm, Pcm16>) {
      k = static_cast<std::size_t>(kernels::scaleRounded16(in, out, count, factor_, outside));
    }
    const Word* stored = stored_.data();
    const std::size_t n = static_cast<std::size_t>(count);
    if (!anyOutside_) {
      for (; k < n; ++k) out[k] = stored[in[k]];
      return false;
    }
    const std::uint8_t* bad = outside_.data();
    std::uint8_t any = outside ? 1 : 0;
    for (; k < n; ++k) {
      out[k] = stored[in[k]];
      any |= bad[in[k]];
    }
    return any != 0;
  }

 private:
  static constexpr std::size_t kSize = std::size_t{1} << (8 * sizeof(Word));

  double factor_;
  std::vector<Word> stored_;
  std::vector<std::int64_t> value_;
  std::vector<std::uint8_t> outside_;
  bool anyOutside_ = false;
};

}  // namespace ril
