#include "core/modify/output_placement.h"

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <random>

#include "core/base/errors.h"
#include "core/base/number_format.h"

namespace ril {

std::int64_t requiredClusters(std::uint64_t length, const DiskFree& free) {
  if (free.bytesPerSector == 0 || free.sectorsPerCluster == 0) {
    throw RunError(kErrDivisionByZero, "free-space figures of the program directory");
  }
  double quotient = static_cast<double>(length) / static_cast<double>(free.bytesPerSector) /
                    static_cast<double>(free.sectorsPerCluster);
  // The default rounding mode rounds halves to the even neighbour.
  return static_cast<std::int64_t>(std::nearbyint(quotient + 0.5));
}

double availableBytes(const DiskFree& free) {
  std::int64_t clusterBytes = free.sectorsPerCluster * free.bytesPerSector;
  if (clusterBytes > INT32_MAX || clusterBytes < INT32_MIN) {
    throw RunError(kErrOverflow, "cluster size of the program directory's drive");
  }
  return static_cast<double>(clusterBytes) * static_cast<double>(free.freeClusters);
}

Message diskSpaceQuestion(const std::string& appPath, std::uint64_t length, double available) {
  Message m;
  m.title = "Warning";
  m.text = "Not enough discspace available to create copy of file in " + appPath + " (" +
           std::to_string(length) + " bytes required, but only " + formatNumber(available, "0") +
           " bytes available)!" + "\r\n" + "Do you want to overwrite the existing file?";
  m.icon = MsgIcon::kExclamation;
  m.buttons = MsgButtons::kYesNo;
  m.defaultButton = MsgAnswer::kYes;
  return m;
}

Message closingNotice(bool inProgramDir, const std::string& lineBreak) {
  Message m;
  m.title = "Info:";
  m.icon = MsgIcon::kInformation;
  if (inProgramDir) {
    m.text = std::string("The original file is stored with additional extension .old.") +
             (lineBreak.empty() ? "\r\n" : lineBreak) +
             "The modified file is stored under the original filename in the program directory!";
  } else {
    m.text = "The original file is overwritten with the modified one!";
  }
  return m;
}

Message failureMessage(int number, std::int64_t lastValue, const std::string& path) {
  Message m;
  m.title = "Warning";
  m.icon = MsgIcon::kExclamation;
  switch (number) {
    case kErrOverflow:
      m.text = "Overflow (last value " + formatNumber(static_cast<double>(lastValue), "0") +
               "! Modification cancelled!";
      break;
    case kErrFileExists:
      m.text = "File " + path + ".old already exists! Modification cancelled!";
      break;
    case kErrPathFileAccess:
      m.text = "File " + path + " is write protected! Modification cancelled!";
      break;
    default:
      m.text = "Unknown error number " + std::to_string(number) + "! Modification cancelled!";
      break;
  }
  return m;
}

void placeOutput(const PlacementRequest& request, FileSystem& fs, MessageHost& messages,
                 Placement& result) {
  const std::string& path = request.path;
  switch (request.mode) {
    case PlacementMode::kExplicitOutput:
      result.inputPath = path;
      result.outputName = request.explicitOutput;
      result.inProgramDir = false;
      result.input = fs.openRead(path);
      return;
    case PlacementMode::kInPlace:
      result.inputPath = path;
      result.outputName = path;
      result.inPlace = true;
      result.input = fs.openRead(path);
      return;
    case PlacementMode::kProgramDirectory:
      break;
  }

  DiskFree free = fs.freeSpace(request.appPath);
  std::uint64_t length = fs.fileLength(path);
  std::int64_t required = requiredClusters(length, free);
  if (free.freeClusters >= required) {
    std::string old = path + ".old";
    fs.renameNoReplace(path, old);
    result.renamedToOld = true;
    result.inputPath = old;
    result.input = fs.openRead(old);
    result.outputName = request.appPath + request.bareName;
    result.inProgramDir = true;
    return;
  }
  double available = availableBytes(free);
  if (messages.show(diskSpaceQuestion(request.appPath, length, available)) == MsgAnswer::kYes) {
    result.inputPath = path;
    result.outputName = path;
    result.inPlace = true;
    result.input = fs.openRead(path);
  } else {
    result.declined = true;
  }
}

bool restoreOriginal(FileSystem& fs, const std::string& path, Placement& placement) {
  if (placement.input) placement.input->close();
  if (!placement.renamedToOld) return true;
  try {
    fs.renameNoReplace(path + ".old", path);
  } catch (...) {
    return false;
  }
  placement.renamedToOld = false;
  return true;
}

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
