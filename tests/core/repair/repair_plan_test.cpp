// Repair plans for crafted files of every kind of lying header, carried out
// in memory: only the stated fields change, and a second plan finds nothing.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/repair/repair_run.h"
#include "core/repair/repair_text.h"
#include "core/wav/wav_header_reader.h"
#include "properties/properties.h"
#include "properties/repair_properties.h"
#include "support/memory_file_system.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::WavShape;

const char* const kPath = "/rec/a.wav";

// Sample bytes that never read as a chunk identifier.
Bytes audio(std::size_t count) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) bytes[i] = static_cast<unsigned char>(0x80 | (i * 37));
  return bytes;
}

WavShape shapeOf(int channels, int bits, std::size_t frames, int extra = 0) {
  WavShape s;
  s.channels = static_cast<std::int16_t>(channels);
  s.bitsPerSample = static_cast<std::int16_t>(bits);
  s.sampleRate = 8000;
  s.data = audio(frames * channels * bits / 8 + extra);
  return s;
}

RepairOptions givenFormat(const char* text) {
  std::string error;
  return RepairOptions{parseGivenFormat(text, error)};
}

RepairPlan planOf(const Bytes& file, const RepairOptions& options = {}) {
  MemorySource source(file);
  return planRepair(source, file.size(), options);
}

// One kind of lie: the file, the fields its repair changes in the order
// written, the data size it then declares, and a note its plan gives.
struct Lie {
  const char* name;
  Bytes file;
  std::vector<std::string> fields;
  std::uint64_t dataSize;
  const char* note;
  RepairOptions options = {};
};

std::vector<Lie> lies() {
  std::vector<Lie> all;
  WavShape s = shapeOf(2, 16, 4000, 3);  // a partial frame at the end
  s.dataSize = 0;
  s.riffSize = 36;
  s.padOddData = false;
  all.push_back({"unfinalised 16-bit stereo",
                 buildWav(s),
                 {"data size", "RIFF size"},
                 16000,
                 "The last 3 bytes are less than a frame of 4 bytes"});
  s = shapeOf(1, 24, 1001);  // odd: a pad byte before the chunks
  s.dataSize = 0;
  s.after = {{"LIST", {'I', 'N', 'F', 'O', 'I', 'S', 'F', 'T', 2, 0, 0, 0, 'x', 0}},
             {"cue ", Bytes(28, 1)}};
  all.push_back({"unfinalised 24-bit mono before LIST and cue chunks",
                 buildWav(s),
                 {"data size"},
                 3003,
                 "The chunks after the audio stay as they are: 'LIST', 'cue '."});
  s = shapeOf(1, 16, 500);
  s.dataSize = 0xFFFFFFFF;
  s.riffSize = 0xFFFFFFFF;
  s.after = {{"id3 ", {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0}}};
  all.push_back({"16-bit mono with a placeholder size before an id3 chunk",
                 buildWav(s),
                 {"data size", "RIFF size"},
                 1000,
                 "'id3 '"});
  s = shapeOf(2, 24, 4000, 2);  // half of one second at 8000 Hz, cut in a frame
  s.dataSize = 48000;
  s.riffSize = 36 + 48000;
  s.padOddData = false;
  all.push_back({"24-bit stereo cut short",
                 buildWav(s),
                 {"data size", "RIFF size"},
                 24000,
                 "The file is cut short: 0.500 seconds are missing."});
  s = shapeOf(1, 16, 100);
  s.riffSize = 1234;
  all.push_back({"a wrong RIFF size", buildWav(s), {"RIFF size"}, 200, ""});
  s = shapeOf(2, 16, 100);
  s.blockAlign = 2;
  s.byteRate = 16000;
  all.push_back(
      {"blockAlign and byteRate of one channel", buildWav(s), {"blockAlign", "byteRate"}, 400, ""});
  s = shapeOf(2, 16, 300);
  s.rf64 = true;
  s.dataSize = 0;
  all.push_back({"an RF64 recording never finished",
                 buildWav(s),
                 {"ds64 data size", "ds64 sample count"},
                 1200,
                 ""});
  s = shapeOf(1, 16, 200);
  s.formatTag = s.channels = s.bitsPerSample = 0;
  s.sampleRate = 0;
  s.blockAlign = 0;
  all.push_back({"a zeroed format chunk, with --format",
                 buildWav(s),
                 {"RIFF size", "format", "data size"},
                 400,
                 "A new header of 44 bytes (22,050 Hz, 1 channel, 16-bit PCM) is written in front "
                 "of the bytes from offset 44, in place of the 44 bytes before them.",
                 givenFormat("22050:1:16")});
  all.push_back({"headerless audio, with --format",
                 audio(1001),
                 {"RIFF size", "format", "data size"},
                 1000,
                 "The last 1 byte is less than a frame of 4 bytes",
                 givenFormat("48000:2:16")});
  return all;
}

TEST(RepairPlanTest, EachLieIsMendedInItsStatedFieldsOnlyAndOnce) {
  for (const Lie& lie : lies()) {
    SCOPED_TRACE(lie.name);
    const RepairPlan plan = planOf(lie.file, lie.options);
    ASSERT_EQ(plan.verdict, RepairVerdict::kRepair) << planLines(plan).front();
    std::vector<std::string> fields;
    for (const FieldChange& c : plan.changes) fields.push_back(c.field);
    EXPECT_EQ(fields, lie.fields);
    std::string lines;
    for (const std::string& line : planLines(plan)) lines += line + "\n";
    EXPECT_NE(lines.find(lie.note), std::string::npos) << lines;

    MemoryFileSystem fs;
    fs.put(kPath, lie.file);
    ScriptedHost host;
    RepairServices services{.fs = fs, .progress = host};
    ASSERT_EQ(applyRepair(kPath, plan, services).outcome, RepairOutcome::kRepaired);
    const Bytes repaired = *fs.get(kPath);
    EXPECT_EQ(properties::unplannedDifference(lie.file, repaired, plan), "");
    EXPECT_EQ(*fs.get(std::string(kPath) + ".old"), lie.file);
    const WavHeader header =
        readWavHeader(std::make_unique<MemorySource>(repaired), repaired.size()).header;
    EXPECT_EQ(header.layout.dataSize, lie.dataSize);
    EXPECT_EQ(planFileRepair(fs, kPath, lie.options).verdict, RepairVerdict::kNothingToRepair);
    // In place where nothing is inserted, the same bytes.
    EXPECT_EQ(properties::checkRepair(lie.file.data(), lie.file.size()), "");
  }
}

TEST(RepairPlanTest, WhatCannotBeKnownIsRefusedWithItsReasonAndNothingIsWritten) {
  WavShape healthy = shapeOf(2, 16, 100);
  healthy.after = {{"LIST", Bytes(12, 'a')}};
  WavShape noFormat = shapeOf(1, 16, 10);
  noFormat.formatTag = noFormat.channels = noFormat.bitsPerSample = 0;
  noFormat.sampleRate = 0;
  noFormat.blockAlign = 0;
  WavShape noChannels = shapeOf(1, 16, 10);
  noChannels.channels = 0;
  noChannels.blockAlign = 2;
  WavShape oddFrames = shapeOf(2, 16, 100, 2);
  oddFrames.blockAlign = 3;
  WavShape cutChain = shapeOf(2, 16, 100);
  cutChain.dataSize = 0;
  cutChain.after = {{"LIST", Bytes(40, 'a')}};
  Bytes cut = buildWav(cutChain);
  cut.resize(cut.size() - 10);
  Bytes noData = buildWav(shapeOf(1, 16, 0));
  noData.resize(36);
  Bytes bigEndian = buildWav(shapeOf(1, 16, 10));
  bigEndian[3] = 'X';

  const std::vector<std::pair<Bytes, std::string>> cases = {
      {buildWav(healthy), "nothing to repair"},
      {noData, "not repaired: it has no data chunk"},
      {buildWav(noFormat), "its format chunk is zeroed: give the format with --format"},
      {audio(100), "it has no RIFF header, so no data chunk"},
      {buildWav(noChannels), "its format chunk contradicts itself: it gives 0 channels"},
      {buildWav(oddFrames), "is not a whole number of 4-byte frames"},
      {cut, "the chunks after its audio ('LIST' at offset 444) end 10 bytes past the end"},
      {bigEndian, "it is a big-endian (RIFX) file"},
  };
  for (const auto& [file, why] : cases) {
    SCOPED_TRACE(why);
    const RepairPlan plan = planOf(file);
    EXPECT_NE(planLines(plan).front().find(why), std::string::npos) << planLines(plan).front();
    EXPECT_TRUE(plan.changes.empty());
    MemoryFileSystem fs;
    fs.put(kPath, file);
    ScriptedHost host;
    RepairServices services{.fs = fs, .progress = host};
    EXPECT_EQ(applyRepair(kPath, plan, services).outcome, RepairOutcome::kRefused);
    EXPECT_EQ(fs.paths(), std::vector<std::string>{kPath});
    EXPECT_EQ(*fs.get(kPath), file);
  }
}

// A data chunk that declares 0 bytes right behind a 1-byte chunk that lacks
// its pad byte, with `audioBytes` of audio; in an RF64 file the data chunk's
// own size field holds the 0.
Bytes dataBehindMissingPad(bool rf64, std::size_t audioBytes) {
  WavShape s = shapeOf(1, 8, audioBytes);
  s.rf64 = rf64;
  s.dataSize = 0;
  s.before = {{"JUNK", Bytes(1, 0)}};
  Bytes file = buildWav(s);
  const auto junk = std::search(file.begin(), file.end(), "JUNK", "JUNK" + 4) - file.begin();
  file.erase(file.begin() + junk + 9);
  for (int i = 0; i < 4; ++i) file[junk + 13 + i] = 0;  // the data chunk's size
  return file;
}

TEST(RepairPlanTest, ADataSizeThatWouldReadAsAChunkBehindAMissingPadByteIsNotWritten) {
  for (const bool rf64 : {false, true}) {
    SCOPED_TRACE(rf64 ? "RF64" : "RIFF");
    // 76 bytes: "ata" and the size's first byte 'L' would read as a chunk.
    const RepairPlan refused = planOf(dataBehindMissingPad(rf64, 76));
    EXPECT_EQ(refused.refusalCode, "missing-pad-byte");
    EXPECT_TRUE(refused.changes.empty());
    // 128 bytes: the size's first byte is no character, and the repair is safe.
    const Bytes mendable = dataBehindMissingPad(rf64, 128);
    ASSERT_EQ(planOf(mendable).verdict, RepairVerdict::kRepair);
    EXPECT_EQ(properties::checkRepair(mendable.data(), mendable.size()), "");
  }
}

TEST(RepairPlanTest, InPlaceRefusesToInsertAndNothingIsWrittenToAFileThatChanged) {
  const Lie lie = lies()[7];  // a zeroed format chunk: a new header goes in front
  MemoryFileSystem fs;
  fs.put(kPath, lie.file);
  ScriptedHost host;
  RepairServices services{.fs = fs, .progress = host};
  services.placement = RepairPlacement::kInPlace;
  RepairResult result = applyRepair(kPath, planOf(lie.file, lie.options), services);
  EXPECT_EQ(result.outcome, RepairOutcome::kRefused);
  EXPECT_EQ(result.refusal,
            "an in-place repair cannot insert bytes: a new header must be "
            "written in front of the audio");

  const Lie unfinished = lies()[0];
  const RepairPlan plan = planOf(unfinished.file);
  Bytes grown = unfinished.file;
  grown.insert(grown.end(), 4, 0x80);
  fs.put(kPath, grown);
  result = applyRepair(kPath, plan, services);
  EXPECT_EQ(result.outcome, RepairOutcome::kRefused);
  EXPECT_EQ(result.refusal, "the file has changed since the repair was planned");
  EXPECT_EQ(*fs.get(kPath), grown);
}

TEST(RepairPlanTest, GivenFormatsAreReadExactlyOrRefused) {
  std::string error;
  EXPECT_EQ(parseGivenFormat("44100:2:16", error), (GivenFormat{44100, 2, 16, false}));
  EXPECT_EQ(parseGivenFormat("96000:6:64:float", error), (GivenFormat{96000, 6, 64, true}));
  for (const char* bad : {"44100:2", "44100:2:12", "0:2:16", "44100:0:16", "44100:2:16:pcm",
                          "44100:2:24:float", "x:2:16", "44100:2:16:float:x"}) {
    error.clear();
    EXPECT_FALSE(parseGivenFormat(bad, error)) << bad;
    EXPECT_EQ(error.rfind("--format", 0), 0u) << bad;
  }
}

TEST(RepairPlanTest, TheReportLineStatesWhatFollowsTheEmptyDataChunk) {
  WavShape s = shapeOf(2, 16, 3000);
  s.dataSize = 0;
  EXPECT_EQ(repairReportLine(planOf(buildWav(s)), "\n"),
            "The data chunk declares 0 bytes, but 12,000 bytes of audio follow it: it can be "
            "repaired (rilmaton-cli repair, or Repair\u2026 in the window).\n");
  EXPECT_EQ(repairReportLine(planOf(buildWav(shapeOf(2, 16, 3000))), "\n"), "");
  EXPECT_EQ(groupedNumber(210763776), "210,763,776");
  EXPECT_EQ(groupedNumber(999), "999");
}

}  // namespace
}  // namespace ril
