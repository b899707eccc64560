// Where the program lies: its files (the help text) sit beside it, and its
// modified files go there.
#pragma once

#include <string>

namespace ril {

// Directory of the running executable, ending in "/" (from /proc/self/exe).
std::string programDirectory();

// `dir` with exactly one trailing "/" ("./" for an empty one).
std::string withOneTrailingSlash(std::string dir);

}  // namespace ril
