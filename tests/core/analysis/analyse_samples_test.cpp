#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/analysis/analysis_report.h"
#include "core/analysis/sample_statistics.h"
#include "core/base/errors.h"
#include "core/io/files.h"
#include "support/manual_clock.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;

const std::string kHeading = "Channel\tMin\t@ sec.\tMax\t@ sec.\tAvg\tRms\r\n";

// Counts how often it was read and destroyed; throws or ends early on request.
class ProbeSource : public ByteSource {
 public:
  struct Counts {
    int reads = 0;
    int destroyed = 0;
    int failOnRead = 0;
  };
  ProbeSource(Bytes bytes, Counts* counts) : inner_(std::move(bytes)), counts_(counts) {}
  ~ProbeSource() override { ++counts_->destroyed; }
  std::size_t read(void* buffer, std::size_t count) override {
    ++counts_->reads;
    if (counts_->reads == counts_->failOnRead) throw RunError(kErrDeviceIo, "/x.wav");
    return inner_.read(buffer, count);
  }

 private:
  MemorySource inner_;
  Counts* counts_;
};

// A ready file's format and layout, its samples, and what the pass made of them.
struct Fixture {
  Fixture(int channels, int bits, std::int32_t rate, Bytes data, std::int64_t declared = -1) {
    format =
        WavFormat{1, static_cast<std::int16_t>(channels), static_cast<std::int16_t>(bits), rate};
    layout.framesInFile = static_cast<std::int64_t>(data.size()) / (channels * bits / 8);
    layout.sampleFrames = declared < 0 ? layout.framesInFile : declared;
    source = std::make_unique<ProbeSource>(std::move(data), &counts);
  }
  // The report lines of the pass.
  std::string run(char separator = '.') {
    result = analyseSamples(*source, format, layout, host, clock, separator, 1, loudness);
    source.reset();
    return analysisReportLines(result, format, ReportFormat{"\r\n", separator});
  }
  bool analysed() const { return result.complete(); }
  bool loudness = false;  // the block after these lines has tests of its own
  WavFormat format;
  WavLayout layout;
  AnalysisResult result;
  std::unique_ptr<ProbeSource> source;
  ScriptedHost host;
  ManualClock clock;
  ProbeSource::Counts counts;
};

Bytes mono16(const std::vector<std::int16_t>& v) {
  return test::pcm16(v);
}

TEST(AnalyseSamplesTest, MonoExampleReportsBothTablesAndVolumeLinesExactly) {
  Fixture fx(1, 16, 44100, mono16({0, 16384, -16384, 0}));
  const std::string text = fx.run();
  EXPECT_EQ(text,
            kHeading +
                "1\t-50.00%\t0.000\t50.00%\t0.000\t0.00%\t35.36%\r\n"
                "\r\n"
                "After application of De-emphasis:\r\n" +
                kHeading +
                "1\t-7.84%\t0.000\t24.70%\t0.000\t3.19%\t13.12%\r\n"
                "\r\n"
                "Calculation time = 0.00 sec.\r\n"
                "\r\n"
                "Volume of original data may be increased by up to 190.0%\r\n"
                "Volume of original data with de-emphasis may be increased by up to 404.8%\r\n");
  EXPECT_EQ(fx.result.peak[0], 16384);
  EXPECT_EQ(fx.result.peak[1], 8093);
  EXPECT_EQ(fx.result.volumeLimit(), 1.9);
  EXPECT_EQ(fx.result.volumeLimitDeemphasis(), 4.048);
  EXPECT_EQ(fx.host.caption, "");
  EXPECT_EQ(fx.counts.destroyed, 1);
}

TEST(AnalyseSamplesTest, StereoAt22050HasNoDeemphasisPart) {
  Fixture fx(2, 16, 22050, test::pcm16({100, -200, 22050, 0, -300, 400}));
  const std::string text = fx.run();
  EXPECT_EQ(text, kHeading +
                      "1\t-0.92%\t0.000\t67.29%\t0.000\t22.23%\t38.85%\r\n"
                      "2\t-0.61%\t0.000\t1.22%\t0.000\t0.20%\t0.79%\r\n"
                      "\r\n"
                      "Calculation time = 0.00 sec.\r\n"
                      "\r\n"
                      "Volume of original data may be increased by up to 140.0%\r\n");
  EXPECT_EQ(fx.result.peak[0], 22050);
  EXPECT_FALSE(fx.result.deemphasised);
}

TEST(AnalyseSamplesTest, At48000HzNoDeemphasisTableIsWritten) {
  Fixture fx(1, 16, 48000, mono16({1000, -1000}));
  const std::string text = fx.run();
  EXPECT_EQ(text.find("De-emphasis"), std::string::npos);
  EXPECT_EQ(text.find("with de-emphasis"), std::string::npos);
  EXPECT_EQ(fx.result.peak[1], 0);
}

TEST(AnalyseSamplesTest, EightBitFullScaleReadsMinus100And99Point22Percent) {
  Fixture fx(1, 8, 8000, test::pcm8({128, 0, 255, 128}));
  const std::string text = fx.run();
  EXPECT_EQ(text, kHeading +
                      "1\t-100.00%\t0.000\t99.22%\t0.000\t-0.20%\t70.44%\r\n"
                      "\r\n"
                      "Calculation time = 0.00 sec.\r\n"
                      "\r\n"
                      "Volume of original data may be increased by up to 100.0%\r\n");
  EXPECT_EQ(fx.result.peak[0], 32767);
}

TEST(AnalyseSamplesTest, MinusFullScaleShowsMinus100PercentButPeakIs32767) {
  Fixture fx(1, 16, 44100, mono16({-32768, 32767}));
  const std::string text = fx.run();
  EXPECT_NE(text.find("1\t-100.00%\t0.000\t100.00%\t0.000\t"), std::string::npos);
  EXPECT_EQ(fx.result.peak[0], 32767);
  EXPECT_NE(text.find("increased by up to 100.0%\r\n"), std::string::npos);
}

TEST(AnalyseSamplesTest, VolumeLimitsRoundDownToTheirGrain) {
  Fixture fx(1, 16, 22050, mono16({20000}));
  EXPECT_NE(fx.run().find("increased by up to 160.0%\r\n"), std::string::npos);
  Fixture fy(1, 16, 22050, mono16({16384}));
  EXPECT_NE(fy.run().find("increased by up to 190.0%\r\n"), std::string::npos);
}

TEST(AnalyseSamplesTest, PositionsAreSecondsAndTheFirstOfEqualExtremesWins) {
  std::vector<std::int16_t> v(44101, 0);
  v[44100] = 500;
  v[7] = -20;
  v[22050] = -20;
  Fixture fx(1, 16, 44100, mono16(v));
  const std::string text = fx.run();
  EXPECT_EQ(text.substr(kHeading.size(), text.find("\r\n", kHeading.size()) - kHeading.size()),
            "1\t-0.06%\t0.000\t1.53%\t1.000\t0.00%\t0.01%");
}

TEST(AnalyseSamplesTest, AllPositiveChannelReportsMinZeroAtFrameZero) {
  Fixture fx(1, 16, 1000, mono16({5, 6, 7, 3000}));
  EXPECT_EQ(fx.run().substr(kHeading.size(), 37), "1\t0.00%\t0.000\t9.16%\t0.003\t2.30%\t4.58%");
}

TEST(AnalyseSamplesTest, SixHundredThousandStereoFramesShowZeroThen44Percent) {
  std::vector<std::int16_t> v(600000 * 2, 3);
  Fixture fx(2, 16, 44100, test::pcm16(v));
  fx.host.onYield = [&] { fx.clock.now += 0.625; };
  const std::string text = fx.run();
  EXPECT_EQ(fx.host.captions, (std::vector<std::string>{"0%", "44%", ""}));
  EXPECT_EQ(fx.host.yields, 2);
  EXPECT_EQ(fx.counts.reads, 2);  // 262,144 frames, then the merged 337,856
  EXPECT_NE(text.find("\r\nCalculation time = 1.25 sec.\r\n"), std::string::npos);
}

TEST(AnalyseSamplesTest, FileShorterThanOneBlockIsOneReadAndZeroPercent) {
  Fixture fx(1, 8, 44100, test::pcm8(Bytes(1000, 130)));
  fx.run();
  EXPECT_EQ(fx.host.captions, (std::vector<std::string>{"0%", ""}));
  EXPECT_EQ(fx.counts.reads, 1);
}

TEST(AnalyseSamplesTest, DecimalSeparatorFollowsTheCaller) {
  Fixture fx(1, 16, 22050, mono16({16384, 0}));
  const std::string text = fx.run(',');
  EXPECT_NE(text.find("1\t0,00%\t0,000\t50,00%\t0,000\t25,00%\t35,36%"), std::string::npos);
  EXPECT_NE(text.find("= 0,00 sec."), std::string::npos);
  EXPECT_NE(text.find("190,0%"), std::string::npos);
}

TEST(AnalyseSamplesTest, SilentFileSaysSoWithoutInfinityAndKeepsPeakZero) {
  for (int rate : {44100, 22050}) {
    Fixture fx(2, 8, rate, test::pcm8(Bytes(200, 128)));
    const std::string text = fx.run();
    EXPECT_EQ(text.find("inf"), std::string::npos);
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(text.find("Volume of"), std::string::npos);
    EXPECT_NE(text.find("Calculation time = 0.00 sec.\r\n\r\n" + silentLine(ReportFormat{})),
              std::string::npos);
    EXPECT_EQ(fx.result.peak[0], 0);
    EXPECT_EQ(fx.result.peak[1], 0);
    EXPECT_TRUE(fx.analysed());
  }
}

TEST(AnalyseSamplesTest, SignalThatVanishesInTheFilterGetsNoDeemphasisVolume) {
  // A single 1 filters to 0 at every step: the de-emphasised peak is 0.
  Fixture fx(1, 16, 44100, mono16({1, 0, 0}));
  const std::string text = fx.run();
  EXPECT_EQ(fx.result.peak[1], 0);
  EXPECT_NE(text.find("Volume of original data may be increased by up to 3276700.0%\r\n" +
                      silentDeemphLine(ReportFormat{})),
            std::string::npos);
  EXPECT_EQ(text.find("inf"), std::string::npos);
}

TEST(AnalyseSamplesTest, EmptyDataChunkGivesOneLineAndNoStatistics) {
  Fixture fx(2, 16, 44100, Bytes{});
  EXPECT_EQ(fx.run(), noSamplesLine(ReportFormat{}));
  EXPECT_FALSE(fx.analysed());
  EXPECT_EQ(fx.counts.reads, 0);
  EXPECT_TRUE(fx.host.captions.empty());
}

TEST(AnalyseSamplesTest, TruncatedFileIsAnalysedOverTheFramesItHolds) {
  Fixture fx(1, 16, 22050, mono16({1000, 3000}), 10);
  const std::string text = fx.run();
  EXPECT_TRUE(fx.analysed());
  EXPECT_NE(text.find("1\t0.00%\t0.000\t9.16%\t0.000\t6.10%\t6.82%\r\n"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - shortFileLine(2, 10, ReportFormat{}).size()),
            shortFileLine(2, 10, ReportFormat{}));
  EXPECT_NE(shortFileLine(2, 10, ReportFormat{}).find("2 of the 10"), std::string::npos);
}

TEST(AnalyseSamplesTest, FailingReadMidPassIsReportedAndThePassEnds) {
  std::vector<std::int16_t> v(600000 * 2, 3);
  Fixture fx(2, 16, 44100, test::pcm16(v));
  fx.counts.failOnRead = 2;
  const std::string text = fx.run();
  EXPECT_EQ(text, readFailureLine("error 57 (" + errorDescription(57) + ").", 262144, 600000,
                                  ReportFormat{}));
  EXPECT_EQ(fx.host.caption, "");
  EXPECT_EQ(fx.counts.destroyed, 1);
  EXPECT_FALSE(fx.analysed());
}

TEST(AnalyseSamplesTest, InputThatEndsEarlyIsReportedAsAFailedRead) {
  Fixture fx(1, 16, 44100, mono16({1, 2, 3}));
  fx.layout.framesInFile = 5;  // the file shrank after the header was read
  fx.layout.sampleFrames = 5;
  const std::string text = fx.run();
  EXPECT_EQ(text, readFailureLine("the file ended early.", 0, 5, ReportFormat{}));
  EXPECT_FALSE(fx.analysed());
  EXPECT_EQ(fx.host.caption, "");
  EXPECT_EQ(fx.counts.destroyed, 1);
}

// The data ends, or reading fails, at byte `at`, however the reads are cut.
class BreakingSource : public ByteSource {
 public:
  BreakingSource(const Bytes& bytes, std::size_t at, bool fail)
      : bytes_(bytes), at_(at), fail_(fail) {}
  std::size_t read(void* buffer, std::size_t count) override {
    if (pos_ + count > at_) {
      if (fail_) throw RunError(kErrDeviceIo, "/x.wav");
      count = at_ - pos_;
    }
    std::memcpy(buffer, bytes_.data() + pos_, count);
    pos_ += count;
    return count;
  }

 private:
  const Bytes& bytes_;
  std::size_t pos_ = 0, at_;
  bool fail_;
};

TEST(AnalyseSamplesTest, TwoThreadsSharingBlocksReportABrokenReadAsOneThreadDoes) {
  // Blocks of 1 MiB: the break falls in the first piece of the second
  // block, in its second piece (which the partner reads), or in the last.
  for (const int bits : {16, 24}) {
    const WavFormat format{1, 2, static_cast<std::int16_t>(bits), bits == 16 ? 44100 : 48000};
    Bytes data(3300000 - 3300000 % (bits / 4));
    std::uint32_t seed = 3;
    for (auto& b : data) b = static_cast<unsigned char>((seed = seed * 1103515245u + 12345u) >> 24);
    WavLayout layout;
    layout.framesInFile = layout.sampleFrames = static_cast<std::int64_t>(data.size()) / (bits / 4);
    for (const std::size_t at : {1100000, 2000000, 3200000}) {
      for (const bool fail : {false, true}) {
        SCOPED_TRACE(testing::Message() << bits << " bits, at " << at << (fail ? " failing" : ""));
        std::string text[2];
        for (int threads : {1, 2}) {
          BreakingSource source(data, at, fail);
          ScriptedHost host;
          ManualClock clock;
          const AnalysisResult r = analyseSamples(source, format, layout, host, clock, '.', threads);
          text[threads - 1] = analysisReportLines(r, format, ReportFormat{});
        }
        EXPECT_EQ(text[1], text[0]);
        EXPECT_NE(text[0].find(fail ? "error 57" : "ended early"), std::string::npos) << text[0];
      }
    }
  }
}

TEST(AnalyseSamplesTest, MultiBlockFileEqualsTheContinuousReference) {
  // 8-bit stereo: blocks of 524,288 frames; 1.3 million frames make two blocks.
  const std::int64_t frames = 1300000;
  Bytes data(frames * 2);
  std::uint32_t seed = 1;
  for (auto& b : data) b = static_cast<unsigned char>((seed = seed * 1103515245u + 12345u) >> 24);
  Fixture fx(2, 8, 44100, data);
  fx.clock.now = 10.0;
  const std::string text = fx.run();
  EXPECT_EQ(fx.counts.reads, 2);

  SampleAccumulator ref(2, 8, true, SampleAccumulator::Method::kPlain);
  ref.addBlock(data.data(), frames);
  const StatsRecords records = ref.finish();
  const std::vector<ChannelFigures> stored{figuresOf(records[0]), figuresOf(records[1])};
  const std::vector<ChannelFigures> filtered{figuresOf(records[2]), figuresOf(records[3])};
  const std::string expected =
      statisticsLines(stored, filtered, 32768.0, 44100, 0.0f, ReportFormat{});
  EXPECT_EQ(text.substr(0, expected.size()), expected);
}

}  // namespace
}  // namespace ril
