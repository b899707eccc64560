#include "core/io/file_attributes.h"

#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "core/base/errors.h"

namespace ril {

namespace {

constexpr const char* kAccessAcl = "system.posix_acl_access";

// The value of attribute `name` of `path`; false when it cannot be read.
bool readAttribute(const std::string& path, const char* name, std::vector<char>& value) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = ::getxattr(path.c_str(), name, nullptr, 0);
    if (size < 0) return false;
    value.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::getxattr(path.c_str(), name, value.data(), value.size());
    if (got >= 0) {
      value.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE) return false;  // ERANGE: it grew meanwhile
  }
  return false;
}

// The names of the extended attributes of `path`; empty when there are none
// or the file system has none.
std::vector<std::string> attributeNames(const std::string& path) {
  std::vector<char> list;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const ssize_t size = ::listxattr(path.c_str(), nullptr, 0);
    if (size <= 0) return {};
    list.resize(static_cast<std::size_t>(size));
    const ssize_t got = ::listxattr(path.c_str(), list.data(), list.size());
    if (got >= 0) {
      list.resize(static_cast<std::size_t>(got));
      break;
    }
    if (errno != ERANGE) return {};
    list.clear();
  }
  std::vector<std::string> names;
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t length = ::strnlen(list.data() + at, list.size() - at);
    names.emplace_back(list.data() + at, length);
    at += length + 1;
  }
  return names;
}

void copyExtendedAttributes(int fd, const std::string& source,
                            const std::vector<std::string>& names) {
  std::vector<char> value;
  for (const std::string& name : names) {
    // Attributes this process may not set (trusted.*, security.*) are skipped.
    if (readAttribute(source, name.c_str(), value)) {
      (void)::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0);
    }
  }
}

}  // namespace

void copyAttributes(int fd, const std::string& source, const std::string& target) {
  struct stat st;
  if (::stat(source.c_str(), &st) != 0) throwErrno(errno, Access::kRead, source);
  bool ownerKept = ::fchown(fd, st.st_uid, st.st_gid) == 0;
  // Without the right to give the file away, the group alone may be allowed.
  if (!ownerKept) (void)::fchown(fd, static_cast<uid_t>(-1), st.st_gid);
  mode_t mode = st.st_mode & 07777;
  if (!ownerKept) mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
  const std::vector<std::string> names = attributeNames(source);
  // An ACL the new file inherited from its directory is not the original's.
  if (std::find(names.begin(), names.end(), kAccessAcl) == names.end()) {
    (void)::fremovexattr(fd, kAccessAcl);
  }
  // An ACL carries the group bits; it is set after the mode so both agree.
  if (::fchmod(fd, mode) != 0) throwErrno(errno, Access::kWrite, target);
  copyExtendedAttributes(fd, source, names);
}

}  // namespace ril
