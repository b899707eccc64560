#include <gtest/gtest.h>

#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/analysis/sample_statistics.h"
#include "core/modify/modification_run.h"
#include "core/wav/sample_blocks.h"
#include "support/modify_test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::Expected;
using test::ModifyHarness;
using test::WavShape;

WavShape wavLayout(int channels, int bits, Bytes data, std::int32_t rate = 44100) {
  WavShape s;
  s.channels = static_cast<std::int16_t>(channels);
  s.bitsPerSample = static_cast<std::int16_t>(bits);
  s.sampleRate = rate;
  s.data = std::move(data);
  return s;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t count) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
               b.begin() + static_cast<std::ptrdiff_t>(from + count));
}

std::vector<std::string> clipMessages(const ScriptedHost& host) {
  std::vector<std::string> out;
  for (const Message& m : host.messages)
    if (m.title == "Error:") out.push_back(m.text);
  return out;
}

TEST(MaximumGainTest, SixteenBitFactorsAsTheDialogDerivesThem) {
  EXPECT_EQ(maximumGain(16384, 16, false), 1.99993896484375);
  EXPECT_EQ(maximumGain(20000, 16, false), 32767.0 / 20000);
  EXPECT_EQ(maximumGain(20000, 16, true), 1.638);
  EXPECT_EQ(maximumGain(40000, 16, true), 0.819);
  EXPECT_EQ(maximumGain(32768, 16, false), 32767.0 / 32768);
}

TEST(MaximumGainTest, SilenceGivesOneInsteadOfDividingByZero) {
  for (int bits : {8, 16}) {
    EXPECT_EQ(maximumGain(0, bits, false), 1.0);
    EXPECT_EQ(maximumGain(0, bits, true), 1.0);
  }
}

TEST(MaximumGainTest, EightBitLoudestSampleReachesFullScaleWithoutOverflow) {
  for (int m = 1; m <= 128; ++m) {
    for (bool cut : {false, true}) {
      double f = maximumGain(m * 256, 8, cut);
      ASSERT_GT(f, 0.0);
      const int positive = std::min(m, 127);
      double up = std::trunc(positive * f + 128.5);
      double down = std::trunc(-m * f + 128.5);
      EXPECT_LE(up, 255) << "m=" << m << " cut=" << cut;
      EXPECT_GE(down, 0) << "m=" << m << " cut=" << cut;
      // Within one step of full scale on the loudest side.
      if (m <= 127) {
        EXPECT_GE(up, 254) << "m=" << m << " cut=" << cut;
      } else {
        EXPECT_LE(down, 1) << "cut=" << cut;
      }
      // Never above what the 16-bit rule allows.
      EXPECT_LE(f, cut ? std::floor(32767000.0 / (m * 256)) / 1000 : 32767.0 / (m * 256));
    }
  }
}

TEST(BlockFramesTest, OneMebibyteOfSamplesAtMostTheFramesInTheFile) {
  EXPECT_EQ(nominalBlockFrames(1, 8), 1048576);
  EXPECT_EQ(nominalBlockFrames(2, 8), 524288);
  EXPECT_EQ(nominalBlockFrames(1, 16), 524288);
  EXPECT_EQ(nominalBlockFrames(2, 16), 262144);
  SampleBlocks small(1000, 262144);
  ASSERT_TRUE(small.next());
  EXPECT_EQ(small.frames(), 1000);
  EXPECT_FALSE(small.next());
  EXPECT_FALSE(SampleBlocks(0, 262144).next());
}

TEST(ModificationEngineTest, FullVolumeWithoutDeemphasisDoesNothing) {
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(2, 16, test::noiseSamples(200, 16, 1))));
  auto before = h.snapshot();
  ModifyResult r = h.run();
  EXPECT_EQ(r.outcome, ModifyOutcome::kNothingToDo);
  EXPECT_TRUE(h.host.messages.empty());
  EXPECT_TRUE(h.host.captions.empty());
  EXPECT_EQ(h.snapshot(), before);
}

struct Block {
  int channels;
  std::int64_t frames;
  std::vector<std::string> captions;
};

TEST(ModificationEngineTest, LastBlockTakesTheRestAndCaptionsNeverShowAHundredPercent) {
  const std::vector<Block> cases = {
      {2, 600000, {"Progress 0%", "Progress 44%", "Done!"}},
      {2, 262144 * 3, {"Progress 0%", "Progress 33%", "Progress 67%", "Done!"}},
      {2, 1000, {"Progress 0%", "Done!"}},
      {1, 524288 * 2 - 1, {"Progress 0%", "Done!"}},
  };
  for (const Block& c : cases) {
    ModifyHarness h;
    Bytes data(static_cast<std::size_t>(c.frames * 2 * c.channels), 0);
    h.load(test::buildWav(wavLayout(c.channels, 16, data)));
    h.request.volumeTenths = 500;
    ModifyResult r = h.run();
    EXPECT_EQ(r.outcome, ModifyOutcome::kCompleted);
    EXPECT_EQ(h.host.captions, c.captions) << c.frames;
    EXPECT_EQ(h.host.yields, static_cast<int>(c.captions.size()) - 1);
  }
}

struct OutputCase {
  int channels;
  int bits;
  bool emphasis;
  int volumeTenths;
};

class OutputBytesTest : public ::testing::TestWithParam<OutputCase> {};

TEST_P(OutputBytesTest, SamplesMatchAPlainComputationAndEverythingElseIsCopied) {
  const OutputCase c = GetParam();
  ModifyHarness h;
  // More than one block, so that the filter state is carried across blocks.
  const std::int64_t frames = test::framesPerBlock(c.channels, c.bits) + 3001;
  const std::size_t width = c.bits == 8 ? 1 : 2;
  Bytes data = test::noiseSamples(static_cast<std::size_t>(frames) * c.channels, c.bits, 7);
  WavShape s = wavLayout(c.channels, c.bits, data);
  s.before = {{"LIST", Bytes(18, 'x')}};
  s.after = {{"id3 ", Bytes(11, 'y')}};
  Bytes file = test::buildWav(s);
  h.load(file);
  h.request.deemphasis = c.emphasis;
  h.request.volumeTenths = c.volumeTenths;

  Expected want =
      test::expectedOutput(data, c.channels, c.bits, c.volumeTenths / 1000.0, c.emphasis);
  ModifyResult r = h.run();
  ASSERT_FALSE(want.overflow);
  ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);

  Bytes out = test::readFile(h.progDir + "a.wav");
  ASSERT_EQ(out.size(), file.size());
  const std::size_t offset = static_cast<std::size_t>(h.target.header.layout.dataOffset);
  const std::size_t sampleBytes = static_cast<std::size_t>(frames) * width * c.channels;
  EXPECT_EQ(slice(out, 0, offset), slice(file, 0, offset));
  EXPECT_TRUE(slice(out, offset, sampleBytes) == want.samples);
  EXPECT_EQ(slice(out, offset + sampleBytes, file.size() - offset - sampleBytes),
            slice(file, offset + sampleBytes, file.size() - offset - sampleBytes));
  EXPECT_EQ(clipMessages(h.host), test::shownClips(want, h.path()));
  EXPECT_EQ(r.clippedSamples, static_cast<std::int64_t>(want.messages.size()));
  if (c.emphasis) {
    EXPECT_FALSE(want.messages.empty());  // the bursts clip
  }
  EXPECT_EQ(test::readFile(h.userDir + "a.wav.old"), file);
}

INSTANTIATE_TEST_SUITE_P(
    AllFormats, OutputBytesTest,
    ::testing::Values(OutputCase{1, 8, false, 700}, OutputCase{2, 8, false, 1000 - 1},
                      OutputCase{1, 16, false, 900}, OutputCase{2, 16, false, 998},
                      OutputCase{1, 8, true, 1000}, OutputCase{2, 8, true, 1200},
                      OutputCase{1, 16, true, 1000}, OutputCase{2, 16, true, 1500}));

TEST(ModificationEngineTest, EightBitClippingMessagesCountFromTheFileStart) {
  // A run at -128 then at +127, both raised by 1.2 beyond what a byte holds:
  // once the filter has settled, every sample clips.
  std::vector<std::uint8_t> bytes(40, 0);
  bytes.insert(bytes.end(), 40, 255);
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(1, 8, test::pcm8(bytes))));
  h.request.deemphasis = true;
  h.request.volumeTenths = 1200;
  Expected want = test::expectedOutput(test::pcm8(bytes), 1, 8, 1.2, true);
  ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  std::vector<std::string> got = clipMessages(h.host);
  EXPECT_EQ(got, test::shownClips(want, h.path()));
  ASSERT_EQ(got.size(), 11u);
  EXPECT_EQ(got.front(), "Error at sample 4! Calculated value of -129 limited to -128!");
  EXPECT_EQ(want.messages.back(), "Error at sample 79! Calculated value of 152 limited to 127!");
  EXPECT_EQ(got.back(), "Another " + std::to_string(want.messages.size() - 10) + " samples of " +
                            h.path() +
                            " were limited, the first at sample 14, the last at sample 79!");
  for (const Message& m : h.host.messages) {
    if (m.title != "Error:") continue;
    EXPECT_EQ(m.kind, MessageKind::kError);
  }
}

TEST(ModificationEngineTest, ClipsOfTheSecondBlockNameTheFrameInTheFile) {
  // 16-bit mono, blocks of 524288 frames: a loud step at frame 5 of block 2.
  std::vector<std::int16_t> samples(524288 + 600, 0);
  for (std::size_t i = 524288 + 5; i < samples.size(); ++i) samples[i] = 30000;
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(1, 16, test::pcm16(samples))));
  h.request.deemphasis = true;
  h.request.volumeTenths = 2000;
  ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  std::vector<std::string> got = clipMessages(h.host);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front().rfind("Error at sample 52429", 0), 0u) << got.front();
  EXPECT_EQ(
      test::shownClips(test::expectedOutput(test::pcm16(samples), 1, 16, 2.0, true), h.path()),
      got);
}

TEST(ModificationEngineTest, StereoShowsChannelOnesMessagesBeforeChannelTwos) {
  std::vector<std::int16_t> samples;
  for (int i = 0; i < 50; ++i) {
    samples.push_back(i % 10 < 5 ? 32767 : -32768);  // channel 1 clips often
    samples.push_back(i % 20 < 10 ? 32000 : -32000);
  }
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(2, 16, test::pcm16(samples))));
  h.request.deemphasis = true;
  h.request.volumeTenths = 1100;
  Expected want = test::expectedOutput(test::pcm16(samples), 2, 16, 1.1, true);
  ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  EXPECT_EQ(clipMessages(h.host), test::shownClips(want, h.path()));
  EXPECT_TRUE(test::readFile(h.progDir + "a.wav") ==
              test::buildWav(wavLayout(2, 16, want.samples)));
}

TEST(ModificationEngineTest, ARunDoesWhatWasChosenWhenItStarted) {
  // Loud enough that channel 1 clips in every block: the request is the
  // caller's own, so changing it while a clipping message is shown or while
  // the run yields changes nothing of the run.
  std::vector<std::int16_t> samples;
  for (int i = 0; i < 300; ++i) {
    samples.push_back(i % 10 < 5 ? 32767 : -32768);
    samples.push_back(static_cast<std::int16_t>(i * 7));
  }
  const Bytes data = test::pcm16(samples);
  for (bool deemphasis : {true, false}) {
    ModifyHarness h;
    h.load(test::buildWav(wavLayout(2, 16, data)));
    h.request.deemphasis = deemphasis;
    h.request.volumeTenths = 900;
    h.host.onMessage = [&](const Message&) { h.request.deemphasis = !deemphasis; };
    h.host.onYield = [&] { h.request.deemphasis = !deemphasis; };
    ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted) << deemphasis;
    const Expected want = test::expectedOutput(data, 2, 16, 0.9, deemphasis);
    EXPECT_EQ(clipMessages(h.host), test::shownClips(want, h.path())) << deemphasis;
    EXPECT_TRUE(test::readFile(h.progDir + "a.wav") ==
                test::buildWav(wavLayout(2, 16, want.samples)))
        << deemphasis;
  }
}

TEST(ModificationEngineTest, StopAtFirstClipEndsTheRunSilentlyWithNothingLeftBehind) {
  // Three blocks; a burst at full scale in the second clips once de-emphasised.
  const std::size_t count = static_cast<std::size_t>(test::framesPerBlock(2, 16)) * 3 * 2;
  const std::vector<std::int16_t> quiet(count, 1000);
  std::vector<std::int16_t> loud = quiet;
  for (std::size_t k = 0; k < 2000; ++k) loud[count / 2 + k] = k / 2 % 10 < 5 ? 32767 : -32768;
  for (const bool clips : {true, false}) {
    ModifyHarness h;
    h.load(test::buildWav(wavLayout(2, 16, test::pcm16(clips ? loud : quiet))));
    h.request.deemphasis = true;
    h.request.stopAtFirstClip = true;
    const auto before = h.snapshot();
    const ModifyResult r = h.run();
    EXPECT_EQ(r.outcome, clips ? ModifyOutcome::kClipped : ModifyOutcome::kCompleted);
    EXPECT_TRUE(clipMessages(h.host).empty());
    if (clips) {
      EXPECT_EQ(h.snapshot(), before);
    }
  }
}

TEST(ModificationEngineTest, TenThousandClippedSamplesShowTenMessagesAndOneForTheRest) {
  // A constant 20000 doubled: once the filter has risen past full scale,
  // every sample clips. The frames are counted so that exactly 10,000 do.
  const auto constant = [](std::size_t frames) {
    return test::pcm16(std::vector<std::int16_t>(frames, 20000));
  };
  const std::int64_t rising =
      200 - static_cast<std::int64_t>(
                test::expectedOutput(constant(200), 1, 16, 2.0, true).messages.size());
  const Bytes data = constant(static_cast<std::size_t>(10000 + rising));
  const Expected want = test::expectedOutput(data, 1, 16, 2.0, true);
  ASSERT_EQ(want.messages.size(), 10000u);
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(1, 16, data)));
  h.request.deemphasis = true;
  h.request.volumeTenths = 2000;
  const ModifyResult r = h.run();
  ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);
  EXPECT_EQ(r.clippedSamples, 10000);
  const std::vector<std::string> got = clipMessages(h.host);
  ASSERT_EQ(got.size(), 11u);
  EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + 10),
            std::vector<std::string>(want.messages.begin(), want.messages.begin() + 10));
  EXPECT_EQ(got.back(), "Another 9990 samples of " + h.path() +
                            " were limited, the first at sample " + std::to_string(rising + 10) +
                            ", the last at sample " + std::to_string(rising + 9999) + "!");
  // Every one of them is limited all the same.
  EXPECT_TRUE(slice(test::readFile(h.progDir + "a.wav"), 44, data.size()) == want.samples);
}

TEST(ModificationEngineTest, VolumePassRoundsAsSpecifiedAndFactorZeroSilences) {
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(1, 16, test::pcm16({-1000, 1000, 3, -3, 16383, -16384}))));
  h.request.volumeTenths = 2000;
  ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  EXPECT_EQ(test::readFile(h.progDir + "a.wav"),
            test::buildWav(wavLayout(1, 16, test::pcm16({-2000, 2000, 6, -6, 32766, -32768}))));

  ModifyHarness e;
  e.load(test::buildWav(wavLayout(2, 8, test::pcm8({0, 255, 128, 1}))));
  e.request.volumeTenths = 0;
  ASSERT_EQ(e.run().outcome, ModifyOutcome::kCompleted);
  EXPECT_EQ(test::readFile(e.progDir + "a.wav"),
            test::buildWav(wavLayout(2, 8, test::pcm8({128, 128, 128, 128}))));
}

TEST(ModificationEngineTest, EightBitVolumeBetweenMinusOneAndZeroGivesByteZero) {
  // v = -128 at factor 1.007: -128.896 + 128.5 = -0.396, truncated to 0.
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(1, 8, test::pcm8({0, 64, 128}))));
  h.request.volumeTenths = 1007;
  ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  Bytes out = test::readFile(h.progDir + "a.wav");
  EXPECT_EQ(out[44], 0);
  EXPECT_EQ(out[45], static_cast<unsigned char>(std::trunc(-64 * 1.007 + 128.5)));
  EXPECT_EQ(out[46], 128);
}

TEST(ModificationEngineTest, VolumeOverflowReportsTheFirstValueInProcessingOrder) {
  // Channel 2 overflows at frame 0, channel 1 only at frame 3: channel 1 is
  // done first, so its value is the one reported.
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(2, 16, test::pcm16({0, 20000, 0, 0, 0, 0, 16384, 0}))));
  auto before = h.snapshot();
  h.request.volumeTenths = 2000;
  ModifyResult r = h.run();
  EXPECT_EQ(r.outcome, ModifyOutcome::kFailed);
  EXPECT_EQ(r.errorNumber, 6);
  EXPECT_EQ(r.lastValue, 32768);
  ASSERT_EQ(h.host.messages.size(), 1u);
  EXPECT_EQ(h.host.messages[0].title, "Warning");
  EXPECT_EQ(h.host.messages[0].text, "Overflow (last value 32768! Modification cancelled!");
  EXPECT_EQ(h.snapshot(), before);
}

TEST(ModificationEngineTest, EightBitOverflowShowsTheByteValueThatDidNotFit) {
  // The factor an unguarded 16-bit rule gives for the loudest byte 255.
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(1, 8, test::pcm8({128, 200, 255, 0 + 64}))));
  h.request.maximize = true;
  h.request.maxGain = 32767.0 / (127 * 256);
  ModifyResult r = h.run();
  EXPECT_EQ(r.outcome, ModifyOutcome::kFailed);
  ASSERT_FALSE(h.host.messages.empty());
  EXPECT_EQ(h.host.messages.back().text, "Overflow (last value 256! Modification cancelled!");
}

TEST(ModificationEngineTest, EightBitMaximizeWithTheEnginesGainNeverOverflows) {
  for (std::uint8_t loud : {255, 200, 129, 0, 1, 100}) {
    ModifyHarness h;
    std::vector<std::uint8_t> bytes = {128, loud, 128, loud};
    h.load(test::buildWav(wavLayout(1, 8, test::pcm8(bytes))));
    int magnitude = std::abs(loud - 128);
    h.request.maximize = true;
    h.request.maxGain = maximumGain(magnitude * 256, 8, false);
    ModifyResult r = h.run();
    ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted) << int(loud);
    Bytes out = test::readFile(h.progDir + "a.wav");
    // Within one step of full scale on the loudest sample's side.
    if (loud > 128) {
      EXPECT_GE(out[45], 254) << int(loud);
    } else {
      EXPECT_LE(out[45], 1) << int(loud);
    }
  }
}

TEST(ModificationEngineTest, ManipulationTimeIsTheRunsAndTheNoticeComesAfterDone) {
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(1, 16, test::pcm16({1, 2, 3}))));
  h.host.onYield = [&] { h.clock.now += 1.25; };
  h.request.volumeTenths = 1500;
  std::string captionAtNotice;
  h.host.onMessage = [&](const Message&) { captionAtNotice = h.host.caption; };
  ModifyResult r = h.run();
  ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);
  EXPECT_EQ(manipulationTimeLine(r.elapsedSeconds, '.'), "Manipulation time = 1.25 sec.");
  ASSERT_EQ(h.host.messages.size(), 1u);
  EXPECT_EQ(h.host.messages[0].title, "Info:");
  EXPECT_EQ(h.host.messages[0].text,
            "The original file is stored with additional extension .old.\r\nThe modified file is "
            "stored under the original filename in the program directory!");
  EXPECT_EQ(captionAtNotice, "Done!");
}

TEST(ModificationEngineTest, ClockGoingBackwardsStillReportsNoNegativeTime) {
  ModifyHarness h;
  h.load(test::buildWav(wavLayout(1, 16, test::pcm16({1, 2, 3}))));
  h.clock.now = 100;
  h.host.onYield = [&] { h.clock.now = 3; };
  h.request.volumeTenths = 1500;
  const ModifyResult r = h.run();
  ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);
  EXPECT_EQ(manipulationTimeLine(r.elapsedSeconds, '.'), "Manipulation time = 0.00 sec.");
}

TEST(ModificationEngineTest, OddDataChunkKeepsThePartialFrameAndTheLength) {
  // 16-bit stereo, 4 whole frames and 3 bytes of a fifth, then a chunk.
  Bytes data = test::pcm16({100, -100, 200, -200, 300, -300, 400, -400});
  data.insert(data.end(), {0x11, 0x22, 0x33});
  WavShape s = wavLayout(2, 16, data);
  s.after = {{"LIST", Bytes(9, 'z')}};
  Bytes file = test::buildWav(s);
  ModifyHarness h;
  h.load(file);
  ASSERT_EQ(h.target.header.layout.framesInFile, 4);
  h.request.volumeTenths = 500;
  ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  Bytes out = test::readFile(h.progDir + "a.wav");
  ASSERT_EQ(out.size(), file.size());
  Bytes want = file;
  Bytes halved = test::pcm16({50, -50, 100, -100, 150, -150, 200, -200});
  std::copy(halved.begin(), halved.end(), want.begin() + 44);
  EXPECT_EQ(out, want);
}

TEST(ModificationEngineTest, DataChunkRunningPastTheEndProcessesWhatIsThere) {
  WavShape s = wavLayout(1, 16, test::pcm16({1000, 2000, 3000}));
  s.dataSize = 1000;  // declared far beyond the end
  Bytes file = test::buildWav(s);
  ModifyHarness h;
  h.load(file);
  ASSERT_LT(h.target.header.layout.trailerLength, 0);
  h.request.volumeTenths = 1100;
  ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  Bytes want = file;
  Bytes louder = test::pcm16({1100, 2200, 3300});
  std::copy(louder.begin(), louder.end(), want.begin() + 44);
  EXPECT_EQ(test::readFile(h.progDir + "a.wav"), want);
}

// The analysis' lines for a file in memory: its statistics and headroom.
std::string statisticsOf(const Bytes& file) {
  HeaderReading r = readWavHeader(std::make_unique<MemorySource>(file), file.size());
  if (!r.header.ready()) return {};
  ScriptedHost host;
  ManualClock clock;
  const AnalysisResult result =
      analyseSamples(*r.samples, r.header.format, r.header.layout, host, clock);
  return analysisReportLines(result, r.header.format, ReportFormat{});
}

TEST(ModificationEngineTest, ChunkLayoutsAroundTheSamplesGiveTheTwinsStatisticsAndKeepTheirBytes) {
  const Bytes data = test::noiseSamples(2 * 3000, 16, 5);
  const WavShape twin = wavLayout(2, 16, data);
  const std::string twinStatistics = statisticsOf(test::buildWav(twin));
  Bytes comment = {'I', 'C', 'M', 'T', 10, 0, 0, 0, 'd', 'a', 't', 'a', 1, 0, 0, 0, 'x', 'y'};
  std::vector<WavShape> shapes(3, twin);
  shapes[0].firstChunks = {{"JUNK", Bytes(28, 0)}, {"bext", Bytes(603, 'b')}};
  shapes[1].before = {{"LIST", comment}};
  shapes[1].after = {{"id3 ", Bytes(9, 'i')}};
  shapes[2].rf64 = true;
  for (const WavShape& shape : shapes) {
    const Bytes file = test::buildWav(shape);
    ModifyHarness h;
    h.load(file);
    SCOPED_TRACE(h.target.header.layout.dataOffset);
    EXPECT_EQ(statisticsOf(file), twinStatistics);
    h.request.volumeTenths = 800;
    ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
    Bytes want = file;
    const auto offset = static_cast<std::size_t>(h.target.header.layout.dataOffset);
    ASSERT_EQ(slice(file, offset, data.size()), data);
    const Bytes quieter = test::expectedOutput(data, 2, 16, 0.8, false).samples;
    std::copy(quieter.begin(), quieter.end(), want.begin() + static_cast<std::ptrdiff_t>(offset));
    EXPECT_EQ(test::readFile(h.progDir + "a.wav"), want);
  }
}

TEST(ModificationEngineTest, FilesWithoutSampleFramesAreRefusedBeforeAnythingChanges) {
  for (Bytes data : {Bytes{}, Bytes{1, 2, 3}}) {  // stereo 16-bit: not one whole frame
    ModifyHarness h;
    h.load(test::buildWav(wavLayout(2, 16, data)));
    auto before = h.snapshot();
    h.request.volumeTenths = 1500;
    ModifyResult r = h.run();
    EXPECT_EQ(r.outcome, ModifyOutcome::kRefused);
    ASSERT_EQ(h.host.messages.size(), 1u);
    EXPECT_EQ(h.host.messages[0].text,
              "File " + h.path() + " holds no sample frames! Modification cancelled!");
    EXPECT_EQ(h.snapshot(), before);
  }
}

TEST(ModificationEngineTest, FilesTheReaderCouldNotMakeReadyAreRefused) {
  ModifyHarness h;
  WavShape s = wavLayout(2, 4, test::pcm16({1, 2, 3, 4, 5, 6}));
  s.formatTag = 17;  // IMA ADPCM
  h.load(test::buildWav(s));
  ASSERT_EQ(h.target.header.status, HeaderStatus::kUnsupported);
  auto before = h.snapshot();
  h.request.deemphasis = true;
  EXPECT_EQ(h.run().outcome, ModifyOutcome::kRefused);
  ASSERT_EQ(h.host.messages.size(), 1u);
  EXPECT_NE(h.host.messages[0].text.find("Modification cancelled!"), std::string::npos);
  EXPECT_EQ(h.snapshot(), before);
}

TEST(ModificationEngineTest, StereoDeemphasisWithHugeFactorsMatchesThePlainComputation) {
  // A peak of 1 lets maximize reach factors of tens of thousands: one below the
  // largest the two-lane stereo loop takes, one above it, and one far above.
  // A run of 1s ended by a -1 drives the filter to 1.16 times full scale.
  std::vector<std::int16_t> samples;
  for (int frame = 0; frame < 1500; ++frame) {
    const std::int16_t left = frame % 31 == 30 ? -1 : 1;
    samples.push_back(left);
    samples.push_back(static_cast<std::int16_t>(-left));
  }
  const Bytes data = test::pcm16(samples);
  for (double gain : {16384.0, 16384.5, 32767.0}) {
    ModifyHarness h;
    h.load(test::buildWav(wavLayout(2, 16, data)));
    h.request.deemphasis = true;
    h.request.maximize = true;
    h.request.maxGain = gain;
    const Expected want = test::expectedOutput(data, 2, 16, gain, true);
    ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted) << gain;
    const Bytes out = test::readFile(h.progDir + "a.wav");
    EXPECT_TRUE(slice(out, 44, data.size()) == want.samples) << gain;
    EXPECT_EQ(clipMessages(h.host), test::shownClips(want, h.path())) << gain;
    EXPECT_EQ(want.messages.empty(), gain < 30000) << gain;
  }
}

TEST(ModificationEngineTest, FollowedFilterRangeIsTheAnalysisRangeInEveryFormat) {
  // More than one block, loud enough that some blocks clip and are done again.
  for (int channels : {1, 2}) {
    for (int bits : {8, 16}) {
      SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(bits) + " bit");
      const std::int64_t frames = test::framesPerBlock(channels, bits) * 2 + 777;
      const Bytes data = test::noiseSamples(static_cast<std::size_t>(frames) * channels, bits, 11);
      SampleAccumulator analysis(channels, bits, true, SampleAccumulator::Method::kPlain);
      analysis.addBlock(data.data(), frames);
      const StatsRecords records = analysis.finish();

      ModifyHarness h;
      h.load(test::buildWav(wavLayout(channels, bits, data)));
      h.request.deemphasis = true;
      h.request.volumeTenths = 1300;
      h.followReportFilter = true;
      const ModifyResult r = h.run();
      ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);
      const FilteredRange& range = r.filteredRange;
      EXPECT_FALSE(clipMessages(h.host).empty());
      EXPECT_TRUE(range.complete);
      for (int c = 0; c < channels; ++c) {
        EXPECT_EQ(range.min[c], records[2 + c].min) << c;
        EXPECT_EQ(range.max[c], records[2 + c].max) << c;
      }
    }
  }
}

TEST(ModificationEngineTest, FollowedFilterRangeIsCompleteOnlyForADeemphasisRun) {
  // Unticking the box mid-run leaves the run, and its range, as it started.
  std::vector<std::int16_t> samples(2 * 1000, 1000);
  for (bool deemphasis : {false, true}) {
    ModifyHarness h;
    h.load(test::buildWav(wavLayout(2, 16, test::pcm16(samples))));
    h.request.deemphasis = deemphasis;
    h.host.onYield = [&] { h.request.deemphasis = false; };
    h.request.volumeTenths = 900;
    h.followReportFilter = true;
    const ModifyResult r = h.run();
    ASSERT_EQ(r.outcome, ModifyOutcome::kCompleted);
    EXPECT_EQ(r.filteredRange.complete, deemphasis);
  }
}

TEST(ModificationEngineTest, AppliesDeemphasisAtFullVolume) {
  ModifyHarness h;
  std::vector<std::int16_t> steps(20, 10000);
  Bytes file = test::buildWav(wavLayout(1, 16, test::pcm16(steps)));
  h.load(file);
  h.request.deemphasis = true;
  ASSERT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  Bytes out = test::readFile(h.progDir + "a.wav");
  // -820.8955, 3297.5050, 5848.4546, ... rounded down after adding 0.5
  auto at = [&](int i) {
    return static_cast<std::int16_t>(out[44 + 2 * i] | (out[45 + 2 * i] << 8));
  };
  EXPECT_EQ(at(0), -821);
  EXPECT_EQ(at(1), 3298);
  EXPECT_EQ(at(2), 5848);
  EXPECT_EQ(at(3), 7429);
}

}  // namespace
}  // namespace ril
