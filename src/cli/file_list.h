// The files a many-file command works on: its operands, the paths of lists
// (--files-from), and the WAV files under directories (--recursive).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/arguments.h"

namespace ril::cli {

struct FileSources {
  bool recursive = false;
  std::vector<std::string> lists;  // "-" is standard input
  bool nulSeparated = false;       // the lists' paths end in NUL, not in a line break
  unsigned jobs = 0;               // 0: one per processor

  // Adds --recursive, --files-from, -0/--null and --jobs/-j to `args`.
  void addTo(Arguments& args);
};

struct FileList {
  std::vector<std::string> files;
  std::vector<std::string>
      errors;  // directories that could not be walked, lists that could not be read
};

// The operands in order, each directory among them (with --recursive)
// replaced by the WAV files under it ("*.wav" in any case; in each directory
// its files in name order, then its subdirectories in name order; a
// directory reached twice, as through a link loop, is walked once); then
// the paths of each list in the same way. Empty lines and entries are skipped;
// a directory without --recursive is an error.
FileList collectFiles(const std::vector<std::string>& operands, const FileSources& sources);

// collectFiles for `command` ("modify"): each error goes to stderr as
// "rilmaton-cli COMMAND: ERROR", and finding no file at all is said too.
FileList collectCommandFiles(const std::string& command, const std::vector<std::string>& operands,
                             const FileSources& sources);

// Why the outputs of `files` cannot go into the directory `dir`, given with
// `option` ("--output-dir"): it is not a directory, or two files would take
// one name in it. `nameOf` gives a file's output name there; `clash` words
// two files whose outputs would both be the path it is given. Empty when
// they can.
using OutputNameOf = std::function<std::string(const std::string& file)>;
using OutputClash = std::function<std::string(const std::string& first, const std::string& second,
                                              const std::string& output)>;
std::string outputDirectoryProblem(const std::string& option, const std::string& dir,
                                   const std::vector<std::string>& files,
                                   const OutputNameOf& nameOf, const OutputClash& clash);

// Why the outputs of a command that writes `files` cannot be: --output
// (`output`) with several files, an --output-dir (`outputDir`) that is not a
// directory, two files that would both take the same name in it. Empty when
// they can.
std::string outputsProblem(const std::vector<std::string>& files, const std::string& output,
                           const std::string& outputDir);

}  // namespace ril::cli
