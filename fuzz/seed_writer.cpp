// Writes seeds for the fuzz targets:
//   fuzz_seed_writer <read-dir> <modify-dir> <cue-dir> [wav files...]
// <read-dir> gets small WAV files built here, each of a different shape (the
// formats, odd chunk layouts, cut and lying headers); <modify-dir> gets each
// of those and each named file with option bytes in front (properties.h), in a
// few settings each; <cue-dir> gets cue sheets of the kinds rippers write.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "properties/properties.h"

namespace {

using Bytes = std::vector<unsigned char>;

void le16(Bytes& b, std::uint16_t v) {
  b.push_back(v & 0xFF);
  b.push_back(v >> 8);
}
void le32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF);
}
void id(Bytes& b, const char* s) {
  b.insert(b.end(), s, s + 4);
}
void chunk(Bytes& b, const char* name, const Bytes& body) {
  id(b, name);
  le32(b, static_cast<std::uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() % 2) b.push_back(0);
}

struct Shape {
  int formatTag = 1;
  int channels = 2;
  std::uint32_t rate = 44100;
  int bits = 16;
  Bytes fmtExtra;
  std::int64_t fmtLength = -1;  // -1: 16 + extra
  Bytes first;                  // raw bytes between "WAVE" and the format chunk
  bool rf64 = false;            // "RF64" with a ds64 chunk first holding the data size
  Bytes before;                 // raw bytes between fmt and data
  Bytes data;
  std::int64_t dataSize = -1;  // -1: data.size()
  Bytes after;
  std::int64_t cutTo = -1;  // keep only this many bytes
};

Bytes build(const Shape& s) {
  Bytes fmt;
  le16(fmt, static_cast<std::uint16_t>(s.formatTag));
  le16(fmt, static_cast<std::uint16_t>(s.channels));
  le32(fmt, s.rate);
  const int align = s.channels * s.bits / 8;
  le32(fmt, static_cast<std::uint32_t>(align * static_cast<std::int64_t>(s.rate)));
  le16(fmt, static_cast<std::uint16_t>(align));
  le16(fmt, static_cast<std::uint16_t>(s.bits));
  fmt.insert(fmt.end(), s.fmtExtra.begin(), s.fmtExtra.end());

  const std::uint32_t dataSize = static_cast<std::uint32_t>(
      s.dataSize >= 0 ? s.dataSize : static_cast<std::int64_t>(s.data.size()));
  Bytes b;
  id(b, s.rf64 ? "RF64" : "RIFF");
  le32(b, 0);
  id(b, "WAVE");
  if (s.rf64) {
    Bytes ds64(28, 0);
    for (int i = 0; i < 4; ++i) ds64[8 + i] = (dataSize >> (8 * i)) & 0xFF;
    chunk(b, "ds64", ds64);
  }
  b.insert(b.end(), s.first.begin(), s.first.end());
  id(b, "fmt ");
  le32(b, static_cast<std::uint32_t>(s.fmtLength >= 0 ? s.fmtLength
                                                      : static_cast<std::int64_t>(fmt.size())));
  b.insert(b.end(), fmt.begin(), fmt.end());
  b.insert(b.end(), s.before.begin(), s.before.end());
  id(b, "data");
  le32(b, s.rf64 ? 0xFFFFFFFFu : dataSize);
  b.insert(b.end(), s.data.begin(), s.data.end());
  if (s.data.size() % 2) b.push_back(0);
  b.insert(b.end(), s.after.begin(), s.after.end());
  const std::uint32_t riff = s.rf64 ? 0xFFFFFFFFu : static_cast<std::uint32_t>(b.size() - 8);
  for (int i = 0; i < 4; ++i) b[4 + i] = (riff >> (8 * i)) & 0xFF;
  if (s.cutTo >= 0 && static_cast<std::size_t>(s.cutTo) < b.size()) b.resize(s.cutTo);
  return b;
}

// Samples of a few kinds: a loud sine, silence, full scale, a ramp, noise.
Bytes samples(int bits, int channels, int frames, int kind) {
  Bytes d;
  std::uint32_t noise = 12345;
  for (int i = 0; i < frames; ++i) {
    for (int c = 0; c < channels; ++c) {
      double x = 0;
      switch (kind) {
        case 0:
          x = 0.9 * std::sin(i * 0.3 + c);
          break;
        case 1:
          x = 0;
          break;
        case 2:
          x = (i + c) % 2 ? 1.0 : -1.0;
          break;
        case 3:
          x = -1.0 + 2.0 * i / std::max(1, frames - 1);
          break;
        default:
          noise = noise * 1103515245u + 12345u;
          x = static_cast<double>(noise >> 16 & 0xFFFF) / 32768.0 - 1.0;
          break;
      }
      if (bits == 8) {
        d.push_back(static_cast<unsigned char>(std::lround(std::clamp(128 + x * 128, 0.0, 255.0))));
      } else {
        le16(d, static_cast<std::uint16_t>(static_cast<std::int16_t>(
                    std::lround(std::clamp(x * 32768, -32768.0, 32767.0)))));
      }
    }
  }
  return d;
}

std::vector<Bytes> shapes() {
  std::vector<Bytes> out;
  int kind = 0;
  for (int channels : {1, 2}) {
    for (int bits : {8, 16}) {
      for (std::uint32_t rate : {44100u, 48000u, 22050u}) {
        Shape s;
        s.channels = channels;
        s.bits = bits;
        s.rate = rate;
        s.data = samples(bits, channels, 40, kind++ % 5);
        out.push_back(build(s));
      }
    }
  }
  Shape base;
  base.data = samples(16, 2, 24, 0);
  auto with = [&](auto change) {
    Shape s = base;
    change(s);
    out.push_back(build(s));
  };
  with([](Shape& s) { s.fmtExtra = {0, 0}; });  // 18-byte format chunk
  with([](Shape& s) { s.fmtLength = 14; });     // short format chunk
  with([](Shape& s) {                           // extensible, PCM
    s.formatTag = 0xFFFE;
    s.fmtExtra = {22, 0, 16, 0, 3,    0, 0, 0,    1, 0,    0,    0,
                  0,  0, 16, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  });
  with([](Shape& s) { s.formatTag = 0xFFFE; });                  // extensible without the extension
  with([](Shape& s) { chunk(s.first, "JUNK", Bytes(28, 0)); });  // chunks before fmt
  with([](Shape& s) { chunk(s.first, "bext", Bytes(603, 'b')); });  // odd, with a pad byte
  with([](Shape& s) { s.rf64 = true; });                            // RF64 with ds64
  with([](Shape& s) { chunk(s.before, "LIST", Bytes{'d', 'a', 't', 'a', 9, 0, 0, 0}); });
  with([](Shape& s) {
    chunk(s.before, "bad ", Bytes(4, 0));
    s.before[4] = 0xFF;
  });                                       // walk breaks
  with([](Shape& s) { s.formatTag = 3; });  // float tag
  with([](Shape& s) {                       // a list chunk in front
    Bytes list;
    chunk(list, "LIST",
          Bytes{'I', 'N', 'F', 'O', 'I', 'N', 'A', 'M', 4, 0, 0, 0, 'a', 'b', 'c', 0});
    s.before = list;
  });
  with([](Shape& s) { s.before = Bytes{'x', 'd', 'a', 't', 'a', 'y'}; });     // "data" too early
  with([](Shape& s) { chunk(s.after, "LIST", Bytes{'I', 'N', 'F', 'O'}); });  // trailer
  with([](Shape& s) { s.dataSize = 1000000; });  // declared past the end
  with([](Shape& s) { s.dataSize = 0; });        // empty data chunk
  with([](Shape& s) { s.data.pop_back(); });     // odd size, pad byte
  with([](Shape& s) { s.channels = 3; });
  with([](Shape& s) { s.channels = 0; });
  with([](Shape& s) { s.bits = 24; });
  with([](Shape& s) { s.bits = 0; });
  // Every further format: its decoder and its encoder.
  with([](Shape& s) { s.bits = 32; });
  with([](Shape& s) { s.formatTag = 3, s.bits = 64; });
  with([](Shape& s) { s.formatTag = 6, s.bits = 8; });
  with([](Shape& s) { s.formatTag = 7, s.bits = 8, s.channels = 1; });
  with([](Shape& s) { s.channels = 6, s.bits = 8; });
  with([](Shape& s) {  // 20 valid bits in 24, extensible
    s.formatTag = 0xFFFE;
    s.bits = 24;
    s.channels = 1;
    s.fmtExtra = {22, 0, 20, 0, 4,    0, 0, 0,    1, 0,    0,    0,
                  0,  0, 16, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  });
  {  // big-endian: RIFX, its sizes and fields turned round
    Shape s = base;
    s.bits = 24;
    Bytes b = build(s);
    b[3] = 'X';
    auto turn = [&b](std::size_t at, std::size_t n) {
      std::reverse(b.begin() + static_cast<std::ptrdiff_t>(at),
                   b.begin() + static_cast<std::ptrdiff_t>(at + n));
    };
    for (std::size_t at : {4, 16, 24, 28, 40}) turn(at, 4);
    for (std::size_t at : {20, 22, 32, 34}) turn(at, 2);
    out.push_back(b);
  }
  with([](Shape& s) { s.rate = 0; });
  with([](Shape& s) { s.cutTo = 36; });  // header only
  with([](Shape& s) { s.cutTo = 42; });  // inside the size field
  with([](Shape& s) { s.cutTo = 50; });  // cut in the samples
  out.push_back(Bytes{});                // empty file
  out.push_back(Bytes{'R', 'I', 'F', 'F'});
  return out;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(f);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <read-dir> <modify-dir> <cue-dir> [wav files...]\n", argv[0]);
    return 2;
  }
  const std::string readDir = std::string(argv[1]) + "/";
  const std::string modifyDir = std::string(argv[2]) + "/";
  const std::string cueDir = std::string(argv[3]) + "/";
  std::vector<Bytes> files = shapes();
  int n = 0;
  for (const Bytes& b : files) {
    if (!writeFile(readDir + "seed-" + std::to_string(n++) + ".wav", b)) return 1;
  }
  for (int i = 4; i < argc; ++i) {
    std::ifstream f(argv[i], std::ios::binary);
    files.emplace_back(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }

  using ril::properties::ModifyOptions;
  const int scenarios = static_cast<int>(ril::properties::modifyScenarios().size());
  n = 0;
  for (std::size_t k = 0; k < files.size(); ++k) {
    const int c = static_cast<int>(k);
    ModifyOptions louder;
    louder.scenario = c % scenarios;
    louder.volumeTenths = 1100;
    ModifyOptions maximise;
    maximise.scenario = (c + 3) % scenarios;
    maximise.maximize = true;
    maximise.gainMode = c % 3;
    ModifyOptions emphasis;
    emphasis.scenario = (c + 5) % scenarios;
    emphasis.deemphasis = true;
    ModifyOptions trial;
    trial.scenario = (c + 7) % scenarios;
    trial.deemphasis = true;
    trial.stopAtFirstClip = true;
    trial.volumeTenths = 2000;
    ModifyOptions ranged = emphasis;
    ranged.scenario = (c + 9) % scenarios;
    ranged.ranges = static_cast<std::uint8_t>(0x80 | ((0x31 + c) & 0x7F));
    for (const ModifyOptions& o : {louder, maximise, emphasis, trial, ranged}) {
      std::string prefix = ril::properties::encodeModifyOptions(o);
      Bytes b(prefix.begin(), prefix.end());
      b.insert(b.end(), files[k].begin(), files[k].end());
      if (!writeFile(modifyDir + "seed-" + std::to_string(n++) + ".bin", b)) return 1;
    }
  }
  const std::vector<std::string> sheets = ril::properties::cueSeedSheets();
  for (std::size_t k = 0; k < sheets.size(); ++k) {
    if (!writeFile(cueDir + "seed-" + std::to_string(k) + ".cue",
                   Bytes(sheets[k].begin(), sheets[k].end()))) {
      return 1;
    }
  }
  std::printf("%d read seeds, %d modify seeds, %d cue seeds\n", static_cast<int>(shapes().size()),
              n, static_cast<int>(sheets.size()));
  return 0;
}
