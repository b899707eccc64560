#include "core/io/directories.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/test_support.h"

namespace ril {
namespace {

using test::TempDir;

TEST(Directories, ListsWavFilesInAnyCaseOrderedWithoutRegardToCase) {
  TempDir dir;
  for (const char* name : {"b.WAV", "a.wav", "C.Wav", "d.wave", "e.txt", "wav", ".hidden.wav"}) {
    test::writeFile(dir.file(name), {1, 2, 3});
  }
  std::filesystem::create_directory(dir.file("dir.wav"));
  const DirectoryListing files = listEntries(dir.path(), EntryKind::kWavFile);
  EXPECT_EQ(files.error, 0);
  EXPECT_EQ(files.names, (std::vector<std::string>{"a.wav", "b.WAV", "C.Wav"}));
  EXPECT_TRUE(isWavFileName("X.wAv"));
  EXPECT_FALSE(isWavFileName("x.wav.old"));
  EXPECT_FALSE(isWavFileName("wav"));
}

TEST(Directories, ListsVisibleSubdirectoriesAndLinksToThem) {
  TempDir dir;
  std::filesystem::create_directories(dir.file("top/Beta"));
  std::filesystem::create_directories(dir.file("top/alpha"));
  std::filesystem::create_directories(dir.file("top/.hidden"));
  std::filesystem::create_directory_symlink(dir.file("top/alpha"), dir.file("top/link"));
  test::writeFile(dir.file("top/file.wav"), {1});
  const DirectoryListing subdirs = listEntries(dir.file("top"), EntryKind::kDirectory);
  EXPECT_EQ(subdirs.error, 0);
  EXPECT_EQ(subdirs.names, (std::vector<std::string>{"alpha", "Beta", "link"}));
  EXPECT_EQ(directoryAccessError(dir.file("top")), 0);
}

TEST(Directories, LinksThatLeadNowhereAreSkippedNotTakenForAFailure) {
  TempDir dir;
  test::writeFile(dir.file("a.wav"), {1});
  std::filesystem::create_directory(dir.file("sub"));
  std::filesystem::create_symlink(dir.file("missing.wav"), dir.file("broken.wav"));
  std::filesystem::create_directory_symlink(dir.file("missing"), dir.file("broken"));
  const DirectoryListing files = listEntries(dir.path(), EntryKind::kWavFile);
  EXPECT_EQ(files.error, 0);
  EXPECT_EQ(files.names, std::vector<std::string>{"a.wav"});
  const DirectoryListing subdirs = listEntries(dir.path(), EntryKind::kDirectory);
  EXPECT_EQ(subdirs.error, 0);
  EXPECT_EQ(subdirs.names, std::vector<std::string>{"sub"});
}

TEST(Directories, MissingDirectoryGivesItsErrno) {
  TempDir dir;
  const DirectoryListing listing = listEntries(dir.file("gone"), EntryKind::kDirectory);
  EXPECT_EQ(listing.error, ENOENT);
  EXPECT_TRUE(listing.names.empty());
  EXPECT_EQ(directoryAccessError(dir.file("gone")), ENOENT);
}

TEST(Directories, PathsAreMadeAbsoluteAndNormal) {
  EXPECT_EQ(normalPath("/a/b/", "/x"), "/a/b");
  EXPECT_EQ(normalPath("a/../b", "/x"), "/x/b");
  EXPECT_EQ(normalPath("b", ""), "/b");
  EXPECT_EQ(normalPath("/", "/x"), "/");
  EXPECT_EQ(normalPath("..", "/"), "/");
  EXPECT_EQ(joinPath("/", "a.wav"), "/a.wav");
  EXPECT_EQ(joinPath("/music", "a.wav"), "/music/a.wav");
  EXPECT_EQ(joinPath("/music/", "a.wav"), "/music/a.wav");
  EXPECT_TRUE(isWithin("/media/ann/STICK/x", "/media/ann/STICK"));
  EXPECT_TRUE(isWithin("/media/ann/STICK", "/media/ann/STICK"));
  EXPECT_FALSE(isWithin("/media/ann/STICK2", "/media/ann/STICK"));
  EXPECT_TRUE(isWithin("/anything", "/"));
}

TEST(Directories, OrderIgnoresCaseAndIsTotal) {
  EXPECT_TRUE(lessIgnoringCase("alpha", "Beta"));
  EXPECT_FALSE(lessIgnoringCase("Beta", "alpha"));
  EXPECT_TRUE(lessIgnoringCase("ab", "ABC"));
  EXPECT_NE(lessIgnoringCase("B", "b"), lessIgnoringCase("b", "B"));
}

TEST(Directories, MountTableGivesTheVolumesUnescapedAndSorted) {
  EXPECT_EQ(unescapeMountField("/media/ann/MY\\040STICK"), "/media/ann/MY STICK");
  EXPECT_EQ(unescapeMountField("/mnt/a\\08x"), "/mnt/a\\08x");  // not octal: kept
  EXPECT_EQ(unescapeMountField("/mnt/a\\04"), "/mnt/a\\04");    // too short: kept
  std::istringstream table(
      "/dev/sda1 / ext4 rw 0 0\n"
      "/dev/sdc1 /run/media/ann/DISK vfat rw 0 0\n"
      "/dev/sdb1 /media/ann/MY\\040STICK vfat rw 0 0\n"
      "proc /proc proc rw 0 0\n"
      "/dev/sdd1 /mnt ext4 rw 0 0\n"
      "/dev/sde1 /mntx ext4 rw 0 0\n"
      "broken\n");
  EXPECT_EQ(volumeMountPoints(table),
            (std::vector<std::string>{"/media/ann/MY STICK", "/mnt", "/run/media/ann/DISK"}));
  EXPECT_EQ(machineRoots().front(), "/");
}

TEST(Directories, HomeDirectoryComesFromHomeMadeNormal) {
  const char* saved = std::getenv("HOME");
  const std::string before = saved ? saved : "";
  setenv("HOME", "/home/ann/", 1);
  EXPECT_EQ(homeDirectory(), "/home/ann");
  if (saved) {
    setenv("HOME", before.c_str(), 1);
  } else {
    unsetenv("HOME");
  }
}

TEST(Directories, CurrentDirectoryCanBeChangedAndAFailureSaysWhy) {
  TempDir dir;
  const std::string before = currentDirectory();
  ASSERT_FALSE(before.empty());
  EXPECT_EQ(setCurrentDirectory(dir.path()), 0);
  EXPECT_EQ(currentDirectory(), normalPath(dir.path(), "/"));
  EXPECT_EQ(setCurrentDirectory(dir.file("gone")), ENOENT);
  EXPECT_EQ(currentDirectory(), normalPath(dir.path(), "/"));
  EXPECT_EQ(setCurrentDirectory(before), 0);
}

}  // namespace
}  // namespace ril
