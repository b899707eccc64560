// Binary files and the file system, behind interfaces so tests can inject faults.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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
};

enum class WriteMode {
  kCreateOrTruncate,  // create when missing, else empty it
  kCreateNew,         // fail with 58 when it exists (temporary files)
  kExisting,          // rewrite an existing file in place, keep its length
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
  // Replaces `to` atomically.
  virtual void renameReplace(const std::string& from, const std::string& to) = 0;
  virtual void remove(const std::string& path) = 0;  // never throws
  // Free space of the file system holding directory `dir`; zeros when unknown.
  virtual DiskFree freeSpace(const std::string& dir) = 0;
};

// The POSIX file system.
FileSystem& realFileSystem();

// Directory part of a path ending in "/", and the bare name.
std::string directoryOf(const std::string& path);
std::string baseNameOf(const std::string& path);

}  // namespace ril
