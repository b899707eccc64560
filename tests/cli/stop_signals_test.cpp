// rilmaton-cli modify stopped by a signal in the middle of a run: a real
// child process on a file large enough to be caught while it writes, with the
// directory compared byte for byte afterwards.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <optional>

#include "support/modify_test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::TempDir;

// 44.1 kHz stereo, 128 MiB of samples: noise in the first 4 MiB and the last
// MiB, holes (silence) between, so the file costs little disk.
constexpr std::uint64_t kSampleBytes = std::uint64_t{128} << 20;

void writeLargeWav(const std::string& path) {
  test::WavShape shape;
  shape.dataSize = static_cast<std::uint32_t>(kSampleBytes);
  shape.data = test::noiseSamples(2 << 20, 16, 1);
  Bytes head = test::buildWav(shape);
  const std::uint32_t riff = static_cast<std::uint32_t>(kSampleBytes + 36);
  for (int i = 0; i < 4; ++i) head[4 + i] = static_cast<unsigned char>(riff >> (8 * i));
  test::writeFile(path, head);
  ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(44 + kSampleBytes)), 0);
  const Bytes tail = test::noiseSamples(1 << 19, 16, 2);
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(
      ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(44 + kSampleBytes - tail.size())),
      static_cast<ssize_t>(tail.size()));
  ::close(fd);
}

bool sameContents(const std::string& a, const std::string& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  std::vector<char> ba(1 << 20), bb(1 << 20);
  while (fa && fb) {
    fa.read(ba.data(), static_cast<std::streamsize>(ba.size()));
    fb.read(bb.data(), static_cast<std::streamsize>(bb.size()));
    if (fa.gcount() != fb.gcount() || !std::equal(ba.begin(), ba.begin() + fa.gcount(), bb.begin()))
      return false;
  }
  return !fa && !fb;
}

pid_t spawnCli(const std::vector<std::string>& args, const std::string& errFile) {
  std::vector<std::string> all{test::builtProgram("rilmaton-cli")};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&files, 1, 2);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  return rc == 0 ? pid : -1;
}

// How far the child has written into a file of `dir` it holds open for
// writing (the new file, unnamed or not, or the file rewritten in place).
std::optional<std::uint64_t> writtenInto(pid_t pid, const std::string& dir) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd/";
  DIR* d = ::opendir(fds.c_str());
  if (!d) return std::nullopt;
  std::optional<std::uint64_t> written;
  while (const dirent* e = ::readdir(d)) {
    char target[4096] = {};
    if (::readlink((fds + e->d_name).c_str(), target, sizeof target - 1) <= 0) continue;
    if (std::string(target).rfind(dir, 0) != 0) continue;
    std::ifstream info("/proc/" + std::to_string(pid) + "/fdinfo/" + e->d_name);
    std::uint64_t pos = 0;
    unsigned flags = 0;
    for (std::string key; info >> key;) {
      if (key == "pos:") info >> pos;
      if (key == "flags:") info >> std::oct >> flags >> std::dec;
    }
    if ((flags & O_ACCMODE) == O_WRONLY) written = pos;
  }
  ::closedir(d);
  return written;
}

struct Stopped {
  bool caughtMidRun = false;
  int status = 0;
  std::string output;
};

// Runs modify on `dir`/a.wav, stops it (SIGSTOP) once 8 MiB of the output
// are written but not all of it, sends `signal`, lets it go on and waits.
Stopped stopMidRun(const TempDir& dir, const std::vector<std::string>& options, int signal) {
  std::vector<std::string> args{"modify"};
  args.insert(args.end(), options.begin(), options.end());
  args.push_back(dir.file("a.wav"));
  // Beside the directory, so that it is not part of what is compared.
  const std::string errFile = dir.path().substr(0, dir.path().size() - 1) + ".err";
  Stopped s;
  const pid_t pid = spawnCli(args, errFile);
  if (pid < 0) return s;
  for (;;) {
    if (::waitpid(pid, &s.status, WNOHANG) == pid) break;  // finished too soon
    const std::optional<std::uint64_t> written = writtenInto(pid, dir.path());
    if (!written || *written < (8u << 20)) {
      ::usleep(100);
      continue;
    }
    ::kill(pid, SIGSTOP);
    const std::optional<std::uint64_t> now = writtenInto(pid, dir.path());
    s.caughtMidRun = now && *now < 44 + kSampleBytes;
    ::kill(pid, signal);
    ::kill(pid, SIGCONT);
    ::waitpid(pid, &s.status, 0);
    break;
  }
  std::ifstream err(errFile);
  s.output.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
  ::unlink(errFile.c_str());
  return s;
}

class StopSignalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    writeLargeWav(pristine.file("a.wav"));
    writeLargeWav(dir.file("a.wav"));
  }
  TempDir pristine;
  TempDir dir;
};

TEST_F(StopSignalTest, EachStopSignalLeavesTheDirectoryAsItWasAndEndsWith128PlusItsNumber) {
  for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGTERM}) {
    SCOPED_TRACE(signal);
    const Stopped s = stopMidRun(dir, {"--deemphasis"}, signal);
    ASSERT_TRUE(s.caughtMidRun) << "the run ended before it could be stopped: " << s.output;
    ASSERT_TRUE(WIFEXITED(s.status)) << s.output;
    EXPECT_EQ(WEXITSTATUS(s.status), 128 + signal) << s.output;
    EXPECT_NE(s.output.find("is left as it was"), std::string::npos) << s.output;
    EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::string>{"a.wav"});
    EXPECT_TRUE(sameContents(dir.file("a.wav"), pristine.file("a.wav")));
  }
}

TEST_F(StopSignalTest, KillBeforeTheNamesChangeLeavesTheFileAndNoTemporaryFile) {
  const Stopped s = stopMidRun(dir, {"--deemphasis"}, SIGKILL);
  ASSERT_TRUE(s.caughtMidRun) << "the run ended before it could be stopped: " << s.output;
  ASSERT_TRUE(WIFSIGNALED(s.status));
  EXPECT_EQ(WTERMSIG(s.status), SIGKILL);
  EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::string>{"a.wav"});
  EXPECT_TRUE(sameContents(dir.file("a.wav"), pristine.file("a.wav")));
}

TEST_F(StopSignalTest, BrokenPipeSignalIsIgnoredAndInPlaceRewritesFinishFirst) {
  // SIGPIPE does not stop the run: the original is kept as a.wav.old and
  // a.wav is the complete result.
  const Stopped piped = stopMidRun(dir, {"--deemphasis"}, SIGPIPE);
  ASSERT_TRUE(piped.caughtMidRun) << piped.output;
  ASSERT_TRUE(WIFEXITED(piped.status)) << piped.output;
  EXPECT_EQ(WEXITSTATUS(piped.status), 0) << piped.output;
  EXPECT_EQ(test::listDirectory(dir.path()), (std::vector<std::string>{"a.wav", "a.wav.old"}));
  EXPECT_TRUE(sameContents(dir.file("a.wav.old"), pristine.file("a.wav")));
  EXPECT_FALSE(sameContents(dir.file("a.wav"), pristine.file("a.wav")));

  // A hang-up while the file is rewritten in place: the rewrite is finished,
  // and gives what the run above gave.
  TempDir inPlace;
  writeLargeWav(inPlace.file("a.wav"));
  const Stopped hungUp = stopMidRun(inPlace, {"--deemphasis", "--in-place"}, SIGHUP);
  ASSERT_TRUE(hungUp.caughtMidRun) << hungUp.output;
  ASSERT_TRUE(WIFEXITED(hungUp.status)) << hungUp.output;
  EXPECT_EQ(WEXITSTATUS(hungUp.status), 0) << hungUp.output;
  EXPECT_NE(hungUp.output.find("SIGHUP came when the rewrite could no longer be stopped"),
            std::string::npos)
      << hungUp.output;
  EXPECT_EQ(test::listDirectory(inPlace.path()), std::vector<std::string>{"a.wav"});
  EXPECT_TRUE(sameContents(inPlace.file("a.wav"), dir.file("a.wav")));
}

}  // namespace
}  // namespace ril
