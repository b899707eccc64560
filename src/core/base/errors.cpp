#include "core/base/errors.h"

#include <cctype>
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

namespace {

struct ErrorWords {
  int number;
  const char* description;
  const char* code;
};

constexpr ErrorWords kErrorWords[] = {
    {kErrOverflow, "Overflow", "overflow"},
    {kErrOutOfMemory, "Out of memory", "out-of-memory"},
    {kErrSubscript, "Subscript out of range", "subscript-out-of-range"},
    {kErrDivisionByZero, "Division by zero", "division-by-zero"},
    {kErrInternal, "Internal error", "internal-error"},
    {kErrFileNotFound, "File not found", "file-not-found"},
    {kErrDeviceIo, "Device I/O error", "device-io-error"},
    {kErrFileExists, "File already exists", "file-exists"},
    {kErrDiskFull, "Disk full", "disk-full"},
    {kErrInputPastEnd, "Input past end of file", "input-past-end"},
    {kErrTooManyFiles, "Too many files", "too-many-files"},
    {kErrPermissionDenied, "Permission denied", "permission-denied"},
    {kErrPathFileAccess, "Path/File access error", "access-error"},
    {kErrPathNotFound, "Path not found", "path-not-found"},
};

const ErrorWords* wordsOf(int number) {
  for (const ErrorWords& w : kErrorWords) {
    if (w.number == number) return &w;
  }
  return nullptr;
}

}  // namespace

std::string errorDescription(int number) {
  const ErrorWords* w = wordsOf(number);
  return w ? w->description : "Error " + std::to_string(number);
}

bool hasErrorWords(int number) {
  return wordsOf(number) != nullptr;
}

std::string errorCause(int number, bool inSentence) {
  std::string text = errorDescription(number);
  if (inSentence) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return hasErrorWords(number) ? text + " (error " + std::to_string(number) + ")" : text;
}

std::string failureText(int number, const std::string& detail, int sysErrno, bool inSentence) {
  std::string text = errorCause(number, inSentence);
  if (!detail.empty()) text += ": " + detail;
  if (sysErrno != 0) text += " (" + systemErrorText(sysErrno) + ")";
  return text;
}

std::string errorCode(int number) {
  const ErrorWords* w = wordsOf(number);
  return w ? w->code : "error-" + std::to_string(number);
}

std::string systemErrorText(int err) {
  return std::strerror(err);
}

RunError::RunError(int number, std::string detail, int sysErrno)
    : std::runtime_error(failureText(number, detail, sysErrno)),
      number_(number),
      sysErrno_(sysErrno),
      detail_(std::move(detail)) {}

void throwErrno(int err, Access access, const std::string& path) {
  throw RunError(errorNumberFromErrno(err, access), path, err);
}

}  // namespace ril
