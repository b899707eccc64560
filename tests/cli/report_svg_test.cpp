// rilmaton-cli report --svg: a picture of each file's levels beside the report.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::CommandResult;

CommandResult reportSvg(const std::string& dir, const std::vector<std::string>& files) {
  std::string command = "'" + test::builtProgram("rilmaton-cli") + "' report --svg '" + dir + "'";
  for (const std::string& f : files) command += " '" + f + "'";
  return test::runCommand(command);
}

// One second of a 16-bit stereo tone at 8 kHz, its left channel at full scale once.
Bytes tone() {
  std::vector<std::int16_t> v(2 * 8000);
  for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::int16_t>(i % 16 * 500);
  v[4000] = -32768;
  test::WavShape s;
  s.channels = 2;
  s.sampleRate = 8000;
  s.data = test::pcm16(v);
  return test::buildWav(s);
}

TEST(ReportSvgTest, WritesEachFilesPictureUnderItsNameBesideAnUnchangedReport) {
  test::TempDir dir;
  const std::string pictures = dir.file("pictures");
  ::mkdir(pictures.c_str(), 0755);
  test::writeFile(dir.file("One.WAV"), tone());
  test::writeFile(dir.file("two & <more>.wav"), tone());
  const CommandResult r = reportSvg(pictures, {dir.file("One.WAV"), dir.file("two & <more>.wav")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(test::listDirectory(pictures),
            (std::vector<std::string>{"One.svg", "two & <more>.svg"}));
  const Bytes bytes = test::readFile(pictures + "/two & <more>.svg");
  const std::string svg(bytes.begin(), bytes.end());
  EXPECT_NE(svg.find("<title>two &amp; &lt;more&gt;.wav</title>"), std::string::npos);
  EXPECT_NE(svg.find("stroke=\"#d61e1e\""), std::string::npos) << "full scale drawn red";
  EXPECT_EQ(svg.substr(svg.size() - 7), "</svg>\n");
  const CommandResult plain =
      test::runCommand("'" + test::builtProgram("rilmaton-cli") + "' report '" +
                       dir.file("One.WAV") + "' '" + dir.file("two & <more>.wav") + "'");
  EXPECT_EQ(test::withoutTimes(plain.out), test::withoutTimes(r.out));
}

TEST(ReportSvgTest, RefusesAMissingDirectoryAndTwoFilesOfOneName) {
  test::TempDir dir;
  ::mkdir(dir.file("a").c_str(), 0755);
  ::mkdir(dir.file("b").c_str(), 0755);
  test::writeFile(dir.file("a/x.wav"), tone());
  test::writeFile(dir.file("b/x.wav"), tone());
  const CommandResult missing = reportSvg(dir.file("none"), {dir.file("a/x.wav")});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("--svg " + dir.file("none") + " is not a directory"),
            std::string::npos);
  const CommandResult twice = reportSvg(dir.path(), {dir.file("a/x.wav"), dir.file("b/x.wav")});
  EXPECT_EQ(twice.status, 2);
  EXPECT_NE(twice.err.find("would both be " + dir.file("x.svg")), std::string::npos) << twice.err;
  EXPECT_FALSE(test::fileExists(dir.file("x.svg")));
}

}  // namespace
}  // namespace ril
