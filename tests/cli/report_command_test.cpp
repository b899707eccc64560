// rilmaton-cli report, run as a program: what goes to stdout and stderr, and
// the exit status a script reads.
#include <gtest/gtest.h>

#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::CommandResult;
using test::TempDir;
using test::WavShape;

CommandResult report(const std::vector<std::string>& files) {
  std::string command = "'" + test::builtProgram("rilmaton-cli") + "' report";
  for (const std::string& f : files) command += " '" + f + "'";
  return test::runCommand(command);
}

Bytes wav(int bits, std::int16_t formatTag = 1) {
  WavShape s;
  s.bitsPerSample = static_cast<std::int16_t>(bits);
  s.formatTag = formatTag;
  s.data = Bytes(48, 0x40);
  return test::buildWav(s);
}

TEST(ReportCommandTest, ExitsWithZeroOnlyWhenEveryFileWasAnalysed) {
  TempDir dir;
  const std::string good = dir.file("good.wav");
  test::writeFile(good, wav(16));
  CommandResult ok = report({good});
  EXPECT_EQ(ok.status, 0);
  EXPECT_NE(ok.out.find("Volume of original data may be increased"), std::string::npos);
  EXPECT_EQ(ok.err, "");

  Bytes noData = wav(16);
  noData.resize(36);
  const std::string text = "just some text, not a sound";
  const std::vector<std::pair<std::string, Bytes>> bad = {
      {"empty.wav", {}},
      {"text.wav", Bytes(text.begin(), text.end())},
      {"song.mp3.wav", Bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0, 0xFF, 0xFB, 0x90, 0x64}},
      {"float.wav", wav(32, 3)},
      {"wide.wav", wav(24)},
      {"nodata.wav", noData},
      {"missing.wav", {}},
  };
  for (const auto& [name, bytes] : bad) {
    SCOPED_TRACE(name);
    if (name != "missing.wav") test::writeFile(dir.file(name), bytes);
    CommandResult r = report({dir.file(name)});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("error: "), std::string::npos);
    // Every file is still reported, in order.
    CommandResult both = report({dir.file(name), good});
    EXPECT_EQ(both.status, 1);
    const std::size_t at = both.out.find("Filename:\t" + good);
    ASSERT_NE(at, std::string::npos);
    EXPECT_NE(both.out.find("Volume of original data", at), std::string::npos);
  }
}

TEST(ReportCommandTest, ErrorsAndWarningsGoToStderrNamingTheFileWhenThereAreSeveral) {
  TempDir dir;
  const std::string missing = dir.file("missing.wav");
  CommandResult alone = report({missing});
  EXPECT_EQ(alone.out, "");
  EXPECT_EQ(alone.err, "error: Cannot read the file: File not found (error 53)\n");

  WavShape junkFirst;
  junkFirst.firstChunks.push_back({"JUNK", Bytes(28, 0)});
  junkFirst.data = test::pcm16({1, 2});
  const std::string junk = dir.file("junk.wav");
  test::writeFile(junk, test::buildWav(junkFirst));
  CommandResult one = report({junk});
  EXPECT_EQ(one.status, 0);
  EXPECT_EQ(one.err, "warning: WAVEJUNK\n");
  EXPECT_EQ(one.out.find("WAVEJUNK"), std::string::npos);

  CommandResult two = report({junk, missing});
  EXPECT_EQ(two.status, 1);
  EXPECT_EQ(two.err, junk + ": warning: WAVEJUNK\n" + missing +
                         ": error: Cannot read the file: File not found (error 53)\n");
  EXPECT_EQ(two.out, one.out);
}

TEST(ReportCommandTest, AFileThatIsNotAWaveFileSaysWhyInItsReport) {
  TempDir dir;
  const std::string notes = dir.file("notes.wav");
  const std::string text = "These notes hold the word data but no sound.";
  test::writeFile(notes, Bytes(text.begin(), text.end()));
  CommandResult r = report({notes});
  EXPECT_EQ(r.status, 1);
  const std::string line =
      "This file cannot be analysed: it is not a WAV file: it does not begin with a RIFF or RF64 "
      "header of form WAVE.\n";
  EXPECT_NE(r.out.find("No data chuk found!\n" + line), std::string::npos);
  EXPECT_NE(r.err.find("error: " + line), std::string::npos);
}

}  // namespace
}  // namespace ril
