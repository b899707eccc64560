#include "core/analysis/peak_scan.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace ril {

namespace {

// Smallest and largest unsigned byte, and smallest and largest signed 16-bit
// little-endian word, of a block.
std::pair<std::uint8_t, std::uint8_t> byteRange(const unsigned char* p, std::size_t n) {
  std::uint8_t lo = 255, hi = 0;
  std::size_t k = 0;
#if defined(__SSE2__)
  __m128i vlo = _mm_set1_epi8(static_cast<char>(0xFF)), vhi = _mm_setzero_si128();
  for (; k + 16 <= n; k += 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
    vlo = _mm_min_epu8(vlo, v);
    vhi = _mm_max_epu8(vhi, v);
  }
  alignas(16) std::uint8_t l[16], h[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(l), vlo);
  _mm_store_si128(reinterpret_cast<__m128i*>(h), vhi);
  for (int i = 0; i < 16; ++i) {
    lo = std::min(lo, l[i]);
    hi = std::max(hi, h[i]);
  }
#endif
  for (; k < n; ++k) {
    lo = std::min(lo, p[k]);
    hi = std::max(hi, p[k]);
  }
  return {lo, hi};
}

std::pair<std::int16_t, std::int16_t> wordRange(const unsigned char* p, std::size_t n) {
  std::int16_t lo = 32767, hi = -32768;
  std::size_t k = 0;
#if defined(__SSE2__)
  __m128i vlo = _mm_set1_epi16(32767), vhi = _mm_set1_epi16(-32768);
  for (; k + 8 <= n; k += 8) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * k));
    vlo = _mm_min_epi16(vlo, v);
    vhi = _mm_max_epi16(vhi, v);
  }
  alignas(16) std::int16_t l[8], h[8];
  _mm_store_si128(reinterpret_cast<__m128i*>(l), vlo);
  _mm_store_si128(reinterpret_cast<__m128i*>(h), vhi);
  for (int i = 0; i < 8; ++i) {
    lo = std::min(lo, l[i]);
    hi = std::max(hi, h[i]);
  }
#endif
  for (; k < n; ++k) {
    std::int16_t v;
    std::memcpy(&v, p + 2 * k, 2);
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  return {lo, hi};
}

}  // namespace

std::int32_t storedPeak(FileSystem& fs, const std::string& path, const WavHeader& header) {
  auto input = fs.openRead(path);
  const std::uint64_t offset = static_cast<std::uint64_t>(header.layout.dataOffset);
  if (input->skip(offset) != offset) return 0;
  const bool eightBit = header.format.bitsPerSample == 8;
  std::uint64_t left = static_cast<std::uint64_t>(header.layout.framesInFile) *
                       static_cast<std::uint64_t>(header.format.frameBytes());
  std::vector<unsigned char> buffer(1 << 20);
  int low = eightBit ? 255 : 32767;
  int high = eightBit ? 0 : -32768;
  while (left > 0) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, buffer.size()));
    std::size_t got = input->read(buffer.data(), want);
    if (eightBit) {
      auto [lo, hi] = byteRange(buffer.data(), got);
      low = std::min<int>(low, lo);
      high = std::max<int>(high, hi);
    } else {
      auto [lo, hi] = wordRange(buffer.data(), got / 2);
      low = std::min<int>(low, lo);
      high = std::max<int>(high, hi);
    }
    if (got < want) break;
    left -= got;
  }
  input->close();
  if (eightBit) {
    low = (low - 128) * 256;
    high = (high - 128) * 256;
  }
  return std::max({0, high, -std::max(low, -32767)});
}

}  // namespace ril
