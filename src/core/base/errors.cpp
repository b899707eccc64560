#include "core/base/errors.h"

#include <cerrno>
#include <cstring>

namespace ril {

int errorNumberFromErrno(int err, Access access) {
  switch (err) {
    case ENOENT:
      return kErrFileNotFound;
    case EEXIST:
    case ENOTEMPTY:
      return kErrFileExists;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return kErrDiskFull;
    case EROFS:
      return kErrPathFileAccess;
    case EACCES:
    case EPERM:
      return access == Access::kRead ? kErrPermissionDenied : kErrPathFileAccess;
    case EBUSY:
    case ETXTBSY:
      return kErrPermissionDenied;
    case ENOTDIR:
    case ELOOP:
      return kErrPathNotFound;
    case EIO:
    case EPIPE:  // the reader of a pipe went away
      return kErrDeviceIo;
    case ENOMEM:
      return kErrOutOfMemory;
    case EMFILE:
    case ENFILE:
      return kErrTooManyFiles;
    default:
      return kErrPathFileAccess;
  }
}

std::string errorDescription(int number) {
  switch (number) {
    case kErrOverflow:
      return "Overflow";
    case kErrOutOfMemory:
      return "Out of memory";
    case kErrSubscript:
      return "Subscript out of range";
    case kErrDivisionByZero:
      return "Division by zero";
    case kErrInternal:
      return "Internal error";
    case kErrFileNotFound:
      return "File not found";
    case kErrDeviceIo:
      return "Device I/O error";
    case kErrFileExists:
      return "File already exists";
    case kErrDiskFull:
      return "Disk full";
    case kErrInputPastEnd:
      return "Input past end of file";
    case kErrTooManyFiles:
      return "Too many files";
    case kErrPermissionDenied:
      return "Permission denied";
    case kErrPathFileAccess:
      return "Path/File access error";
    case kErrPathNotFound:
      return "Path not found";
    default:
      return "Error " + std::to_string(number);
  }
}

static std::string composeWhat(int number, const std::string& detail, int sysErrno) {
  std::string what = errorDescription(number) + " (error " + std::to_string(number) + ")";
  if (!detail.empty()) what += ": " + detail;
  if (sysErrno != 0) what += " (" + std::string(std::strerror(sysErrno)) + ")";
  return what;
}

RunError::RunError(int number, std::string detail, int sysErrno)
    : std::runtime_error(composeWhat(number, detail, sysErrno)),
      number_(number),
      sysErrno_(sysErrno),
      detail_(std::move(detail)) {}

void throwErrno(int err, Access access, const std::string& path) {
  throw RunError(errorNumberFromErrno(err, access), path, err);
}

}  // namespace ril
