// Every sample format the reader lets through, analysed: the figures against
// a plainly written reference, any number of threads giving the serial
// result, and the report's lines in the format's own words and scale.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/dsp/formats/sample_codec.h"
#include "core/wav/header_report.h"
#include "core/wav/wav_header_reader.h"
#include "support/analysed_file.h"
#include "support/format_files.h"
#include "support/format_reference.h"
#include "support/kernel_switches.h"
#include "support/memory_file_system.h"
#include "support/scripted_host.h"

namespace ril {
namespace {

using test::Bytes;
using test::FormatCase;

const FormatCase kFormats[] = {
    {"24 bit", 1, 24, 2, 44100},
    {"24 bit", 1, 24, 3, 48000, 0, 0, 0, true},
    {"24 bit", 1, 24, 2, 48000},
    {"24 bit (20 valid)", -2, 24, 2, 44100, 20, 0x3, 1},
    {"32 bit", 1, 32, 1, 44100},
    {"32 bit (24 valid)", -2, 32, 2, 96000, 24, 0x3, 1},
    {"32 bit float", 3, 32, 2, 44100},
    {"64 bit float", -2, 64, 1, 44100, 0, 0x4, 3},
    {"32 bit float", 3, 32, 2, 44100, 0, 0, 0, true},
    {"8 bit A-law", 6, 8, 1, 44100},
    {"8 bit µ-law", 7, 8, 2, 8000},
    {"16 bit", -2, 16, 6, 44100, 0, 0x3F, 1},
    {"8 bit", 1, 8, 4, 44100},
    {"16 bit (12 valid)", -2, 16, 1, 44100, 12, 0x4, 1},
    {"8 bit (5 valid)", -2, 8, 2, 44100, 5, 0x3, 1},
    {"16 bit", 1, 16, 2, 22050, 0, 0, 0, true},
};

using Read = test::AnalysedFile;

Read analyse(const Bytes& file, int threads, bool loudness = true) {
  return test::analyseBytes(file, threads, loudness);
}

TEST(FormatStatistics, EveryFormatIsAnalysedAsThePlainReferenceOnAnyNumberOfThreads) {
  std::uint32_t seed = 7;
  for (const FormatCase& c : kFormats) {
    SCOPED_TRACE(std::string(c.words) + ", " + std::to_string(c.channels) + " channels" +
                 (c.rifx ? ", RIFX" : ""));
    // Several blocks, and a last one of odd length.
    const std::int64_t frames = 300000 / c.channels + 77;
    const Bytes samples = test::formatSamples(c, frames, ++seed);
    const Read one = analyse(test::formatFile(c, samples), 1);
    ASSERT_EQ(one.header.status, HeaderStatus::kReady) << one.report;
    ASSERT_TRUE(one.result.complete());
    EXPECT_NE(one.report.find(std::string("Resolution:\t") + c.words + "\r\n"), std::string::npos)
        << one.report;
    const test::FormatReference ref =
        test::referenceFigures(samples.data(), one.header.format, frames);
    const bool isFloat = one.result.sample.isFloat();
    EXPECT_TRUE(test::sameFigures(one.result.stored, ref.stored, isFloat));
    EXPECT_TRUE(test::sameFigures(one.result.filtered, ref.filtered, isFloat));
    EXPECT_EQ(one.result.peakValue[0], ref.peak[0]);
    EXPECT_EQ(one.result.peakValue[1], ref.peak[1]);

    const Read three = analyse(test::formatFile(c, samples), 3);
    EXPECT_EQ(three.result.stored, one.result.stored);
    EXPECT_EQ(three.result.filtered, one.result.filtered);
    ASSERT_TRUE(one.result.loudness && three.result.loudness);
    EXPECT_EQ(three.result.loudness->bins, one.result.loudness->bins);

    // Without the vector paths, and with every segment's guess spoilt.
    const test::KernelPaths plainAndSpoilt(false, true);
    const Read spoilt = analyse(test::formatFile(c, samples), 2);
    EXPECT_EQ(spoilt.result.stored, one.result.stored);
    EXPECT_EQ(spoilt.result.filtered, one.result.filtered);
    ASSERT_TRUE(spoilt.result.loudness);
    EXPECT_EQ(spoilt.result.loudness->bins, one.result.loudness->bins);
    for (std::size_t ch = 0; ch < one.result.loudness->truePeaks.size(); ++ch) {
      EXPECT_EQ(spoilt.result.loudness->truePeaks[ch].peak,
                one.result.loudness->truePeaks[ch].peak);
      EXPECT_EQ(spoilt.result.loudness->truePeaks[ch].at, one.result.loudness->truePeaks[ch].at);
    }
  }
}

TEST(FormatStatistics, TwoThreadsSharingTheBlocksJoinTheirPartsAsOneThreadAddsThem) {
  // Without the meter two threads share every block of these formats, in
  // parts of whole chunks; values that are huge or not finite land in parts
  // of either thread, and blocks do not start at a chunk.
  const FormatCase cases[] = {{"64 bit float", 3, 64, 1, 48000},
                              {"32 bit float", 3, 32, 2, 96000},
                              {"24 bit", 1, 24, 2, 48000}};
  std::uint32_t seed = 40;
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.words);
    const std::int64_t frames = 3 * 262144 + 1234;
    Bytes samples = test::formatSamples(c, frames, ++seed);
    if (c.bits == 64) {
      const double odd[] = {1e300, -3e299, std::nan(""), -INFINITY, 2e250};
      for (std::int64_t i = 0; i < 5; ++i) {
        const std::size_t at = static_cast<std::size_t>((i * 70001 + 5000) % frames) * 8;
        std::memcpy(samples.data() + at, &odd[i], 8);
      }
    }
    const Read one = analyse(test::formatFile(c, samples), 1, false);
    const Read two = analyse(test::formatFile(c, samples), 2, false);
    ASSERT_TRUE(one.result.complete() && two.result.complete());
    EXPECT_EQ(two.result.stored, one.result.stored);
    EXPECT_EQ(two.result.nonFiniteSamples, one.result.nonFiniteSamples);
    EXPECT_EQ(two.report, one.report);
  }
}

TEST(FormatStatistics,
     DeemphasisedSamplesAtFullScaleAndBeyondTheVectorsReachAgreeWithTheReference) {
  // Quiet noise, then full scale held on either side (the filter settles
  // there, its rounded outputs at the limits), then loud noise: in 32-bit
  // containers the loud outputs lie beyond what the vectors take, so chunks
  // rounded one by one meet chunks rounded in vectors. Three 16-bit
  // channels take the integer filter.
  const FormatCase cases[] = {
      {"24 bit", 1, 24, 2, 44100}, {"32 bit", 1, 32, 1, 44100}, {"16 bit", 1, 16, 3, 44100}};
  std::uint32_t seed = 90;
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.words);
    const std::int64_t frames = 70000;
    const auto width = static_cast<std::size_t>(c.bits / 8);
    Bytes samples = test::formatSamples(c, frames, ++seed);
    const std::int64_t top = (std::int64_t{1} << (c.bits - 1)) - 1;
    for (std::size_t k = 0; k < samples.size() / width; ++k) {
      const auto frame = static_cast<std::int64_t>(k) / c.channels;
      std::int64_t v = 0;
      std::memcpy(&v, &samples[k * width], width);
      v = v << (64 - c.bits) >> (64 - c.bits);
      v = frame < 20000 ? v >> (c.bits - 14) : frame < 30000 ? top : frame < 40000 ? -top - 1 : v;
      std::memcpy(&samples[k * width], &v, width);
    }
    const Read one = analyse(test::formatFile(c, samples), 1, false);
    ASSERT_TRUE(one.result.complete());
    const test::FormatReference ref =
        test::referenceFigures(samples.data(), one.header.format, frames);
    EXPECT_TRUE(test::sameFigures(one.result.filtered, ref.filtered, false));
    EXPECT_GT(one.result.filtered[0].fullScale, 0);
  }
}

TEST(FormatStatistics, CompandedBytesExpandAsTheStandardsSegmentsGiveThem) {
  WavFormat alaw{6, 1, 8, 8000};
  alaw.encoding = SampleEncoding::kAlaw;
  WavFormat mulaw{7, 1, 8, 8000};
  mulaw.encoding = SampleEncoding::kMulaw;
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    EXPECT_EQ(kernels::alawToLinear(byte), test::referenceSample(&byte, alaw, 0)) << b;
    EXPECT_EQ(kernels::mulawToLinear(byte), test::referenceSample(&byte, mulaw, 0)) << b;
  }
  // The ends of the scales and the smallest steps around zero.
  EXPECT_EQ(kernels::alawToLinear(0xAA), 32256);
  EXPECT_EQ(kernels::alawToLinear(0x2A), -32256);
  EXPECT_EQ(kernels::alawToLinear(0xD5), 8);
  EXPECT_EQ(kernels::mulawToLinear(0x80), 32124);
  EXPECT_EQ(kernels::mulawToLinear(0x00), -32124);
  EXPECT_EQ(kernels::mulawToLinear(0xFF), 0);
}

// One channel's samples of a format given as values on its own scale.
Bytes oneChannel(const FormatCase& c, const std::vector<double>& values) {
  Bytes out;
  for (double v : values) {
    if (c.tag == 3) {
      const auto f = static_cast<float>(v);
      const auto* p = reinterpret_cast<const unsigned char*>(&f);
      out.insert(out.end(), p, p + 4);
    } else {
      const auto i = static_cast<std::int32_t>(v);
      for (int b = 0; b < c.bits / 8; ++b) out.push_back(static_cast<unsigned char>(i >> (8 * b)));
    }
  }
  return out;
}

TEST(FormatReport, PercentagesAndHeadroomUseTheFormatsFullScale) {
  const FormatCase pcm24{"24 bit", 1, 24, 1, 48000};
  const Read half = analyse(test::formatFile(pcm24, oneChannel(pcm24, {0, 4194304, -2097152})), 1);
  EXPECT_NE(half.report.find("1\t-25.00%\t0.000\t50.00%\t0.000\t"), std::string::npos)
      << half.report;
  // 8388607 / 4194304, cut to tenths.
  EXPECT_NE(half.report.find("may be increased by up to 190.0%\r\n"), std::string::npos);
  const Read full = analyse(test::formatFile(pcm24, oneChannel(pcm24, {-8388608, 5})), 1);
  EXPECT_NE(full.report.find("may be increased by up to 100.0%\r\n"), std::string::npos);

  // A float file beyond full scale shows above 100 %, and 1 / peak below 100 %.
  const FormatCase flt{"32 bit float", 3, 32, 1, 48000};
  const Read loud = analyse(test::formatFile(flt, oneChannel(flt, {0.25, -2.0, 0.5})), 1);
  EXPECT_NE(loud.report.find("1\t-200.00%\t0.000\t50.00%\t0.000\t"), std::string::npos)
      << loud.report;
  EXPECT_NE(loud.report.find("may be increased by up to 50.0%\r\n"), std::string::npos);
  const Read quiet = analyse(test::formatFile(flt, oneChannel(flt, {0.3, -0.1})), 1);
  EXPECT_NE(quiet.report.find("may be increased by up to 330.0%\r\n"), std::string::npos);
}

TEST(FormatReport, EveryChannelIsListedAndOnlyAKnownLayoutNamed) {
  FormatCase surround{"16 bit", -2, 16, 6, 44100, 0, 0x3F, 1};
  const Bytes samples = test::formatSamples(surround, 1000, 3);
  const Read named = analyse(test::formatFile(surround, samples), 2);
  EXPECT_NE(named.report.find("Nr of channels:\t6 (5.1)\r\n"), std::string::npos);
  // Six lines in both tables.
  for (const char* row : {"\r\n1\t", "\r\n6\t"}) {
    const std::size_t first = named.report.find(row);
    ASSERT_NE(first, std::string::npos) << row;
    EXPECT_NE(named.report.find(row, first + 1), std::string::npos) << row;
  }
  EXPECT_EQ(named.report.find("\r\n7\t"), std::string::npos);
  surround.mask = 0x7F;  // seven speakers named for six channels
  const Read bare = analyse(test::formatFile(surround, samples), 1);
  EXPECT_NE(bare.report.find("Nr of channels:\t6\r\n"), std::string::npos);
  FormatCase plain{"16 bit", 1, 16, 6, 44100};
  EXPECT_NE(analyse(test::formatFile(plain, samples), 1).report.find("Nr of channels:\t6\r\n"),
            std::string::npos);
}

TEST(FormatStatistics, CorpusFilesOfEveryFormatAgreeWithThePlainReference) {
  const std::vector<std::string> files = test::corpusFiles();
  if (files.empty()) GTEST_SKIP() << "../shared/corpus is absent";
  int checked = 0;
  for (const std::string& path : files) {
    const Bytes bytes = test::readFile(path);
    const Read r = analyse(bytes, 2);
    if (!r.header.hasFrames() || r.header.format.classic()) continue;
    SCOPED_TRACE(path);
    ASSERT_TRUE(r.result.complete());
    const test::FormatReference ref = test::referenceFigures(
        bytes.data() + r.header.layout.dataOffset, r.header.format, r.header.layout.framesInFile);
    const bool isFloat = r.result.sample.isFloat();
    EXPECT_TRUE(test::sameFigures(r.result.stored, ref.stored, isFloat));
    EXPECT_TRUE(test::sameFigures(r.result.filtered, ref.filtered, isFloat));
    EXPECT_EQ(r.result.peakValue[0], ref.peak[0]);
    ++checked;
  }
  // 24- and 32-bit, float, µ-law, 3 and 5 channels, RIFX and RF64.
  EXPECT_GE(checked, 14);
}

}  // namespace
}  // namespace ril
