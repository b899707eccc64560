#include "core/io/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "core/base/errors.h"
#include "core/io/background_flush.h"
#include "core/io/file_attributes.h"

namespace ril {

std::uint64_t ByteSource::skip(std::uint64_t count) {
  unsigned char scratch[4096];
  std::uint64_t done = 0;
  while (done < count) {
    std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(sizeof scratch, count - done));
    std::size_t got = read(scratch, want);
    done += got;
    if (got < want) break;
  }
  return done;
}

MemorySource::MemorySource(const void* data, std::size_t size)
    : bytes_(static_cast<const unsigned char*>(data),
             static_cast<const unsigned char*>(data) + size) {}

std::size_t MemorySource::read(void* buffer, std::size_t count) {
  std::size_t n = std::min(count, bytes_.size() - pos_);
  if (n) std::memcpy(buffer, bytes_.data() + pos_, n);
  pos_ += n;
  return n;
}

std::uint64_t MemorySource::skip(std::uint64_t count) {
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, bytes_.size() - pos_));
  pos_ += n;
  return n;
}

std::uint64_t OutputFile::copyFrom(ByteSource& source, std::uint64_t count) {
  std::vector<unsigned char> buffer(
      static_cast<std::size_t>(std::min<std::uint64_t>(count, std::uint64_t{1} << 20)));
  std::uint64_t done = 0;
  while (done < count) {
    const auto want =
        static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), count - done));
    const std::size_t got = source.read(buffer.data(), want);
    if (got > 0) write(buffer.data(), got);
    done += got;
    if (got < want) break;
  }
  return done;
}

void OutputFile::writeAt(std::uint64_t, const void*, std::size_t) {
  throw RunError(kErrInternal, "this output cannot be written at an offset");
}

std::size_t PrefixedSource::read(void* buffer, std::size_t count) {
  auto* out = static_cast<unsigned char*>(buffer);
  std::size_t n = std::min(count, prefix_.size() - pos_);
  if (n) std::memcpy(out, prefix_.data() + pos_, n);
  pos_ += n;
  if (n < count && rest_) n += rest_->read(out + n, count - n);
  return n;
}

std::uint64_t PrefixedSource::skip(std::uint64_t count) {
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, prefix_.size() - pos_));
  pos_ += n;
  std::uint64_t done = n;
  if (done < count && rest_) done += rest_->skip(count - done);
  return done;
}

std::string directoryOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string baseNameOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

namespace {

// Reads through a 64 KiB buffer for small reads; large reads go straight to the file.
class PosixInputFile : public InputFile {
 public:
  PosixInputFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixInputFile() override { close(); }

  std::size_t read(void* buffer, std::size_t count) override {
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    std::size_t avail = end_ - begin_;
    if (avail) {
      std::size_t n = std::min(avail, count);
      std::memcpy(out, buf_ + begin_, n);
      begin_ += n;
      done = n;
    }
    if (done == count) return done;
    if (count - done >= sizeof buf_) return done + rawRead(out + done, count - done);
    begin_ = 0;
    end_ = rawRead(buf_, sizeof buf_);
    std::size_t n = std::min(end_, count - done);
    std::memcpy(out + done, buf_, n);
    begin_ = n;
    return done + n;
  }

  std::uint64_t skip(std::uint64_t count) override {
    std::uint64_t avail = end_ - begin_;
    if (count <= avail) {
      begin_ += static_cast<std::size_t>(count);
      return count;
    }
    begin_ = end_ = 0;
    std::uint64_t rest = count - avail;
    struct stat st;
    off_t here = ::lseek(fd_, 0, SEEK_CUR);
    if (here < 0 || ::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode))
      return avail + ByteSource::skip(rest);
    std::uint64_t left = st.st_size > here ? static_cast<std::uint64_t>(st.st_size - here) : 0;
    std::uint64_t step = std::min(rest, left);
    if (::lseek(fd_, static_cast<off_t>(here + static_cast<off_t>(step)), SEEK_SET) < 0)
      throwErrno(errno, Access::kRead, path_);
    return avail + step;
  }

  void close() override {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  int fd() const { return fd_; }

  // Hands up to `count` bytes read ahead into the buffer to `out`, so that
  // the file's own position is where the reading goes on; returns how many.
  std::size_t drainInto(OutputFile& out, std::uint64_t count) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(end_ - begin_, count));
    if (n > 0) out.write(buf_ + begin_, n);
    begin_ += n;
    return n;
  }

 private:
  std::size_t rawRead(unsigned char* out, std::size_t count) {
    if (fd_ < 0) return 0;
    std::size_t done = 0;
    while (done < count) {
      ssize_t n = ::read(fd_, out + done, count - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        throwErrno(errno, Access::kRead, path_);
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    return done;
  }

  int fd_;
  std::string path_;
  unsigned char buf_[65536];
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// Whether an open file may answer a flush with EINVAL or EROFS without
// failing: a pipe, a terminal or a device cannot be flushed. A regular file or
// a directory that answers so has not reached the disk.
bool mayRefuseFlush(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

bool refusesFlush(int err) {
  return err == EINVAL || err == EROFS;
}

// Closes a duplicate of `fd`: the checks of its close (the write-back a
// network file system does then) come now, while `fd` stays open and keeps
// its lock. 0, or the errno of the failure.
int checkClose(int fd) {
  const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return errno;
  return ::close(copy) == 0 || errno == EINTR ? 0 : errno;
}

class PosixOutputFile : public OutputFile {
 public:
  PosixOutputFile(int fd, std::string path)
      : fd_(fd), path_(std::move(path)), mayRefuseFlush_(mayRefuseFlush(fd)), flush_([this] {
          if (::fdatasync(fd_) == 0) return 0;
          return mayRefuseFlush_ && refusesFlush(errno) ? BackgroundFlush::kCannotFlush : errno;
        }) {}
  ~PosixOutputFile() override {
    flush_.finish();
    if (fd_ >= 0) ::close(fd_);
  }

  void write(const void* data, std::size_t count) override {
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
      ssize_t n = ::write(fd_, p, count);
      if (n < 0) {
        if (errno == EINTR) continue;
        throwErrno(errno, Access::kWrite, path_);
      }
      p += n;
      count -= static_cast<std::size_t>(n);
      written_ += static_cast<std::uint64_t>(n);
    }
    startWriteback();
  }

  void sync() override {
    // A failure the background flush saw is not reported again by fsync.
    if (const int err = flush_.finish(); err != 0) throwErrno(err, Access::kWrite, path_);
    if (::fsync(fd_) != 0 && !(mayRefuseFlush_ && refusesFlush(errno)))
      throwErrno(errno, Access::kWrite, path_);
  }

  void close() override {
    flush_.finish();
    if (fd_ < 0) return;
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 && errno != EINTR) throwErrno(errno, Access::kWrite, path_);
  }

  // The checks of close() with the file kept open (see checkClose).
  void checkClosing() {
    flush_.finish();
    if (const int err = checkClose(fd_); err != 0) throwErrno(err, Access::kWrite, path_);
  }

  // Closes the file once checkClosing() has passed: nothing is written since,
  // so a failure would say nothing about the file's contents.
  void closeChecked() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool reserve(std::uint64_t length) override {
    if (length == 0) return true;
    // The file-size limit (ulimit -f) is not checked by fallocate: a rewrite
    // beyond it would fail half-way.
    struct rlimit limit;
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        length > limit.rlim_cur) {
      throwErrno(EFBIG, Access::kWrite, path_);
    }
    for (;;) {
      if (::fallocate(fd_, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(length)) == 0) return true;
      if (errno == EINTR) continue;
      if (errno == EOPNOTSUPP || errno == ENOSYS || errno == ENODEV) return false;
      throwErrno(errno, Access::kWrite, path_);
    }
  }

  int fd() const { return fd_; }

  void writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
      const ssize_t n = ::pwrite(fd_, p, count, static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        throwErrno(errno, Access::kWrite, path_);
      }
      p += n;
      offset += static_cast<std::uint64_t>(n);
      count -= static_cast<std::size_t>(n);
    }
  }

  std::uint64_t copyFrom(ByteSource& source, std::uint64_t count) override {
    auto* file = dynamic_cast<PosixInputFile*>(&source);
    if (!file || !growsAtEnd()) return OutputFile::copyFrom(source, count);
    std::uint64_t done = file->drainInto(*this, count);
    bool endsInHole = false;
    while (done < count) {
      const std::int64_t step = kernelCopy(file->fd(), count - done, endsInHole);
      if (step == 0) break;  // the end of the source
      if (step < 0) {        // the kernel cannot copy between these two
        done += OutputFile::copyFrom(source, count - done);
        break;
      }
      done += static_cast<std::uint64_t>(step);
    }
    // Holes at the end give the file its length only once it is set.
    if (endsInHole && ::ftruncate(fd_, static_cast<off_t>(written_)) != 0)
      throwErrno(errno, Access::kWrite, path_);
    return done;
  }

 private:
  // Whether the file is a regular one being written at its end, where
  // skipping ahead leaves a hole that reads as zeros.
  bool growsAtEnd() const {
    struct stat st;
    const off_t here = ::lseek(fd_, 0, SEEK_CUR);
    return here >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode) && here >= st.st_size;
  }

  // Copies from the position of `in` up to `most` bytes of one stretch: a
  // hole is skipped on both sides, data is copied by copy_file_range.
  // Returns the bytes passed, 0 at the end of `in`, -1 when the kernel
  // cannot copy between the two files (nothing is passed then).
  std::int64_t kernelCopy(int in, std::uint64_t most, bool& endsInHole) {
    constexpr std::uint64_t kStretch = std::uint64_t{1} << 30;
    const off_t here = ::lseek(in, 0, SEEK_CUR);
    if (here < 0) throwErrno(errno, Access::kRead, path_);
    off_t data = ::lseek(in, here, SEEK_DATA);
    if (data < 0) {
      if (errno != ENXIO) return -1;
      struct stat st;
      if (::fstat(in, &st) != 0) throwErrno(errno, Access::kRead, path_);
      data = std::max(here, static_cast<off_t>(st.st_size));  // a hole up to the end
    }
    if (data > here) {
      const auto hole = static_cast<off_t>(std::min<std::uint64_t>(most, data - here));
      if (::lseek(in, here + hole, SEEK_SET) < 0 || ::lseek(fd_, hole, SEEK_CUR) < 0)
        throwErrno(errno, Access::kWrite, path_);
      written_ += static_cast<std::uint64_t>(hole);
      endsInHole = true;
      return hole;
    }
    // The data runs to the next hole (the end of the file at the latest).
    const off_t hole = ::lseek(in, here, SEEK_HOLE);
    if (hole < 0 || ::lseek(in, here, SEEK_SET) < 0) return -1;
    std::uint64_t want = std::min(most, kStretch);
    if (hole > here) want = std::min(want, static_cast<std::uint64_t>(hole - here));
    for (;;) {
      const ssize_t n =
          ::copy_file_range(in, nullptr, fd_, nullptr, static_cast<std::size_t>(want), 0);
      if (n >= 0) {
        written_ += static_cast<std::uint64_t>(n);
        if (n > 0) endsInHole = false;
        startWriteback();
        return n;
      }
      if (errno == EINTR) continue;
      if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP ||
          errno == EBADF)
        return -1;
      throwErrno(errno, Access::kWrite, path_);
    }
  }

  // Hands every further 8 MiB to the disk while the writing goes on, and
  // flushes every further 64 MiB behind it, so the final fsync waits for the
  // last stretch only. The hand-over is a hint whose errors show at fsync.
  void startWriteback() {
    constexpr std::uint64_t kStretch = 8u << 20;
    constexpr std::uint64_t kFlushEvery = 64u << 20;
    if (written_ - handedOn_ < kStretch) return;
    const std::uint64_t length = (written_ - handedOn_) / kStretch * kStretch;
    ::sync_file_range(fd_, static_cast<off_t>(handedOn_), static_cast<off_t>(length),
                      SYNC_FILE_RANGE_WRITE);
    handedOn_ += length;
    if (handedOn_ / kFlushEvery != (handedOn_ - length) / kFlushEvery) flush_.request();
  }

  int fd_;
  std::string path_;
  const bool mayRefuseFlush_;
  std::uint64_t written_ = 0;   // since opening: the offset, as files are written in order
  std::uint64_t handedOn_ = 0;  // bytes handed to the disk by startWriteback
  BackgroundFlush flush_;       // declared last: it uses fd_
};

constexpr std::size_t kSuffixDigits = 12;

std::string uniqueSuffix() {
  // One generator per thread: several files may be written at once.
  static thread_local std::mt19937_64 generator{std::random_device{}() ^
                                                (static_cast<std::uint64_t>(::getpid()) << 32)};
  char text[32];
  std::snprintf(text, sizeof text, "%012llx",
                static_cast<unsigned long long>(generator() & 0xFFFFFFFFFFFFull));
  return text;
}

// ".NAME.RANDOM.tmp" beside `target`.
std::string temporaryName(const std::string& target) {
  return temporaryNamePrefix(target) + uniqueSuffix() + ".tmp";
}

// Tries `attempt` with fresh temporary names until one is free; returns it.
template <class Attempt>
std::string withFreeTemporaryName(const std::string& target, Attempt attempt) {
  for (int tries = 0;; ++tries) {
    std::string name = temporaryName(target);
    if (attempt(name)) return name;
    if (errno != EEXIST || tries >= 20) throwErrno(errno, Access::kWrite, target);
  }
}

// Whether `name` is a hidden temporary name of a new file whose names start
// with `prefix` (the bare name's part of temporaryNamePrefix).
bool isTemporaryOf(const std::string& name, const std::string& prefix) {
  const std::size_t length = prefix.size() + kSuffixDigits + 4;
  if (name.size() != length || name.compare(0, prefix.size(), prefix) != 0) return false;
  if (name.compare(length - 4, 4, ".tmp") != 0) return false;
  for (std::size_t i = prefix.size(); i < length - 4; ++i) {
    if (!std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

// Removes the hidden temporary files of `target` that no process holds: the
// leftovers of a run that was killed.
void removeUnheldTemporaries(const std::string& target) {
  const std::string dir = directoryOf(target);
  const std::string prefix = baseNameOf(temporaryNamePrefix(target));
  DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
  if (!d) return;
  const int dirFd = ::dirfd(d);
  while (const dirent* e = ::readdir(d)) {
    if (!isTemporaryOf(e->d_name, prefix)) continue;
    const int fd =
        ::openat(dirFd, e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat held, named;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) &&
        ::fstatat(dirFd, e->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
      ::unlinkat(dirFd, e->d_name, 0);
    }
    ::close(fd);
  }
  ::closedir(d);
}

// Takes the lock a new file holds while it is open. False when it cannot be
// had at once, or the file lost its name meanwhile (another run took it for
// a leftover): the caller tries another name.
bool lockNewFile(int fd) {
  struct stat st;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return errno == ENOLCK || errno == EOPNOTSUPP;
  return ::fstat(fd, &st) == 0 && st.st_nlink > 0;
}

// A NewFile: unnamed when `tempPath_` is empty, else under that hidden name.
class PosixNewFile : public NewFile {
 public:
  PosixNewFile(int fd, std::string target, std::string tempPath)
      : out_(fd, target), target_(std::move(target)), tempPath_(std::move(tempPath)) {}
  ~PosixNewFile() override {
    if (!published_) discard();
  }

  void write(const void* data, std::size_t count) override { out_.write(data, count); }
  std::uint64_t copyFrom(ByteSource& source, std::uint64_t count) override {
    return out_.copyFrom(source, count);
  }
  void writeAt(std::uint64_t offset, const void* data, std::size_t count) override {
    out_.writeAt(offset, data, count);
  }
  void sync() override { out_.sync(); }
  void close() override { out_.close(); }
  bool reserve(std::uint64_t length) override { return out_.reserve(length); }

  void takeAttributesOf(const std::string& source) override {
    copyAttributes(out_.fd(), source, target_);
  }

  void publish() override { giveName(true); }
  void publishWithoutReplacing() override { giveName(false); }

  void discard() noexcept override {
    try {
      out_.close();
    } catch (...) {
    }
    if (!tempPath_.empty() && !published_) ::unlink(tempPath_.c_str());
    published_ = true;  // nothing more to undo
  }

 private:
  // Every check first, then the name; the file stays open (and locked) until
  // it has it.
  void giveName(bool replacing) {
    out_.checkClosing();
    if (tempPath_.empty()) {
      linkIntoPlace(replacing);
    } else {
      renameIntoPlace(tempPath_, replacing);
    }
    published_ = true;
    out_.closeChecked();
  }

  // The unnamed file gets the target's name directly when it is free;
  // otherwise a hidden name first, which is then renamed over the target.
  void linkIntoPlace(bool replacing) {
    const std::string self = "/proc/self/fd/" + std::to_string(out_.fd());
    auto linkAs = [&](const std::string& name) {
      return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    };
    if (linkAs(target_)) return;
    if (errno != EEXIST) throwErrno(errno, Access::kRename, target_);
    if (!replacing) throwErrno(EEXIST, Access::kRename, target_);
    const std::string hidden = withFreeTemporaryName(target_, linkAs);
    renameIntoPlace(hidden, true);
  }

  // Renames the hidden name `from` to the target; on failure it goes.
  void renameIntoPlace(const std::string& from, bool replacing) {
    if (replacing ? ::rename(from.c_str(), target_.c_str()) == 0 : renameNew(from)) return;
    const int err = errno;
    ::unlink(from.c_str());
    throwErrno(err, Access::kRename, target_);
  }

  // A rename that never replaces; false with errno set when it failed.
  bool renameNew(const std::string& from) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, target_.c_str(), RENAME_NOREPLACE) == 0)
      return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // No such rename here: a second name, which never replaces, then the first goes.
    if (::link(from.c_str(), target_.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
  }

  PosixOutputFile out_;
  std::string target_;
  std::string tempPath_;
  bool published_ = false;
};

FileKind kindOf(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kRegular;
  if (S_ISDIR(mode)) return FileKind::kDirectory;
  if (S_ISCHR(mode) || S_ISBLK(mode)) return FileKind::kDevice;
  if (S_ISFIFO(mode)) return FileKind::kFifo;
  return FileKind::kOther;
}

// open() for paths of any length: one longer than PATH_MAX is opened a
// directory at a time.
int openAnyLength(const std::string& path, int flags, mode_t mode = 0) {
  if (path.size() < PATH_MAX) return ::open(path.c_str(), flags, mode);
  int dir = path.front() == '/' ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const bool last =
        slash == std::string::npos || path.find_first_not_of('/', slash) == std::string::npos;
    const std::string name = path.substr(start, last ? std::string::npos : slash - start);
    const int fd = name.empty() && !last ? dir
                   : last ? ::openat(dir, name.empty() ? "." : name.c_str(), flags, mode)
                          : ::openat(dir, name.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    const int err = errno;
    if (fd != dir && dir != AT_FDCWD) ::close(dir);
    errno = err;
    if (last || fd < 0) return fd;
    dir = fd;
    start = slash + 1;
  }
}

// stat() for paths of any length.
int statAnyLength(const std::string& path, struct stat& st) {
  if (path.size() < PATH_MAX) return ::stat(path.c_str(), &st);
  const int fd = openAnyLength(path, O_PATH | O_CLOEXEC);
  if (fd < 0) return -1;
  const int rc = ::fstat(fd, &st);
  ::close(fd);
  return rc;
}

// The components of `path`, last first (a stack to take them from).
std::vector<std::string> componentsLastFirst(const std::string& path) {
  std::vector<std::string> names;
  std::size_t end = path.size();
  while (end > 0) {
    const std::size_t slash = path.rfind('/', end - 1);
    const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
    if (end > begin) names.push_back(path.substr(begin, end - begin));
    if (slash == std::string::npos) break;
    end = slash;
  }
  return names;
}

std::string parentOf(const std::string& dir) {
  const std::size_t slash = dir.find_last_of('/');
  return slash == 0 || slash == std::string::npos ? "/" : dir.substr(0, slash);
}

// Throws RefusedLink for the link `link` (lstat `st`) in directory `dir`
// when fs.protected_symlinks would not follow it.
void checkFollowable(const std::string& dir, const struct stat& st, const std::string& link) {
  if (st.st_uid == ::geteuid()) return;
  struct stat d;
  if (::stat(dir.c_str(), &d) != 0) throwErrno(errno, Access::kRead, dir);
  if ((d.st_mode & (S_ISVTX | S_IWOTH)) != (S_ISVTX | S_IWOTH)) return;
  if (d.st_uid == st.st_uid) return;
  throw RefusedLink(link);
}

// Whether `dir` is on /proc, whose links to pipes and sockets ("pipe:[12]")
// name nothing that could be walked.
bool onProc(const std::string& dir) {
  struct statfs fs;
  return ::statfs(dir.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
}

// The absolute path the walk starts from for `path`.
std::string startOf(const std::string& path) {
  if (!path.empty() && path.front() == '/') return "/";
  char* here = ::getcwd(nullptr, 0);
  if (!here) throwErrno(errno, Access::kRead, path);
  std::string dir = here;
  std::free(here);
  return dir;
}

std::unique_ptr<NewFile> hiddenNewFile(const std::string& target);

class PosixFileSystem : public FileSystem {
 public:
  std::unique_ptr<InputFile> openRead(const std::string& path) override {
    int fd = openAnyLength(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) throwErrno(errno, Access::kRead, path);
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(fd);
      throw RunError(kErrPathFileAccess, path + " is a directory");
    }
    // Files are read front to back: the kernel may read further ahead.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return std::make_unique<PosixInputFile>(fd, path);
  }

  std::unique_ptr<InputFile> openRegularFile(const std::string& path) override {
    // Non-blocking, so that a pipe nobody writes to is refused, not waited on.
    int fd = openAnyLength(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) throwErrno(errno, Access::kRead, path);
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      ::close(fd);
      throw RunError(kErrPathFileAccess, path + " is not a regular file");
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<PosixInputFile>(fd, path);
  }

  std::unique_ptr<OutputFile> openWrite(const std::string& path, WriteMode mode) override {
    int flags = O_WRONLY | O_CLOEXEC;
    if (mode == WriteMode::kCreateOrTruncate) flags |= O_CREAT | O_TRUNC;
    if (mode == WriteMode::kCreateNew) flags |= O_CREAT | O_EXCL;
    // O_TRUNC leaves devices and pipes alone.
    if (mode == WriteMode::kDirect) flags |= O_TRUNC | O_NOFOLLOW;
    int fd = ::open(path.c_str(), flags, 0666);
    // The links of /proc to pipes and sockets lead nowhere else.
    if (fd < 0 && errno == ELOOP && mode == WriteMode::kDirect && onProc(directoryOf(path))) {
      fd = ::open(path.c_str(), flags & ~O_NOFOLLOW, 0666);
    }
    if (fd < 0) throwErrno(errno, Access::kWrite, path);
    return std::make_unique<PosixOutputFile>(fd, path);
  }

  std::uint64_t fileLength(const std::string& path) override {
    struct stat st;
    if (statAnyLength(path, st) != 0) throwErrno(errno, Access::kRead, path);
    if (S_ISDIR(st.st_mode)) throw RunError(kErrPathFileAccess, path + " is a directory");
    return static_cast<std::uint64_t>(st.st_size);
  }

  bool exists(const std::string& path) override {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
  }

  void renameNoReplace(const std::string& from, const std::string& to) override {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
    int err = errno;
    if (err != EINVAL && err != ENOSYS) throwErrno(err, Access::kRename, err == EEXIST ? to : from);
    // The file system cannot rename without replacing: link, then unlink.
    if (::link(from.c_str(), to.c_str()) != 0)
      throwErrno(errno, Access::kRename, errno == EEXIST ? to : from);
    if (::unlink(from.c_str()) != 0) {
      int e = errno;
      ::unlink(to.c_str());
      throwErrno(e, Access::kRename, from);
    }
  }

  void renameReplacing(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0) throwErrno(errno, Access::kRename, from);
  }

  bool linkNoReplace(const std::string& from, const std::string& to) override {
    if (::link(from.c_str(), to.c_str()) == 0) return true;
    const int err = errno;
    // No hard links here (FAT, some network file systems), or not allowed
    // for this file (protected_hardlinks).
    if (err == EPERM || err == EOPNOTSUPP || err == EMLINK || err == EXDEV) return false;
    throwErrno(err, Access::kRename, err == EEXIST ? to : from);
  }

  void remove(const std::string& path) override { ::unlink(path.c_str()); }

  DiskFree freeSpace(const std::string& dir) override {
    struct statvfs vfs;
    DiskFree free;
    if (::statvfs(dir.c_str(), &vfs) != 0) return free;
    free.bytesPerSector = static_cast<std::int64_t>(vfs.f_frsize);
    free.sectorsPerCluster = 1;
    free.freeClusters = static_cast<std::int64_t>(vfs.f_bavail);
    return free;
  }

  std::unique_ptr<NewFile> createNewFile(const std::string& target) override {
    removeUnheldTemporaries(target);
    // Linking an unnamed file into place goes through /proc/self/fd.
    static const bool canLink = ::access("/proc/self/fd", X_OK) == 0;
    if (canLink) {
      const std::string dir = directoryOf(target);
      const int fd =
          ::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
      if (fd >= 0) {
        // Locked too: during publish() it may have a hidden name for a moment.
        ::flock(fd, LOCK_EX | LOCK_NB);
        return std::make_unique<PosixNewFile>(fd, target, std::string());
      }
      // Anything but "this file system has no unnamed files" is a real failure.
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        throwErrno(errno, Access::kWrite, target);
    }
    return hiddenNewFile(target);
  }

  std::unique_ptr<OutputFile> openStandardOutput() override {
    const int fd = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) throwErrno(errno, Access::kWrite, "standard output");
    return std::make_unique<PosixOutputFile>(fd, "standard output");
  }

  FileIdentity identify(const std::string& path) override {
    FileIdentity id;
    struct stat st;
    if (statAnyLength(path, st) != 0) return id;
    id.kind = kindOf(st.st_mode);
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    return id;
  }

  std::string resolveLinks(const std::string& path) override {
    std::string done = startOf(path);
    std::vector<std::string> todo = componentsLastFirst(path);
    for (int hops = 0; !todo.empty();) {
      const std::string name = std::move(todo.back());
      todo.pop_back();
      if (name == ".") continue;
      if (name == "..") {
        done = parentOf(done);
        continue;
      }
      const std::string next = done == "/" ? "/" + name : done + "/" + name;
      struct stat st;
      const bool found = ::lstat(next.c_str(), &st) == 0;
      if (!found || !S_ISLNK(st.st_mode)) {
        done = next;
        if (found) continue;
        break;  // missing: the rest is a name still to be made
      }
      if (++hops > 40) throwErrno(ELOOP, Access::kRead, path);
      checkFollowable(done, st, next);
      std::vector<char> text(PATH_MAX);
      const ssize_t n = ::readlink(next.c_str(), text.data(), text.size());
      if (n <= 0) throwErrno(n == 0 ? ENOENT : errno, Access::kRead, next);
      const std::string link(text.data(), static_cast<std::size_t>(n));
      if (link.front() != '/' && link.find(":[") != std::string::npos && onProc(done)) {
        done = next;  // a pipe or socket: nothing more to walk
        break;
      }
      if (link.front() == '/') done = "/";
      for (std::string& step : componentsLastFirst(link)) todo.push_back(std::move(step));
    }
    for (auto it = todo.rbegin(); it != todo.rend(); ++it) done += "/" + *it;
    return done;
  }

  void syncDirectory(const std::string& dir) override {
    const std::string path = dir.empty() ? "." : dir;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    // A directory this user may write to but not read cannot be flushed.
    if (fd < 0 && (errno == EACCES || errno == EPERM)) return;
    int err = fd < 0 ? errno : 0;
    if (fd >= 0 && ::fsync(fd) != 0) err = errno;
    if (fd >= 0) ::close(fd);
    if (err != 0) {
      throw RunError(errorNumberFromErrno(err, Access::kWrite),
                     "the directory " + path + " could not be flushed to disk", err);
    }
  }

  std::unique_ptr<FileLock> lockForRun(const std::string& path) override;
};

class PosixFileLock : public FileLock {
 public:
  explicit PosixFileLock(int fd) : fd_(fd) {}
  ~PosixFileLock() override { ::close(fd_); }

 private:
  int fd_;
};

std::unique_ptr<FileLock> PosixFileSystem::lockForRun(const std::string& path) {
  const int fd = openAnyLength(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throwErrno(errno, Access::kRead, path);
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return std::make_unique<FileLock>();
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) {
      throw RunError(kErrPermissionDenied, path + " is being modified by another run");
    }
    // A file system without locks: nothing to hold.
    if (err == ENOLCK || err == EOPNOTSUPP || err == EINVAL) return std::make_unique<FileLock>();
    throwErrno(err, Access::kRead, path);
  }
  return std::make_unique<PosixFileLock>(fd);
}

}  // namespace

RefusedLink::RefusedLink(const std::string& link)
    : RunError(kErrPermissionDenied,
               link +
                   " is a symbolic link in a sticky world-writable directory, owned by neither "
                   "you nor the directory's owner; it is not followed"),
      link_(link) {}

std::unique_ptr<FileLock> FileSystem::lockForRun(const std::string&) {
  return std::make_unique<FileLock>();
}

std::unique_ptr<InputFile> FileSystem::openRegularFile(const std::string& path) {
  const FileKind kind = identify(path).kind;
  if (kind != FileKind::kRegular && kind != FileKind::kMissing) {
    throw RunError(kErrPathFileAccess, path + " is not a regular file");
  }
  return openRead(path);
}

std::string temporaryNamePrefix(const std::string& target) {
  const std::string name = baseNameOf(target);
  // "." NAME "." 12 hex digits ".tmp" must fit NAME_MAX.
  constexpr std::size_t kFixed = 2 + kSuffixDigits + 4;
  if (name.size() + kFixed <= NAME_MAX) return directoryOf(target) + "." + name + ".";
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (const char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char text[20];
  std::snprintf(text, sizeof text, "~%016llx", static_cast<unsigned long long>(hash));
  return directoryOf(target) + "." + name.substr(0, 200) + text + ".";
}

std::unique_ptr<NewFile> createHiddenNewFile(const std::string& target) {
  removeUnheldTemporaries(target);
  return hiddenNewFile(target);
}

namespace {

std::unique_ptr<NewFile> hiddenNewFile(const std::string& target) {
  int fd = -1;
  for (int tries = 0;; ++tries) {
    const std::string temp = withFreeTemporaryName(target, [&](const std::string& name) {
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
      return fd >= 0;
    });
    if (lockNewFile(fd)) return std::make_unique<PosixNewFile>(fd, target, temp);
    // Another run took it for a leftover before it was locked.
    ::close(fd);
    if (tries >= 20) throwErrno(EEXIST, Access::kWrite, target);
  }
}

}  // namespace

FileSystem& realFileSystem() {
  static PosixFileSystem fs;
  return fs;
}

}  // namespace ril
