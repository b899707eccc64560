// Writes example.wav: eight seconds of a small stereo piece (44.1 kHz,
// 16-bit), a sample for the first File, Open. Usage: example_wav_generator OUT
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 8;
constexpr double kBeat = 0.25;  // seconds per eighth note (120 beats per minute)

double noteFrequency(int midi) {
  return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

// A plucked tone: a few harmonics under an exponential decay.
double pluck(double t, double frequency, double decay) {
  if (t < 0) return 0;
  const double twoPi = 2 * std::numbers::pi;
  const double attack = std::min(1.0, t / 0.004);
  double value = std::sin(twoPi * frequency * t) + 0.5 * std::sin(twoPi * 2 * frequency * t) +
                 0.25 * std::sin(twoPi * 3 * frequency * t) +
                 0.12 * std::sin(twoPi * 4 * frequency * t);
  return attack * std::exp(-t * decay) * value / 1.87;
}

void putLe16(std::vector<unsigned char>& out, std::uint16_t v) {
  out.push_back(static_cast<unsigned char>(v & 0xFF));
  out.push_back(static_cast<unsigned char>(v >> 8));
}

void putLe32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>((v >> (8 * i)) & 0xFF));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUT.wav\n", argv[0]);
    return 2;
  }
  // Four bars: C major, A minor, F major, G major; arpeggio above, bass below.
  const int chords[4][3] = {{60, 64, 67}, {57, 60, 64}, {53, 57, 60}, {55, 59, 62}};
  const int frames = kRate * kSeconds;
  const int eighths = static_cast<int>(kSeconds / kBeat);
  const std::uint32_t dataBytes = static_cast<std::uint32_t>(frames) * 4;

  std::vector<unsigned char> file;
  file.reserve(44 + dataBytes);
  file.insert(file.end(), {'R', 'I', 'F', 'F'});
  putLe32(file, 36 + dataBytes);
  file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  putLe32(file, 16);
  putLe16(file, 1);  // PCM
  putLe16(file, 2);  // stereo
  putLe32(file, kRate);
  putLe32(file, kRate * 4);
  putLe16(file, 4);
  putLe16(file, 16);
  file.insert(file.end(), {'d', 'a', 't', 'a'});
  putLe32(file, dataBytes);

  for (int n = 0; n < frames; ++n) {
    const double t = static_cast<double>(n) / kRate;
    double left = 0;
    double right = 0;
    // The notes that may still sound: the current eighth and the eight before.
    const int current = static_cast<int>(t / kBeat);
    for (int e = std::max(0, current - 8); e <= current && e < eighths; ++e) {
      const int bar = (e / 8) % 4;
      const double start = e * kBeat;
      const int arpeggioNote = chords[bar][e % 3] + 12 * ((e % 8) / 3 % 2);
      const double arpeggio = pluck(t - start, noteFrequency(arpeggioNote), 5.0);
      // Arpeggio notes wander from left to right and back.
      const double pan = 0.5 + 0.35 * std::sin(e * 0.7);
      left += arpeggio * (1 - pan) * 0.55;
      right += arpeggio * pan * 0.55;
      if (e % 4 == 0) {
        const double bass = pluck(t - start, noteFrequency(chords[bar][0] - 24), 2.0);
        left += bass * 0.45;
        right += bass * 0.45;
      }
    }
    // Fade out over the last second.
    const double fade = std::min(1.0, (kSeconds - t) / 1.0);
    for (double value : {left * fade, right * fade}) {
      const long sample = std::lround(std::clamp(value, -1.0, 1.0) * 20000.0);
      putLe16(file, static_cast<std::uint16_t>(static_cast<std::int16_t>(sample)));
    }
  }

  std::FILE* out = std::fopen(argv[1], "wb");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  if (std::fclose(out) != 0 || !written) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
