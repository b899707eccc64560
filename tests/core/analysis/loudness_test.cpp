// The loudness meter against the figures loudness measurement prescribes:
// the K-weighting's printed 48 kHz coefficients, the EBU test signals that
// are defined by formula, and libebur128 on music-like files.
#include "core/analysis/loudness.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <iostream>
#include <numbers>
#include <random>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/analysis/loudness_meter.h"
#include "core/dsp/cpu_features.h"
#include "core/dsp/loudness/k_lanes.h"
#include "core/dsp/loudness/k_primer.h"
#include "core/dsp/loudness/k_weighting.h"
#include "core/dsp/loudness/lane_input.h"
#include "core/dsp/loudness/true_peak.h"
#include "support/kernel_switches.h"
#include "support/manual_clock.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

using Signal = std::vector<std::vector<double>>;  // [channel][frame]

class SignalSource : public FrameSource {
 public:
  SignalSource(const Signal& s, std::int64_t offset) : s_(s), offset_(offset) {}
  void read(int channel, std::int64_t first, std::int64_t count, double* out) const override {
    for (std::int64_t i = 0; i < count; ++i) out[i] = s_[channel][offset_ + first + i];
  }

 private:
  const Signal& s_;
  std::int64_t offset_;
};

// The meter fed in blocks of `block` frames; `segments` 1 is the serial run.
LoudnessTrace measure(const Signal& s, double rate, std::vector<double> weights,
                      std::int64_t block = 262144, int segments = 8, int taskLanes = 8) {
  LoudnessMeter meter(rate, ChannelWeights{std::move(weights), false});
  meter.setSegments(segments);
  meter.setTaskLanes(taskLanes);
  const auto n = static_cast<std::int64_t>(s[0].size());
  for (std::int64_t a = 0; a < n; a += block) meter.add(SignalSource(s, a), std::min(block, n - a));
  return meter.trace();
}

LoudnessFigures figuresOf(const Signal& s, double rate, std::vector<double> weights = {}) {
  if (weights.empty()) weights.assign(s.size(), 1.0);
  return loudnessFigures(measure(s, rate, weights));
}

// Appends `seconds` of a sine of `hz` at `dbfs` (peak) to every channel.
void appendSine(Signal& s, double rate, double seconds, double dbfs, double hz = 1000,
                double phaseDegrees = 0) {
  const double a = std::pow(10.0, dbfs / 20.0);
  for (auto& c : s) {
    const auto n = static_cast<std::int64_t>(std::llround(seconds * rate));
    const auto start = static_cast<std::int64_t>(c.size());
    for (std::int64_t i = 0; i < n; ++i) {
      c.push_back(a * std::sin(2 * std::numbers::pi * hz * static_cast<double>(start + i) / rate +
                               phaseDegrees * std::numbers::pi / 180));
    }
  }
}

Signal stereoSequence(std::initializer_list<std::pair<double, double>> parts, double rate = 48000) {
  Signal s(2);
  for (auto [seconds, dbfs] : parts) appendSine(s, rate, seconds, dbfs);
  return s;
}

TEST(KWeightingTest, MatchesThePrintedCoefficientsAt48kHz) {
  const kernels::KWeighting k = kernels::kWeightingFor(48000);
  EXPECT_NEAR(k.shelf.b0, 1.53512485958697, 1e-11);
  EXPECT_NEAR(k.shelf.b1, -2.69169618940638, 1e-11);
  EXPECT_NEAR(k.shelf.b2, 1.19839281085285, 1e-11);
  EXPECT_NEAR(k.shelf.a1, -1.69065929318241, 1e-11);
  EXPECT_NEAR(k.shelf.a2, 0.73248077421585, 1e-11);
  EXPECT_EQ(k.highPass.b0, 1.0);
  EXPECT_EQ(k.highPass.b1, -2.0);
  EXPECT_EQ(k.highPass.b2, 1.0);
  EXPECT_NEAR(k.highPass.a1, -1.99004745483398, 1e-11);
  EXPECT_NEAR(k.highPass.a2, 0.99007225036621, 1e-11);
}

// A segment starts from the state the frames in front of it leave: that of
// one run of the filters over the whole signal, here in extended precision,
// within the primer's cut (1e-13 of the signal), at the slowest and the
// fastest rates, on a signal with an offset and a rumble below the
// high-pass. Its sums come out the same on every path.
TEST(KPrimerTest, StateIsThatOfOneRunOverTheWholeSignal) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> noise(-0.5, 0.5);
  for (double rate : {8000.0, 44100.0, 192000.0}) {
    const kernels::KWeighting k = kernels::kWeightingFor(rate);
    const kernels::KPrimer primer(k);
    const std::int64_t n = primer.frames() + 3000;
    std::vector<double> x(static_cast<std::size_t>(n));
    for (std::int64_t t = 0; t < n; ++t) {
      x[t] = 0.3 + 0.2 * std::sin(2 * std::numbers::pi * 9 * t / rate) + noise(rng);
    }
    long double s[kernels::kKStateSize] = {};  // x1 x2 u1 u2 y1 y2
    for (std::int64_t t = 0; t < n; ++t) {
      if (t >= primer.frames() && t % 997 == 0) {
        kernels::KState got;
        for (int path : {2, 1, 0}) {
          const test::KernelPaths paths(path > 0);
          test::allowWidestVectors(path == 2);
          const kernels::KState st = primer.state(x.data() + t);
          test::allowWidestVectors(true);
          if (path == 2) got = st;
          for (int i = 0; i < kernels::kKStateSize; ++i) {
            ASSERT_EQ(std::bit_cast<std::uint64_t>(st.s[i]), std::bit_cast<std::uint64_t>(got.s[i]))
                << rate << " Hz, path " << path << ", state " << i;
          }
        }
        for (int i = 0; i < kernels::kKStateSize; ++i) {
          EXPECT_NEAR(got.s[i], static_cast<double>(s[i]), 2e-13) << rate << " Hz, state " << i;
        }
      }
      const kernels::Biquad &p = k.shelf, &h = k.highPass;
      const long double u = p.b0 * static_cast<long double>(x[t]) + p.b1 * s[0] + p.b2 * s[1] -
                            p.a1 * s[2] - p.a2 * s[3];
      const long double y = u - 2 * s[2] + s[3] - h.a1 * s[4] - h.a2 * s[5];
      const long double next[] = {x[t], s[0], u, s[2], y, s[4]};
      std::copy(std::begin(next), std::end(next), s);
    }
  }
  // At rates whose response would outlast any block there is none to make.
  EXPECT_EQ(kernels::KPrimer(kernels::kWeightingFor(4e6)).frames(), kernels::KPrimer::kNoPrimer);
}

// Every path (AVX-512 and AVX2 where the processor has them, the baseline)
// gives kStep's sums and states bit for bit, over runs cut into two calls at
// every length up to 20 and beyond, on edge values among the random ones.
TEST(KWeightingTest, VectorLanesGiveTheReferenceStepsBitForBit) {
  const kernels::KWeighting k = kernels::kWeightingFor(44100);
  constexpr int L = kernels::kKLanes;
  constexpr std::int64_t n = 61;
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-1, 1);
  const double edges[] = {0.0, -0.0, 1.0, -1.0, 32767.0 / 32768, 4.9e-324, -2.2e-308, 1e-300};
  std::vector<double> rows(L * n);
  for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = i % 5 == 0 ? edges[i / 5 % 8] : u(rng);
  if (!kernels::haveAvx512()) std::cout << "note: no AVX-512 here; its lanes are not tested\n";
  for (int path : {2, 1, 0}) {  // AVX-512, AVX2, baseline
    const test::KernelPaths paths(path > 0);
    test::allowWidestVectors(path == 2);
    for (std::int64_t cut = 0; cut <= n; cut += cut < 20 ? 1 : 13) {
      const int count = cut % 2 == 0 ? L : L / 2;  // half the lanes take a path of their own
      kernels::KLaneStates lanes;
      kernels::kWeightLanes(k, rows.data(), n, 0, cut, lanes, count);
      kernels::kWeightLanes(k, rows.data(), n, cut, n, lanes, count);
      for (int j = 0; j < count; ++j) {
        kernels::KState st;
        double sum = 0;
        for (std::int64_t t = 0; t < n; ++t) {
          const double y = kernels::kStep(k, st, rows[j * n + t]);
          sum = sum + y * y;
        }
        ASSERT_EQ(std::bit_cast<std::uint64_t>(lanes.sum[j]), std::bit_cast<std::uint64_t>(sum))
            << "path " << path << ", lane " << j << ", cut " << cut;
        for (int i = 0; i < kernels::kKStateSize; ++i) {
          ASSERT_EQ(std::bit_cast<std::uint64_t>(lanes.state(j).s[i]),
                    std::bit_cast<std::uint64_t>(st.s[i]));
        }
      }
    }
    test::allowWidestVectors(true);
  }
}

// Stored 16-bit words reach the lanes as word / 32768 on every path, for
// either channel of two (alone or with the other) and for one, at every
// length up to 40 and beyond.
TEST(KWeightingTest, WordsBecomeTheSameDoublesOnEveryPath) {
  std::vector<unsigned char> bytes(2 * 2 * 300);
  const std::uint16_t edges[] = {0x8000, 0x7fff, 0, 0xffff, 1};
  for (std::size_t i = 0; i < bytes.size() / 2; ++i) {
    const auto w = static_cast<std::uint16_t>(i % 3 == 0 ? edges[i / 3 % 5] : i * 40503u);
    bytes[2 * i] = static_cast<unsigned char>(w & 0xff);
    bytes[2 * i + 1] = static_cast<unsigned char>(w >> 8);
  }
  for (int path : {2, 1, 0}) {  // AVX-512, AVX2, baseline
    const test::KernelPaths paths(path > 0);
    test::allowWidestVectors(path == 2);
    for (int channels : {1, 2}) {
      for (int channel = 0; channel < channels; ++channel) {
        for (std::int64_t count = 0; count <= 250; count += count < 40 ? 1 : 53) {
          std::vector<double> out(static_cast<std::size_t>(count) + 1, 7.0);
          kernels::pcmToDoubles(bytes.data(), channels, 16, channel, 3, count, out.data());
          for (std::int64_t i = 0; i < count; ++i) {
            const std::size_t w = static_cast<std::size_t>((3 + i) * channels + channel);
            const auto v = static_cast<std::int16_t>(bytes[2 * w] | bytes[2 * w + 1] << 8);
            ASSERT_EQ(out[static_cast<std::size_t>(i)], v / 32768.0)
                << "path " << path << ", " << channels << " channels, count " << count;
          }
          ASSERT_EQ(out[static_cast<std::size_t>(count)], 7.0);
          if (channels == 1) continue;
          std::vector<double> pair[2];
          for (auto& p : pair) p.assign(static_cast<std::size_t>(count) + 1, 7.0);
          kernels::pcmPairToDoubles(bytes.data(), 3, count, pair[0].data(), pair[1].data());
          ASSERT_EQ(pair[channel], out) << "path " << path << ", both channels, count " << count;
        }
      }
    }
    test::allowWidestVectors(true);
  }
}

// EBU Tech 3341, the cases defined by formula: +-0.1 LU.
TEST(Tech3341Test, SineLevelsAndGatedSequencesReadWithinATenthOfALoudnessUnit) {
  struct Case {
    const char* name;
    Signal signal;
    double integrated;
  };
  const Case cases[] = {
      {"1: -23 dBFS", stereoSequence({{20, -23}}), -23},
      {"2: -33 dBFS", stereoSequence({{20, -33}}), -33},
      {"3: -36/-23/-36", stereoSequence({{10, -36}, {60, -23}, {10, -36}}), -23},
      {"4: -72/-36/-23/-36/-72",
       stereoSequence({{10, -72}, {10, -36}, {60, -23}, {10, -36}, {10, -72}}), -23},
      {"5: -26/-20/-26", stereoSequence({{20, -26}, {20.1, -20}, {20, -26}}), -23},
  };
  for (const Case& c : cases) {
    const LoudnessFigures f = figuresOf(c.signal, 48000);
    ASSERT_TRUE(f.integratedLufs.value) << c.name;
    EXPECT_NEAR(*f.integratedLufs.value, c.integrated, 0.1) << c.name;
  }
  const LoudnessFigures level = figuresOf(cases[0].signal, 48000);
  EXPECT_NEAR(*level.momentaryMaxLufs.value, -23, 0.1);
  EXPECT_NEAR(*level.shortTermMaxLufs.value, -23, 0.1);
}

TEST(Tech3341Test, FiveChannelsWeighSurroundsByOnePointFourOne) {
  Signal s;
  for (double dbfs : {-28.0, -28.0, -24.0, -30.0, -30.0}) {
    Signal one(1);
    appendSine(one, 48000, 20, dbfs);
    s.push_back(one[0]);
  }
  const LoudnessFigures f = figuresOf(s, 48000, {1, 1, 1, 1.41, 1.41});
  EXPECT_NEAR(*f.integratedLufs.value, -23, 0.1);
}

TEST(Tech3341Test, ShortTermAndMomentaryOfPeriodicBurstsStayAtMinus23) {
  Signal shortTerm(2), momentary(2);
  for (int i = 0; i < 20; ++i) {
    appendSine(shortTerm, 48000, 1.34, -20);
    appendSine(shortTerm, 48000, 1.66, -30);
  }
  for (int i = 0; i < 25; ++i) {
    appendSine(momentary, 48000, 0.18, -20);
    appendSine(momentary, 48000, 0.22, -30);
  }
  EXPECT_NEAR(*figuresOf(shortTerm, 48000).shortTermMaxLufs.value, -23, 0.1);
  EXPECT_NEAR(*figuresOf(momentary, 48000).momentaryMaxLufs.value, -23, 0.1);
}

TEST(Tech3341Test, TruePeakOfSinesBetweenSamplesWithinTheTolerance) {
  struct Case {
    double hz, dbfs, phase, expected;
  };
  const Case cases[] = {{12000, -6.0206, 0, -6.0},
                        {12000, -6.0206, 45, -6.0},
                        {8000, -6.0206, 60, -6.0},
                        {6000, -6.0206, 67.5, -6.0},
                        {12000, 20 * std::log10(1.41), 45, 3.0}};
  for (const Case& c : cases) {
    Signal s(1);
    appendSine(s, 48000, 1, c.dbfs, c.hz, c.phase);
    // Faded in and out over 20 ms: a sine that starts with a step rings above itself.
    for (int i = 0; i < 960; ++i) {
      const double ramp = 0.5 - 0.5 * std::cos(std::numbers::pi * i / 960);
      s[0][i] *= ramp;
      s[0][s[0].size() - 1 - i] *= ramp;
    }
    const LoudnessFigures f = figuresOf(s, 48000);
    EXPECT_LE(*f.truePeakDbtp.value, c.expected + 0.2) << c.hz << " Hz, " << c.phase << " deg";
    EXPECT_GE(*f.truePeakDbtp.value, c.expected - 0.4) << c.hz << " Hz, " << c.phase << " deg";
  }
}

// EBU Tech 3342: +-1 LU.
TEST(Tech3342Test, LoudnessRangeOfTheSineSequences) {
  struct Case {
    Signal signal;
    double range;
  };
  const Case cases[] = {
      {stereoSequence({{20, -20}, {20, -30}}), 10},
      {stereoSequence({{20, -20}, {20, -15}}), 5},
      {stereoSequence({{20, -40}, {20, -20}}), 20},
      {stereoSequence({{20, -50}, {20, -35}, {20, -20}, {20, -35}, {20, -50}}), 15},
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const LoudnessFigures f = figuresOf(cases[i].signal, 48000);
    ASSERT_TRUE(f.rangeLu.value) << "case " << i + 1;
    EXPECT_NEAR(*f.rangeLu.value, cases[i].range, 1.0) << "case " << i + 1;
  }
}

TEST(LoudnessFiguresTest, TooShortOrSilentGiveNoFigureButTheReason) {
  Signal tiny = stereoSequence({{0.35, -20}});
  const LoudnessFigures shortOne = figuresOf(tiny, 48000);
  EXPECT_FALSE(shortOne.integratedLufs.value);
  EXPECT_EQ(shortOne.integratedLufs.reason, "too short");
  EXPECT_EQ(shortOne.momentaryMaxLufs.reason, "too short");
  EXPECT_EQ(shortOne.rangeLu.reason, "too short");
  EXPECT_TRUE(shortOne.truePeakDbtp.value);  // a peak needs no block

  Signal two = stereoSequence({{2, -20}});
  const LoudnessFigures noShortTerm = figuresOf(two, 48000);
  EXPECT_TRUE(noShortTerm.integratedLufs.value);
  EXPECT_EQ(noShortTerm.shortTermMaxLufs.reason, "too short");

  Signal silent(2, std::vector<double>(48000 * 4, 0.0));
  const LoudnessFigures quiet = figuresOf(silent, 48000);
  EXPECT_EQ(quiet.integratedLufs.reason, "below the gate");
  EXPECT_EQ(quiet.rangeLu.reason, "below the gate");
  EXPECT_EQ(quiet.shortTermMaxLufs.reason, "below the gate");
  EXPECT_EQ(quiet.truePeakDbtp.reason, "silence");
  EXPECT_EQ(quiet.truePeakChannel, 0);
  const LoudnessFigures faint = figuresOf(stereoSequence({{4, -80}}), 48000);
  EXPECT_EQ(faint.integratedLufs.reason, "below the gate");
  EXPECT_TRUE(faint.truePeakDbtp.value);
}

// Low rumble, an offset, quiet and loud stretches: the hardest input for
// segments that start from a guessed state.
Signal awkwardSignal(double rate, double seconds) {
  std::mt19937 rng(3);
  std::normal_distribution<double> noise;
  Signal s(2);
  double slow = 0, ph = 0;
  for (std::int64_t i = 0; i < static_cast<std::int64_t>(rate * seconds); ++i) {
    const double env =
        static_cast<std::int64_t>(static_cast<double>(i) / rate) % 7 < 3 ? 0.5 : 0.001;
    slow = 0.999 * slow + 0.001 * noise(rng);
    ph += 2 * std::numbers::pi * 25 / rate;
    s[0].push_back(
        std::clamp(0.3 + env * (20 * slow + 0.3 * std::sin(ph) + 0.05 * noise(rng)), -1.0, 1.0));
    s[1].push_back(std::clamp(-0.3 + env * 0.2 * noise(rng), -1.0, 1.0));
  }
  return s;
}

TEST(LoudnessMeterTest, SegmentsAgreeWithTheSerialRunToABillionthOfALoudnessUnit) {
  for (double rate : {44100.0, 96000.0}) {
    const Signal s = awkwardSignal(rate, 40);
    const LoudnessTrace serial = measure(s, rate, {1, 1}, 1 << 30, 1);
    for (std::int64_t block : {262144, 100003}) {
      const LoudnessTrace seg = measure(s, rate, {1, 1}, block, 8);
      ASSERT_EQ(seg.bins.size(), serial.bins.size());
      for (std::size_t k = 0; k + 4 <= serial.bins.size(); ++k) {
        double a = 0, b = 0;
        for (std::size_t i = k; i < k + 4; ++i) {
          a += serial.bins[i];
          b += seg.bins[i];
        }
        ASSERT_NEAR(10 * std::log10(a / b), 0.0, 1e-9) << rate << " Hz, block " << k;
      }
      // Tasks of sixteen lanes give the very same sums.
      EXPECT_EQ(measure(s, rate, {1, 1}, block, 8, 16).bins, seg.bins);
      const LoudnessFigures fa = loudnessFigures(serial), fb = loudnessFigures(seg);
      EXPECT_NEAR(*fa.integratedLufs.value, *fb.integratedLufs.value, 1e-9);
      EXPECT_NEAR(*fa.rangeLu.value, *fb.rangeLu.value, 1e-9);
      EXPECT_EQ(fa.truePeakDbtp.value, fb.truePeakDbtp.value);
      EXPECT_EQ(fa.truePeakDbtp.second, fb.truePeakDbtp.second);
      EXPECT_EQ(fa.channels[1].samplePeakDbfs.second, fb.channels[1].samplePeakDbfs.second);
    }
  }
}

// The scan finds the same peaks at the same places on every path, whether it
// passes over runs eight at a time (AVX-512), four (AVX2) or one, at every
// length and cut, from any peak already found, at each factor. The signal's
// spikes sit at run edges and its sines peak between samples.
TEST(LoudnessMeterTest, PeakScanGivesTheSamePeaksOnEveryPath) {
  std::mt19937 rng(11);
  std::normal_distribution<double> noise(0, 0.05);
  constexpr std::int64_t n = 3000;
  std::vector<double> x(kernels::kTruePeakHistory + n);
  for (std::size_t i = 0; i < x.size(); ++i) {
    const double t = static_cast<double>(i);
    x[i] = noise(rng) + (i % 700 > 500 ? 0.6 * std::sin(std::numbers::pi * (t / 2 + 0.25)) : 0);
    if (i % 511 == 0 || i % 1024 == 7) x[i] = (i % 2 ? -0.7 : 0.69) + 1e-4 * t / n;
  }
  const double* in = x.data() + kernels::kTruePeakHistory;
  using Found = std::pair<kernels::PeakFound, kernels::PeakFound>;
  auto scan = [&](int path, std::int64_t length, std::int64_t cut, int factor, double start) {
    const test::KernelPaths paths(path > 0);
    test::allowWidestVectors(path == 2);
    Found f{{start, -1}, {start, -1}};
    kernels::scanPeaks(in, cut, 0, factor, f.first, f.second);
    kernels::scanPeaks(in + cut, length - cut, cut, factor, f.first, f.second);
    test::allowWidestVectors(true);
    return f;
  };
  int interpolatedFound = 0;
  for (int factor : {4, 2, 1}) {
    for (double start : {0.0, 0.5, 0.8}) {
      for (std::int64_t length : {1, 7, 8, 63, 64, 65, 513, 1000, 3000}) {
        for (std::int64_t cut : {std::int64_t{0}, length / 3, length - 1}) {
          const Found want = scan(0, length, cut, factor, start);
          interpolatedFound += want.second.at != -1;
          for (int path : {1, 2}) {
            const Found got = scan(path, length, cut, factor, start);
            ASSERT_EQ(got.first.peak, want.first.peak) << path << " " << length << " " << cut;
            ASSERT_EQ(got.first.at, want.first.at) << path << " " << length << " " << cut;
            ASSERT_EQ(got.second.peak, want.second.peak) << path << " " << length << " " << cut;
            ASSERT_EQ(got.second.at, want.second.at) << path << " " << length << " " << cut;
          }
        }
      }
    }
  }
  EXPECT_GT(interpolatedFound, 20);
}

// Lanes look only for interpolated values above the sample peak so far:
// blocks after a louder sample still give the whole channel's scan. In
// channel 0 a later sine between its samples beats an early spike; channel
// 1's spikes peak at their samples, between which the interpolator reads
// less.
TEST(LoudnessMeterTest, TruePeaksAfterLouderSamplesAreThoseOfOneScanOfTheChannel) {
  const double rate = 44100;
  Signal s(2);
  std::mt19937 rng(3);
  std::normal_distribution<double> noise(0, 0.01);
  for (int i = 0; i < 200000; ++i) {
    const double sine = i > 150000 ? 0.92 * std::sin(std::numbers::pi * (i / 2.0 + 0.25)) : 0.0;
    s[0].push_back((i == 50000 ? 0.8 : sine) + noise(rng));
    s[1].push_back(i % 9001 == 4000 ? 0.2 + 0.7 * i / 200000.0 : noise(rng));
  }
  const LoudnessTrace t = measure(s, rate, {1, 1}, 10007, 8);
  for (int c = 0; c < 2; ++c) {
    std::vector<double> x(kernels::kTruePeakHistory, 0.0);
    x.insert(x.end(), s[c].begin(), s[c].end());
    kernels::PeakFound sample, interpolated;
    kernels::scanPeaks(x.data() + kernels::kTruePeakHistory, 200000, 0, 4, sample, interpolated);
    const kernels::PeakFound want = interpolated.peak > sample.peak ? interpolated : sample;
    EXPECT_EQ(t.truePeaks[c].peak, want.peak) << c;
    EXPECT_EQ(t.truePeaks[c].at, want.at) << c;
    EXPECT_EQ(t.samplePeaks[c].at, sample.at) << c;
  }
  EXPECT_GT(t.truePeaks[0].peak, t.samplePeaks[0].peak);
  EXPECT_EQ(t.truePeaks[1].peak, t.samplePeaks[1].peak);
}

TEST(LoudnessMeterTest, AlbumGatesTheBlocksOfEveryFileTogether) {
  const LoudnessTrace loud = measure(stereoSequence({{10, -20}}), 48000, {1, 1});
  const LoudnessTrace soft = measure(stereoSequence({{30, -26}}), 48000, {1, 1});
  const LoudnessTrace faint = measure(stereoSequence({{10, -50}}), 48000, {1, 1});
  // The power mean of the 97 blocks of the loud file and the 297 of the soft
  // one (none across the two); the faint file falls below the relative gate.
  const double expected =
      10 * std::log10((97 * std::pow(10, -2.0) + 297 * std::pow(10, -2.6)) / (97 + 297));
  const LoudnessFigure album = integratedLoudness({&loud, &soft, &faint});
  EXPECT_NEAR(*album.value, expected, 0.02);
}

TEST(ChannelWeightsTest, MaskNamesTheSpeakersAndSixChannelsWithoutOneAreAssumed) {
  EXPECT_EQ(channelWeightsFor(6, 0x3F).weights, (std::vector<double>{1, 1, 1, 0, 1.41, 1.41}));
  EXPECT_FALSE(channelWeightsFor(6, 0x3F).orderAssumed);
  EXPECT_EQ(channelWeightsFor(6, 0x60F).weights, (std::vector<double>{1, 1, 1, 0, 1.41, 1.41}));
  EXPECT_TRUE(channelWeightsFor(6, 0).orderAssumed);
  EXPECT_EQ(channelWeightsFor(6, 0).weights, (std::vector<double>{1, 1, 1, 0, 1.41, 1.41}));
  EXPECT_EQ(channelWeightsFor(1, 0).weights, (std::vector<double>{1}));
  EXPECT_EQ(channelWeightsFor(2, 0x30).weights, (std::vector<double>{1.41, 1.41}));
  EXPECT_EQ(channelWeightsFor(3, 0x1).weights, (std::vector<double>{1, 1, 1}));
}

}  // namespace
}  // namespace ril
