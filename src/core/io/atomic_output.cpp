#include "core/io/atomic_output.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>

#include "core/base/errors.h"

namespace ril {

namespace {

std::string uniqueSuffix() {
  static std::mt19937_64 generator{std::random_device{}() ^
                                   (static_cast<std::uint64_t>(::getpid()) << 32)};
  char text[32];
  std::snprintf(text, sizeof text, "%012llx",
                static_cast<unsigned long long>(generator() & 0xFFFFFFFFFFFFull));
  return text;
}

}  // namespace

AtomicOutput::AtomicOutput(FileSystem& fs, std::string target)
    : fs_(fs), target_(std::move(target)) {
  std::string dir = directoryOf(target_);
  std::string base = baseNameOf(target_);
  for (int attempt = 0;; ++attempt) {
    tempPath_ = dir + "." + base + "." + uniqueSuffix() + ".tmp";
    try {
      file_ = fs_.openWrite(tempPath_, WriteMode::kCreateNew);
      return;
    } catch (const RunError& e) {
      if (e.number() != kErrFileExists || attempt >= 20) throw;
    }
  }
}

AtomicOutput::~AtomicOutput() {
  abandon();
}

void AtomicOutput::commit() {
  file_->sync();
  file_->close();
  fs_.renameReplace(tempPath_, target_);
  done_ = true;
}

void AtomicOutput::abandon() noexcept {
  if (done_) return;
  done_ = true;
  try {
    if (file_) file_->close();
  } catch (...) {
  }
  fs_.remove(tempPath_);
}

}  // namespace ril
