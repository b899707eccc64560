// rilmaton-cli repair as scripts and users meet it: repaired files that SoX
// and FFmpeg play to their full length, old values before an in-place
// write, refusals that leave files alone, the report's line, and a stop
// signal in the middle of a large repair.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::TempDir;
using test::WavShape;

std::string cli() {
  return "'" + test::builtProgram("rilmaton-cli") + "'";
}

bool have(const char* tool) {
  return test::runCommand(std::string("command -v ") + tool).status == 0;
}

Bytes noise(std::size_t count, unsigned seed) {
  Bytes bytes(count);
  for (std::size_t i = 0; i < count; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes[i] = static_cast<unsigned char>(0x80 | (seed >> 16));
  }
  return bytes;
}

// An unfinished stereo recording: data size 0, the RIFF size of an empty file.
Bytes unfinished(std::size_t frames, std::size_t extra = 0) {
  WavShape s;
  s.data = noise(frames * 4 + extra, 7);
  s.dataSize = 0;
  s.riffSize = 36;
  s.padOddData = false;
  return buildWav(s);
}

// What SoX and FFmpeg take to be the frames of `path`.
std::string soxFrames(const std::string& path) {
  return test::runCommand("soxi -s '" + path + "'").out;
}
std::string ffprobeFrames(const std::string& path) {
  return test::runCommand(
             "ffprobe -v error -select_streams a:0 -show_entries "
             "stream=duration_ts -of csv=p=0 '" +
             path + "'")
      .out;
}

TEST(RepairCommandTest, RepairedFilesPlayToTheirFullLengthAndNeedNoSecondRepair) {
  TempDir dir;
  std::vector<std::pair<Bytes, std::size_t>> files;  // the file, its frames once repaired
  files.emplace_back(unfinished(22050, 3), 22050);
  WavShape s;
  s.channels = 1;
  s.bitsPerSample = 24;
  s.data = noise(3 * 8001, 3);  // odd: a pad byte before the chunks
  s.dataSize = 0;
  s.after = {{"LIST", {'I', 'N', 'F', 'O', 'I', 'C', 'M', 'T', 2, 0, 0, 0, 'a', 0}},
             {"cue ", Bytes(28, 0)}};
  files.emplace_back(buildWav(s), 8001);
  s = WavShape{};
  s.bitsPerSample = 24;
  s.data = noise(6 * 10000 + 4, 5);  // cut short, in the middle of a frame
  s.dataSize = 6 * 44100;
  s.riffSize = 36 + 6 * 44100;
  s.padOddData = false;
  files.emplace_back(buildWav(s), 10000);
  s = WavShape{};
  s.channels = 1;
  s.data = noise(2 * 5000, 9);
  s.dataSize = 0xFFFFFFFF;
  s.after = {{"id3 ", {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 0}}};
  files.emplace_back(buildWav(s), 5000);

  const bool sox = have("soxi"), ffprobe = have("ffprobe");
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string path = dir.file("r" + std::to_string(i) + ".wav");
    test::writeFile(path, files[i].first);
    const test::CommandResult r = test::runCommand(cli() + " repair '" + path + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Repaired: " + path + " (the original is kept as " + path + ".old)"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(test::readFile(path + ".old"), files[i].first);
    const std::string frames = std::to_string(files[i].second) + "\n";
    if (sox) {
      EXPECT_EQ(soxFrames(path), frames);
    }
    if (ffprobe) {
      EXPECT_EQ(ffprobeFrames(path), frames);
    }
    EXPECT_EQ(test::runCommand(cli() + " repair '" + path + "'").out,
              path + ": nothing to repair\n");
  }
  if (!sox || !ffprobe) GTEST_SKIP() << "soxi or ffprobe is not installed: lengths not checked";
}

TEST(RepairCommandTest, InPlaceStatesTheOldValuesFirstAndChangesOnlyTheFields) {
  TempDir dir;
  const std::string path = dir.file("a.wav");
  const Bytes before = unfinished(1000, 2);
  test::writeFile(path, before);
  const test::CommandResult r = test::runCommand(cli() + " repair --in-place --json " + path);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "rilmaton-cli repair: " + path + ": old value of data size at offset 40: " +
                       "00 00 00 00\nrilmaton-cli repair: " + path +
                       ": old value of RIFF size at offset 4: 24 00 00 00\n");
  const auto json = nlohmann::json::parse(r.out);
  EXPECT_EQ(json["outcome"], "repaired");
  EXPECT_EQ(json["changes"][0],
            nlohmann::json({{"field", "data size"}, {"offset", 40}, {"old", 0}, {"new", 4000}}));
  Bytes expected = before;
  expected[41] = 4000 >> 8;
  expected[40] = 4000 & 0xFF;
  expected[4] = 4038 & 0xFF;
  expected[5] = 4038 >> 8;
  EXPECT_EQ(test::readFile(path), expected);
  EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::string>{"a.wav"});
}

TEST(RepairCommandTest, RefusalsAndDryRunsLeaveFilesAsTheyAreAndSetTheExitStatus) {
  TempDir dir;
  WavShape noFormat;
  noFormat.channels = noFormat.bitsPerSample = 0;
  noFormat.sampleRate = 0;
  noFormat.data = noise(400, 1);
  const Bytes zeroed = buildWav(noFormat), open = unfinished(500);
  test::writeFile(dir.file("zeroed.wav"), zeroed);
  test::writeFile(dir.file("open.wav"), open);
  test::writeFile(dir.file("fine.wav"), buildWav(WavShape{}));

  test::CommandResult r = test::runCommand(cli() + " repair --dry-run -r --jobs 2 " + dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, dir.file("fine.wav") + ": nothing to repair\n" + dir.file("open.wav") +
                       ":\n  data size at offset 40: 0 -> 2,000\n  RIFF size at offset 4: 36 -> "
                       "2,036\nNot written (--dry-run).\n");
  EXPECT_NE(r.err.find(dir.file("zeroed.wav") +
                       ": not repaired: its format chunk is zeroed: give the format with --format"),
            std::string::npos)
      << r.err;
  r = test::runCommand(cli() + " repair --in-place --format 8000:1:16 " + dir.file("zeroed.wav"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("an in-place repair cannot insert bytes"), std::string::npos) << r.err;
  // --json gives each prose reason a stable word beside it.
  r = test::runCommand(cli() + " repair --json " + dir.file("zeroed.wav"));
  EXPECT_EQ(nlohmann::json::parse(r.out)["reasonCode"], "no-format-chunk");
  r = test::runCommand(cli() + " repair --json --in-place --format 8000:1:16 " +
                       dir.file("zeroed.wav"));
  EXPECT_EQ(nlohmann::json::parse(r.out)["reasonCode"], "in-place-insert");
  EXPECT_EQ(test::readFile(dir.file("zeroed.wav")), zeroed);
  EXPECT_EQ(test::readFile(dir.file("open.wav")), open);
  EXPECT_EQ(test::listDirectory(dir.path()),
            (std::vector<std::string>{"fine.wav", "open.wav", "zeroed.wav"}));
  EXPECT_EQ(test::runCommand(cli() + " repair --in-place --output x.wav a.wav").status, 2);
}

TEST(RepairCommandTest, TheReportSaysWhatFollowsAnEmptyDataChunkAndJsonListsTheChanges) {
  TempDir dir;
  const std::string path = dir.file("rec.wav");
  test::writeFile(path, unfinished(0));
  ASSERT_EQ(::truncate(path.c_str(), 44 + 210763776), 0);  // sparse: no disk
  test::CommandResult r = test::runCommand(cli() + " report " + path);
  EXPECT_NE(r.out.find("The data chunk holds no samples.\nThe data chunk declares 0 bytes, but "
                       "210,763,776 bytes of audio follow it: it can be repaired (rilmaton-cli "
                       "repair, or Repair\u2026 in the window).\n"),
            std::string::npos)
      << r.out;
  r = test::runCommand(cli() + " report --json " + path);
  EXPECT_EQ(
      nlohmann::json::parse(r.out)["repair"][1],
      nlohmann::json({{"field", "RIFF size"}, {"offset", 4}, {"old", 36}, {"new", 210763812}}));
  test::writeFile(path, buildWav(WavShape{}));
  r = test::runCommand(cli() + " report --json " + path);
  EXPECT_TRUE(nlohmann::json::parse(r.out)["repair"].is_null());
}

// How far the child has written into a file it holds open under `dir`.
std::uint64_t writtenInto(pid_t pid, const std::string& dir) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd/";
  for (int fd = 3; fd < 64; ++fd) {
    char target[4096] = {};
    if (::readlink((fds + std::to_string(fd)).c_str(), target, sizeof target - 1) <= 0) continue;
    if (std::string(target).rfind(dir, 0) != 0) continue;
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + std::to_string(fd));
    std::uint64_t pos = 0;
    unsigned flags = 0;
    for (std::string key; info >> key;) {
      if (key == "pos:") info >> pos;
      if (key == "flags:") info >> std::oct >> flags >> std::dec;
    }
    if ((flags & O_ACCMODE) == O_WRONLY) return pos;
  }
  return 0;
}

TEST(RepairCommandTest, AStopSignalInTheMiddleOfALargeRepairLeavesTheOriginalWhole) {
  TempDir dir;
  const std::string path = dir.file("a.wav");
  const std::size_t frames = 48u << 20;  // 192 MiB of audio, written for real (no holes)
  test::writeFile(path, unfinished(0));
  {
    std::ofstream f(path, std::ios::binary | std::ios::app);
    const Bytes block = noise(1 << 20, 11);
    for (std::size_t i = 0; i < frames * 4 / block.size(); ++i) {
      f.write(reinterpret_cast<const char*>(block.data()),
              static_cast<std::streamsize>(block.size()));
    }
  }
  const std::string cliPath = test::builtProgram("rilmaton-cli");
  char* argv[] = {const_cast<char*>(cliPath.c_str()), const_cast<char*>("repair"),
                  const_cast<char*>(path.c_str()), nullptr};
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  pid_t pid = -1;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &files, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&files);
  int status = 0;
  bool caught = false;
  while (::waitpid(pid, &status, WNOHANG) != pid) {
    const std::uint64_t written = writtenInto(pid, dir.path());
    if (written < (1u << 20)) continue;
    ::kill(pid, SIGSTOP);
    caught = writtenInto(pid, dir.path()) < 44 + frames * 4;
    ::kill(pid, SIGTERM);
    ::kill(pid, SIGCONT);
    ::waitpid(pid, &status, 0);
    break;
  }
  ASSERT_TRUE(caught) << "the repair ended before it could be stopped";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
  EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::string>{"a.wav"});
  const Bytes head = unfinished(0);
  std::ifstream f(path, std::ios::binary);
  Bytes now(head.size());
  f.read(reinterpret_cast<char*>(now.data()), static_cast<std::streamsize>(now.size()));
  EXPECT_EQ(now, head);
  struct stat st;
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), 44 + frames * 4);
}

}  // namespace
}  // namespace ril
