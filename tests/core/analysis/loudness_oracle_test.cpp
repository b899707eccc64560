// The loudness figures of the whole analysis pass against libebur128 on
// music-like files, and what the pass gives beyond the figures.
#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/analysis/loudness.h"
#include "core/io/files.h"
#include "core/wav/wav_header_reader.h"
#include "support/manual_clock.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

// Samples on the 16-bit scale, interleaved.
using Frames = std::vector<std::int16_t>;

// Music-like: chords of a few partials with vibrato, a bass line, noise,
// and sections of different loudness that fade into each other, with peaks
// that fall between samples.
Frames musicLike(int channels, double rate, double seconds, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise;
  std::uniform_real_distribution<double> pick(0, 1);
  const auto n = static_cast<std::int64_t>(rate * seconds);
  std::vector<double> sectionGain;
  for (int i = 0; i < seconds / 8 + 2; ++i) sectionGain.push_back(std::pow(10, -pick(rng) * 1.2));
  Frames out;
  double ph[4] = {}, hiss = 0;
  const double hz[4] = {110 * (1 + pick(rng)), 330.5, 523.25 * (1 + 0.1 * pick(rng)), 2637};
  for (std::int64_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / rate;
    const int sec = static_cast<int>(t / 8);
    const double blend = std::min(1.0, (t - sec * 8) / 1.5);
    const double from = sectionGain[sec == 0 ? 0 : sec - 1];
    const double g = from + (sectionGain[sec] - from) * blend;
    double v = 0;
    for (int k = 0; k < 4; ++k) {
      ph[k] += 2 * std::numbers::pi * hz[k] * (1 + 0.003 * std::sin(5 * t)) / rate;
      v += std::sin(ph[k]) / (k + 1.5);
    }
    hiss = 0.7 * hiss + 0.3 * noise(rng);
    for (int c = 0; c < channels; ++c) {
      const double x = g * (0.55 * v + 0.05 * hiss + 0.02 * noise(rng) * (c + 1));
      out.push_back(static_cast<std::int16_t>(std::clamp(std::lround(x * 32767), -32768L, 32767L)));
    }
  }
  return out;
}

struct Oracle {
  double integrated = 0, range = 0, momentaryMax = -HUGE_VAL, shortTermMax = -HUGE_VAL;
  double truePeakDb = -HUGE_VAL;
};

// libebur128 takes one short-term value a second, the 3 s ending at 3 s, 4 s
// and so on; the range counts ten a second. Ten meters, the j-th started j
// tenths of a second into the frames, give between them every short-term
// value ending on a tenth from 3 s on, and libebur128 gates them together.
// (Its own figure, from a tenth of the values, can miss ours by more than
// 1 LU on 40 s with sudden changes of level.)
double rangeAtTenPerSecond(const Frames& f, int channels, double rate) {
  const std::size_t step = static_cast<std::size_t>((rate + 5) / 10);
  const std::size_t frames = f.size() / static_cast<std::size_t>(channels);
  std::vector<ebur128_state*> meters;
  for (std::size_t j = 0; j < 10 && j * step < frames; ++j) {
    ebur128_state* st = ebur128_init(static_cast<unsigned>(channels),
                                     static_cast<unsigned long>(rate), EBUR128_MODE_LRA);
    ebur128_add_frames_short(st, f.data() + j * step * channels, frames - j * step);
    meters.push_back(st);
  }
  double range = 0;
  ebur128_loudness_range_multiple(meters.data(), meters.size(), &range);
  for (ebur128_state*& st : meters) ebur128_destroy(&st);
  return range;
}

Oracle oracleOf(const Frames& f, int channels, double rate) {
  ebur128_state* st = ebur128_init(
      static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
      EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_M | EBUR128_MODE_S | EBUR128_MODE_TRUE_PEAK);
  Oracle o;
  const std::size_t step = static_cast<std::size_t>((rate + 5) / 10);
  const std::size_t frames = f.size() / static_cast<std::size_t>(channels);
  for (std::size_t a = 0, k = 1; a + step <= frames; a += step, ++k) {
    ebur128_add_frames_short(st, f.data() + a * channels, step);
    double v;
    if (k >= 4 && ebur128_loudness_momentary(st, &v) == EBUR128_SUCCESS) {
      o.momentaryMax = std::max(o.momentaryMax, v);
    }
    if (k >= 30 && ebur128_loudness_shortterm(st, &v) == EBUR128_SUCCESS) {
      o.shortTermMax = std::max(o.shortTermMax, v);
    }
  }
  ebur128_loudness_global(st, &o.integrated);
  o.range = rangeAtTenPerSecond(f, channels, rate);
  for (int c = 0; c < channels; ++c) {
    double peak;
    ebur128_true_peak(st, static_cast<unsigned>(c), &peak);
    o.truePeakDb = std::max(o.truePeakDb, 20 * std::log10(peak));
  }
  ebur128_destroy(&st);
  return o;
}

// The pass over the frames stored with `bits` (8-bit: the high byte + 128).
AnalysisResult analyse(const Frames& f, int channels, int bits, std::int32_t rate, int threads,
                       Frames* asStored = nullptr) {
  test::Bytes bytes;
  Frames stored;
  for (std::int16_t s : f) {
    if (bits == 8) {
      const auto b = static_cast<std::uint8_t>((s >> 8) + 128);
      bytes.push_back(b);
      stored.push_back(static_cast<std::int16_t>((b - 128) * 256));
    } else {
      test::putLe16(bytes, static_cast<std::uint16_t>(s));
      stored.push_back(s);
    }
  }
  if (asStored) *asStored = stored;
  WavFormat format{1, static_cast<std::int16_t>(channels), static_cast<std::int16_t>(bits), rate};
  WavLayout layout;
  layout.framesInFile = layout.sampleFrames = static_cast<std::int64_t>(f.size()) / channels;
  MemorySource source(std::move(bytes));
  ScriptedHost host;
  ManualClock clock;
  return analyseSamples(source, format, layout, host, clock, '.', threads);
}

TEST(LoudnessOracleTest, MusicLikeFilesAgreeWithLibebur128) {
  struct Case {
    int channels, bits;
    std::int32_t rate;
    double seconds;
    unsigned seed;
  };
  // Lengths from 40 s on, where a few sudden changes of level decide the
  // range's percentiles.
  for (const Case c :
       {Case{2, 16, 44100, 40, 5}, Case{2, 16, 44100, 70, 11}, Case{1, 16, 48000, 45, 3},
        Case{2, 8, 22050, 70, 11}, Case{1, 8, 44100, 70, 11}, Case{2, 16, 96000, 40, 7}}) {
    Frames stored;
    const AnalysisResult r = analyse(musicLike(c.channels, c.rate, c.seconds, c.seed), c.channels,
                                     c.bits, c.rate, 2, &stored);
    ASSERT_TRUE(r.loudness);
    const LoudnessFigures f = loudnessFigures(*r.loudness);
    const Oracle o = oracleOf(stored, c.channels, c.rate);
    const std::string what = std::to_string(c.channels) + " ch, " + std::to_string(c.bits) +
                             " bit, " + std::to_string(c.rate) + " Hz, " +
                             std::to_string(static_cast<int>(c.seconds)) + " s";
    EXPECT_NEAR(*f.integratedLufs.value, o.integrated, 0.01) << what;
    EXPECT_NEAR(*f.momentaryMaxLufs.value, o.momentaryMax, 0.01) << what;
    EXPECT_NEAR(*f.shortTermMaxLufs.value, o.shortTermMax, 0.01) << what;
    EXPECT_NEAR(*f.rangeLu.value, o.range, 0.1) << what;
    EXPECT_NEAR(*f.truePeakDbtp.value, o.truePeakDb, 0.1) << what;
    if (std::getenv("RIL_SHOW_ORACLE")) {
      std::printf("%s: I %+.5f M %+.5f S %+.5f LRA %+.4f TP %+.4f\n", what.c_str(),
                  *f.integratedLufs.value - o.integrated,
                  *f.momentaryMaxLufs.value - o.momentaryMax,
                  *f.shortTermMaxLufs.value - o.shortTermMax, *f.rangeLu.value - o.range,
                  *f.truePeakDbtp.value - o.truePeakDb);
    }
  }
}

// The same frames stored as 24-bit PCM (s x 256), RIFX 24-bit, 32-bit float
// (s / 32768) or six 16-bit channels with the 5.1 mask: on a full scale of
// 1.0 the very samples of the 16-bit case, so libebur128 takes them as such.
TEST(LoudnessOracleTest, EveryFurtherFormatAgreesWithLibebur128) {
  struct Case {
    const char* what;
    int channels, bits;
    SampleEncoding encoding;
    bool big;
    std::uint32_t mask;
  };
  for (const Case c : {Case{"16-bit", 2, 16, SampleEncoding::kPcm, false, 0},
                       Case{"24-bit", 2, 24, SampleEncoding::kPcm, false, 0},
                       Case{"RIFX 24-bit", 1, 24, SampleEncoding::kPcm, true, 0},
                       Case{"float", 2, 32, SampleEncoding::kFloat, false, 0},
                       Case{"5.1", 6, 16, SampleEncoding::kPcm, false, 0x3F}}) {
    const Frames f = musicLike(c.channels, 48000, 70, 11);
    test::Bytes bytes;
    for (std::int16_t s : f) {
      std::uint32_t raw = static_cast<std::uint32_t>(static_cast<std::int32_t>(s) * 256);
      if (c.encoding == SampleEncoding::kFloat) {
        const float v = static_cast<float>(s / 32768.0);
        std::memcpy(&raw, &v, 4);
      }
      if (c.bits == 16) raw = static_cast<std::uint16_t>(s);
      const int width = c.bits / 8;
      for (int b = 0; b < width; ++b) {
        bytes.push_back(static_cast<unsigned char>(raw >> (8 * (c.big ? width - 1 - b : b))));
      }
    }
    WavFormat format{1, static_cast<std::int16_t>(c.channels), static_cast<std::int16_t>(c.bits),
                     48000};
    format.encoding = c.encoding;
    format.bigEndian = c.big;
    format.channelMask = c.mask;
    WavLayout layout;
    layout.framesInFile = layout.sampleFrames = static_cast<std::int64_t>(f.size()) / c.channels;
    MemorySource source(std::move(bytes));
    ScriptedHost host;
    ManualClock clock;
    const AnalysisResult r = analyseSamples(source, format, layout, host, clock, '.', 2);
    ASSERT_TRUE(r.loudness) << c.what;
    const LoudnessFigures got = loudnessFigures(*r.loudness);
    const Oracle o = oracleOf(f, c.channels, 48000);
    EXPECT_NEAR(*got.integratedLufs.value, o.integrated, 0.01) << c.what;
    EXPECT_NEAR(*got.momentaryMaxLufs.value, o.momentaryMax, 0.01) << c.what;
    EXPECT_NEAR(*got.shortTermMaxLufs.value, o.shortTermMax, 0.01) << c.what;
    EXPECT_NEAR(*got.rangeLu.value, o.range, 0.1) << c.what;
    EXPECT_NEAR(*got.truePeakDbtp.value, o.truePeakDb, 0.1) << c.what;
  }
}

TEST(LoudnessOracleTest, AnyThreadCountGivesTheSameFiguresBitForBit) {
  const Frames f = musicLike(2, 44100, 20, 5);
  const AnalysisResult one = analyse(f, 2, 16, 44100, 1);
  for (int threads : {2, 3}) {
    const AnalysisResult more = analyse(f, 2, 16, 44100, threads);
    EXPECT_EQ(more.loudness->bins, one.loudness->bins) << threads << " threads";
    EXPECT_EQ(loudnessFigures(*more.loudness).truePeakDbtp.second,
              loudnessFigures(*one.loudness).truePeakDbtp.second);
  }
}

TEST(LoudnessReportTest, BlockFollowsTheUnchangedLinesAndNamesTheLoudestPlaces) {
  const Frames f = musicLike(2, 44100, 5, 2);
  const AnalysisResult with = analyse(f, 2, 16, 44100, 1);
  AnalysisResult without = with;
  without.loudness.reset();
  const WavFormat format{1, 2, 16, 44100};
  const std::string plain = analysisReportLines(without, format, ReportFormat{});
  const std::string text = analysisReportLines(with, format, ReportFormat{"\r\n", ','});
  const std::string full = analysisReportLines(with, format, ReportFormat{});
  ASSERT_EQ(full.substr(0, plain.size()), plain);
  const std::string block = full.substr(plain.size());
  EXPECT_EQ(block.rfind("\r\nLoudness (ITU-R BS.1770-4):\r\nIntegrated loudness\t-", 0), 0u)
      << block;
  EXPECT_NE(block.find("\r\nLoudness range\t"), std::string::npos);
  EXPECT_NE(block.find("\r\nTrue peak\t"), std::string::npos);
  EXPECT_NE(block.find(" dBTP\tchannel "), std::string::npos);
  EXPECT_NE(block.find("\r\nMax. momentary loudness\t"), std::string::npos);
  EXPECT_NE(block.find(" LUFS\t@ "), std::string::npos);
  // The decimal separator of the rest of the report.
  const std::string commaBlock = text.substr(text.find("\r\nLoudness"));
  for (std::size_t i = 30; i + 2 < commaBlock.size(); ++i) {
    EXPECT_FALSE(std::isdigit(commaBlock[i]) && commaBlock[i + 1] == '.' &&
                 std::isdigit(commaBlock[i + 2]))
        << commaBlock;
  }
  EXPECT_NE(commaBlock.find(','), std::string::npos);

  Frames shortOne(2 * 4410, 1000);
  const AnalysisResult brief = analyse(shortOne, 2, 16, 44100, 1);
  const std::string briefText = analysisReportLines(brief, format, ReportFormat{"\n"});
  EXPECT_NE(briefText.find("Integrated loudness\tnone (too short)\n"), std::string::npos)
      << briefText;
}

TEST(LoudnessReaderTest, ExtensibleFormatChunkGivesTheChannelMask) {
  test::WavShape shape;
  shape.formatTag = -2;
  shape.fmtExtra = {22, 0, 16,   0, 0x30, 0, 0, 0,    1, 0,    0,    0,
                    0,  0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  shape.data = test::pcm16({1, 2, 3, 4});
  const test::Bytes file = test::buildWav(shape);
  HeaderReading r = readWavHeader(std::make_unique<MemorySource>(file), file.size());
  ASSERT_TRUE(r.header.ready()) << r.header.findings.unsupportedReason;
  EXPECT_EQ(r.header.format.channelMask, 0x30u);
  EXPECT_EQ(channelWeightsFor(2, r.header.format.channelMask).weights,
            (std::vector<double>{1.41, 1.41}));
}

}  // namespace
}  // namespace ril
