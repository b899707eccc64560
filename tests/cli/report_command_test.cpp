// rilmaton-cli report, run as a program: what goes to stdout and stderr, and
// the exit status a script reads.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "support/format_files.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::CommandResult;
using test::WavShape;

CommandResult report(const std::vector<std::string>& files) {
  std::string command = "'" + test::builtProgram("rilmaton-cli") + "' report";
  for (const std::string& f : files) command += " '" + f + "'";
  return test::runCommand(command);
}

Bytes wav(int bits, std::int16_t formatTag = 1, const std::string& firstChunk = "") {
  WavShape s;
  s.bitsPerSample = static_cast<std::int16_t>(bits);
  s.formatTag = formatTag;
  if (!firstChunk.empty()) s.firstChunks = {{firstChunk, Bytes(28, 0)}};
  s.data = Bytes(48, 0x40);
  return test::buildWav(s);
}

TEST(ReportCommandTest, ExitStatusAndStderrTellAScriptWhichFilesFailedAndWhy) {
  test::TempDir dir;
  const std::string good = dir.file("good.wav"), junk = dir.file("junk.wav");
  test::writeFile(good, wav(16));
  test::writeFile(junk, wav(16, 1, "JUNK"));
  const CommandResult ok = report({good});
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.err, "");
  const CommandResult warned = report({junk});
  EXPECT_EQ(warned.status, 0);
  const std::string junkFinding =
      "A 'JUNK' chunk comes before the format chunk, keeping room for a larger header; the file "
      "is read correctly. (WAVEJUNK)\n";
  EXPECT_EQ(warned.err, "warning: " + junkFinding);
  EXPECT_EQ(warned.out.find("WAVEJUNK"), std::string::npos);

  const std::string missing = dir.file("missing.wav");
  const std::string cannotRead = "Cannot read the file: File not found (error 53)\n";
  const CommandResult alone = report({missing});
  EXPECT_EQ(alone.status, 1);
  EXPECT_EQ(alone.out, "");
  EXPECT_EQ(alone.err, "error: " + cannotRead);
  const CommandResult two = report({junk, missing});
  EXPECT_EQ(two.err, junk + ": warning: " + junkFinding + missing + ": error: " + cannotRead);
  // Several files: each report after a line naming its file, the unreadable one too.
  EXPECT_EQ(test::withoutTimes(two.out),
            "== " + junk + "\n" + test::withoutTimes(warned.out) + "== " + missing + "\n");

  const std::string text = "Notes on the data of my recordings, not a sound.";
  Bytes noData = wav(16);
  noData.resize(36);
  const std::vector<std::pair<std::string, Bytes>> bad = {
      {"empty.wav", {}},
      {"text.wav", Bytes(text.begin(), text.end())},
      {"song.mp3.wav", Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 0xFF, 0xFB, 0x90, 0x64}},
      {"adpcm.wav", wav(4, 2)},
      {"mpeg.wav", wav(0, 0x55)},
      {"nodata.wav", noData},
  };
  for (const auto& [name, bytes] : bad) {
    SCOPED_TRACE(name);
    test::writeFile(dir.file(name), bytes);
    const CommandResult r = report({dir.file(name), good});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(dir.file(name) + ": error: "), std::string::npos);
    // The files after it are still reported.
    EXPECT_NE(r.out.find("Filename:\t" + good), std::string::npos);
    EXPECT_NE(r.out.find("Volume of original data"), std::string::npos);
  }
  const std::string notWave =
      "This file cannot be analysed: it is not a WAV file: it does not begin with a RIFF, RF64 or "
      "RIFX header of form WAVE.\n";
  EXPECT_NE(report({dir.file("text.wav")}).out.find("Filelength:\t0.000 MB\n" + notWave),
            std::string::npos);
  EXPECT_NE(report({dir.file("song.mp3.wav")}).out.find("it is not a WAV file but an MP3 file.\n"),
            std::string::npos);
}

TEST(ReportCommandTest, JsonGivesAStableCodeBesideTheReasonForEachKindOfFailure) {
  test::TempDir dir;
  const std::string text = "Notes on the data of my recordings, not a sound.";
  Bytes noData = wav(16);
  noData.resize(36);
  WavShape silent;
  const Bytes noFrames = test::buildWav(silent);
  const std::vector<std::pair<std::string, Bytes>> bad = {
      {"empty", {}},
      {"not-wav", Bytes(text.begin(), text.end())},
      {"unsupported-format", wav(16, 0x55)},
      {"no-data-chunk", noData},
      {"no-samples", noFrames},
  };
  const std::string cli = "'" + test::builtProgram("rilmaton-cli") + "' report --json ";
  for (const auto& [code, bytes] : bad) {
    SCOPED_TRACE(code);
    test::writeFile(dir.file(code + ".wav"), bytes);
    const CommandResult r = test::runCommand(cli + "'" + dir.file(code + ".wav") + "'");
    EXPECT_EQ(r.status, 1);
    const nlohmann::json j = nlohmann::json::parse(r.out);
    EXPECT_FALSE(j["reason"].get<std::string>().empty());
    EXPECT_EQ(j["reasonCode"], code);
  }
  const CommandResult missing = test::runCommand(cli + "'" + dir.file("missing.wav") + "'");
  EXPECT_EQ(nlohmann::json::parse(missing.out)["reasonCode"], "unreadable");
  test::writeFile(dir.file("good.wav"), wav(16));
  const nlohmann::json good =
      nlohmann::json::parse(test::runCommand(cli + "'" + dir.file("good.wav") + "'").out);
  EXPECT_FALSE(good.contains("reasonCode"));
}

TEST(ReportCommandTest, JsonDescribesEverySampleFormatOnItsOwnScale) {
  test::TempDir dir;
  struct Case {
    test::FormatCase format;
    const char* sampleFormat;
    int validBits;
    double fullScale;
    const char* byteOrder;
  };
  const Case cases[] = {
      {{"24 bit", 1, 24, 2, 48000}, "pcm", 24, 8388608.0, "little"},
      {{"24 bit (20 valid)", -2, 24, 6, 48000, 20, 0x3F, 1}, "pcm", 20, 8388608.0, "little"},
      {{"32 bit float", 3, 32, 1, 44100, 0, 0, 0, true}, "float", 32, 1.0, "big"},
      {{"8 bit µ-law", 7, 8, 1, 8000}, "mulaw", 8, 32768.0, "little"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format.words);
    const Bytes samples = test::formatSamples(c.format, 4000, 9);
    test::writeFile(dir.file("f.wav"), test::formatFile(c.format, samples));
    const CommandResult r = test::runCommand("'" + test::builtProgram("rilmaton-cli") +
                                             "' report --json '" + dir.file("f.wav") + "'");
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    const nlohmann::json& f = j["format"];
    EXPECT_EQ(f["sampleFormat"], c.sampleFormat);
    EXPECT_EQ(f["validBitsPerSample"], c.validBits);
    EXPECT_EQ(f["fullScale"], c.fullScale);
    EXPECT_EQ(f["byteOrder"], c.byteOrder);
    if (c.format.mask == 0) {
      EXPECT_TRUE(f["channelMask"].is_null());
    } else {
      EXPECT_EQ(f["channelMask"], c.format.mask);
    }
    ASSERT_EQ(j["channels"].size(), static_cast<std::size_t>(c.format.channels));
    const nlohmann::json& first = j["channels"][0];
    // Integers as stored, float as values; the percentages of full scale.
    EXPECT_EQ(first["min"].is_number_integer(), c.format.tag != 3);
    EXPECT_DOUBLE_EQ(first["maxPercent"].get<double>(),
                     first["max"].get<double>() / c.fullScale * 100.0);
  }
}

TEST(ReportCommandTest, ThreadsShareTheWorkWithoutChangingTheReport) {
  test::TempDir dir;
  WavShape s;
  std::uint32_t noise = 1;
  for (int i = 0; i < 2 * 300000; ++i) {
    noise = noise * 1664525u + 1013904223u;
    test::putLe16(s.data, static_cast<std::uint16_t>(noise >> 16));
  }
  const std::string file = dir.file("noise.wav");
  test::writeFile(file, test::buildWav(s));
  const std::string cli = "'" + test::builtProgram("rilmaton-cli") + "' report ";
  const CommandResult one = test::runCommand(cli + "--threads 1 '" + file + "'");
  EXPECT_EQ(one.status, 0);
  for (const char* threads : {"--threads 2 ", "--threads=3 ", ""}) {
    const CommandResult r = test::runCommand(cli + threads + "'" + file + "'");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(test::withoutTimes(r.out), test::withoutTimes(one.out)) << threads;
  }
  for (const char* bad : {"--threads 0 ", "--threads 65 ", "--threads two "}) {
    const CommandResult r = test::runCommand(cli + bad + "'" + file + "'");
    EXPECT_EQ(r.status, 2) << bad;
    EXPECT_NE(r.err.find("--threads needs a number from 1 to 64"), std::string::npos) << bad;
  }
}

TEST(ReportCommandTest, SeveralTextReportsEachComeAfterTheirFilesNameEscaped) {
  test::TempDir dir;
  const std::string odd = dir.file("odd\nname.wav"), good = dir.file("good.wav");
  test::writeFile(odd, wav(16));
  test::writeFile(good, wav(16));
  const std::string cli = "'" + test::builtProgram("rilmaton-cli") + "' report --no-times ";
  const std::string alone = test::runCommand(cli + "'" + good + "'").out;
  EXPECT_EQ(alone.find("== "), std::string::npos);
  const CommandResult both = test::runCommand(cli + "'" + odd + "' '" + good + "'");
  const std::string oddShown = dir.file("odd\\nname.wav");
  const std::size_t second = both.out.find("== " + good + "\n");
  ASSERT_NE(second, std::string::npos) << both.out;
  EXPECT_EQ(both.out.rfind("== " + oddShown + "\nFilename:\t" + oddShown + "\n", 0), 0u);
  EXPECT_EQ(both.out.substr(second), "== " + good + "\n" + alone);
  const CommandResult crlf = test::runCommand(cli + "--crlf '" + good + "' '" + good + "'");
  EXPECT_EQ(crlf.out.rfind("== " + good + "\r\nFilename:", 0), 0u);
}

TEST(ReportCommandTest, EveryCommandNamesABadOptionInOneLineAndPointsToTheHelp) {
  const std::string cli = "'" + test::builtProgram("rilmaton-cli") + "' ";
  const std::string tryHelp = "Try 'rilmaton-cli --help'.\n";
  for (const std::string command : {"report", "modify", "repair", "cue"}) {
    SCOPED_TRACE(command);
    const CommandResult unknown = test::runCommand(cli + command + " --frobnicate x.wav");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err,
              "rilmaton-cli " + command + ": unknown option '--frobnicate'\n" + tryHelp);
    EXPECT_EQ(unknown.out, "");
  }
  const std::vector<std::pair<std::string, std::string>> missing = {
      {"report --threads", "report: --threads needs a number"},
      {"modify --volume", "modify: --volume needs a PERCENT"},
      {"modify --deemphasis --cue", "modify: --cue needs a cue sheet"},
      {"repair --format", "repair: --format needs "}};
  for (const auto& [args, line] : missing) {
    SCOPED_TRACE(args);
    const CommandResult r = test::runCommand(cli + args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("rilmaton-cli " + line, 0), 0u) << r.err;
    EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), tryHelp);
  }
  const CommandResult command = test::runCommand(cli + "frobnicate");
  EXPECT_EQ(command.status, 2);
  EXPECT_EQ(command.err, "rilmaton-cli: unknown command 'frobnicate'\n" + tryHelp);
}

TEST(ReportCommandTest, PrintsTheMonoExampleExactlyWithTheLoudnessBlockAfterIt) {
  const std::string cli = test::builtProgram("rilmaton-cli");
  test::TempDir dir;
  test::WavShape shape;
  shape.channels = 1;
  shape.data = test::pcm16({0, 16384, -16384, 0});
  const std::string file = dir.file("example.wav");
  test::writeFile(file, test::buildWav(shape));
  const std::string expected =
      "Filename:\t" + file +
      "\r\n"
      "Filelength:\t0.000 MB\r\n"
      "Nr of channels:\t1 (Mono)\r\n"
      "Sample frequ.:\t44100 Hz\r\n"
      "Resolution:\t16 bit\r\n"
      "Length of file:\t00:00 (Min:Sec)\r\n"
      "Channel\tMin\t@ sec.\tMax\t@ sec.\tAvg\tRms\r\n"
      "1\t-50.00%\t0.000\t50.00%\t0.000\t0.00%\t35.36%\r\n"
      "\r\n"
      "After application of De-emphasis:\r\n"
      "Channel\tMin\t@ sec.\tMax\t@ sec.\tAvg\tRms\r\n"
      "1\t-7.84%\t0.000\t24.70%\t0.000\t3.19%\t13.12%\r\n"
      "\r\n"
      "Calculation time = T sec.\r\n"
      "\r\n"
      "Volume of original data may be increased by up to 190.0%\r\n"
      "Volume of original data with de-emphasis may be increased by up to 404.8%\r\n";
  const test::CommandResult plain =
      test::runCommand("'" + cli + "' report --crlf --no-loudness '" + file + "'");
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_EQ(test::withoutTimes(plain.out), expected);
  // --no-times: the same lines but the calculation time, so two runs compare equal.
  const test::CommandResult timeless =
      test::runCommand("'" + cli + "' report --crlf --no-loudness --no-times '" + file + "'");
  std::string expectedTimeless = expected;
  expectedTimeless.erase(expectedTimeless.find("Calculation time"), 27);
  EXPECT_EQ(timeless.out, expectedTimeless);
  // With the loudness block after the same lines: four samples are too short for any loudness.
  const test::CommandResult r = test::runCommand("'" + cli + "' report --crlf '" + file + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string out = test::withoutTimes(r.out);
  EXPECT_EQ(out.substr(0, expected.size()), expected);
  EXPECT_EQ(
      out.substr(expected.size())
          .rfind("\r\nLoudness (ITU-R BS.1770-4):\r\nIntegrated loudness\tnone (too short)\r\n"
                 "Loudness range\tnone (too short)\r\nTrue peak\t",
                 0),
      0u)
      << out;
}

}  // namespace
}  // namespace ril
