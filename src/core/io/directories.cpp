#include "core/io/directories.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ril {

namespace {

bool isHidden(const char* name) {
  return name[0] == '.';
}

bool startsWith(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool keeps(EntryKind kind, const char* name, const struct stat& st) {
  switch (kind) {
    case EntryKind::kDirectory:
      return S_ISDIR(st.st_mode);
    case EntryKind::kWavFile:
      return S_ISREG(st.st_mode) && isWavFileName(name);
    case EntryKind::kCueSheet:
      return S_ISREG(st.st_mode) && isCueSheetName(name);
  }
  return false;
}

}  // namespace

DirectoryListing listEntries(const std::string& dir, EntryKind kind) {
  DirectoryListing listing;
  DIR* d = opendir(dir.c_str());
  if (!d) {
    listing.error = errno;
    return listing;
  }
  // errno is cleared before each readdir: only its own failure counts, not
  // that of a stat on an entry that is then skipped.
  for (errno = 0; dirent* e = readdir(d); errno = 0) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    if (isHidden(e->d_name)) continue;
    struct stat st {};
    if (stat(joinPath(dir, e->d_name).c_str(), &st) != 0) continue;  // dangling link
    if (keeps(kind, e->d_name, st)) listing.names.emplace_back(e->d_name);
  }
  const int err = errno;
  closedir(d);
  if (err != 0) {
    listing.names.clear();
    listing.error = err;
    return listing;
  }
  std::sort(listing.names.begin(), listing.names.end(), lessIgnoringCase);
  return listing;
}

int directoryAccessError(const std::string& dir) {
  return access(dir.c_str(), R_OK | X_OK) == 0 ? 0 : errno;
}

std::string normalPath(const std::string& path, const std::string& base) {
  std::filesystem::path p(path);
  if (p.is_relative()) p = std::filesystem::path(base.empty() ? "/" : base) / p;
  std::string s = p.lexically_normal().string();
  while (s.size() > 1 && s.back() == '/') s.pop_back();
  return s.empty() ? "/" : s;
}

std::string joinPath(const std::string& dir, const std::string& name) {
  return (dir.empty() || dir.back() != '/') ? dir + "/" + name : dir + name;
}

bool isWithin(const std::string& path, const std::string& root) {
  return root == "/" || path == root || startsWith(path, root + "/");
}

namespace {

// Whether `name` ends in `suffix` (in lower case), in any case.
bool endsInAnyCase(const std::string& name, const std::string& suffix) {
  if (name.size() < suffix.size()) return false;
  std::string tail = name.substr(name.size() - suffix.size());
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return tail == suffix;
}

}  // namespace

bool isWavFileName(const std::string& name) {
  return endsInAnyCase(name, ".wav");
}

bool isCueSheetName(const std::string& name) {
  return endsInAnyCase(name, ".cue");
}

bool lessIgnoringCase(const std::string& a, const std::string& b) {
  auto lower = [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); };
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    char x = lower(a[i]), y = lower(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

std::string homeDirectory() {
  if (const char* h = std::getenv("HOME"); h && *h) return normalPath(h, "/");
  if (passwd* pw = getpwuid(getuid()); pw && pw->pw_dir) return normalPath(pw->pw_dir, "/");
  return "/";
}

std::string unescapeMountField(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      int v = 0;
      bool ok = true;
      for (int k = 1; k <= 3; ++k) {
        char c = field[i + k];
        if (c < '0' || c > '7') ok = false;
        v = v * 8 + (c - '0');
      }
      if (ok) {
        out.push_back(static_cast<char>(v));
        i += 3;
        continue;
      }
    }
    out.push_back(field[i]);
  }
  return out;
}

std::vector<std::string> volumeMountPoints(std::istream& mounts) {
  std::vector<std::string> points;
  std::string line;
  while (std::getline(mounts, line)) {
    std::istringstream fields(line);
    std::string device, point;
    if (!(fields >> device >> point)) continue;
    point = unescapeMountField(point);
    if (point == "/mnt" || startsWith(point, "/mnt/") || startsWith(point, "/media/") ||
        startsWith(point, "/run/media/")) {
      points.push_back(point);
    }
  }
  std::sort(points.begin(), points.end());
  return points;
}

std::vector<std::string> machineRoots() {
  std::vector<std::string> roots{"/"};
  const std::string home = homeDirectory();
  if (home != "/") roots.push_back(home);
  std::ifstream table("/proc/self/mounts");
  for (const std::string& point : volumeMountPoints(table)) {
    if (std::find(roots.begin(), roots.end(), point) == roots.end()) roots.push_back(point);
  }
  return roots;
}

std::string currentDirectory() {
  std::string out;
  if (char* c = getcwd(nullptr, 0)) {
    out = c;
    std::free(c);
  }
  return out;
}

int setCurrentDirectory(const std::string& path) {
  return chdir(path.c_str()) == 0 ? 0 : errno;
}

}  // namespace ril
