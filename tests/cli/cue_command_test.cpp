// rilmaton-cli cue, run as a program on a rip made in the test.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace ril {
namespace {

using test::CommandResult;
using test::TempDir;

CommandResult cue(const std::string& args) {
  return test::runCommand("'" + test::builtProgram("rilmaton-cli") + "' cue " + args +
                          " </dev/null");
}

test::Bytes wav(int channels, int bits, std::int32_t rate, std::size_t frames) {
  test::WavShape s;
  s.channels = static_cast<std::int16_t>(channels);
  s.bitsPerSample = static_cast<std::int16_t>(bits);
  s.sampleRate = rate;
  s.data = test::Bytes(frames * channels * bits / 8, 0x40);
  return test::buildWav(s);
}

void writeText(const std::string& path, const std::string& text) {
  test::writeFile(path, test::Bytes(text.begin(), text.end()));
}

// An image of 3 s and 100 frames, a 48 kHz bonus file and one that is missing.
class CueCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::writeFile(dir.file("Disc 1.wav"), wav(2, 16, 44100, 3 * 44100 + 100));
    test::writeFile(dir.file("bonus.wav"), wav(1, 8, 48000, 500));
    writeText(sheet,
              "\xEF\xBB\xBFPERFORMER \"Someone\"\r\n"
              "FILE \"Disc 1.wav\" WAVE\r\n"
              "  TRACK 01 AUDIO\r\n"
              "    INDEX 01 00:00:00\r\n"
              "  TRACK 02 AUDIO\r\n"
              "    FLAGS PRE\r\n"
              "    INDEX 00 00:01:00\r\n"
              "    INDEX 01 00:01:10\r\n"
              "  TRACK 03 AUDIO\r\n"
              "    FLAGS DCP PRE\r\n"
              "    INDEX 01 00:02:00\r\n"
              "FILE bonus.wav WAVE\r\n"
              "  TRACK 04 AUDIO\r\n"
              "    INDEX 01 00:00:00\r\n"
              "    LYRICS none\r\n"
              "FILE \"missing.wav\" WAVE\r\n"
              "  TRACK 05 AUDIO\r\n"
              "    INDEX 01 00:00:00\r\n");
  }
  TempDir dir;
  std::string sheet = dir.file("album.cue");
};

TEST_F(CueCommandTest, ListsTracksAndWhichFilesCanBeModified) {
  const CommandResult r = cue("'" + sheet + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "Track  Mode   File         First frame  Frames  Flags\n"
            "01     AUDIO  Disc 1.wav   0            44100\n"
            "02     AUDIO  Disc 1.wav   44100        44100   PRE\n"
            "03     AUDIO  Disc 1.wav   88200        44200   DCP PRE\n"
            "04     AUDIO  bonus.wav    0            ?\n"
            "05     AUDIO  missing.wav  0            ?\n"
            "\n"
            "Disc 1.wav: WAVE, 2 channels, 44100 Hz, 16 bits, 132400 frames; can be modified\n"
            "bonus.wav: WAVE, 1 channel, 48000 Hz, 8 bits, 500 frames; cannot be modified: "
            "48000 Hz, not 44100 Hz\n"
            "missing.wav: WAVE; cannot be modified: File not found\n");
  EXPECT_EQ(r.err, "warning: " + sheet + ":15: unknown command LYRICS, kept as it stands\n");
}

TEST_F(CueCommandTest, AFileOfAnotherKindIsNamedWithoutFiguresMadeFromItsBytes) {
  test::Bytes flac = {'f', 'L', 'a', 'C', 0, 0, 0, 0x22, 0x10, 0, 0x10, 0};
  flac.resize(4000, 0x5A);
  test::writeFile(dir.file("tune.wav"), flac);
  const std::string other = dir.file("other.cue");
  writeText(other, "FILE \"tune.wav\" WAVE\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n");
  const CommandResult r = cue("'" + other + "'");
  EXPECT_NE(r.out.find("\ntune.wav: WAVE; cannot be modified: it is not a WAV file but a FLAC "
                       "file.\n"),
            std::string::npos)
      << r.out;
  const nlohmann::json files = nlohmann::json::parse(cue("--json '" + other + "'").out)["files"];
  ASSERT_EQ(files.size(), 1u);
  EXPECT_TRUE(files[0]["channels"].is_null());
  EXPECT_TRUE(files[0]["sampleRate"].is_null());
  EXPECT_EQ(files[0]["reasonCode"], "not-wav");

  // report --json: no format at all.
  const CommandResult json = test::runCommand("'" + test::builtProgram("rilmaton-cli") +
                                              "' report --json '" + dir.file("tune.wav") + "'");
  const nlohmann::json report = nlohmann::json::parse(json.out);
  EXPECT_TRUE(report["format"].is_null());
  EXPECT_EQ(report["reason"],
            "This file cannot be analysed: it is not a WAV file but a FLAC file.");
}

TEST_F(CueCommandTest, JsonHoldsTheSameFacts) {
  const CommandResult r = cue("--json '" + sheet + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json doc = nlohmann::json::parse(r.out);
  EXPECT_EQ(doc["sheet"], sheet);
  // Keys in camelCase, as report --json writes them.
  const nlohmann::json flat = doc.flatten();
  for (auto it = flat.begin(); it != flat.end(); ++it) {
    EXPECT_EQ(it.key().find('_'), std::string::npos) << it.key();
  }
  ASSERT_EQ(doc["tracks"].size(), 5u);
  const nlohmann::json& three = doc["tracks"][2];
  EXPECT_EQ(three["number"], 3);
  EXPECT_EQ(three["flags"], nlohmann::json({"DCP", "PRE"}));
  EXPECT_EQ(three["preEmphasis"], true);
  EXPECT_EQ(three["file"], "Disc 1.wav");
  EXPECT_EQ(three["firstFrame"], 88200);
  EXPECT_EQ(three["frameCount"], 44200);
  EXPECT_EQ(doc["tracks"][1]["indexes"][1]["frame"], 44100 + 10 * 588);
  EXPECT_EQ(doc["tracks"][1]["indexes"][1]["time"], "00:01:10");
  EXPECT_TRUE(doc["tracks"][3]["frameCount"].is_null());
  const nlohmann::json& files = doc["files"];
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0]["path"], dir.file("Disc 1.wav"));
  EXPECT_EQ(files[0]["frames"], 3 * 44100 + 100);
  EXPECT_EQ(files[0]["modifiable"], true);
  EXPECT_EQ(files[1]["sampleRate"], 48000);
  EXPECT_EQ(files[1]["bitsPerSample"], 8);
  EXPECT_EQ(files[1]["reason"], "48000 Hz, not 44100 Hz");
  EXPECT_EQ(files[1]["reasonCode"], "not-44100-hz");
  EXPECT_TRUE(files[2]["channels"].is_null());
  EXPECT_EQ(files[2]["reason"], "File not found");
  EXPECT_EQ(files[2]["reasonCode"], "unreadable");
  EXPECT_TRUE(files[0]["reasonCode"].is_null());
  EXPECT_EQ(doc["notes"].size(), 1u);
}

TEST_F(CueCommandTest, MalformedSheetsAndUsageErrorsExitAsDocumented) {
  writeText(dir.file("bad.cue"), "FILE a.wav WAVE\n  TRACK 01 AUDIO\n    INDEX 01 03:75:00\n");
  const CommandResult bad = cue("--json '" + dir.file("bad.cue") + "'");
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, "");
  EXPECT_EQ(bad.err, "rilmaton-cli cue: " + dir.file("bad.cue") +
                         ":3: bad time 03:75:00 (mm:ss:ff, with seconds below 60 and frames "
                         "below 75)\n");
  EXPECT_EQ(cue("'" + dir.file("none.cue") + "'").status, 1);
  // A device never ends, and a pipe nobody writes to would be waited on.
  ASSERT_EQ(::mkfifo(dir.file("pipe.cue").c_str(), 0600), 0);
  for (const std::string& irregular : {std::string("/dev/zero"), dir.file("pipe.cue")}) {
    const CommandResult r = cue("'" + irregular + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "rilmaton-cli cue: " + irregular + ": not a regular file\n");
  }
  for (const std::string& args : {std::string(""), "--frobnicate '" + sheet + "'",
                                  "'" + sheet + "' '" + sheet + "'", "--json=1 '" + sheet + "'"}) {
    SCOPED_TRACE(args);
    const CommandResult r = cue(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("rilmaton-cli cue: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "Try 'rilmaton-cli --help'.\n");
  }
  EXPECT_EQ(cue("--help").status, 0);
}

}  // namespace
}  // namespace ril
