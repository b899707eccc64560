// The real file system with a chosen free-space figure and injected failures.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/base/errors.h"
#include "core/io/files.h"
#include "support/forwarding_file_system.h"

namespace ril::test {

// kOpenWrite covers the creation of a new file for a target; kPublish its
// taking the target's name; kLink keeping the original as a second name.
enum class FsOp {
  kOpenRead,
  kOpenWrite,
  kRenameNoReplace,
  kRenameReplacing,
  kLink,
  kPublish,
  kRead,
  kWrite,
  kSync,
  kReserve
};

// Fails operation `op` on any path that contains `pathPart` with error
// `number`; reads and writes fail once `afterBytes` bytes went through.
struct Fault {
  FsOp op;
  std::string pathPart;
  int number;
  std::uint64_t afterBytes = 0;
};

class FaultyFileSystem : public ForwardingFileSystem {
 public:
  using ForwardingFileSystem::ForwardingFileSystem;

  std::optional<DiskFree> free{DiskFree{1, 4096, std::int64_t{1} << 30}};
  std::vector<Fault> faults;
  bool hardLinks = true;  // false: as a file system without them
  std::uint64_t bytesWrittenTo(const std::string& pathPart) const {
    std::uint64_t n = 0;
    for (const auto& w : *writes_)
      if (w.first.find(pathPart) != std::string::npos) n += w.second;
    return n;
  }

  std::unique_ptr<InputFile> openRead(const std::string& path) override {
    check(FsOp::kOpenRead, path);
    return std::make_unique<Input>(*this, path, inner_.openRead(path));
  }
  std::unique_ptr<OutputFile> openWrite(const std::string& path, WriteMode mode) override {
    check(FsOp::kOpenWrite, path);
    return std::make_unique<Output<ForwardingOutput<OutputFile>>>(*this, path,
                                                                  inner_.openWrite(path, mode));
  }
  std::unique_ptr<NewFile> createNewFile(const std::string& target) override {
    check(FsOp::kOpenWrite, target);
    return std::make_unique<NewOutput>(*this, target, inner_.createNewFile(target));
  }
  void renameNoReplace(const std::string& from, const std::string& to) override {
    check(FsOp::kRenameNoReplace, from);
    inner_.renameNoReplace(from, to);
  }
  void renameReplacing(const std::string& from, const std::string& to) override {
    check(FsOp::kRenameReplacing, from);
    inner_.renameReplacing(from, to);
  }
  bool linkNoReplace(const std::string& from, const std::string& to) override {
    check(FsOp::kLink, from);
    return hardLinks && inner_.linkNoReplace(from, to);
  }
  DiskFree freeSpace(const std::string& dir) override {
    return free ? *free : inner_.freeSpace(dir);
  }

 private:
  const Fault* find(FsOp op, const std::string& path) const {
    for (const Fault& f : faults)
      if (f.op == op && path.find(f.pathPart) != std::string::npos) return &f;
    return nullptr;
  }
  void check(FsOp op, const std::string& path) const {
    if (const Fault* f = find(op, path)) throw RunError(f->number, "injected: " + path);
  }

  class Input : public InputFile {
   public:
    Input(FaultyFileSystem& fs, std::string path, std::unique_ptr<InputFile> inner)
        : fs_(fs), path_(std::move(path)), inner_(std::move(inner)) {}
    std::size_t read(void* buffer, std::size_t count) override {
      if (const Fault* f = fs_.find(FsOp::kRead, path_)) {
        if (done_ + count > f->afterBytes) throw RunError(f->number, "injected read: " + path_);
      }
      std::size_t n = inner_->read(buffer, count);
      done_ += n;
      return n;
    }
    void close() override { inner_->close(); }

   private:
    FaultyFileSystem& fs_;
    std::string path_;
    std::unique_ptr<InputFile> inner_;
    std::uint64_t done_ = 0;
  };

  template <class Forwarding>
  class Output : public Forwarding {
   public:
    template <class Inner>
    Output(FaultyFileSystem& fs, std::string path, std::unique_ptr<Inner> inner)
        : Forwarding(std::move(inner)), fs_(fs), path_(std::move(path)) {
      fs_.writes_->push_back({path_, 0});
      slot_ = fs_.writes_->size() - 1;
    }
    void write(const void* data, std::size_t count) override {
      if (const Fault* f = fs_.find(FsOp::kWrite, path_)) {
        if (done_ + count > f->afterBytes) {
          // Like a full disk: what fits is written, then the write fails.
          std::size_t part =
              static_cast<std::size_t>(f->afterBytes - std::min(done_, f->afterBytes));
          if (part > 0) this->inner_->write(data, part);
          done_ += part;
          (*fs_.writes_)[slot_].second = done_;
          throw RunError(f->number, "injected write: " + path_);
        }
      }
      this->inner_->write(data, count);
      done_ += count;
      (*fs_.writes_)[slot_].second = done_;
    }
    void writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
      fs_.check(FsOp::kWrite, path_);
      this->inner_->writeAt(offset, data, count);
    }
    void sync() override {
      fs_.check(FsOp::kSync, path_);
      this->inner_->sync();
    }
    bool reserve(std::uint64_t length) override {
      fs_.check(FsOp::kReserve, path_);
      return this->inner_->reserve(length);
    }

   protected:
    FaultyFileSystem& fs_;
    std::string path_;

   private:
    std::uint64_t done_ = 0;
    std::size_t slot_ = 0;
  };

  class NewOutput : public Output<ForwardingNewFile> {
   public:
    using Output<ForwardingNewFile>::Output;
    void publish() override {
      fs_.check(FsOp::kPublish, path_);
      inner_->publish();
    }
  };

  std::shared_ptr<std::vector<std::pair<std::string, std::uint64_t>>> writes_ =
      std::make_shared<std::vector<std::pair<std::string, std::uint64_t>>>();
};

}  // namespace ril::test
