// Error numbers as the program reports them, and their mapping from errno.
#pragma once

#include <stdexcept>
#include <string>

namespace ril {

// The error numbers the program reports; each stands for one kind of failure.
enum ErrorNumber : int {
  kErrOverflow = 6,
  kErrOutOfMemory = 7,
  kErrSubscript = 9,
  kErrDivisionByZero = 11,
  kErrInternal = 51,  // anything unexpected
  kErrFileNotFound = 53,
  kErrDeviceIo = 57,
  kErrFileExists = 58,
  kErrDiskFull = 61,
  kErrInputPastEnd = 62,  // the file got shorter than its header said
  kErrTooManyFiles = 67,
  kErrPermissionDenied = 70,
  kErrPathFileAccess = 75,
  kErrPathNotFound = 76,
};

// What an operation was doing when errno was set; EACCES/EPERM mean "write
// protected" (75) when writing and "permission denied" (70) otherwise.
enum class Access { kRead, kWrite, kRename };

// Mapping (documented in README):
//   ENOENT -> 53, EEXIST/ENOTEMPTY -> 58, ENOSPC/EDQUOT/EFBIG -> 61,
//   EROFS -> 75, EACCES/EPERM -> 75 when writing, 70 otherwise,
//   EBUSY/ETXTBSY -> 70, ENOTDIR/ELOOP -> 76, EIO/EPIPE -> 57, ENOMEM -> 7,
//   EMFILE/ENFILE -> 67, anything else -> 75.
int errorNumberFromErrno(int err, Access access);

// The one mapping from error numbers to words; every front end's texts
// come from here.
//
// Short English description of an error number ("File not found"); "Error N"
// for a number without words of its own.
std::string errorDescription(int number);
// Whether `number` has words of its own.
bool hasErrorWords(int number);
// The description with the number: "Disk full (error 61)" ("Error 99" for a
// number without words); `inSentence` begins it in lower case for the middle
// of a line: "disk full (error 61)".
std::string errorCause(int number, bool inSentence = false);
// A failure in full: the cause, then ": detail" and the system's words in
// parentheses where there are any: "Disk full (error 61): out.wav (No space
// left on device)".
std::string failureText(int number, const std::string& detail, int sysErrno,
                        bool inSentence = false);
// A stable word for the number, for scripts: "disk-full", "file-not-found";
// "error-N" for a number without words of its own.
std::string errorCode(int number);
// The system's words for an errno value ("No space left on device").
std::string systemErrorText(int err);

// A failure carrying an error number; `detail` names the file or operation.
class RunError : public std::runtime_error {
 public:
  RunError(int number, std::string detail, int sysErrno = 0);
  int number() const { return number_; }
  int sysErrno() const { return sysErrno_; }
  const std::string& detail() const { return detail_; }

 private:
  int number_;
  int sysErrno_;
  std::string detail_;
};

// Throws RunError for errno `err` with the given access and path.
[[noreturn]] void throwErrno(int err, Access access, const std::string& path);

}  // namespace ril
