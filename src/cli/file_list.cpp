#include "cli/file_list.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <utility>

#include "cli/terminal.h"
#include "core/base/errors.h"
#include "core/io/directories.h"
#include "core/io/files.h"

namespace ril::cli {

void FileSources::addTo(Arguments& args) {
  args.flag({"--recursive", "-r"}, recursive);
  args.flag({"--null", "-0"}, nulSeparated);
  args.option({"--files-from"}, "a LIST", [this](const std::string& value) {
    lists.push_back(value);
    return value.empty() ? std::string("--files-from needs a LIST") : std::string();
  });
  args.option({"--jobs", "-j"}, "a number", [this](const std::string& value) {
    char* end = nullptr;
    errno = 0;
    const long n = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || errno != 0 || n < 1 || n > 1024) {
      return "--jobs needs a number from 1 to 1024, not '" + value + "'";
    }
    jobs = static_cast<unsigned>(n);
    return std::string();
  });
}

namespace {

// Closes a descriptor at the end of its scope.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

class Collector {
 public:
  Collector(bool recursive, FileList& list) : recursive_(recursive), list_(list) {}

  void add(const std::string& path) {
    if (path.empty()) return;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      list_.files.push_back(path);  // what cannot be read fails as that file
    } else if (recursive_) {
      const Descriptor dir{::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
      if (dir.fd < 0) {
        cannot("read directory", path, errno);
      } else {
        walk(dir.fd, path);
      }
    } else {
      list_.errors.push_back(shownName(path) +
                             " is a directory (--recursive takes the WAV files under it)");
    }
  }

 private:
  void cannot(const char* what, const std::string& path, int error) {
    list_.errors.push_back(std::string("cannot ") + what + " " + shownName(path) + ": " +
                           systemErrorText(error));
  }

  // The directory open as `dirFd`, named `dir`: each step goes from the
  // directory's descriptor, so that paths of any length are walked.
  void walk(int dirFd, const std::string& dir) {
    struct stat st;
    if (::fstat(dirFd, &st) != 0) return cannot("examine", dir, errno);
    if (!seen_.insert({st.st_dev, st.st_ino}).second) return;  // a loop, or a second way in
    std::vector<std::string> wavs, dirs;
    if (!listDirectory(dirFd, dir, wavs, dirs)) return;
    for (const std::string& name : wavs) list_.files.push_back(joinPath(dir, name));
    for (const std::string& name : dirs) {
      const Descriptor sub{::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
      if (sub.fd < 0) {
        cannot("read directory", joinPath(dir, name), errno);
        continue;
      }
      walk(sub.fd, joinPath(dir, name));
    }
  }

  // The WAV files and the subdirectories of the directory open as `dirFd`,
  // in name order; hidden entries and links that lead nowhere are left out,
  // any other entry that cannot be examined is an error. False when the
  // directory could not be read.
  bool listDirectory(int dirFd, const std::string& dir, std::vector<std::string>& wavs,
                     std::vector<std::string>& dirs) {
    DIR* d = ::fdopendir(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (!d) {
      cannot("read directory", dir, errno);
      return false;
    }
    errno = 0;
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.front() == '.') continue;
      struct stat st;
      if (::fstatat(dirFd, e->d_name, &st, 0) != 0) {
        const int error = errno;
        struct stat link;
        const bool dangling = error == ENOENT &&
                              ::fstatat(dirFd, e->d_name, &link, AT_SYMLINK_NOFOLLOW) == 0 &&
                              S_ISLNK(link.st_mode);
        if (!dangling) cannot("examine", joinPath(dir, name), error);
      } else if (S_ISDIR(st.st_mode)) {
        dirs.push_back(name);
      } else if (S_ISREG(st.st_mode) && isWavFileName(name)) {
        wavs.push_back(name);
      }
      errno = 0;
    }
    const int error = errno;
    ::closedir(d);
    if (error != 0) {
      cannot("read directory", dir, error);
      return false;
    }
    std::sort(wavs.begin(), wavs.end(), lessIgnoringCase);
    std::sort(dirs.begin(), dirs.end(), lessIgnoringCase);
    return true;
  }

  bool recursive_;
  FileList& list_;
  std::set<std::pair<dev_t, ino_t>> seen_;
};

// The whole of a list; false when it could not be read.
bool readList(const std::string& name, std::string& text) {
  std::FILE* f = name == "-" ? stdin : std::fopen(name.c_str(), "rb");
  if (!f) return false;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, got);
  const bool ok = !std::ferror(f);
  if (f != stdin) std::fclose(f);
  return ok;
}

}  // namespace

FileList collectFiles(const std::vector<std::string>& operands, const FileSources& sources) {
  FileList list;
  Collector collector(sources.recursive, list);
  for (const std::string& operand : operands) collector.add(operand);
  const char end = sources.nulSeparated ? '\0' : '\n';
  for (const std::string& name : sources.lists) {
    std::string text;
    if (!readList(name, text)) {
      const int error = errno;
      list.errors.push_back("cannot read the list " + shownName(name) + ": " +
                            systemErrorText(error));
      continue;
    }
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t stop = text.find(end, start);
      if (stop == std::string::npos) stop = text.size();
      collector.add(text.substr(start, stop - start));
      start = stop + 1;
    }
  }
  return list;
}

FileList collectCommandFiles(const std::string& command, const std::vector<std::string>& operands,
                             const FileSources& sources) {
  FileList list = collectFiles(operands, sources);
  for (const std::string& e : list.errors) {
    std::fprintf(stderr, "rilmaton-cli %s: %s\n", command.c_str(), e.c_str());
  }
  if (list.files.empty() && list.errors.empty()) {
    std::fprintf(stderr, "rilmaton-cli %s: no FILE found\n", command.c_str());
  }
  return list;
}

std::string outputsProblem(const std::vector<std::string>& files, const std::string& output,
                           const std::string& outputDir) {
  if (files.size() > 1 && !output.empty()) {
    return "--output takes one FILE; use --output-dir for several";
  }
  if (outputDir.empty()) return {};
  return outputDirectoryProblem(
      "--output-dir", outputDir, files, baseNameOf,
      [](const std::string& first, const std::string& second, const std::string& output) {
        return first + " and " + second + " would both be written as " + output;
      });
}

std::string outputDirectoryProblem(const std::string& option, const std::string& dir,
                                   const std::vector<std::string>& files,
                                   const OutputNameOf& nameOf, const OutputClash& clash) {
  struct stat st;
  if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    return option + " " + shownName(dir) + " is not a directory";
  }
  std::map<std::string, std::string> byName;
  for (const std::string& file : files) {
    const auto [it, added] = byName.emplace(nameOf(file), file);
    if (!added) {
      return option + ": " +
             clash(shownName(it->second), shownName(file), shownName(joinPath(dir, it->first)));
    }
  }
  return {};
}

}  // namespace ril::cli
