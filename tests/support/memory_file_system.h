// A file system held in memory: for fuzzing and for tests that need no disk.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/io/files.h"

namespace ril {

class MemoryFileSystem : public FileSystem {
 public:
  using Bytes = std::vector<unsigned char>;

  std::unique_ptr<InputFile> openRead(const std::string& path) override;
  std::unique_ptr<OutputFile> openWrite(const std::string& path, WriteMode mode) override;
  std::uint64_t fileLength(const std::string& path) override;
  bool exists(const std::string& path) override { return files_.count(path) > 0; }
  void renameNoReplace(const std::string& from, const std::string& to) override;
  void renameReplacing(const std::string& from, const std::string& to) override;
  bool linkNoReplace(const std::string& from, const std::string& to) override;
  void remove(const std::string& path) override { files_.erase(path); }
  DiskFree freeSpace(const std::string& dir) override;
  std::unique_ptr<NewFile> createNewFile(const std::string& target) override;
  std::unique_ptr<OutputFile> openStandardOutput() override;
  FileIdentity identify(const std::string& path) override;
  std::string resolveLinks(const std::string& path) override { return path; }
  void syncDirectory(const std::string&) override {}

  void put(const std::string& path, Bytes bytes) {
    files_[path] = std::make_shared<Bytes>(std::move(bytes));
  }
  const Bytes* get(const std::string& path) const;
  std::vector<std::string> paths() const;

  DiskFree free{1, 4096, 1 << 20};  // what freeSpace reports
  bool hardLinks = true;            // false: linkNoReplace is not supported
  // What was written to standard output.
  std::shared_ptr<Bytes> standardOutput = std::make_shared<Bytes>();

 private:
  std::map<std::string, std::shared_ptr<Bytes>> files_;
};

}  // namespace ril
