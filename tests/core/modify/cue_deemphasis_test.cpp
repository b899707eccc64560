// De-emphasis of the tracks a cue sheet flags: an image with flagged and
// unflagged tracks, per-track files, and what a failure leaves.
#include "core/modify/cue_deemphasis.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "core/cue/cue_reader.h"
#include "support/modify_test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::Fault;
using test::FsOp;

constexpr std::int64_t kImageFrames = 60000;
constexpr std::int64_t kTrack2 = 5880;   // INDEX 00 00:00:10
constexpr std::int64_t kTrack3 = 44100;  // INDEX 01 00:01:00

const char* kSheet =
    "REM COMMENT \"ripped\"\r\n"
    "FILE \"image.wav\" WAVE\r\n"
    "  TRACK 01 AUDIO\r\n"
    "    INDEX 01 00:00:00\r\n"
    "  TRACK 02 AUDIO\r\n"
    "    FLAGS DCP PRE\r\n"
    "    INDEX 00 00:00:10\r\n"
    "    INDEX 01 00:00:20\r\n"
    "  TRACK 03 AUDIO\r\n"
    "    FLAGS PRE\r\n"
    "    INDEX 01 00:01:00\r\n"
    "FILE \"t4.wav\" WAVE\r\n"
    "  TRACK 04 AUDIO\r\n"
    "    FLAGS PRE\r\n"
    "    INDEX 01 00:00:00\r\n"
    "FILE \"t5.wav\" WAVE\r\n"
    "  TRACK 05 AUDIO\r\n"
    "    INDEX 01 00:00:00\r\n";

// The sheet as it must come out: PRE gone, an emptied FLAGS line with it.
const char* kSheetWithoutPre =
    "REM COMMENT \"ripped\"\r\n"
    "FILE \"image.wav\" WAVE\r\n"
    "  TRACK 01 AUDIO\r\n"
    "    INDEX 01 00:00:00\r\n"
    "  TRACK 02 AUDIO\r\n"
    "    FLAGS DCP\r\n"
    "    INDEX 00 00:00:10\r\n"
    "    INDEX 01 00:00:20\r\n"
    "  TRACK 03 AUDIO\r\n"
    "    INDEX 01 00:01:00\r\n"
    "FILE \"t4.wav\" WAVE\r\n"
    "  TRACK 04 AUDIO\r\n"
    "    INDEX 01 00:00:00\r\n"
    "FILE \"t5.wav\" WAVE\r\n"
    "  TRACK 05 AUDIO\r\n"
    "    INDEX 01 00:00:00\r\n";

Bytes wav(int channels, int bits, const Bytes& data) {
  test::WavShape s;
  s.channels = static_cast<std::int16_t>(channels);
  s.bitsPerSample = static_cast<std::int16_t>(bits);
  s.data = data;
  return test::buildWav(s);
}

Bytes slice(const Bytes& b, std::int64_t from, std::int64_t to) {
  return Bytes(b.begin() + from, b.begin() + to);
}

struct Rip {
  test::TempDir dir;
  test::FaultyFileSystem fs;
  ManualClock clock;
  ScriptedHost host;
  Bytes image = test::noiseSamples(kImageFrames * 2, 16, 7);
  Bytes t4 = test::noiseSamples(9000, 8, 8);
  Bytes t5 = test::noiseSamples(7000, 16, 9);

  Rip() {
    test::writeFile(dir.file("album.cue"), Bytes(kSheet, kSheet + std::strlen(kSheet)));
    test::writeFile(dir.file("image.wav"), wav(2, 16, image));
    test::writeFile(dir.file("t4.wav"), wav(1, 8, t4));
    test::writeFile(dir.file("t5.wav"), wav(1, 16, t5));
  }

  std::map<std::string, Bytes> snapshot() const {
    std::map<std::string, Bytes> files;
    for (const std::string& name : test::listDirectory(dir.path()))
      files[name] = test::readFile(dir.file(name));
    return files;
  }

  CueDeemphasisRun run() {
    const CueReading reading = readCueSheet(fs, dir.file("album.cue"));
    EXPECT_TRUE(reading.sheet) << reading.error;
    const CueDeemphasisPlan plan = planCueDeemphasis(fs, *reading.sheet);
    EXPECT_EQ(plan.refusals, std::vector<std::string>{});
    ModifyServices services{.fs = fs, .clock = clock, .messages = host, .progress = host};
    return runCueDeemphasis(*reading.sheet, plan, services);
  }
};

Bytes samplesOf(const Bytes& file) {
  return slice(file, 44, static_cast<std::int64_t>(file.size()));
}

TEST(CueDeemphasisTest, ChangesOnlyTheFlaggedTracksAndTakesPreOffTheSheet) {
  Rip rip;
  const auto before = rip.snapshot();
  const CueDeemphasisRun run = rip.run();
  ASSERT_TRUE(run.done);
  const auto after = rip.snapshot();
  EXPECT_EQ(after.size(), before.size() + 3);  // album.cue.old, image.wav.old, t4.wav.old
  for (const char* name : {"album.cue", "image.wav", "t4.wav"}) {
    EXPECT_EQ(after.at(std::string(name) + ".old"), before.at(name)) << name;
  }
  EXPECT_EQ(after.at("t5.wav"), before.at("t5.wav"));
  const Bytes& sheet = after.at("album.cue");
  EXPECT_EQ(std::string(sheet.begin(), sheet.end()), kSheetWithoutPre);

  // Each flagged track as its frames alone would come out, from a fresh
  // filter; the unflagged track untouched.
  const Bytes image = samplesOf(after.at("image.wav"));
  EXPECT_EQ(slice(image, 0, kTrack2 * 4), slice(rip.image, 0, kTrack2 * 4));
  EXPECT_EQ(
      slice(image, kTrack2 * 4, kTrack3 * 4),
      test::expectedOutput(slice(rip.image, kTrack2 * 4, kTrack3 * 4), 2, 16, 1.0, true).samples);
  EXPECT_EQ(slice(image, kTrack3 * 4, kImageFrames * 4),
            test::expectedOutput(slice(rip.image, kTrack3 * 4, kImageFrames * 4), 2, 16, 1.0, true)
                .samples);
  EXPECT_EQ(samplesOf(after.at("t4.wav")), test::expectedOutput(rip.t4, 1, 8, 1.0, true).samples);
}

TEST(CueDeemphasisTest, AFailureAnywhereLeavesEveryFileAndTheSheetAsTheyWere) {
  const std::vector<Fault> faults = {
      {FsOp::kWrite, "t4.wav", kErrDiskFull, 4000},  // the last WAV, half written
      {FsOp::kOpenWrite, "album.cue", kErrPathFileAccess},
      {FsOp::kLink, "t4.wav", kErrPathFileAccess},       // keeping the second original
      {FsOp::kPublish, "t4.wav", kErrPathFileAccess},    // after the image took its name
      {FsOp::kPublish, "album.cue", kErrPathFileAccess}  // after every WAV took its name
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.pathPart + " " + std::to_string(static_cast<int>(fault.op)));
    Rip rip;
    const auto before = rip.snapshot();
    rip.fs.faults = {fault};
    const CueDeemphasisRun run = rip.run();
    EXPECT_FALSE(run.done);
    EXPECT_EQ(run.publish.notRestored, std::vector<std::string>{});
    EXPECT_TRUE(rip.snapshot() == before);
  }
}

TEST(CueDeemphasisTest, AFileThatCannotBePutBackIsNamedWithItsOriginalKeptAsOld) {
  Rip rip;
  const auto before = rip.snapshot();
  rip.fs.faults = {{FsOp::kPublish, "album.cue", kErrPathFileAccess},
                   {FsOp::kRenameReplacing, "image.wav", kErrPathFileAccess}};
  const CueDeemphasisRun run = rip.run();
  EXPECT_FALSE(run.done);
  EXPECT_EQ(run.publish.errorNumber, kErrPathFileAccess);
  EXPECT_EQ(run.publish.notRestored, std::vector<std::string>{rip.dir.file("image.wav")});
  auto after = rip.snapshot();
  EXPECT_EQ(after.at("image.wav.old"), before.at("image.wav"));
  EXPECT_NE(after.at("image.wav"), before.at("image.wav"));
  after.erase("image.wav.old");
  after["image.wav"] = before.at("image.wav");
  EXPECT_TRUE(after == before);
}

TEST(CueDeemphasisTest, RefusesTheWholeSheetWhenOneFlaggedFileCannotBeDone) {
  Rip rip;
  test::WavShape s;
  s.sampleRate = 48000;
  s.data = rip.t4;
  test::writeFile(rip.dir.file("t4.wav"), test::buildWav(s));
  test::writeFile(rip.dir.file("image.wav.old"), {});
  const CueReading reading = readCueSheet(rip.fs, rip.dir.file("album.cue"));
  const CueDeemphasisPlan plan = planCueDeemphasis(rip.fs, *reading.sheet);
  EXPECT_EQ(plan.tracks, (std::vector<int>{2, 3, 4}));
  ASSERT_EQ(plan.refusals.size(), 2u);
  EXPECT_EQ(plan.refusals[0], rip.dir.file("image.wav") + " (TRACK 02, 03): " +
                                  rip.dir.file("image.wav") + ".old already exists");
  EXPECT_EQ(plan.refusals[1], rip.dir.file("t4.wav") + " (TRACK 04): 48000 Hz, not 44100 Hz");
}

}  // namespace
}  // namespace ril
