// Volume, maximize and de-emphasis for every PCM and float format and any
// channel count, against the plainly written reference: integers rounded at
// their valid bits and limited with a message, float stored to the nearest
// float and never limited.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/analysis/analysis.h"
#include "core/modify/modification_run.h"
#include "core/modify/volume_policy.h"
#include "support/analysed_file.h"
#include "support/format_files.h"
#include "support/format_reference.h"
#include "support/modify_test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::FormatCase;
using test::ModifyHarness;

const FormatCase kModifiable[] = {
    {"24 bit", 1, 24, 2, 44100},
    {"24 bit", 1, 24, 3, 44100, 0, 0, 0, true},
    {"24 bit (20 valid)", -2, 24, 1, 44100, 20, 0x4, 1},
    {"32 bit", 1, 32, 2, 44100},
    {"32 bit float", 3, 32, 2, 44100},
    {"64 bit float", -2, 64, 1, 44100, 0, 0x4, 3},
    {"16 bit", -2, 16, 6, 44100, 0, 0x3F, 1},
    {"8 bit", 1, 8, 3, 44100},
    {"8 bit (5 valid)", -2, 8, 1, 44100, 5, 0x4, 1},
};

struct Choice {
  const char* name;
  int tenths;
  bool maximize;
  bool deemphasis;
};

TEST(FormatModification, EveryFormatIsRewrittenAsThePlainReferenceKeepingEveryOtherByte) {
  const Choice choices[] = {{"volume 80%", 800, false, false},
                            {"volume 173.9%", 1739, false, false},
                            {"maximize", 1000, true, false},
                            {"de-emphasis at 125%", 1250, false, true}};
  std::uint32_t seed = 11;
  for (const FormatCase& c : kModifiable) {
    // Quieter samples, so that maximize has something to raise.
    const Bytes samples = test::formatSamples(c, 200000 / c.channels + 31, ++seed, 0.7);
    const Bytes original = test::formatFile(c, samples);
    for (const Choice& choice : choices) {
      SCOPED_TRACE(std::string(c.words) + (c.rifx ? " RIFX, " : ", ") + std::to_string(c.channels) +
                   " channels, " + choice.name);
      ModifyHarness h;
      h.threads = 1 + static_cast<int>(seed % 3);  // channels side by side or not, alike
      h.load(original);
      ASSERT_TRUE(h.target.header.hasFrames());
      const AnalysisResult a = test::analyseFile(h.path()).result;
      const SampleFormat f = h.target.header.format.sample();
      h.request.volumeTenths = choice.tenths;
      h.request.maximize = choice.maximize;
      h.request.deemphasis = choice.deemphasis;
      h.request.maxGain = safeGainFor(f, a.peakValue[0], a.peakValue[1], choice.deemphasis);
      if (f.isFloat()) h.request.peakToDivideBy = a.peakValue[0];
      const ModifyResult r = h.run();
      ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);
      const Bytes out = test::readFile(h.progDir + "a.wav");
      ASSERT_EQ(out.size(), original.size());
      const auto offset = static_cast<std::ptrdiff_t>(h.target.header.layout.dataOffset);
      EXPECT_TRUE(std::equal(out.begin(), out.begin() + offset, original.begin()));

      std::int64_t beyond = 0;
      const double divisor = choice.maximize && f.isFloat() ? a.peakValue[0] : 0.0;
      const test::Expected want =
          test::expectedFormatOutput(samples, h.target.header.format, h.request.factor(),
                                     choice.deemphasis, divisor, std::nullopt, beyond);
      EXPECT_TRUE(std::equal(want.samples.begin(), want.samples.end(), out.begin() + offset));
      EXPECT_EQ(r.clippedSamples, static_cast<std::int64_t>(want.messages.size()));
      EXPECT_EQ(r.samplesBeyondFullScale, beyond);
      // Maximize never clips an integer format.
      if (choice.maximize) {
        EXPECT_EQ(r.clippedSamples, 0);
      }
    }
  }
}

TEST(FormatModification, MaximizeBringsAFloatPeakToExactlyFullScale) {
  for (const FormatCase& c : {FormatCase{"64 bit float", -2, 64, 2, 48000, 0, 0x3, 3},
                              FormatCase{"32 bit float", 3, 32, 1, 48000}}) {
    SCOPED_TRACE(c.words);
    const Bytes samples = test::formatSamples(c, 5000, 5, 0.37);
    ModifyHarness h;
    h.load(test::formatFile(c, samples));
    const AnalysisResult a = test::analyseFile(h.path()).result;
    h.request.maximize = true;
    h.request.maxGain = safeGainFor(a.sample, a.peakValue[0], 0, false);
    h.request.peakToDivideBy = a.peakValue[0];
    ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
    const test::AnalysedFile after = test::analyseFile(h.progDir + "a.wav");
    EXPECT_EQ(after.result.peakValue[0], 1.0);
    EXPECT_NE(after.report.find("may be increased by up to 100.0%"), std::string::npos);
  }
}

TEST(FormatModification, UnusedLowBitsStayZeroAndResultsAreLimitedToTheValidRange) {
  const FormatCase c{"24 bit (20 valid)", -2, 24, 1, 48000, 20, 0x4, 1};
  // The largest valid value and the smallest, raised beyond the range.
  std::vector<std::int32_t> values{8388592, -8388608, 4194304, 16, -16, 1000000};
  Bytes samples;
  for (std::int32_t v : values) {
    for (int b = 0; b < 3; ++b) samples.push_back(static_cast<unsigned char>(v >> (8 * b)));
  }
  ModifyHarness h;
  h.threads = 2;
  h.load(test::formatFile(c, samples));
  h.request.volumeTenths = 1777;
  ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  const Bytes out = test::readFile(h.progDir + "a.wav");
  const auto at = static_cast<std::size_t>(h.target.header.layout.dataOffset);
  std::vector<std::int32_t> got;
  for (std::size_t k = 0; k < values.size(); ++k) {
    const unsigned char* p = &out[at + 3 * k];
    got.push_back(
        static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) << 8) >>
        8);
  }
  // 16 x 1.777 = 28.4 rounds at the valid bits to 32; 1000000 x 1.777 to 1777008.
  EXPECT_EQ(got, (std::vector<std::int32_t>{8388592, -8388608, 7453280, 32, -32, 1777008}));
  ASSERT_EQ(h.host.messages.size(), 3u);  // two limited samples and the closing notice
  EXPECT_EQ(h.host.messages[0].text,
            "Error at sample 0! Calculated value of 14906528 limited to 8388592!");
}

TEST(FormatModification, CompandedFilesAreRefusedWithTheReason) {
  const FormatCase c{"8 bit A-law", 6, 8, 1, 8000};
  ModifyHarness h;
  h.load(test::formatFile(c, test::formatSamples(c, 100, 1)));
  auto before = h.snapshot();
  h.request.volumeTenths = 500;
  const ModifyResult r = h.run();
  EXPECT_EQ(r.outcome, ModifyOutcome::kRefused);
  EXPECT_NE(r.refusal.find("8 bit A-law samples, which are analysed but never modified"),
            std::string::npos);
  EXPECT_EQ(h.snapshot(), before);
}

}  // namespace
}  // namespace ril
