// The analysis against outside references: the shared corpus of real-world
// files, SoX's statistics, and the command-line tool's output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "core/analysis/sample_statistics.h"
#include "support/analysed_file.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;

// The records of the samples a file holds where the header reader found them,
// by either method.
StatsRecords recordsOf(const Bytes& file, const WavHeader& h, SampleAccumulator::Method m) {
  SampleAccumulator acc(h.format.channels, h.format.bitsPerSample, h.format.sampleRate == 44100, m);
  acc.addBlock(file.data() + h.layout.dataOffset, h.layout.framesInFile);
  return acc.finish();
}

TEST(AnalysisCorpusTest, EveryCorpusFileIsAnalysedAndTunedEqualsPlain) {
  const std::vector<std::string> files = test::corpusFiles();
  if (files.empty()) GTEST_SKIP() << "../shared/corpus is absent";
  int analysed = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const test::AnalysedFile a = test::analyseFile(path);
    const std::size_t table = a.report.find("Channel\t");
    if (table != std::string::npos) {
      EXPECT_EQ(a.report.find("nan", table), std::string::npos);
      EXPECT_EQ(a.report.find("inf", table), std::string::npos);
    }
    if (!a.header.hasFrames()) continue;
    ++analysed;
    EXPECT_NE(a.report.find("Calculation time = "), std::string::npos);
    const Bytes bytes = test::readFile(path);
    ASSERT_LE(
        a.header.layout.dataOffset + a.header.layout.framesInFile * a.header.format.frameBytes(),
        static_cast<std::int64_t>(bytes.size()));
    // The other formats are checked against a reference of their own
    // (format_statistics_test.cpp).
    if (!a.header.format.classic()) continue;
    const StatsRecords tuned = recordsOf(bytes, a.header, SampleAccumulator::Method::kTuned);
    const StatsRecords plain = recordsOf(bytes, a.header, SampleAccumulator::Method::kPlain);
    for (int r = 0; r < 4; ++r) EXPECT_EQ(tuned[r], plain[r]) << "record " << r + 1;
  }
  EXPECT_GT(analysed, 10);
}

// Parses one row of `sox FILE -n stats` ("Min level  -0.5 -0.5 -0.25"): the
// per-channel values (the overall column dropped for two channels).
std::vector<double> soxRow(const std::string& out, const std::string& label, int channels) {
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(label, 0) != 0) continue;
    std::istringstream cells(line.substr(label.size()));
    std::vector<double> v;
    double d;
    while (cells >> d) v.push_back(d);
    // More than one channel: an overall column first.
    if (channels > 1 && v.size() == static_cast<std::size_t>(channels) + 1) v.erase(v.begin());
    return v;
  }
  return {};
}

TEST(AnalysisSoxTest, PeakAndRmsAgreeWithSoxStats) {
  if (std::system("command -v sox >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "sox is not on PATH (install it with the setup script)";
  }
  test::TempDir dir;
  const std::vector<std::string> synth = {
      "-r 44100 -c 2 -b 16 f.wav synth 3 sine 440 pinknoise vol -6dB",
      "-r 22050 -c 1 -b 8 f.wav synth 2 whitenoise vol 0.7",
      "-r 44100 -c 1 -b 16 f.wav synth 2 square 1000 vol 0.999",
      "-r 48000 -c 2 -b 8 f.wav synth 2 sine 50 sine 7000",
      // Every further format: the figures on its own full scale.
      "-r 44100 -c 2 -b 24 f.wav synth 3 sine 440 pinknoise vol -3dB",
      "-r 96000 -c 1 -b 32 f.wav synth 2 whitenoise vol 0.9",
      "-r 44100 -c 2 -e floating-point -b 32 f.wav synth 2 sine 440 pinknoise vol -6dB",
      "-r 48000 -c 1 -e floating-point -b 64 f.wav synth 2 brownnoise",
      "-r 8000 -c 1 -e a-law f.wav synth 2 sine 300 vol 0.8",
      "-r 8000 -c 2 -e mu-law f.wav synth 2 sine 300 pinknoise vol 0.8",
      "-r 48000 -c 6 -b 24 f.wav synth 1 sine 100 sine 200 sine 300 sine 400 sine 500 pinknoise",
      "-r 44100 -c 2 -b 16 -B f.wav synth 2 sine 440 pinknoise vol -6dB",
      "-r 44100 -c 3 -b 24 -B f.wav synth 2 sine 440 pinknoise whitenoise vol -6dB",
  };
  for (const std::string& args : synth) {
    SCOPED_TRACE(args);
    const std::string file = dir.file("f.wav");
    ASSERT_EQ(test::runCommand("cd '" + dir.path() + "' && sox -R -n " + args).status, 0);
    const test::CommandResult sox = test::runCommand("sox '" + file + "' -n stats");
    ASSERT_EQ(sox.status, 0);

    const test::AnalysedFile a = test::analyseFile(file);
    ASSERT_EQ(a.header.status, HeaderStatus::kReady);
    const int ch = a.header.format.channels;
    ASSERT_EQ(a.result.stored.size(), static_cast<std::size_t>(ch));
    const double scale = a.result.sample.statisticsFullScale();
    const auto minLevel = soxRow(sox.err, "Min level", ch);
    const auto maxLevel = soxRow(sox.err, "Max level", ch);
    const auto rmsDb = soxRow(sox.err, "RMS lev dB", ch);
    ASSERT_EQ(minLevel.size(), static_cast<std::size_t>(ch)) << sox.err;
    ASSERT_EQ(rmsDb.size(), static_cast<std::size_t>(ch)) << sox.err;
    for (int c = 0; c < ch; ++c) {
      const ChannelFigures& r = a.result.stored[static_cast<std::size_t>(c)];
      EXPECT_NEAR(r.min / scale, minLevel[c], 5.1e-7);  // sox prints six decimals
      EXPECT_NEAR(r.max / scale, maxLevel[c], 5.1e-7);
      EXPECT_NEAR(20 * std::log10(r.rms), rmsDb[c], 0.0051);
    }
  }
}

}  // namespace
}  // namespace ril
