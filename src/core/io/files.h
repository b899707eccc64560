// Binary files and the file system, behind interfaces so tests can inject faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/base/errors.h"

namespace ril {

// Something bytes are read from sequentially. A short read means end of data;
// a failing read throws RunError.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual std::size_t read(void* buffer, std::size_t count) = 0;
  // Skips up to `count` bytes; returns how many were skipped (fewer at the end).
  virtual std::uint64_t skip(std::uint64_t count);
};

// Reads from a block of memory (tests and fuzzers).
class MemorySource : public ByteSource {
 public:
  explicit MemorySource(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
  MemorySource(const void* data, std::size_t size);
  std::size_t read(void* buffer, std::size_t count) override;
  std::uint64_t skip(std::uint64_t count) override;

 private:
  std::vector<unsigned char> bytes_;
  std::size_t pos_ = 0;
};

// Serves `prefix` first, then continues with `rest`.
class PrefixedSource : public ByteSource {
 public:
  PrefixedSource(std::vector<unsigned char> prefix, std::unique_ptr<ByteSource> rest)
      : prefix_(std::move(prefix)), rest_(std::move(rest)) {}
  std::size_t read(void* buffer, std::size_t count) override;
  std::uint64_t skip(std::uint64_t count) override;

 private:
  std::vector<unsigned char> prefix_;
  std::size_t pos_ = 0;
  std::unique_ptr<ByteSource> rest_;
};

// A file open for binary reading.
class InputFile : public ByteSource {
 public:
  virtual void close() = 0;  // idempotent, never throws
};

// A file open for binary writing. Every failure throws RunError.
class OutputFile {
 public:
  virtual ~OutputFile() = default;
  virtual void write(const void* data, std::size_t count) = 0;
  virtual void sync() = 0;   // data on disk (fsync)
  virtual void close() = 0;  // reports a failing close; idempotent
  // Allocates the first `length` bytes of the file without changing its
  // length, so that rewriting them cannot run out of space (RunError 61 when
  // the space is not there). False when the file system cannot reserve space.
  virtual bool reserve(std::uint64_t length) = 0;
  // Appends the next `count` bytes of `source` (fewer only where it ends) as
  // write() would, and returns how many. A file copied into a file is copied
  // by the kernel, and the holes of a sparse one stay holes.
  virtual std::uint64_t copyFrom(ByteSource& source, std::uint64_t count);
  // Writes `count` bytes at `offset` in one write, leaving the rest of the
  // file as it is (a header field rewritten in place). An output that cannot
  // be written at an offset fails with RunError 51.
  virtual void writeAt(std::uint64_t offset, const void* data, std::size_t count);
};

// A new file that takes its name only once it is complete: written without
// a name (O_TMPFILE) where the file system allows it, otherwise under a
// hidden temporary name (.NAME.RANDOM.tmp, see temporaryNamePrefix) beside
// its target. It holds an exclusive flock while it is open. Nothing of it
// stays behind unless it is published; a killed process leaves no trace of
// an unnamed one, and a hidden name it leaves is removed by the next file
// made for the same target.
class NewFile : public OutputFile {
 public:
  // Takes on the permission bits of `source`, its owner and group where this
  // process may set them, and its extended attributes (POSIX ACLs included)
  // as far as they can be set. Throws RunError when `source` cannot be read.
  virtual void takeAttributesOf(const std::string& source) = 0;
  // Gives the file (synced by the caller) its target's name, replacing a
  // file of that name in one step, and closes it. Every check that can fail
  // (its close among them) comes before the name changes: a failure leaves
  // the target as it was.
  virtual void publish() = 0;
  // As publish(), but a file of the target's name is never replaced: that
  // fails with RunError 58. File systems that cannot tell replace it.
  virtual void publishWithoutReplacing() { publish(); }
  // Closes and removes it; never throws. Also done on destruction unless
  // published.
  virtual void discard() noexcept = 0;
};

enum class WriteMode {
  kCreateOrTruncate,  // create when missing, else empty it
  kCreateNew,         // fail with 58 when it exists
  kExisting,          // rewrite an existing file in place, keep its length
  kDirect,            // a device or a pipe: written where it is, never created;
                      // a symbolic link is not followed (but for the links of
                      // /proc that lead to a pipe or socket)
};

// An open file's lock that keeps a second run off the file; released with it.
class FileLock {
 public:
  virtual ~FileLock() = default;
};

// A symbolic link the kernel's protection of sticky world-writable
// directories (fs.protected_symlinks) would not follow: in such a directory
// (as /tmp) a link is followed only when it belongs to this user or to the
// directory's owner. RunError 70, naming the link.
class RefusedLink : public RunError {
 public:
  explicit RefusedLink(const std::string& link);
  const std::string& link() const { return link_; }

 private:
  std::string link_;
};

// What a path names, following symbolic links.
enum class FileKind { kMissing, kRegular, kDirectory, kDevice, kFifo, kOther };
struct FileIdentity {
  FileKind kind = FileKind::kMissing;
  std::uint64_t device = 0;
  std::uint64_t inode = 0;
  bool sameFileAs(const FileIdentity& other) const {
    return kind != FileKind::kMissing && other.kind != FileKind::kMissing &&
           device == other.device && inode == other.inode;
  }
};

// Free space of a file system, in the three figures the placement relies on.
struct DiskFree {
  std::int64_t sectorsPerCluster = 0;
  std::int64_t bytesPerSector = 0;
  std::int64_t freeClusters = 0;
};

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual std::unique_ptr<InputFile> openRead(const std::string& path) = 0;
  virtual std::unique_ptr<OutputFile> openWrite(const std::string& path, WriteMode mode) = 0;
  virtual std::uint64_t fileLength(const std::string& path) = 0;
  virtual bool exists(const std::string& path) = 0;
  // Fails with 58 when `to` exists; never replaces it.
  virtual void renameNoReplace(const std::string& from, const std::string& to) = 0;
  // Gives the file `from` the name `to`, replacing a file of that name in one
  // step (undoing a replacement: the original takes its name back).
  virtual void renameReplacing(const std::string& from, const std::string& to) = 0;
  // Makes `to` a second name of the file `from`; fails with 58 when `to`
  // exists. False when the file system has no hard links.
  virtual bool linkNoReplace(const std::string& from, const std::string& to) = 0;
  virtual void remove(const std::string& path) = 0;  // never throws
  // Free space of the file system holding directory `dir`; zeros when unknown.
  virtual DiskFree freeSpace(const std::string& dir) = 0;

  // A new file for `target` (see NewFile); its errors name `target`.
  virtual std::unique_ptr<NewFile> createNewFile(const std::string& target) = 0;
  // The process's standard output, for writing.
  virtual std::unique_ptr<OutputFile> openStandardOutput() = 0;
  virtual FileIdentity identify(const std::string& path) = 0;  // never throws
  // The path `path` leads to once every symbolic link in it is followed, made
  // absolute and without "." and ".." steps; the part from a missing entry on
  // stays as it is. A link the kernel's protection would not follow throws
  // RefusedLink; a pipe or socket that only a link of /proc leads to ends the
  // path at that link.
  virtual std::string resolveLinks(const std::string& path) = 0;
  // Flushes a directory's entries (renames, new names) to disk; a failure
  // throws RunError.
  virtual void syncDirectory(const std::string& dir) = 0;
  // Keeps other runs off the regular file `path` while the lock lives: a
  // file another run holds fails at once with RunError 70 ("P is being
  // modified by another run"). Anything but a regular file is not locked.
  virtual std::unique_ptr<FileLock> lockForRun(const std::string& path);
  // openRead() for a regular file only: anything else (a pipe, a device) is
  // refused with RunError 75 without waiting for it.
  virtual std::unique_ptr<InputFile> openRegularFile(const std::string& path);
};

// The POSIX file system.
FileSystem& realFileSystem();

// The start of every hidden temporary name of a new file for `target`:
// ".NAME." in its directory, where NAME is the target's name, or its first
// 200 bytes and a hash of it when the whole would make a name too long.
std::string temporaryNamePrefix(const std::string& target);

// A new file under a hidden temporary name, as on a file system without
// O_TMPFILE (the tests use it to take that way).
std::unique_ptr<NewFile> createHiddenNewFile(const std::string& target);

// Directory part of a path ending in "/", and the bare name.
std::string directoryOf(const std::string& path);
std::string baseNameOf(const std::string& path);

}  // namespace ril
