#include "core/io/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "core/base/errors.h"
#include "core/io/safe_outputs.h"
#include "support/test_support.h"

namespace ril {
namespace {

using test::TempDir;

TEST(ErrorNumbers, ErrnoMapsToTheProgramsNumbers) {
  EXPECT_EQ(errorNumberFromErrno(ENOENT, Access::kRead), 53);
  EXPECT_EQ(errorNumberFromErrno(EEXIST, Access::kRename), 58);
  EXPECT_EQ(errorNumberFromErrno(ENOSPC, Access::kWrite), 61);
  EXPECT_EQ(errorNumberFromErrno(EROFS, Access::kWrite), 75);
  EXPECT_EQ(errorNumberFromErrno(EACCES, Access::kWrite), 75);
  EXPECT_EQ(errorNumberFromErrno(EACCES, Access::kRead), 70);
  EXPECT_EQ(errorNumberFromErrno(EBUSY, Access::kRename), 70);
  EXPECT_EQ(errorNumberFromErrno(ETXTBSY, Access::kWrite), 70);
  EXPECT_EQ(errorNumberFromErrno(ENOTDIR, Access::kRead), 76);
}

TEST(ErrorNumbers, EachNumberHasOneSetOfWordsForEveryText) {
  EXPECT_EQ(errorCause(61), "Disk full (error 61)");
  EXPECT_EQ(errorCause(53, true), "file not found (error 53)");
  EXPECT_EQ(failureText(61, "out.wav", ENOSPC, true),
            "disk full (error 61): out.wav (No space left on device)");
  EXPECT_EQ(RunError(53, "a.wav").what(), failureText(53, "a.wav", 0));
  EXPECT_EQ(errorCode(61), "disk-full");
  EXPECT_EQ(errorCode(53), "file-not-found");
  // A number without words of its own is still told apart.
  EXPECT_FALSE(hasErrorWords(99));
  EXPECT_EQ(errorCause(99, true), "error 99");
  EXPECT_EQ(errorCode(99), "error-99");
  EXPECT_EQ(systemErrorText(ENOENT), "No such file or directory");
}

TEST(Files, RenameWithoutReplaceFailsWith58AndKeepsBothFiles) {
  TempDir dir;
  test::writeFile(dir.file("a.wav"), {1, 2, 3});
  test::writeFile(dir.file("a.wav.old"), {9});
  try {
    realFileSystem().renameNoReplace(dir.file("a.wav"), dir.file("a.wav.old"));
    FAIL() << "rename replaced an existing file";
  } catch (const RunError& e) {
    EXPECT_EQ(e.number(), 58);
  }
  EXPECT_EQ(test::readFile(dir.file("a.wav")), (test::Bytes{1, 2, 3}));
  EXPECT_EQ(test::readFile(dir.file("a.wav.old")), (test::Bytes{9}));
  realFileSystem().remove(dir.file("a.wav.old"));
  realFileSystem().renameNoReplace(dir.file("a.wav"), dir.file("a.wav.old"));
  EXPECT_FALSE(test::fileExists(dir.file("a.wav")));
  EXPECT_EQ(test::readFile(dir.file("a.wav.old")), (test::Bytes{1, 2, 3}));
}

TEST(Files, MissingFilesAndDirectoriesGiveTheirNumbers) {
  TempDir dir;
  auto number = [](auto&& f) {
    try {
      f();
    } catch (const RunError& e) {
      return e.number();
    }
    return 0;
  };
  FileSystem& fs = realFileSystem();
  EXPECT_EQ(number([&] { fs.openRead(dir.file("missing.wav")); }), 53);
  EXPECT_EQ(number([&] { fs.fileLength(dir.file("missing.wav")); }), 53);
  EXPECT_EQ(
      number([&] { fs.openWrite(dir.file("no/such/dir.wav"), WriteMode::kCreateOrTruncate); }), 53);
  test::writeFile(dir.file("plain"), {0});
  EXPECT_EQ(number([&] { fs.openRead(dir.file("plain/x.wav")); }), 76);
  EXPECT_EQ(number([&] { fs.openRead(dir.path()); }), 75);
  EXPECT_EQ(number([&] { fs.openWrite(dir.file("plain"), WriteMode::kCreateNew); }), 58);
}

TEST(Files, ReadsMixSmallAndLargeBlocksAndReportEndAsShortRead) {
  TempDir dir;
  test::Bytes bytes(200000);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 7);
  test::writeFile(dir.file("f"), bytes);
  auto in = realFileSystem().openRead(dir.file("f"));
  std::vector<unsigned char> got(bytes.size() + 10);
  std::size_t pos = 0;
  pos += in->read(got.data(), 3);
  EXPECT_EQ(in->skip(5), 5u);
  pos += 5;
  pos += in->read(got.data() + pos, 100000);
  std::size_t last = in->read(got.data() + pos, 200000);
  EXPECT_EQ(pos + last, bytes.size());
  EXPECT_EQ(in->read(got.data(), 10), 0u);
  EXPECT_TRUE(std::equal(bytes.begin() + 8, bytes.end(), got.begin() + 8));
  EXPECT_EQ(realFileSystem().fileLength(dir.file("f")), bytes.size());
}

TEST(Files, SkipStopsAtTheEndOfTheFile) {
  TempDir dir;
  test::writeFile(dir.file("f"), test::Bytes(1000, 1));
  auto in = realFileSystem().openRead(dir.file("f"));
  unsigned char b[4];
  in->read(b, 4);
  EXPECT_EQ(in->skip(4000000000ull), 996u);
  EXPECT_EQ(in->read(b, 4), 0u);
}

TEST(Files, PathsSplitIntoDirectoryAndName) {
  EXPECT_EQ(directoryOf("/music/a.wav"), "/music/");
  EXPECT_EQ(baseNameOf("/music/a.wav"), "a.wav");
  EXPECT_EQ(directoryOf("/a.wav"), "/");
  EXPECT_EQ(directoryOf("a.wav"), "");
}

TEST(Files, FreeSpaceReportsTheFileSystemsFigures) {
  TempDir dir;
  DiskFree free = realFileSystem().freeSpace(dir.path());
  EXPECT_EQ(free.sectorsPerCluster, 1);
  EXPECT_GT(free.bytesPerSector, 0);
  EXPECT_GE(free.freeClusters, 0);
  DiskFree none = realFileSystem().freeSpace(dir.file("missing/"));
  EXPECT_EQ(none.bytesPerSector, 0);
}

TEST(Files, NewFileHasNoNameUntilPublishedAndThenReplacesItsTargetInOneStep) {
  TempDir dir;
  FileSystem& fs = realFileSystem();
  test::writeFile(dir.file("b.wav"), {9, 9});
  {
    auto out = fs.createNewFile(dir.file("b.wav"));
    out->write("abc", 3);
    out->sync();
    EXPECT_EQ(test::listDirectory(dir.path()), std::vector<std::string>{"b.wav"});
    EXPECT_EQ(test::readFile(dir.file("b.wav")), (test::Bytes{9, 9}));
    out->publish();
  }
  EXPECT_EQ(test::readFile(dir.file("b.wav")), (test::Bytes{'a', 'b', 'c'}));
  {
    auto out = fs.createNewFile(dir.file("c.wav"));
    out->write("xyz", 3);
  }  // never published
  {
    auto out = fs.createNewFile(dir.file("c.wav"));
    out->write("xyz", 3);
    out->publish();  // a free name is taken directly
  }
  EXPECT_EQ(test::listDirectory(dir.path()), (std::vector<std::string>{"b.wav", "c.wav"}));
}

// What the output leads to decides its route, not where its name lies: a
// regular file under /dev/shm is replaced as any other.
TEST(Files, ExplicitOutputsLeadToFilesDevicesPipesOrStandardOutput) {
  TempDir dir;
  FileSystem& fs = realFileSystem();
  test::writeFile(dir.file("t.wav"), {1});
  ASSERT_EQ(::symlink("t.wav", dir.file("one").c_str()), 0);
  ASSERT_EQ(::symlink(dir.file("one").c_str(), dir.file("two").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/null", dir.file("null").c_str()), 0);
  struct Case {
    std::string path;
    OutputRoute route;
    std::string written;
  };
  for (const Case& c :
       std::vector<Case>{{"-", OutputRoute::kStandardOutput, ""},
                         {dir.file("new.wav"), OutputRoute::kNewFile, dir.file("new.wav")},
                         {dir.file("two"), OutputRoute::kNewFile, dir.file("t.wav")},
                         {dir.file("pipe"), OutputRoute::kDirect, dir.file("pipe")},
                         {dir.file("null"), OutputRoute::kDirect, "/dev/null"},
                         {"/dev/shm/x.wav", OutputRoute::kNewFile, "/dev/shm/x.wav"}}) {
    SCOPED_TRACE(c.path);
    const OutputTarget target = resolveOutput(fs, c.path);
    EXPECT_EQ(target.route, c.route);
    // The temporary directory may itself lie behind a link: compare files.
    if (c.route == OutputRoute::kNewFile) {
      EXPECT_EQ(baseNameOf(target.path), baseNameOf(c.written));
      EXPECT_TRUE(
          fs.identify(directoryOf(target.path)).sameFileAs(fs.identify(directoryOf(c.written))));
    } else if (c.route == OutputRoute::kDirect) {
      EXPECT_TRUE(fs.identify(target.path).sameFileAs(fs.identify(c.written)));
    }
  }
  // Standard output by its name is what it is: a pipe or terminal is written
  // where it is, a regular file is replaced.
  const bool regular = fs.identify("/dev/stdout").kind == FileKind::kRegular;
  EXPECT_EQ(resolveOutput(fs, "/dev/stdout").route,
            regular ? OutputRoute::kNewFile : OutputRoute::kDirect);
}

}  // namespace
}  // namespace ril
