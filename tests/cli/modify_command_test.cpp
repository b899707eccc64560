// rilmaton-cli modify, run as a program.
#include <gtest/gtest.h>

#include "core/analysis/sample_statistics.h"
#include "core/base/number_format.h"
#include "support/analysed_file.h"
#include "support/modify_test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::CommandResult;
using test::TempDir;
using test::WavShape;

std::string quoted(const std::string& s) {
  return "'" + s + "'";
}

CommandResult modify(const std::string& args) {
  return test::runCommand(quoted(test::builtProgram("rilmaton-cli")) + " modify " + args +
                          " </dev/null");
}

Bytes wav(int channels, int bits, const Bytes& data, std::int32_t rate = 44100) {
  WavShape s;
  s.channels = static_cast<std::int16_t>(channels);
  s.bitsPerSample = static_cast<std::int16_t>(bits);
  s.sampleRate = rate;
  s.data = data;
  s.after = {{"LIST", Bytes(7, 'm')}};
  return test::buildWav(s);
}

// The file with its whole frames replaced.
Bytes withSamples(Bytes file, const Bytes& samples) {
  std::copy(samples.begin(), samples.end(), file.begin() + 44);
  return file;
}

const Bytes kStereo = test::pcm16({1000, -1000, 2000, -3000, 12000, -16384, 7, 8});

TEST(ModifyCommandTest, UsageErrorsExitWithTwo) {
  TempDir dir;
  std::string f = dir.file("a.wav");
  test::writeFile(f, wav(2, 16, kStereo));
  for (const std::string& args :
       {std::string(""), "--maximize --volume 150 " + f, "--output x.wav --in-place " + f,
        "--frobnicate " + f, "--volume abc " + f, f + " " + f, std::string("--volume")}) {
    SCOPED_TRACE(args);
    CommandResult r = modify(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Usage: rilmaton-cli modify"), std::string::npos);
  }
  EXPECT_EQ(test::readFile(f), wav(2, 16, kStereo));
  CommandResult help = modify("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--deemphasis"), std::string::npos);
}

TEST(ModifyCommandTest, OutputOptionWritesTheResultAndLeavesTheInput) {
  TempDir dir;
  Bytes file = wav(2, 16, kStereo);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r = modify("--volume 150 --output " + quoted(dir.file("b.wav")) + " " +
                           quoted(dir.file("a.wav")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Manipulation time = "), std::string::npos);
  EXPECT_EQ(test::readFile(dir.file("a.wav")), file);
  test::Expected want = test::expectedOutput(kStereo, 2, 16, 1.5, false);
  EXPECT_EQ(test::readFile(dir.file("b.wav")), withSamples(file, want.samples));
  EXPECT_EQ(test::listDirectory(dir.path()), (std::vector<std::string>{"a.wav", "b.wav"}));
}

TEST(ModifyCommandTest, DefaultKeepsTheOriginalAsDotOld) {
  TempDir dir;
  Bytes file = wav(1, 8, test::pcm8({0, 255, 128, 100, 30}), 22050);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r = modify("--volume 50 " + quoted(dir.file("a.wav")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Info: The original file is stored with additional extension .old."),
            std::string::npos);
  EXPECT_EQ(test::readFile(dir.file("a.wav.old")), file);
  test::Expected want = test::expectedOutput(test::pcm8({0, 255, 128, 100, 30}), 1, 8, 0.5, false);
  EXPECT_EQ(test::readFile(dir.file("a.wav")), withSamples(file, want.samples));

  // Again: a.wav.old is in the way now.
  CommandResult again = modify("--volume 50 " + quoted(dir.file("a.wav")));
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(
      again.err.find("File " + dir.file("a.wav") + ".old already exists! Modification cancelled!"),
      std::string::npos);
}

TEST(ModifyCommandTest, InPlaceOverwritesWithoutACopy) {
  TempDir dir;
  Bytes file = wav(2, 16, kStereo);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r = modify("--in-place --deemphasis " + quoted(dir.file("a.wav")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("The original file is overwritten with the modified one!"),
            std::string::npos);
  test::Expected want = test::expectedOutput(kStereo, 2, 16, 1.0, true);
  EXPECT_EQ(test::readFile(dir.file("a.wav")), withSamples(file, want.samples));
  EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::string>{"a.wav"});
}

TEST(ModifyCommandTest, DeemphasisIsRefusedAwayFrom44100Hz) {
  TempDir dir;
  Bytes file = wav(2, 16, kStereo, 48000);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r = modify("--deemphasis --output " + quoted(dir.file("b.wav")) + " " +
                           quoted(dir.file("a.wav")));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("44100 Hz"), std::string::npos);
  EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::string>{"a.wav"});
}

TEST(ModifyCommandTest, VolumeIsHeldBelowTheLargestSafeFactorWithANote) {
  // Peak 16384 from a positive sample: 200% would overflow, 199.9% is safe.
  TempDir dir;
  Bytes samples = test::pcm16({16384, -1000, 5, -5});
  Bytes file = wav(2, 16, samples, 8000);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r = modify("--volume 300 --output " + quoted(dir.file("b.wav")) + " " +
                           quoted(dir.file("a.wav")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("note: volume limited to 199.9%"), std::string::npos) << r.err;
  test::Expected want = test::expectedOutput(samples, 2, 16, 1.999, false);
  EXPECT_EQ(test::readFile(dir.file("b.wav")), withSamples(file, want.samples));

  CommandResult big = modify("--volume 5000 --output " + quoted(dir.file("c.wav")) + " " +
                             quoted(dir.file("a.wav")));
  EXPECT_EQ(big.status, 0);
  EXPECT_NE(big.err.find("range 0% to 1000%"), std::string::npos) << big.err;
}

TEST(ModifyCommandTest, DeemphasisToAnOutputGivesWhatInPlaceGives) {
  // Into --output the modification is tried before the analysis; in place the
  // analysis comes first. A loud square wave clips, so its trial is given up.
  // The edge signal's filtered peak (36408, from 31161s ended by -32761) holds
  // 90% down to 89.9% without a sample clipping at 90%: that trial completes
  // and is given up only then. The quiet signal's trial counts.
  std::vector<std::int16_t> loud, edge, quiet;
  for (int i = 0; i < 3000; ++i) {
    loud.push_back(i % 40 < 20 ? 32000 : -32000);
    loud.push_back(i % 30 < 15 ? -31000 : 31000);
    edge.push_back(static_cast<std::int16_t>(i % 61 == 60 ? -32761 : 31161));
    edge.push_back(static_cast<std::int16_t>(i % 100));
    quiet.push_back(static_cast<std::int16_t>((i * 37) % 2000 - 1000));
    quiet.push_back(static_cast<std::int16_t>((i * 91) % 3000 - 1500));
  }
  struct Case {
    const std::vector<std::int16_t>* samples;
    const char* volume;
    bool limited;
  };
  for (const Case& c : {Case{&loud, "100", true}, Case{&edge, "90", true},
                        Case{&quiet, "100", false}, Case{&quiet, "120", false}}) {
    SCOPED_TRACE(c.volume);
    TempDir dir;
    Bytes file = wav(2, 16, test::pcm16(*c.samples));
    test::writeFile(dir.file("a.wav"), file);
    test::writeFile(dir.file("b.wav"), file);
    const std::string options = std::string("--deemphasis --volume ") + c.volume;
    CommandResult tried = modify(options + " --output " + quoted(dir.file("out.wav")) + " " +
                                 quoted(dir.file("a.wav")));
    CommandResult after = modify(options + " --in-place " + quoted(dir.file("b.wav")));
    ASSERT_EQ(tried.status, 0) << tried.err;
    ASSERT_EQ(after.status, 0) << after.err;
    EXPECT_EQ(test::readFile(dir.file("out.wav")), test::readFile(dir.file("b.wav")));
    EXPECT_EQ(tried.err, after.err);  // the same notes and clipping messages, once
    EXPECT_EQ(tried.err.find("note: volume limited to") != std::string::npos, c.limited)
        << tried.err;
    EXPECT_EQ(test::listDirectory(dir.path()),
              (std::vector<std::string>{"a.wav", "b.wav", "out.wav"}));
  }
}

TEST(ModifyCommandTest, EightBitMaximizeReachesFullScaleWithoutOverflow) {
  TempDir dir;
  Bytes samples = test::pcm8({128, 200, 90, 128});  // loudest: +72
  Bytes file = wav(1, 8, samples, 8000);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r =
      modify("--maximize --output " + quoted(dir.file("b.wav")) + " " + quoted(dir.file("a.wav")));
  ASSERT_EQ(r.status, 0) << r.err;
  Bytes out = test::readFile(dir.file("b.wav"));
  EXPECT_EQ(out[45], 255);
}

TEST(ModifyCommandTest, FilesThatCannotBeModifiedExitWithOne) {
  TempDir dir;
  WavShape s;
  s.bitsPerSample = 24;
  s.data = Bytes(60, 1);
  Bytes file = test::buildWav(s);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r = modify("--volume 50 " + quoted(dir.file("a.wav")));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Modification cancelled!"), std::string::npos) << r.err;
  EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::string>{"a.wav"});
  EXPECT_EQ(test::readFile(dir.file("a.wav")), file);

  CommandResult missing = modify("--volume 50 " + quoted(dir.file("none.wav")));
  EXPECT_EQ(missing.status, 1);
}

TEST(ModifyCommandTest, NothingToDoLeavesTheFileAlone) {
  TempDir dir;
  Bytes file = wav(2, 16, kStereo);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r = modify("--volume 100 " + quoted(dir.file("a.wav")));
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("Nothing to do"), std::string::npos);
  EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::string>{"a.wav"});
}

TEST(ModifyCommandTest, LimitFollowsThePeakTheAnalysisFinds) {
  // Asked for 1000%, the command is held at the largest safe volume, which it
  // derives from the peak the analysis reports for the file.
  int checked = 0;
  for (const std::string& file : test::corpusFiles()) {
    const test::AnalysedFile a = test::analyseFile(file);
    if (!a.analysed() || a.header.layout.framesInFile == 0) continue;
    double maxGain = maximumGain(a.result.peak[0], a.header.format.bitsPerSample, false);
    if (static_cast<float>(maxGain) >= 10.0f) continue;
    long long tenths = std::llround(maxGain * 1000.0);
    if (tenths / 1000.0 > maxGain) --tenths;
    SCOPED_TRACE(file);
    TempDir dir;
    CommandResult r =
        modify("--volume 1000 --output " + quoted(dir.file("out.wav")) + " " + quoted(file));
    EXPECT_EQ(r.status, 0) << r.err;
    std::string note = "note: volume limited to " +
                       formatGeneral(static_cast<float>(tenths) / 10.0f) + "%, the largest";
    EXPECT_NE(r.err.find(note), std::string::npos) << r.err;
    ++checked;
  }
  if (checked == 0) GTEST_SKIP() << "the shared corpus folder is absent";
}

}  // namespace
}  // namespace ril
