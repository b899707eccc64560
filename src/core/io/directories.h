// Directories as a file chooser walks them: listings, paths, the home
// directory, the mounted volumes and the process's current directory.
//
// Paths are kept as the bytes the file system uses; a directory path ends in
// "/" only when it is the root. Failures come back as errno values, never as
// exceptions.
#pragma once

#include <istream>
#include <string>
#include <vector>

namespace ril {

// Which entries of a directory a listing keeps. Hidden entries (a leading
// ".") and links that lead nowhere are always left out.
enum class EntryKind {
  kDirectory,  // directories, and links to directories
  kWavFile,    // regular files (or links to them) named "*.wav" in any case
  kCueSheet,   // regular files (or links to them) named "*.cue" in any case
};

struct DirectoryListing {
  std::vector<std::string> names;  // bare names, ordered without regard to case
  int error = 0;                   // the errno when the directory could not be read
};

// The entries of `dir` of the given kind.
DirectoryListing listEntries(const std::string& dir, EntryKind kind);

// 0 when the current user may list and enter `dir`, else the errno that says why not.
int directoryAccessError(const std::string& dir);

// `path` made absolute against `base` (the root when empty) and normal:
// "/a/b/" becomes "/a/b", "a/../b" under "/x" becomes "/x/b"; "/" stays "/".
std::string normalPath(const std::string& path, const std::string& base);

// `dir` and `name` with exactly one "/" between them, also when `dir` is "/".
std::string joinPath(const std::string& dir, const std::string& name);

// Whether `path` is `root` itself or lies below it; "/" holds every path.
bool isWithin(const std::string& path, const std::string& root);

// Whether a bare file name matches "*.wav" without regard to case.
bool isWavFileName(const std::string& name);
// The same for "*.cue".
bool isCueSheetName(const std::string& name);

// Byte order with A-Z taken as a-z; names equal but for case are ordered by
// their bytes, so the order is total.
bool lessIgnoringCase(const std::string& a, const std::string& b);

// $HOME, else the password entry's home directory, else "/"; normal.
std::string homeDirectory();

// A field of the mount table with its octal escapes undone ("\040" is a blank).
std::string unescapeMountField(const std::string& field);

// The mount points of removable and extra volumes in a mount table (the
// format of /proc/self/mounts): /mnt and everything under /mnt, /media and
// /run/media, unescaped and sorted.
std::vector<std::string> volumeMountPoints(std::istream& mounts);

// The roots a user browses from: "/", the home directory, then the volume
// mount points of /proc/self/mounts; each once.
std::vector<std::string> machineRoots();

// The process's current directory; empty when it cannot be told.
std::string currentDirectory();

// Makes `path` the process's current directory; 0, or the errno of the failure.
int setCurrentDirectory(const std::string& path);

}  // namespace ril
