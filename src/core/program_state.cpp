#include "core/program_state.h"

#include <unistd.h>

#include <vector>

namespace ril {

std::string programDirectory() {
  std::vector<char> buf(4096);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  std::string exe =
      n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : std::string("./");
  std::string dir = directoryOf(exe);
  return dir.empty() ? std::string("./") : dir;
}

void initialiseProgramState(ProgramState& state, const std::string& appPath) {
  state.lineBreak = "\r\n";
  state.appPath = appPath;
  // Exactly one trailing separator, whatever the caller passed.
  while (state.appPath.size() > 1 && state.appPath.back() == '/' &&
         state.appPath[state.appPath.size() - 2] == '/')
    state.appPath.pop_back();
  if (state.appPath.empty() || state.appPath.back() != '/') state.appPath += '/';
}

}  // namespace ril
