// rilmaton-cli modify --deemphasis --cue, run as a program on a rip made in
// the test.
#include <gtest/gtest.h>

#include <map>

#include "support/test_support.h"

namespace ril {
namespace {

test::Bytes wav(std::int32_t rate) {
  test::WavShape s;
  s.sampleRate = rate;
  s.data = test::Bytes(4 * 3000, 0x40);
  return test::buildWav(s);
}

TEST(CueModifyCommandTest, RefusesBadUsageAndUnfitFilesWritingNothingThenDoesTheSheet) {
  test::TempDir dir;
  const std::string sheet = dir.file("rip.cue");
  test::writeFile(dir.file("one.wav"), wav(44100));
  test::writeFile(dir.file("two.wav"), wav(48000));
  const std::string text =
      "FILE \"one.wav\" WAVE\n  TRACK 01 AUDIO\n    FLAGS PRE\n    INDEX 01 00:00:00\n"
      "FILE \"two.wav\" WAVE\n  TRACK 02 AUDIO\n    FLAGS DCP PRE\n    INDEX 01 00:00:00\n";
  test::writeFile(sheet, test::Bytes(text.begin(), text.end()));
  auto files = [&] {
    std::map<std::string, test::Bytes> all;
    for (const std::string& name : test::listDirectory(dir.path()))
      all[name] = test::readFile(dir.file(name));
    return all;
  };
  const auto before = files();
  auto modify = [&](const std::string& args) {
    return test::runCommand("'" + test::builtProgram("rilmaton-cli") + "' modify " + args +
                            " </dev/null");
  };
  const std::string cue = "--deemphasis --cue '" + sheet + "'";
  for (const std::string& extra :
       {std::string(" --volume 50"), std::string(" --maximize"), std::string(" --in-place"),
        std::string(" --output x.wav"), " '" + dir.file("one.wav") + "'"}) {
    EXPECT_EQ(modify(cue + extra).status, 2) << extra;
  }
  EXPECT_EQ(modify("--cue '" + sheet + "'").status, 2);

  const test::CommandResult refused = modify(cue);
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("refused: " + dir.file("two.wav") + " (TRACK 02): 48000 Hz"),
            std::string::npos)
      << refused.err;
  EXPECT_TRUE(files() == before);

  test::writeFile(dir.file("two.wav"), wav(44100));
  const test::CommandResult done = modify(cue);
  EXPECT_EQ(done.status, 0) << done.err;
  EXPECT_EQ(test::readFile(sheet + ".old"), before.at("rip.cue"));
  EXPECT_TRUE(test::fileExists(dir.file("one.wav.old")));
  EXPECT_TRUE(test::fileExists(dir.file("two.wav.old")));
  const test::Bytes rewritten = test::readFile(sheet);
  EXPECT_EQ(std::string(rewritten.begin(), rewritten.end()).find("PRE"), std::string::npos);
}

}  // namespace
}  // namespace ril
