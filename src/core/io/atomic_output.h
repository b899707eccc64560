// An output that carries its real name only once it is complete.
#pragma once

#include <memory>
#include <string>

#include "core/io/files.h"

namespace ril {

// Written into a temporary file beside `target`, synced, then renamed over
// `target`; abandoned (the temporary file removed) unless committed.
class AtomicOutput {
 public:
  AtomicOutput(FileSystem& fs, std::string target);  // throws RunError
  ~AtomicOutput();                                   // abandons when not committed
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  OutputFile& file() { return *file_; }
  const std::string& temporaryPath() const { return tempPath_; }
  void commit();            // sync, close, rename over the target; throws RunError
  void abandon() noexcept;  // close and remove the temporary file

 private:
  FileSystem& fs_;
  std::string target_;
  std::string tempPath_;
  std::unique_ptr<OutputFile> file_;
  bool done_ = false;
};

}  // namespace ril
