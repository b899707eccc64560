#include "core/io/program_directory.h"

#include <unistd.h>

#include <vector>

#include "core/io/files.h"

namespace ril {

std::string programDirectory() {
  std::vector<char> buf(4096);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  std::string exe =
      n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : std::string("./");
  return withOneTrailingSlash(directoryOf(exe));
}

std::string withOneTrailingSlash(std::string dir) {
  if (dir.empty()) return "./";
  while (dir.size() > 1 && dir.back() == '/' && dir[dir.size() - 2] == '/') dir.pop_back();
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace ril
