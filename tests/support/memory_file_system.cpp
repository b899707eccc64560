#include "support/memory_file_system.h"

#include <algorithm>
#include <cstring>
#include <functional>

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
template <class Base>
class MemoryOutput : public Base {
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
  void writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
    if (!bytes_) throw RunError(kErrPathFileAccess, "write after close");
    const auto* p = static_cast<const unsigned char*>(data);
    if (bytes_->size() < offset + count) bytes_->resize(static_cast<std::size_t>(offset + count));
    std::copy(p, p + count, bytes_->begin() + static_cast<std::ptrdiff_t>(offset));
  }
  void sync() override {}
  void close() override { bytes_.reset(); }
  bool reserve(std::uint64_t) override { return true; }

 protected:
  std::shared_ptr<MemoryFileSystem::Bytes> bytes_;
  std::size_t pos_ = 0;
};

// Bytes held apart from every name until published.
class MemoryNewFile : public MemoryOutput<NewFile> {
 public:
  MemoryNewFile(MemoryFileSystem& fs,
                std::function<void(std::shared_ptr<MemoryFileSystem::Bytes>)> name)
      : MemoryOutput(std::make_shared<MemoryFileSystem::Bytes>(), false),
        fs_(fs),
        name_(std::move(name)),
        held_(bytes_) {}
  void takeAttributesOf(const std::string& source) override {
    if (!fs_.exists(source)) throw RunError(kErrFileNotFound, source);
  }
  void publish() override {
    close();
    name_(held_);
    held_.reset();
  }
  void discard() noexcept override {
    close();
    held_.reset();
  }

 private:
  MemoryFileSystem& fs_;
  std::function<void(std::shared_ptr<MemoryFileSystem::Bytes>)> name_;
  std::shared_ptr<MemoryFileSystem::Bytes> held_;
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
  if (mode == WriteMode::kDirect && it == files_.end()) throw RunError(kErrFileNotFound, path);
  if (it == files_.end()) it = files_.emplace(path, std::make_shared<Bytes>()).first;
  return std::make_unique<MemoryOutput<OutputFile>>(it->second, mode != WriteMode::kExisting);
}

std::unique_ptr<NewFile> MemoryFileSystem::createNewFile(const std::string& target) {
  return std::make_unique<MemoryNewFile>(
      *this, [this, target](std::shared_ptr<Bytes> bytes) { files_[target] = bytes; });
}

std::unique_ptr<OutputFile> MemoryFileSystem::openStandardOutput() {
  return std::make_unique<MemoryOutput<OutputFile>>(standardOutput, false);
}

FileIdentity MemoryFileSystem::identify(const std::string& path) {
  FileIdentity id;
  auto it = files_.find(path);
  if (it == files_.end()) return id;
  id.kind = FileKind::kRegular;
  id.device = 1;
  id.inode = reinterpret_cast<std::uintptr_t>(it->second.get());
  return id;
}

bool MemoryFileSystem::linkNoReplace(const std::string& from, const std::string& to) {
  if (!hardLinks) return false;
  if (files_.count(to)) throw RunError(kErrFileExists, to);
  auto it = files_.find(from);
  if (it == files_.end()) throw RunError(kErrFileNotFound, from);
  files_[to] = it->second;
  return true;
}

std::uint64_t MemoryFileSystem::fileLength(const std::string& path) {
  auto it = files_.find(path);
  if (it == files_.end()) throw RunError(kErrFileNotFound, path);
  return it->second->size();
}

void MemoryFileSystem::renameNoReplace(const std::string& from, const std::string& to) {
  if (files_.count(to)) throw RunError(kErrFileExists, to);
  auto it = files_.find(from);
  if (it == files_.end()) throw RunError(kErrFileNotFound, from);
  auto bytes = it->second;
  files_.erase(it);
  files_[to] = bytes;
}

void MemoryFileSystem::renameReplacing(const std::string& from, const std::string& to) {
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
