// Where results may go and what a run leaves when something is in the way:
// another result of the same name, a stale backup, a planted link, a
// leftover temporary, a second run, a directory that cannot be flushed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "core/modify/modify_messages.h"
#include "core/modify/output_placement.h"
#include "support/modify_test_support.h"

namespace ril {
namespace {

using test::Bytes;

Bytes stereo() {
  test::WavShape s;
  s.data = test::pcm16({1000, -1000, 2000, -3000, 12000, -16384, 7, 8});
  return test::buildWav(s);
}

// Two albums' track01.wav: the second result would take the first one's name
// in the program directory, so it is refused as an existing .old is, and the
// closing notice of the first names where its result went.
TEST(SafePlacementTest, NoResultInTheProgramDirectoryIsEverReplaced) {
  test::ModifyHarness h;
  const Bytes file = stereo();
  std::string paths[2];
  for (int album = 0; album < 2; ++album) {
    const std::string dir = h.userDir + (album == 0 ? "albumA/" : "albumB/");
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    paths[album] = dir + "track01.wav";
    test::writeFile(paths[album], file);
  }
  h.request.volumeTenths = 500;
  h.loadPath(paths[0]);
  const ModifyResult first = h.run();
  ASSERT_EQ(first.outcome, ModifyOutcome::kCompleted);
  EXPECT_EQ(first.outputName, h.progDir + "track01.wav");
  EXPECT_NE(closingNotice(true, "\r\n", first.outputName).text.find("\r\n" + h.progDir),
            std::string::npos);
  const Bytes result = test::readFile(h.progDir + "track01.wav");

  h.loadPath(paths[1]);
  const ModifyResult second = h.run();
  EXPECT_EQ(second.outcome, ModifyOutcome::kFailed);
  EXPECT_EQ(second.errorNumber, kErrFileExists);
  EXPECT_EQ(failureMessage(second, paths[1]).text,
            "File " + h.progDir + "track01.wav already exists! Modification cancelled!");
  EXPECT_EQ(test::readFile(h.progDir + "track01.wav"), result);
  EXPECT_EQ(test::readFile(paths[1]), file);
  EXPECT_FALSE(test::fileExists(paths[1] + ".old"));
}

// A second name P.old of P is what a run killed between keeping the original
// and naming the result leaves: it goes, with a notice, and the run goes on.
TEST(SafePlacementTest, AStaleBackupThatIsTheFileItselfIsRemovedAndTheRunGoesOn) {
  test::ModifyHarness h;
  const Bytes file = stereo();
  h.load(file);
  ASSERT_EQ(::link(h.path().c_str(), (h.path() + ".old").c_str()), 0);
  h.request.volumeTenths = 500;
  EXPECT_EQ(h.run().outcome, ModifyOutcome::kCompleted);
  ASSERT_FALSE(h.host.messages.empty());
  EXPECT_EQ(h.host.messages.front().text, staleOldNotice(h.path()).text);
  EXPECT_EQ(test::readFile(h.path() + ".old"), file);

  // A real backup (another file) still refuses the run.
  test::writeFile(h.path(), file);
  h.host.messages.clear();
  EXPECT_EQ(h.run().outcome, ModifyOutcome::kFailed);
  EXPECT_EQ(test::readFile(h.path()), file);
}

// Once the result has its name nothing is undone, and the message says where
// the files are instead of "cancelled".
TEST(SafePlacementTest, AFailureAfterTheResultHasItsNameSaysWhereTheFilesAre) {
  struct UnflushableDirectories : test::FaultyFileSystem {
    void syncDirectory(const std::string& dir) override {
      throw RunError(kErrDeviceIo, "the directory " + dir + " could not be flushed to disk", EIO);
    }
  };
  test::ModifyHarness h;
  const Bytes file = stereo();
  h.load(file);
  UnflushableDirectories fs;
  ModifyServices services{.fs = fs, .clock = h.clock, .messages = h.host, .progress = h.host};
  h.request.volumeTenths = 500;
  const ModifyResult r = runModification(h.target, h.request, services);
  EXPECT_EQ(r.outcome, ModifyOutcome::kFailed);
  EXPECT_TRUE(r.committed);
  EXPECT_EQ(failureMessage(r, h.path()).text,
            h.progDir + "a.wav is the modified file and " + h.path() +
                ".old the original, but the directory " + h.progDir +
                " could not be flushed to disk (error 57)!");
  EXPECT_EQ(test::readFile(h.path() + ".old"), file);
  EXPECT_TRUE(test::fileExists(h.progDir + "a.wav"));
}

// In a sticky world-writable directory only links of this user or of the
// directory's owner are followed, as fs.protected_symlinks does; elsewhere
// every link is.
TEST(SafePlacementTest, LinksInStickyDirectoriesAreFollowedOnlyAsTheKernelWould) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to give a link another owner";
  test::TempDir dir;
  FileSystem& fs = realFileSystem();
  const std::string shared = dir.file("shared");
  ASSERT_EQ(::mkdir(shared.c_str(), 0777), 0);
  ASSERT_EQ(::chmod(shared.c_str(), 01777), 0);
  test::writeFile(dir.file("precious.wav"), {1});
  const std::string link = shared + "/out.wav";
  ASSERT_EQ(::symlink(dir.file("precious.wav").c_str(), link.c_str()), 0);
  EXPECT_EQ(baseNameOf(resolveOutput(fs, link).path), "precious.wav");  // our own link

  ASSERT_EQ(::lchown(link.c_str(), 54321, 54321), 0);
  try {
    resolveOutput(fs, link);
    ADD_FAILURE() << "another user's link was followed";
  } catch (const RefusedLink& e) {
    EXPECT_EQ(e.link(), fs.resolveLinks(shared) + "/out.wav");
    EXPECT_EQ(e.number(), kErrPermissionDenied);
  }
  EXPECT_THROW(fs.resolveLinks(shared + "/out.wav/../x"), RefusedLink);  // on the way too

  ASSERT_EQ(::chown(shared.c_str(), 54321, 54321), 0);  // the directory owner's link
  EXPECT_EQ(baseNameOf(resolveOutput(fs, link).path), "precious.wav");
  ASSERT_EQ(::chmod(shared.c_str(), 0777), 0);  // not sticky: followed
  ASSERT_EQ(::chown(shared.c_str(), 0, 0), 0);
  EXPECT_EQ(baseNameOf(resolveOutput(fs, link).path), "precious.wav");
}

// Hidden temporary names fit NAME_MAX however long the target's name; one
// that no process holds is a leftover the next new file for the target
// removes, one held is left alone.
TEST(SafePlacementTest, TemporaryNamesFitAndUnheldLeftoversAreRemoved) {
  test::TempDir dir;
  FileSystem& fs = realFileSystem();
  for (std::size_t length : {5, 240, 251, 255}) {
    SCOPED_TRACE(length);
    const std::string target = dir.file(std::string(length - 4, 'n') + ".wav");
    auto file = createHiddenNewFile(target);
    file->write("abc", 3);
    file->sync();
    file->publish();
    EXPECT_EQ(test::readFile(target), (Bytes{'a', 'b', 'c'}));
    EXPECT_LE(baseNameOf(temporaryNamePrefix(target)).size() + 16, std::size_t{NAME_MAX});
  }

  const std::string target = dir.file("a.wav");
  const std::string leftover = temporaryNamePrefix(target) + "0123456789ab.tmp";
  const std::string held = temporaryNamePrefix(target) + "ba9876543210.tmp";
  const std::string other = temporaryNamePrefix(dir.file("b.wav")) + "0123456789ab.tmp";
  for (const std::string& name : {leftover, held, other}) test::writeFile(name, {1});
  const int fd = ::open(held.c_str(), O_RDONLY);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  auto file = createHiddenNewFile(target);  // holds its own lock meanwhile
  EXPECT_FALSE(test::fileExists(leftover));
  EXPECT_TRUE(test::fileExists(held));
  EXPECT_TRUE(test::fileExists(other));
  fs.createNewFile(target)->discard();  // the unnamed way cleans up too
  // The four targets, the held one, the other target's and the open file's own.
  EXPECT_EQ(test::listDirectory(dir.path()).size(), 7u);
  file->discard();
  ::close(fd);
}

// One run per file: a file another run holds (any name of it) is refused at
// once, and free again once that run ends.
TEST(SafePlacementTest, AFileAnotherRunHoldsIsRefusedAtOnce) {
  test::TempDir dir;
  FileSystem& fs = realFileSystem();
  test::writeFile(dir.file("a.wav"), {1});
  ASSERT_EQ(::link(dir.file("a.wav").c_str(), dir.file("b.wav").c_str()), 0);
  {
    const auto lock = fs.lockForRun(dir.file("a.wav"));
    try {
      fs.lockForRun(dir.file("b.wav"));
      ADD_FAILURE() << "a second lock was had";
    } catch (const RunError& e) {
      EXPECT_EQ(e.number(), kErrPermissionDenied);
      EXPECT_EQ(e.detail(), dir.file("b.wav") + " is being modified by another run");
    }
  }
  EXPECT_NO_THROW(fs.lockForRun(dir.file("b.wav")));
}

}  // namespace
}  // namespace ril
