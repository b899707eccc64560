// rilmaton-cli as a hostile user or a failing system would meet it: a link
// planted by another user, a cue sheet that points elsewhere, a file-size
// limit, Enter at the disk question, leftovers of a killed run, two runs on
// one file, a tree deeper than PATH_MAX, and names made of control codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <set>

#include "support/modify_test_support.h"

namespace ril {
namespace {

using test::Bytes;
using test::CommandResult;
using test::TempDir;

std::string inQuotes(const std::string& s) {
  return "'" + s + "'";
}

std::string cli() {
  return inQuotes(test::builtProgram("rilmaton-cli"));
}

CommandResult run(const std::string& args) {
  return test::runCommand(cli() + " " + args + " </dev/null");
}

Bytes noiseWav(std::size_t frames, std::uint32_t seed = 1) {
  test::WavShape s;
  s.data = test::noiseSamples(frames * 2, 16, seed);
  return test::buildWav(s);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A directory of mode 1777 owned by root, as /tmp, in a directory anyone
// may enter; skipped unless run as root with setpriv at hand.
struct StickyDirectory {
  TempDir dir;
  std::string shared = dir.file("shared");

  static bool possible() {
    return ::geteuid() == 0 && std::system("command -v setpriv >/dev/null") == 0;
  }
  StickyDirectory() {
    ::chmod(dir.path().c_str(), 0755);
    ::mkdir(shared.c_str(), 0777);
    ::chmod(shared.c_str(), 01777);
  }
  // Runs `command` as user and group 54321, who has no password entry.
  static int asStranger(const std::string& command) {
    return std::system(("setpriv --reuid=54321 --regid=54321 --clear-groups " + command).c_str());
  }
};

TEST(AdversarialTest, ALinkAnotherUserPlantedInAStickyDirectoryIsRefused) {
  if (!StickyDirectory::possible())
    GTEST_SKIP() << "needs root and setpriv to plant as another user";
  StickyDirectory sticky;
  const std::string precious = sticky.dir.file("precious.wav");
  const Bytes original = noiseWav(1000);
  test::writeFile(precious, original);
  ASSERT_EQ(::mkdir(sticky.dir.file("in").c_str(), 0755), 0);
  const std::string input = sticky.dir.file("in/out.wav");
  test::writeFile(input, noiseWav(1000, 2));
  const std::string link = sticky.shared + "/out.wav";
  ASSERT_EQ(StickyDirectory::asStranger("ln -s " + inQuotes(precious) + " " + inQuotes(link)), 0);

  // A repair writes through the same outputs: an unfinished recording's.
  test::WavShape unfinished;
  unfinished.data = test::noiseSamples(2000, 16, 3);
  unfinished.dataSize = 0;
  const std::string lying = sticky.dir.file("in/lying/out.wav");
  ASSERT_EQ(::mkdir(sticky.dir.file("in/lying").c_str(), 0755), 0);
  test::writeFile(lying, test::buildWav(unfinished));
  for (const std::string& command :
       {"modify --volume 80 " + inQuotes(input), "repair " + inQuotes(lying)}) {
    for (const std::string& where :
         {"--output " + inQuotes(link), "--output-dir " + inQuotes(sticky.shared)}) {
      SCOPED_TRACE(command + " " + where);
      const CommandResult r = run(command + " " + where);
      EXPECT_EQ(r.status, 2);
      EXPECT_TRUE(
          contains(r.err, "out.wav is a symbolic link in a sticky world-writable directory"))
          << r.err;
      EXPECT_EQ(test::readFile(precious), original);
    }
  }
  // The same link of the user's own is followed, as the kernel would.
  ASSERT_EQ(::lchown(link.c_str(), 0, 0), 0);
  EXPECT_EQ(run("modify --volume 80 --output " + inQuotes(link) + " " + inQuotes(input)).status, 0);
  EXPECT_NE(test::readFile(precious), original);
}

TEST(AdversarialTest, ACueSheetNamingFilesOutsideItsDirectoryIsRefusedWholly) {
  TempDir dir;
  for (const char* sub : {"album", "album/disc", "other"})
    ASSERT_EQ(::mkdir(dir.file(sub).c_str(), 0755), 0);
  const Bytes victim = noiseWav(44100);
  test::writeFile(dir.file("other/victim.wav"), victim);
  test::writeFile(dir.file("album/disc/track.wav"), victim);
  ASSERT_EQ(::symlink("../other/victim.wav", dir.file("album/linked.wav").c_str()), 0);
  const std::string sheet = dir.file("album/album.cue");
  auto sheetNaming = [&](const std::string& file) {
    const std::string text =
        "FILE \"" + file + "\" WAVE\n  TRACK 01 AUDIO\n    FLAGS PRE\n    INDEX 01 00:00:00\n";
    test::writeFile(sheet, Bytes(text.begin(), text.end()));
  };
  for (const std::string& file : {std::string("../other/victim.wav"), dir.file("other/victim.wav"),
                                  std::string("linked.wav")}) {
    SCOPED_TRACE(file);
    sheetNaming(file);
    const CommandResult r = run("modify --deemphasis --cue " + inQuotes(sheet));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "FILE \"" + file + "\" leads outside the sheet's directory"))
        << r.err;
    EXPECT_EQ(test::readFile(dir.file("other/victim.wav")), victim);
    EXPECT_EQ(test::listDirectory(dir.file("other")), std::vector<std::string>{"victim.wav"});
    const CommandResult listed = run("cue " + inQuotes(sheet));
    EXPECT_EQ(listed.status, 0);
    EXPECT_TRUE(contains(listed.err, "warning: FILE \"" + file + "\" leads outside")) << listed.err;
  }
  // A subdirectory is within; outside is allowed only when asked for.
  sheetNaming("disc/track.wav");
  EXPECT_EQ(run("modify --deemphasis --cue " + inQuotes(sheet)).status, 0);
  ::unlink((sheet + ".old").c_str());
  sheetNaming("../other/victim.wav");
  EXPECT_EQ(run("modify --deemphasis --cue-outside-ok --cue " + inQuotes(sheet)).status, 0);
  EXPECT_TRUE(test::fileExists(dir.file("other/victim.wav.old")));
  // One file under two names (a hard link) is refused too.
  ::unlink((sheet + ".old").c_str());
  ::unlink(dir.file("album/disc/track.wav.old").c_str());
  ASSERT_EQ(::link(dir.file("album/disc/track.wav").c_str(), dir.file("album/same.wav").c_str()),
            0);
  const std::string twice =
      "FILE \"disc/track.wav\" WAVE\n  TRACK 01 AUDIO\n    FLAGS PRE\n"
      "    INDEX 01 00:00:00\nFILE \"same.wav\" WAVE\n  TRACK 02 AUDIO\n"
      "    FLAGS PRE\n    INDEX 01 00:00:00\n";
  test::writeFile(sheet, Bytes(twice.begin(), twice.end()));
  const CommandResult r = run("modify --deemphasis --cue " + inQuotes(sheet));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "again, under a second FILE")) << r.err;
}

// SIGXFSZ is ignored, so a size limit is a failing write: disk full, with
// the file as it was (in place too: the limit is checked before writing).
TEST(AdversarialTest, AFileSizeLimitIsADiskFullWithTheFileAsItWas) {
  TempDir dir;
  const Bytes original = noiseWav(100000);  // 400 KB
  const std::string file = dir.file("a.wav");
  for (const std::string placement : {"", "--in-place"}) {
    SCOPED_TRACE(placement);
    test::writeFile(file, original);
    const CommandResult r = test::runCommand("ulimit -f 200; " + cli() + " modify --volume 80 " +
                                             placement + " " + inQuotes(file) + " </dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "disk full (error 61)")) << r.err;
    EXPECT_TRUE(contains(r.err, file + " is left as it was")) << r.err;
    EXPECT_EQ(test::readFile(file), original);
    EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::string>{"a.wav"});
  }
}

// Reads what the child on `master` writes until `wanted` shows or it ends.
std::string readUntil(int master, const std::string& wanted) {
  std::string seen;
  char buffer[512];
  for (int waits = 0; waits < 100 && !contains(seen, wanted); ++waits) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  return seen;
}

TEST(AdversarialTest, EnterAtTheDiskQuestionOnATerminalKeepsTheFile) {
  TempDir dir;
  const std::string small = dir.file("small");
  ASSERT_EQ(::mkdir(small.c_str(), 0755), 0);
  if (std::system(("mount -t tmpfs -o size=1m tmpfs " + inQuotes(small) + " 2>/dev/null").c_str()))
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  struct Unmount {
    std::string dir;
    ~Unmount() { (void)std::system(("umount " + dir).c_str()); }
  } unmount{inQuotes(small)};
  const std::string file = small + "/a.wav";
  const Bytes original = noiseWav(150000);  // 600 KB: no room for a copy
  test::writeFile(file, original);

  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const std::string program = test::builtProgram("rilmaton-cli");
    ::execl(program.c_str(), program.c_str(), "modify", "--volume", "80", file.c_str(), nullptr);
    ::_exit(127);
  }
  const std::string asked = readUntil(master, "[y/N] ");
  EXPECT_TRUE(contains(asked, "Do you want to overwrite the existing file?")) << asked;
  ASSERT_EQ(::write(master, "\n", 1), 1);
  const std::string rest = readUntil(master, "not modified");
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(master);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_TRUE(contains(rest, "not modified")) << rest;
  EXPECT_EQ(test::readFile(file), original);
}

TEST(AdversarialTest, TwoRunsOnOneFileNeverMixTheirWork) {
  TempDir dir;
  const std::string file = dir.file("a.wav");
  const Bytes original = noiseWav(2 << 20);  // 8 MiB
  test::writeFile(dir.file("orig.wav"), original);
  ASSERT_EQ(run("modify --volume 50 --output " + inQuotes(dir.file("once.wav")) + " " +
                inQuotes(dir.file("orig.wav")))
                .status,
            0);
  ASSERT_EQ(run("modify --volume 50 --output " + inQuotes(dir.file("twice.wav")) + " " +
                inQuotes(dir.file("once.wav")))
                .status,
            0);
  const Bytes once = test::readFile(dir.file("once.wav"));
  const Bytes twice = test::readFile(dir.file("twice.wav"));
  int refused = 0;
  constexpr int kTrials = 20;
  for (int trial = 0; trial < kTrials; ++trial) {
    test::writeFile(file, original);
    ::unlink((file + ".old").c_str());
    // An in-place run and a default one at once, through a shell each.
    const CommandResult r =
        test::runCommand("cd " + inQuotes(dir.path()) + " && { " + cli() +
                         " modify --volume 50 --in-place a.wav 2>e1 >/dev/null & " + cli() +
                         " modify --volume 50 a.wav 2>e2 >/dev/null & wait; }; cat e1 e2");
    const Bytes now = test::readFile(file);
    EXPECT_TRUE(now == once || now == twice) << "trial " << trial << ": a mix\n" << r.out;
    if (test::fileExists(file + ".old")) {
      const Bytes old = test::readFile(file + ".old");
      EXPECT_TRUE(old == original || old == once) << "trial " << trial;
    }
    const bool wasRefused = contains(r.out, "a.wav is being modified by another run");
    refused += wasRefused;
    EXPECT_EQ(wasRefused, now == once) << r.out;
  }
  RecordProperty("refusals", refused);
  // Two jobs on the same file, one run each: one of them is refused.
  test::writeFile(file, original);
  ::unlink((file + ".old").c_str());
  const CommandResult jobs =
      run("modify --volume 50 --jobs 2 " + inQuotes(file) + " " + inQuotes(file));
  EXPECT_EQ(jobs.status, 1);
  EXPECT_EQ(test::readFile(file), once);
}

// -r walks from directory descriptors: a file deeper than PATH_MAX is found
// and reported; an entry that cannot be examined is an error, not a skip.
TEST(AdversarialTest, RecursionReachesPastPathMaxAndNamesWhatItCannotExamine) {
  TempDir dir;
  const std::string top = dir.file("top");
  ASSERT_EQ(::mkdir(top.c_str(), 0755), 0);
  int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
  const std::string step(200, 'd');
  std::string deep = top;
  for (int level = 0; level < 25; ++level) {
    ASSERT_EQ(::mkdirat(fd, step.c_str(), 0755), 0);
    const int next = ::openat(fd, step.c_str(), O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
    deep += "/" + step;
  }
  ASSERT_GT(deep.size(), std::size_t{PATH_MAX});
  const Bytes wav = noiseWav(1000);
  const int out = ::openat(fd, "deep.wav", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::write(out, wav.data(), wav.size()), static_cast<ssize_t>(wav.size()));
  ::close(out);
  ::close(fd);
  CommandResult r = run("report --json -r " + inQuotes(top));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out, "deep.wav")) << r.err;

  ASSERT_EQ(::symlink("loop.wav", (top + "/loop.wav").c_str()), 0);
  r = run("report --json -r " + inQuotes(top));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "cannot examine " + top + "/loop.wav")) << r.err;
  (void)std::system(("rm -rf " + inQuotes(top)).c_str());
}

// A name's control codes are shown escaped in text (so it can neither move
// the cursor nor fake a line of its own), and kept as they are in JSON.
TEST(AdversarialTest, ControlCodesInNamesAreShownEscaped) {
  TempDir dir;
  const std::string name = "a\n== b\033[31m.wav";
  test::writeFile(dir.file(name), noiseWav(1000));
  const std::string shown = dir.path() + "a\\n== b\\033[31m.wav";
  CommandResult r = run("report " + inQuotes(dir.file(name)));
  EXPECT_TRUE(contains(r.out, shown)) << r.out;
  EXPECT_FALSE(contains(r.out, "\033")) << r.out;
  r = run("modify --volume 80 " + inQuotes(dir.file(name)) + " " + inQuotes(dir.file("none.wav")));
  EXPECT_TRUE(contains(r.out, "== " + shown + "\n")) << r.out;
  EXPECT_FALSE(contains(r.out + r.err, "\033")) << r.out;
  r = run("report --json " + inQuotes(dir.file(name)));
  EXPECT_TRUE(contains(r.out, "a\\n== b\\u001b[31m.wav")) << r.out;
}

TEST(AdversarialTest, SmallFaultsGetOneClearLine) {
  TempDir dir;
  test::writeFile(dir.file("empty.wav"), {});
  CommandResult r = run("modify --deemphasis " + inQuotes(dir.file("empty.wav")));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(contains(r.err, "is empty")) << r.err;
  EXPECT_FALSE(contains(r.err, "0 Hz")) << r.err;

  test::writeFile(dir.file("a.wav"), noiseWav(1000));
  r = run("modify --volume 80 --output-dir " + inQuotes(dir.path()) + " " +
          inQuotes(dir.file("a.wav")));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
  EXPECT_TRUE(contains(r.err, dir.file("a.wav"))) << r.err;

  // A pipe is named as one, not taken for an empty file, and never waited
  // on: nothing writes to this one.
  ASSERT_EQ(::mkfifo(dir.file("pipe.wav").c_str(), 0600), 0);
  for (const char* command : {"report ", "report --json ", "modify --volume 80 "}) {
    SCOPED_TRACE(command);
    r = run(command + inQuotes(dir.file("pipe.wav")));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err + r.out, "it is a pipe, not a file")) << r.err << r.out;
    EXPECT_FALSE(contains(r.err + r.out, "empty")) << r.err << r.out;
  }
}

}  // namespace
}  // namespace ril
