// A benchmark peer: libebur128's integrated loudness, loudness range, true
// peak and largest momentary and short-term loudness of a 16-bit PCM WAV file,
// the figures rilmaton-cli report gives.
//   ebur128_peer FILE.wav
#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::uint32_t le32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: ebur128_peer FILE.wav\n", stderr);
    return 2;
  }
  std::FILE* f = std::fopen(argv[1], "rb");
  if (!f) return 1;
  unsigned char h[12];
  if (std::fread(h, 1, 12, f) != 12 || std::memcmp(h, "RIFF", 4) != 0) return 1;
  unsigned channels = 0, rate = 0, bits = 0;
  std::uint32_t dataSize = 0;
  for (unsigned char c[8]; std::fread(c, 1, 8, f) == 8;) {
    const std::uint32_t size = le32(c + 4);
    if (std::memcmp(c, "fmt ", 4) == 0) {
      std::vector<unsigned char> body(size);
      if (std::fread(body.data(), 1, size, f) != size || size < 16) return 1;
      channels = body[2] | body[3] << 8;
      rate = le32(body.data() + 4);
      bits = body[14] | body[15] << 8;
    } else if (std::memcmp(c, "data", 4) == 0) {
      dataSize = size;
      break;
    } else {
      std::fseek(f, size + (size & 1), SEEK_CUR);
    }
  }
  if (bits != 16 || channels == 0) return 1;
  ebur128_state* st = ebur128_init(
      channels, rate,
      EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_TRUE_PEAK);
  const std::size_t step = (rate + 5) / 10;
  std::vector<std::int16_t> buf(step * channels);
  double momentary = -HUGE_VAL, shortTerm = -HUGE_VAL;
  std::size_t left = dataSize / (2 * channels), done = 0;
  while (left >= step && std::fread(buf.data(), 2 * channels, step, f) == step) {
    ebur128_add_frames_short(st, buf.data(), step);
    left -= step;
    done += 1;
    double v;
    if (done >= 4 && ebur128_loudness_momentary(st, &v) == EBUR128_SUCCESS) {
      momentary = std::max(momentary, v);
    }
    if (done >= 30 && ebur128_loudness_shortterm(st, &v) == EBUR128_SUCCESS) {
      shortTerm = std::max(shortTerm, v);
    }
  }
  double integrated = 0, range = 0, peak = 0;
  ebur128_loudness_global(st, &integrated);
  ebur128_loudness_range(st, &range);
  for (unsigned c = 0; c < channels; ++c) {
    double p;
    ebur128_true_peak(st, c, &p);
    peak = std::max(peak, p);
  }
  std::printf("I %.2f LUFS, LRA %.2f LU, true peak %.2f dBTP, max M %.2f, max S %.2f LUFS\n",
              integrated, range, 20 * std::log10(peak), momentary, shortTerm);
  ebur128_destroy(&st);
  std::fclose(f);
  return 0;
}
