// The front of a command that writes a result for each of many files
// (modify, repair): the files collected, their outputs checked, then each
// file worked on.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/file_list.h"

namespace ril::cli {

class OutputFiles {
 public:
  // Collects the files as collectCommandFiles does for `command` and checks
  // their outputs (outputsProblem, a usage error). `status` is the exit
  // status when the command ends here (no file, or the usage error), else -1.
  OutputFiles(const std::string& command, const std::vector<std::string>& operands,
              const FileSources& sources, const std::string& output, const std::string& outputDir);

  const std::vector<std::string>& files() const { return list_.files; }

  // Runs work(FILE, OUT) for each file, `jobs` at once (see runEach): OUT is
  // --output, or FILE's name under --output-dir, or empty. A file not begun
  // when a stop signal came is left as it is. With `headers`, each file's
  // output begins with "== FILE". Returns the command's exit status: at least
  // 1 when an operand or list gave no files.
  int each(
      bool headers,
      const std::function<int(const std::string& file, const std::string& output)>& work) const;

  int status = -1;
  unsigned jobs = 1;

 private:
  FileList list_;
  std::string output_;
  std::string outputDir_;
};

}  // namespace ril::cli
