// A file's permission bits, owner and group, and extended attributes, carried
// over to a file that is to take its place.
#pragma once

#include <string>

namespace ril {

// Gives the open file `fd` the owner and group of `source` where this process
// may set them, its permission bits (without set-user-ID and set-group-ID when
// the owner could not be set), and its extended attributes, POSIX ACLs
// included, as far as they can be set. Throws RunError when `source` cannot
// be examined or the permission bits cannot be set; errors name `target`.
void copyAttributes(int fd, const std::string& source, const std::string& target);

}  // namespace ril
