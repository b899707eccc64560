// A sample container's bytes as a number and back, in either byte order:
// the scalar steps every decoder and encoder of the stored formats shares.
#pragma once

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace ril::kernels {

inline std::uint16_t swapped(std::uint16_t w) {
  return __builtin_bswap16(w);
}
inline std::uint32_t swapped(std::uint32_t w) {
  return __builtin_bswap32(w);
}
inline std::uint64_t swapped(std::uint64_t w) {
  return __builtin_bswap64(w);
}

// The container's bytes as an unsigned number, in the file's byte order:
// one load and a byte swap for the power-of-two widths, so that the loops
// over the samples stay free of inner loops.
template <int Bytes, bool Big>
inline std::uint64_t rawAt(const unsigned char* p) {
  if constexpr (Bytes == 3) {
    const std::uint32_t b0 = p[0], b1 = p[1], b2 = p[2];
    return Big ? (b0 << 16) | (b1 << 8) | b2 : b0 | (b1 << 8) | (b2 << 16);
  } else {
    using Word = std::conditional_t<Bytes == 2, std::uint16_t,
                                    std::conditional_t<Bytes == 4, std::uint32_t, std::uint64_t>>;
    static_assert(sizeof(Word) == Bytes);
    Word w;
    std::memcpy(&w, p, Bytes);
    if constexpr (Big) w = swapped(w);
    return w;
  }
}

template <int Bytes, bool Big>
inline void putRaw(unsigned char* p, std::uint64_t raw) {
  if constexpr (Bytes == 3) {
    if constexpr (Big) {
      p[0] = static_cast<unsigned char>(raw >> 16);
      p[1] = static_cast<unsigned char>(raw >> 8);
      p[2] = static_cast<unsigned char>(raw);
    } else {
      const auto low = static_cast<std::uint16_t>(raw);
      std::memcpy(p, &low, 2);
      p[2] = static_cast<unsigned char>(raw >> 16);
    }
  } else {
    using Word = std::conditional_t<Bytes == 2, std::uint16_t,
                                    std::conditional_t<Bytes == 4, std::uint32_t, std::uint64_t>>;
    auto w = static_cast<Word>(raw);
    if constexpr (Big) w = swapped(w);
    std::memcpy(p, &w, Bytes);
  }
}

// A signed container of 2 to 4 bytes as an integer.
template <int Bytes, bool Big>
inline std::int32_t signedAt(const unsigned char* p) {
  const auto raw = static_cast<std::uint32_t>(rawAt<Bytes, Big>(p)) << (32 - 8 * Bytes);
  return static_cast<std::int32_t>(raw) >> (32 - 8 * Bytes);
}

}  // namespace ril::kernels
