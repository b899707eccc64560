#include "support/memory_file_system.h"

#include <algorithm>
#include <cstring>

#include "core/base/errors.h"

namespace ril {

namespace {

class MemoryInput : public InputFile {
 public:
  explicit MemoryInput(std::shared_ptr<const MemoryFileSystem::Bytes> bytes)
      : bytes_(std::move(bytes)) {}
  std::size_t read(void* buffer, std::size_t count) override {
    if (!bytes_) return 0;
    std::size_t n = std::min(count, bytes_->size() - std::min(pos_, bytes_->size()));
    if (n) std::memcpy(buffer, bytes_->data() + pos_, n);
    pos_ += n;
    return n;
  }
  std::uint64_t skip(std::uint64_t count) override {
    if (!bytes_) return 0;
    std::uint64_t left = bytes_->size() - std::min(pos_, bytes_->size());
    std::uint64_t n = std::min(count, left);
    pos_ += static_cast<std::size_t>(n);
    return n;
  }
  void close() override { bytes_.reset(); }

 private:
  std::shared_ptr<const MemoryFileSystem::Bytes> bytes_;
  std::size_t pos_ = 0;
};

// Writes go straight into the shared bytes, as writes to an open file do.
class MemoryOutput : public OutputFile {
 public:
  MemoryOutput(std::shared_ptr<MemoryFileSystem::Bytes> bytes, bool truncate)
      : bytes_(std::move(bytes)) {
    if (truncate) bytes_->clear();
  }
  void write(const void* data, std::size_t count) override {
    if (!bytes_) throw RunError(kErrPathFileAccess, "write after close");
    const auto* p = static_cast<const unsigned char*>(data);
    std::size_t overlap = std::min(count, bytes_->size() - std::min(pos_, bytes_->size()));
    std::copy(p, p + overlap, bytes_->begin() + static_cast<std::ptrdiff_t>(pos_));
    bytes_->insert(bytes_->end(), p + overlap, p + count);
    pos_ += count;
  }
  void sync() override {}
  void close() override { bytes_.reset(); }

 private:
  std::shared_ptr<MemoryFileSystem::Bytes> bytes_;
  std::size_t pos_ = 0;
};

}  // namespace

std::unique_ptr<InputFile> MemoryFileSystem::openRead(const std::string& path) {
  auto it = files_.find(path);
  if (it == files_.end()) throw RunError(kErrFileNotFound, path);
  // A snapshot: an input stays as it was when opened, like a file replaced by rename.
  return std::make_unique<MemoryInput>(std::make_shared<const Bytes>(*it->second));
}

std::unique_ptr<OutputFile> MemoryFileSystem::openWrite(const std::string& path, WriteMode mode) {
  auto it = files_.find(path);
  if (mode == WriteMode::kCreateNew && it != files_.end()) throw RunError(kErrFileExists, path);
  if (mode == WriteMode::kExisting && it == files_.end()) throw RunError(kErrFileNotFound, path);
  if (it == files_.end()) it = files_.emplace(path, std::make_shared<Bytes>()).first;
  return std::make_unique<MemoryOutput>(it->second, mode != WriteMode::kExisting);
}

std::uint64_t MemoryFileSystem::fileLength(const std::string& path) {
  auto it = files_.find(path);
  if (it == files_.end()) throw RunError(kErrFileNotFound, path);
  return it->second->size();
}

void MemoryFileSystem::renameNoReplace(const std::string& from, const std::string& to) {
  if (files_.count(to)) throw RunError(kErrFileExists, to);
  renameReplace(from, to);
}

void MemoryFileSystem::renameReplace(const std::string& from, const std::string& to) {
  auto it = files_.find(from);
  if (it == files_.end()) throw RunError(kErrFileNotFound, from);
  auto bytes = it->second;
  files_.erase(it);
  files_[to] = bytes;
}

DiskFree MemoryFileSystem::freeSpace(const std::string&) {
  return free;
}

const MemoryFileSystem::Bytes* MemoryFileSystem::get(const std::string& path) const {
  auto it = files_.find(path);
  return it == files_.end() ? nullptr : it->second.get();
}

std::vector<std::string> MemoryFileSystem::paths() const {
  std::vector<std::string> out;
  for (const auto& [p, b] : files_) out.push_back(p);
  return out;
}

}  // namespace ril
