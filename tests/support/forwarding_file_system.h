// A file system that passes every operation on to another one; test doubles
// derive from it and override what they watch or break.
#pragma once

#include <memory>
#include <string>

#include "core/io/files.h"

namespace ril::test {

class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& inner = realFileSystem()) : inner_(inner) {}

  std::unique_ptr<InputFile> openRead(const std::string& path) override {
    return inner_.openRead(path);
  }
  std::unique_ptr<OutputFile> openWrite(const std::string& path, WriteMode mode) override {
    return inner_.openWrite(path, mode);
  }
  std::uint64_t fileLength(const std::string& path) override { return inner_.fileLength(path); }
  bool exists(const std::string& path) override { return inner_.exists(path); }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    inner_.renameNoReplace(from, to);
  }
  void renameReplacing(const std::string& from, const std::string& to) override {
    inner_.renameReplacing(from, to);
  }
  bool linkNoReplace(const std::string& from, const std::string& to) override {
    return inner_.linkNoReplace(from, to);
  }
  void remove(const std::string& path) override { inner_.remove(path); }
  DiskFree freeSpace(const std::string& dir) override { return inner_.freeSpace(dir); }
  std::unique_ptr<NewFile> createNewFile(const std::string& target) override {
    return inner_.createNewFile(target);
  }
  std::unique_ptr<OutputFile> openStandardOutput() override { return inner_.openStandardOutput(); }
  FileIdentity identify(const std::string& path) override { return inner_.identify(path); }
  std::string resolveLinks(const std::string& path) override { return inner_.resolveLinks(path); }
  void syncDirectory(const std::string& dir) override { inner_.syncDirectory(dir); }

 protected:
  FileSystem& inner_;
};

// An output that passes everything on; doubles override what they watch.
template <class Base>
class ForwardingOutput : public Base {
 public:
  explicit ForwardingOutput(std::unique_ptr<Base> inner) : inner_(std::move(inner)) {}
  void write(const void* data, std::size_t count) override { inner_->write(data, count); }
  void sync() override { inner_->sync(); }
  void close() override { inner_->close(); }
  bool reserve(std::uint64_t length) override { return inner_->reserve(length); }
  void writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
    inner_->writeAt(offset, data, count);
  }

 protected:
  std::unique_ptr<Base> inner_;
};

// A new file that passes everything on.
class ForwardingNewFile : public ForwardingOutput<NewFile> {
 public:
  using ForwardingOutput<NewFile>::ForwardingOutput;
  void takeAttributesOf(const std::string& source) override { inner_->takeAttributesOf(source); }
  void publish() override { inner_->publish(); }
  void discard() noexcept override { inner_->discard(); }
};

}  // namespace ril::test
