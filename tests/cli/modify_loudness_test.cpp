// rilmaton-cli modify --loudness, run as a program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <numbers>

#include "core/analysis/loudness.h"
#include "support/analysed_file.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::CommandResult;
using test::TempDir;

CommandResult modify(const std::string& args) {
  return test::runCommand("'" + test::builtProgram("rilmaton-cli") + "' modify " + args +
                          " </dev/null");
}

// `seconds` of 44.1 kHz stereo: a tone of `hz` at `amplitude`, from `phase`
// (the right channel at half of it).
Bytes toneFile(double hz, double amplitude, double phase, double seconds) {
  std::vector<std::int16_t> s;
  for (int i = 0; i < std::lround(44100 * seconds); ++i) {
    const double v = amplitude * std::sin(2 * std::numbers::pi * hz * i / 44100.0 + phase);
    s.push_back(static_cast<std::int16_t>(std::lround(v)));
    s.push_back(static_cast<std::int16_t>(std::lround(v * 0.5)));
  }
  test::WavShape shape;
  shape.channels = 2;
  shape.bitsPerSample = 16;
  shape.sampleRate = 44100;
  shape.data = test::pcm16(s);
  return test::buildWav(shape);
}

// Four seconds of a quiet tone (about -21 LUFS) with 20 ms at a quarter of
// the sample rate at 45 degrees in the middle: every sample of it at 29000,
// the waveform between them at 29000 x sqrt(2), +2 dBTP.
Bytes oversFile() {
  Bytes file = toneFile(997, 3000, 0, 4);
  const std::int16_t overs[4] = {29000, 29000, -29000, -29000};
  for (int i = 88200; i < 89082; ++i) {
    for (int c = 0; c < 2; ++c) {
      const auto word = static_cast<std::uint16_t>(overs[i % 4]);
      file[44 + 4 * i + 2 * c] = static_cast<unsigned char>(word & 0xff);
      file[45 + 4 * i + 2 * c] = static_cast<unsigned char>(word >> 8);
    }
  }
  return file;
}

// The percentage of the "Loudness gain: G dB (P%)" line.
std::string gainPercent(const std::string& out) {
  const std::size_t line = out.find("Loudness gain: ");
  const std::size_t open = out.find(" dB (", line), close = out.find("%)", open);
  if (line == std::string::npos || open == std::string::npos || close == std::string::npos) {
    return "none in: " + out;
  }
  return out.substr(open + 5, close - open - 5);
}

LoudnessFigures figuresOf(const std::string& path) {
  const test::AnalysedFile f = test::analyseFile(path);
  EXPECT_TRUE(f.analysed() && f.result.loudness);
  return f.analysed() && f.result.loudness ? loudnessFigures(*f.result.loudness)
                                           : LoudnessFigures{};
}

TEST(ModifyLoudnessTest, OutputIsBitForBitTheVolumeOfTheGainItStates) {
  TempDir dir;
  test::writeFile(dir.file("in.wav"), toneFile(997, 8000, 0, 3));
  for (const std::string extra : {"", "--deemphasis "}) {
    SCOPED_TRACE(extra);
    const CommandResult r =
        modify(extra + "--loudness -20 --output " + dir.file("a.wav") + " " + dir.file("in.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string percent = gainPercent(r.out);
    const CommandResult v = modify(extra + "--volume " + percent + " --output " +
                                   dir.file("b.wav") + " " + dir.file("in.wav"));
    ASSERT_EQ(v.status, 0) << v.err;
    EXPECT_EQ(test::readFile(dir.file("a.wav")), test::readFile(dir.file("b.wav")));
    EXPECT_NEAR(*figuresOf(dir.file("a.wav")).integratedLufs.value, -20.0, 0.02);
  }
}

TEST(ModifyLoudnessTest, TruePeakLimitHoldsOnInterSampleOvers) {
  TempDir dir;
  test::writeFile(dir.file("in.wav"), oversFile());
  const LoudnessFigures before = figuresOf(dir.file("in.wav"));
  ASSERT_GT(*before.truePeakDbtp.value, 1.9);  // over full scale between the samples
  for (const double limit : {-1.0, -3.0}) {
    const CommandResult r = modify("--loudness -10 --true-peak-limit " + std::to_string(limit) +
                                   " --output " + dir.file("out.wav") + " " + dir.file("in.wav"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(", limited by the true peak of " +
                         std::string(limit == -1.0 ? "-1.0" : "-3.0") + " dBTP\n"),
              std::string::npos)
        << r.out;
    const LoudnessFigures after = figuresOf(dir.file("out.wav"));
    // At the limit but for the output's rounding to 16 bits, and within a step of 0.1 %.
    EXPECT_LE(*after.truePeakDbtp.value, limit + 1e-3);
    EXPECT_GT(*after.truePeakDbtp.value, limit - 0.01);
  }
}

TEST(ModifyLoudnessTest, AlbumGetsOneGainFromItsFilesGatedTogether) {
  TempDir dir;
  test::writeFile(dir.file("loud.wav"), toneFile(997, 20000, 0, 5));
  test::writeFile(dir.file("quiet.wav"), toneFile(997, 1000, 0, 5));  // 26 dB down: gated out
  ASSERT_NE(::mkdir(dir.file("out").c_str(), 0755), -1);
  const CommandResult a = modify("--album --loudness -10 --output-dir " + dir.file("out") + " " +
                                 dir.file("loud.wav") + " " + dir.file("quiet.wav"));
  ASSERT_EQ(a.status, 0) << a.err;
  EXPECT_NE(a.out.find("Album loudness: "), std::string::npos) << a.out;
  const std::string percent = gainPercent(a.out);
  // The quiet file keeps its distance: it is not raised to the target on its own.
  EXPECT_NEAR(*figuresOf(dir.file("out/loud.wav")).integratedLufs.value, -10.0, 0.03);
  EXPECT_LT(*figuresOf(dir.file("out/quiet.wav")).integratedLufs.value, -35.0);
  for (const std::string name : {"loud.wav", "quiet.wav"}) {
    const CommandResult v =
        modify("--volume " + percent + " --output " + dir.file("v.wav") + " " + dir.file(name));
    ASSERT_EQ(v.status, 0) << v.err;
    EXPECT_EQ(test::readFile(dir.file("out/" + name)), test::readFile(dir.file("v.wav"))) << name;
  }
}

TEST(ModifyLoudnessTest, NoLoudnessNoGainAndTheFileStaysAsItIs) {
  TempDir dir;
  test::writeFile(dir.file("silent.wav"), toneFile(997, 0, 0, 2));
  test::writeFile(dir.file("short.wav"), toneFile(997, 8000, 0, 0.3));
  for (const auto& [name, why] :
       {std::pair{"silent.wav", "below the gate"}, std::pair{"short.wav", "too short"}}) {
    const CommandResult r = modify("--loudness -23 " + dir.file(name));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(
        r.err.find(dir.file(name) + ": no loudness to normalise to: " + why + "; not modified"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(r.out.find("Loudness gain"), std::string::npos);
  }
  EXPECT_EQ(test::listDirectory(dir.path()), (std::vector<std::string>{"short.wav", "silent.wav"}));
  EXPECT_EQ(test::readFile(dir.file("silent.wav")), toneFile(997, 0, 0, 2));
  const CommandResult album =
      modify("--album --loudness -23 " + dir.file("silent.wav") + " " + dir.file("short.wav"));
  EXPECT_EQ(album.status, 1);
  EXPECT_NE(album.err.find("no file modified: the album has no loudness to normalise to: below "
                           "the gate."),
            std::string::npos)
      << album.err;
  for (const char* args :
       {"--loudness -23 --volume 50 ", "--loudness -23 --maximize ", "--true-peak-limit -1 ",
        "--loudness abc ", "--loudness 3 ", "--loudness -23 --true-peak-limit 1 "}) {
    SCOPED_TRACE(args);
    EXPECT_EQ(modify(std::string(args) + dir.file("silent.wav")).status, 2);
  }
}

}  // namespace
}  // namespace ril
