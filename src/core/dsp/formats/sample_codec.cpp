#include "core/dsp/formats/sample_codec.h"

#include <bit>
#include <cstring>

namespace ril::kernels {

namespace {

// The container's bytes as an unsigned number, in the file's byte order.
template <int Bytes, bool Big>
inline std::uint64_t rawAt(const unsigned char* p) {
  std::uint64_t raw = 0;
  for (int b = 0; b < Bytes; ++b) {
    const int shift = Big ? 8 * (Bytes - 1 - b) : 8 * b;
    raw |= static_cast<std::uint64_t>(p[b]) << shift;
  }
  return raw;
}

template <int Bytes, bool Big>
inline void putRaw(unsigned char* p, std::uint64_t raw) {
  for (int b = 0; b < Bytes; ++b) {
    const int shift = Big ? 8 * (Bytes - 1 - b) : 8 * b;
    p[b] = static_cast<unsigned char>(raw >> shift);
  }
}

// A signed container of 2 to 4 bytes as an integer.
template <int Bytes, bool Big>
inline std::int32_t signedAt(const unsigned char* p) {
  const auto raw = static_cast<std::uint32_t>(rawAt<Bytes, Big>(p)) << (32 - 8 * Bytes);
  return static_cast<std::int32_t>(raw) >> (32 - 8 * Bytes);
}

template <int Bytes, bool Big, typename Out>
void signedLoop(const unsigned char* p, std::size_t step, std::int64_t count, Out* out) {
  for (std::int64_t i = 0; i < count; ++i, p += step) out[i] = signedAt<Bytes, Big>(p);
}

template <typename Out, typename Expand>
void byteLoop(const unsigned char* p, std::size_t step, std::int64_t count, Out* out,
              Expand expand) {
  for (std::int64_t i = 0; i < count; ++i, p += step) out[i] = expand(*p);
}

template <bool Big, typename Out>
void integersOf(const unsigned char* p, std::size_t step, const SampleFormat& f, std::int64_t count,
                Out* out) {
  switch (f.encoding) {
    case SampleEncoding::kAlaw:
      return byteLoop(p, step, count, out, alawToLinear);
    case SampleEncoding::kMulaw:
      return byteLoop(p, step, count, out, mulawToLinear);
    default:
      break;
  }
  switch (f.containerBytes) {
    case 1:
      return byteLoop(p, step, count, out, [](std::uint8_t b) { return int{b} - 128; });
    case 2:
      return signedLoop<2, Big>(p, step, count, out);
    case 3:
      return signedLoop<3, Big>(p, step, count, out);
    default:
      return signedLoop<4, Big>(p, step, count, out);
  }
}

template <bool Big>
void floatsOf(const unsigned char* p, std::size_t step, const SampleFormat& f, std::int64_t count,
              double* out) {
  if (f.containerBytes == 8) {
    for (std::int64_t i = 0; i < count; ++i, p += step) {
      out[i] = std::bit_cast<double>(rawAt<8, Big>(p));
    }
    return;
  }
  for (std::int64_t i = 0; i < count; ++i, p += step) {
    out[i] = std::bit_cast<float>(static_cast<std::uint32_t>(rawAt<4, Big>(p)));
  }
}

template <int Bytes, bool Big>
void storeLoop(const std::int64_t* v, std::int64_t count, unsigned char* p, std::size_t step) {
  for (std::int64_t i = 0; i < count; ++i, p += step) {
    putRaw<Bytes, Big>(p, static_cast<std::uint64_t>(v[i]));
  }
}

template <bool Big>
void storeIntegersIn(const std::int64_t* v, std::int64_t count, int bytes, unsigned char* p,
                     std::size_t step) {
  switch (bytes) {
    case 2:
      return storeLoop<2, Big>(v, count, p, step);
    case 3:
      return storeLoop<3, Big>(v, count, p, step);
    default:
      return storeLoop<4, Big>(v, count, p, step);
  }
}

template <bool Big>
void storeFloatsIn(const double* v, std::int64_t count, int bytes, unsigned char* p,
                   std::size_t step) {
  for (std::int64_t i = 0; i < count; ++i, p += step) {
    if (bytes == 8) {
      putRaw<8, Big>(p, std::bit_cast<std::uint64_t>(v[i]));
    } else {
      putRaw<4, Big>(p, std::bit_cast<std::uint32_t>(static_cast<float>(v[i])));
    }
  }
}

}  // namespace

std::int32_t alawToLinear(std::uint8_t byte) {
  const int a = byte ^ 0x55;
  int t = (a & 0x0F) << 4;
  const int segment = (a & 0x70) >> 4;
  if (segment == 0) {
    t += 8;
  } else {
    t = (t + 0x108) << (segment - 1);
  }
  return (a & 0x80) != 0 ? t : -t;
}

std::int32_t mulawToLinear(std::uint8_t byte) {
  const int u = ~byte & 0xFF;
  const int t = (((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4);
  return (u & 0x80) != 0 ? 0x84 - t : t - 0x84;
}

void storedIntegers(const unsigned char* bytes, std::size_t frameBytes, const SampleFormat& format,
                    std::int64_t count, std::int32_t* out) {
  if (format.bigEndian) {
    integersOf<true>(bytes, frameBytes, format, count, out);
  } else {
    integersOf<false>(bytes, frameBytes, format, count, out);
  }
}

void storedValues(const unsigned char* bytes, std::size_t frameBytes, const SampleFormat& format,
                  std::int64_t count, double* out) {
  if (format.isFloat()) {
    if (format.bigEndian) {
      floatsOf<true>(bytes, frameBytes, format, count, out);
    } else {
      floatsOf<false>(bytes, frameBytes, format, count, out);
    }
  } else if (format.bigEndian) {
    integersOf<true>(bytes, frameBytes, format, count, out);
  } else {
    integersOf<false>(bytes, frameBytes, format, count, out);
  }
}

void storeIntegers(const std::int64_t* values, std::int64_t count, const SampleFormat& format,
                   unsigned char* bytes, std::size_t frameBytes) {
  if (format.containerBytes == 1) {
    for (std::int64_t i = 0; i < count; ++i) {
      bytes[static_cast<std::size_t>(i) * frameBytes] = static_cast<unsigned char>(values[i] + 128);
    }
  } else if (format.bigEndian) {
    storeIntegersIn<true>(values, count, format.containerBytes, bytes, frameBytes);
  } else {
    storeIntegersIn<false>(values, count, format.containerBytes, bytes, frameBytes);
  }
}

void storeFloats(const double* values, std::int64_t count, const SampleFormat& format,
                 unsigned char* bytes, std::size_t frameBytes) {
  if (format.bigEndian) {
    storeFloatsIn<true>(values, count, format.containerBytes, bytes, frameBytes);
  } else {
    storeFloatsIn<false>(values, count, format.containerBytes, bytes, frameBytes);
  }
}

}  // namespace ril::kernels
