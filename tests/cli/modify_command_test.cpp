// rilmaton-cli modify, run as a program.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/analysis/sample_statistics.h"
#include "core/base/number_format.h"
#include "support/analysed_file.h"
#include "support/format_files.h"
#include "support/format_reference.h"
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
        "--frobnicate " + f, "--volume abc " + f, "--output x.wav " + f + " " + f, "--album " + f,
        "--maximize --album --output-dir " + dir.path() + " " + f + " " + f, "--jobs 0 " + f,
        std::string("--volume")}) {
    SCOPED_TRACE(args);
    CommandResult r = modify(args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("rilmaton-cli modify: ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.substr(r.err.find('\n') + 1), "Try 'rilmaton-cli --help'.\n");
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
  EXPECT_NE(r.out.find("Info: the original is kept as " + dir.file("a.wav") +
                       ".old; the modified file is " + dir.file("a.wav") + "."),
            std::string::npos)
      << r.out;
  EXPECT_EQ(test::readFile(dir.file("a.wav.old")), file);
  test::Expected want = test::expectedOutput(test::pcm8({0, 255, 128, 100, 30}), 1, 8, 0.5, false);
  EXPECT_EQ(test::readFile(dir.file("a.wav")), withSamples(file, want.samples));

  // Again: a.wav.old is in the way now.
  CommandResult again = modify("--volume 50 " + quoted(dir.file("a.wav")));
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("file already exists (error 58): " + dir.file("a.wav") + ".old; " +
                           dir.file("a.wav") + " is left as it was"),
            std::string::npos)
      << again.err;
}

TEST(ModifyCommandTest, InPlaceOverwritesWithoutACopy) {
  TempDir dir;
  Bytes file = wav(2, 16, kStereo);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r = modify("--in-place --deemphasis " + quoted(dir.file("a.wav")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Info: " + dir.file("a.wav") + " is overwritten with the modified file."),
            std::string::npos)
      << r.out;
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

TEST(ModifyCommandTest, VolumeIsHeldBelowTheLargestSafeFactorWithANoteAndTheVolumeApplied) {
  // Peak 16384 from a positive sample: 200% would overflow, 199.9% is safe.
  TempDir dir;
  Bytes samples = test::pcm16({16384, -1000, 5, -5});
  Bytes file = wav(2, 16, samples, 8000);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r = modify("--volume 300 --output " + quoted(dir.file("b.wav")) + " " +
                           quoted(dir.file("a.wav")));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("note: volume limited to 199.9%"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.rfind("Volume: 199.9%\nManipulation time = ", 0), 0u) << r.out;
  test::Expected want = test::expectedOutput(samples, 2, 16, 1.999, false);
  EXPECT_EQ(test::readFile(dir.file("b.wav")), withSamples(file, want.samples));

  CommandResult big = modify("--volume 5000 --output " + quoted(dir.file("c.wav")) + " " +
                             quoted(dir.file("a.wav")));
  EXPECT_EQ(big.status, 0);
  EXPECT_NE(big.err.find("range 0% to 1000%"), std::string::npos) << big.err;
  // --maximize says the factor it found (32767 / 16384, cut to tenths of a
  // percent); a volume that was not held down needs no such line.
  const CommandResult maximized =
      modify("--maximize --output " + quoted(dir.file("d.wav")) + " " + quoted(dir.file("a.wav")));
  EXPECT_EQ(maximized.out.rfind("Volume: 199.9%\n", 0), 0u) << maximized.out;
  const CommandResult asked = modify("--volume 150 --output " + quoted(dir.file("e.wav")) + " " +
                                     quoted(dir.file("a.wav")));
  EXPECT_EQ(asked.out.find("Volume:"), std::string::npos) << asked.out;
}

// Sets sample `k` of 24-bit or float data (as the format stores it) to `v`.
void putSample(Bytes& data, int bits, std::size_t k, double v) {
  if (bits == 32) {
    const auto f = static_cast<float>(v);
    std::memcpy(&data[4 * k], &f, 4);
    return;
  }
  const auto i = static_cast<std::int32_t>(v);
  for (int b = 0; b < 3; ++b)
    data[3 * k + static_cast<std::size_t>(b)] = static_cast<unsigned char>(i >> (8 * b));
}

// Float volumes, and 24-bit ones above 100 %, are written at once with the
// peak followed alongside. A peak that holds the volume down, here first in
// the last block, gives the held volume's output and words all the same; a
// quiet file gets the volume asked for.
TEST(ModifyCommandTest, WideFormatVolumesGiveTheHeldVolumeWhenALatePeakHoldsThemDown) {
  struct Case {
    test::FormatCase format;
    double quiet, late;
    const char* asked;
    double held;  // the factor the late peak allows, cut to tenths of a percent
  };
  const Case cases[] = {{{"32 bit float", 3, 32, 2, 48000}, 0.5, 2.0, "80", 0.5},
                        {{"24 bit", 1, 24, 2, 48000}, 2097152, 0.9 * 8388607, "150", 1.111}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format.words);
    const std::int64_t frames = 400000;  // three blocks of float, two of 24-bit
    Bytes data(static_cast<std::size_t>(2 * frames * c.format.bits / 8));
    std::uint32_t seed = 9;
    for (std::size_t k = 0; k < static_cast<std::size_t>(2 * frames); ++k) {
      seed = seed * 1664525u + 1013904223u;
      putSample(data, c.format.bits, k, (static_cast<double>(seed >> 8) / 0x1p23 - 1) * c.quiet);
    }
    for (const bool loud : {false, true}) {
      if (loud) putSample(data, c.format.bits, static_cast<std::size_t>(2 * frames - 7), c.late);
      TempDir dir;
      test::writeFile(dir.file("a.wav"), test::formatFile(c.format, data));
      const CommandResult r = modify("--volume " + std::string(c.asked) + " --output " +
                                     quoted(dir.file("b.wav")) + " " + quoted(dir.file("a.wav")));
      ASSERT_EQ(r.status, 0) << r.err;
      const double factor = loud ? c.held : std::atof(c.asked) / 100.0;
      EXPECT_EQ(r.err.find("note: volume limited to") != std::string::npos, loud) << r.err;
      const test::AnalysedFile in = test::analyseBytes(test::formatFile(c.format, data), 1);
      std::int64_t beyond = 0;
      const test::Expected want = test::expectedFormatOutput(data, in.header.format, factor, false,
                                                             0.0, std::nullopt, beyond);
      EXPECT_EQ(test::readFile(dir.file("b.wav")), test::formatFile(c.format, want.samples));
    }
  }
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
  s.formatTag = 7;  // µ-law: analysed, never modified
  s.bitsPerSample = 8;
  s.data = Bytes(60, 1);
  Bytes file = test::buildWav(s);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult r = modify("--volume 50 " + quoted(dir.file("a.wav")));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("analysed but never modified"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Modification cancelled!"), std::string::npos) << r.err;
  // Refused at once, before any word about a volume it will never get.
  r = modify("--volume 900 " + quoted(dir.file("a.wav")));
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("Warning: File ", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find("note:"), std::string::npos) << r.err;
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
    if (!a.header.format.sample().modifiable()) continue;  // refused, as tested above
    double maxGain = maximumGainFor(a.result.sample, a.result.peakValue[0], false);
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

TEST(ModifyCommandTest, OutputNamingTheInputItselfIsRefusedAndNothingIsWritten) {
  TempDir dir;
  const Bytes file = wav(2, 16, kStereo);
  test::writeFile(dir.file("a.wav"), file);
  ASSERT_EQ(::link(dir.file("a.wav").c_str(), dir.file("hard.wav").c_str()), 0);
  ASSERT_EQ(::symlink("a.wav", dir.file("soft.wav").c_str()), 0);
  for (const char* output : {"a.wav", "hard.wav", "soft.wav"}) {
    SCOPED_TRACE(output);
    CommandResult r = modify("--volume 50 --output " + quoted(dir.file(output)) + " " +
                             quoted(dir.file("a.wav")));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--output names FILE itself; use --in-place"), std::string::npos) << r.err;
    EXPECT_EQ(test::listDirectory(dir.path()),
              (std::vector<std::string>{"a.wav", "hard.wav", "soft.wav"}));
    EXPECT_EQ(test::readFile(dir.file("a.wav")), file);
  }
}

TEST(ModifyCommandTest, StandardOutputCarriesTheResultButNeverToATerminal) {
  TempDir dir;
  const Bytes file = wav(2, 16, kStereo);
  test::writeFile(dir.file("a.wav"), file);
  const std::string cli = quoted(test::builtProgram("rilmaton-cli")) + " modify --volume 150 ";
  CommandResult r = test::runCommand("cd " + quoted(dir.path()) + " && " + cli +
                                     "--output - a.wav </dev/null >piped.wav");
  ASSERT_EQ(r.status, 0) << r.err;
  test::Expected want = test::expectedOutput(kStereo, 2, 16, 1.5, false);
  EXPECT_EQ(test::readFile(dir.file("piped.wav")), withSamples(file, want.samples));
  // The notices go to stderr, out of the data's way.
  EXPECT_NE(r.err.find("Written to standard output."), std::string::npos) << r.err;
  EXPECT_EQ(test::listDirectory(dir.path()), (std::vector<std::string>{"a.wav", "piped.wav"}));

  const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  ASSERT_EQ(::grantpt(terminal), 0);
  ASSERT_EQ(::unlockpt(terminal), 0);
  const std::string slave = ::ptsname(terminal);
  CommandResult tty =
      test::runCommand(cli + "--output - " + quoted(dir.file("a.wav")) + " </dev/null >" + slave);
  ::close(terminal);
  EXPECT_EQ(tty.status, 2);
  EXPECT_NE(tty.err.find("would go to a terminal"), std::string::npos) << tty.err;
  EXPECT_EQ(test::readFile(dir.file("a.wav")), file);
}

TEST(ModifyCommandTest, SymbolicLinkOutputStaysALinkToTheReplacedFile) {
  TempDir dir;
  const Bytes file = wav(2, 16, kStereo);
  test::writeFile(dir.file("a.wav"), file);
  test::writeFile(dir.file("target.wav"), Bytes{1, 2, 3});
  ASSERT_EQ(::chmod(dir.file("target.wav").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("target.wav", dir.file("link.wav").c_str()), 0);
  CommandResult r = modify("--volume 150 --output " + quoted(dir.file("link.wav")) + " " +
                           quoted(dir.file("a.wav")));
  ASSERT_EQ(r.status, 0) << r.err;
  char link[64] = {};
  ASSERT_GT(::readlink(dir.file("link.wav").c_str(), link, sizeof link - 1), 0);
  EXPECT_STREQ(link, "target.wav");
  test::Expected want = test::expectedOutput(kStereo, 2, 16, 1.5, false);
  EXPECT_EQ(test::readFile(dir.file("target.wav")), withSamples(file, want.samples));
  struct stat st;
  ASSERT_EQ(::stat(dir.file("target.wav").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_EQ(test::listDirectory(dir.path()),
            (std::vector<std::string>{"a.wav", "link.wav", "target.wav"}));
}

TEST(ModifyCommandTest, DevicesAndPipesAreWrittenWhereTheyAre) {
  TempDir dir;
  const Bytes file = wav(2, 16, kStereo);
  test::writeFile(dir.file("a.wav"), file);
  CommandResult null = modify("--volume 150 --output /dev/null " + quoted(dir.file("a.wav")));
  EXPECT_EQ(null.status, 0) << null.err;
  struct stat st;
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));

  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
  CommandResult piped = test::runCommand(
      "cd " + quoted(dir.path()) + " && { cat pipe >copy.wav & " +
      quoted(test::builtProgram("rilmaton-cli")) +
      " modify --volume 150 --output pipe a.wav </dev/null; s=$?; wait; exit $s; }");
  ASSERT_EQ(piped.status, 0) << piped.err;
  test::Expected want = test::expectedOutput(kStereo, 2, 16, 1.5, false);
  EXPECT_EQ(test::readFile(dir.file("copy.wav")), withSamples(file, want.samples));
  ASSERT_EQ(::lstat(dir.file("pipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(test::listDirectory(dir.path()),
            (std::vector<std::string>{"a.wav", "copy.wav", "pipe"}));
}

// A POSIX ACL as the kernel stores it: the owner rw-, user 1234 r--, the
// group r--, the mask r--, others nothing.
Bytes accessAcl() {
  Bytes acl;
  test::putLe32(acl, 2);
  const std::vector<std::array<std::uint32_t, 3>> entries = {{0x01, 6, 0xFFFFFFFF},
                                                             {0x02, 4, 1234},
                                                             {0x04, 4, 0xFFFFFFFF},
                                                             {0x10, 4, 0xFFFFFFFF},
                                                             {0x20, 0, 0xFFFFFFFF}};
  for (const auto& [tag, perm, id] : entries) {
    test::putLe16(acl, static_cast<std::uint16_t>(tag));
    test::putLe16(acl, static_cast<std::uint16_t>(perm));
    test::putLe32(acl, id);
  }
  return acl;
}

Bytes attribute(const std::string& path, const char* name) {
  Bytes value(256);
  const ssize_t n = ::getxattr(path.c_str(), name, value.data(), value.size());
  value.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
  return value;
}

TEST(ModifyCommandTest, ModifiedFileKeepsTheOriginalsModeOwnerAndAttributes) {
  TempDir dir;
  const std::string a = dir.file("a.wav");
  test::writeFile(a, wav(2, 16, kStereo));
  ASSERT_EQ(::chmod(a.c_str(), 0640), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(a.c_str(), 1234, 5678), 0);
  }
  const Bytes note{'k', 'e', 'p', 't'};
  const bool xattrs = ::setxattr(a.c_str(), "user.rilmaton", note.data(), note.size(), 0) == 0;
  const Bytes acl = accessAcl();
  const bool acls =
      ::setxattr(a.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
  struct stat before;
  ASSERT_EQ(::stat(a.c_str(), &before), 0);

  CommandResult r = modify("--volume 50 " + quoted(a));
  ASSERT_EQ(r.status, 0) << r.err;
  for (const std::string& path : {a, a + ".old"}) {
    SCOPED_TRACE(path);
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode, before.st_mode);
    EXPECT_EQ(st.st_uid, before.st_uid);
    EXPECT_EQ(st.st_gid, before.st_gid);
    if (xattrs) {
      EXPECT_EQ(attribute(path, "user.rilmaton"), note);
    }
    if (acls) {
      EXPECT_EQ(attribute(path, "system.posix_acl_access"), acl);
    }
  }
  if (!root || !xattrs || !acls) {
    std::printf("checked without%s%s%s\n", root ? "" : " the owner (not root)",
                xattrs ? "" : " extended attributes (not supported here)",
                acls ? "" : " ACLs (not supported here)");
  }

  // A read-only file stays read-only; an output over a file keeps that
  // file's mode, a new output takes the input's.
  test::writeFile(dir.file("ro.wav"), wav(2, 16, kStereo));
  ASSERT_EQ(::chmod(dir.file("ro.wav").c_str(), 0444), 0);
  test::writeFile(dir.file("private.wav"), Bytes{1});
  ASSERT_EQ(::chmod(dir.file("private.wav").c_str(), 0600), 0);
  EXPECT_EQ(modify("--volume 50 " + quoted(dir.file("ro.wav"))).status, 0);
  EXPECT_EQ(modify("--volume 50 --output " + quoted(dir.file("private.wav")) + " " +
                   quoted(dir.file("ro.wav")))
                .status,
            0);
  EXPECT_EQ(modify("--volume 50 --output " + quoted(dir.file("new.wav")) + " " + quoted(a)).status,
            0);
  for (const auto& [name, mode] : std::vector<std::pair<std::string, unsigned>>{
           {"ro.wav", 0444u}, {"private.wav", 0600u}, {"new.wav", 0640u}}) {
    struct stat st;
    ASSERT_EQ(::stat(dir.file(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode) << name;
  }
}

TEST(ModifyCommandTest, FileRenamedBackAndForthMeanwhileEndsInAMessageNeverAnAbort) {
  // Another program renames FILE all the time: every run ends with 0 or with
  // 1 and its cause, never by a signal; the file is never lost.
  TempDir dir;
  const Bytes file = wav(2, 16, kStereo);
  test::writeFile(dir.file("a.wav"), file);
  std::atomic<bool> stop{false};
  std::thread renamer([&] {
    while (!stop) {
      ::rename(dir.file("a.wav").c_str(), dir.file("b.wav").c_str());
      ::rename(dir.file("b.wav").c_str(), dir.file("a.wav").c_str());
    }
  });
  for (int run = 0; run < 100; ++run) {
    CommandResult r = modify("--volume 50 --output " + quoted(dir.file("out.wav")) + " " +
                             quoted(dir.file("a.wav")));
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status << r.err;
    if (r.status == 1) {
      EXPECT_NE(r.err.find("(error 53)"), std::string::npos) << r.err;
    }
  }
  stop = true;
  renamer.join();
  const std::string left = test::fileExists(dir.file("a.wav")) ? "a.wav" : "b.wav";
  EXPECT_EQ(test::readFile(dir.file(left)), file);
}

TEST(ModifyCommandTest, InPlaceOnAFullDiskStopsBeforeAnyByteChanges) {
  // A sparse file of 8 MiB of samples on a file system of 2 MiB: the data
  // range cannot be reserved, so the run stops with the file as it was.
  TempDir dir;
  const std::string small = dir.file("small");
  ASSERT_EQ(::mkdir(small.c_str(), 0755), 0);
  if (std::system(("mount -t tmpfs -o size=2m tmpfs " + quoted(small) + " 2>/dev/null").c_str()) !=
      0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  }
  struct Unmount {
    std::string dir;
    ~Unmount() { (void)std::system(("umount " + dir).c_str()); }
  } unmount{quoted(small)};
  const std::string path = small + "/a.wav";
  WavShape s;
  s.data = test::noiseSamples(50000, 16, 3);
  s.dataSize = 8u << 20;
  Bytes head = test::buildWav(s);
  const std::uint32_t riff = static_cast<std::uint32_t>(s.dataSize.value() + 36);
  for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<unsigned char>(riff >> (8 * i));
  test::writeFile(path, head);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(44 + s.dataSize.value())), 0);
  const Bytes before = test::readFile(path);

  CommandResult r = modify("--volume 50 --in-place " + quoted(path));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("disk full (error 61)"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(path + " is left as it was"), std::string::npos) << r.err;
  EXPECT_TRUE(test::readFile(path) == before);
}

}  // namespace
}  // namespace ril
