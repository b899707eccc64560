#include "cli/output_files.h"

#include <algorithm>
#include <cstdio>

#include "cli/arguments.h"
#include "cli/file_runs.h"
#include "cli/stop_signals.h"
#include "cli/terminal.h"
#include "core/io/directories.h"
#include "core/io/files.h"

namespace ril::cli {

OutputFiles::OutputFiles(const std::string& command, const std::vector<std::string>& operands,
                         const FileSources& sources, const std::string& output,
                         const std::string& outputDir)
    : list_(collectCommandFiles(command, operands, sources)),
      output_(output),
      outputDir_(outputDir) {
  if (list_.files.empty()) {
    status = 1;
  } else if (const std::string problem = outputsProblem(list_.files, output, outputDir);
             !problem.empty()) {
    status = printUsageError(command, problem);
  }
  jobs = sources.jobs ? sources.jobs : defaultJobs();
}

int OutputFiles::each(
    bool headers,
    const std::function<int(const std::string& file, const std::string& output)>& work) const {
  const std::vector<std::string>& files = list_.files;
  const int status = combinedStatus(runEach(files.size(), jobs, true, [&](std::size_t i) {
    if (headers) std::fprintf(outStream(), "== %s\n", shownName(files[i]).c_str());
    if (const int signal = StopSignals::received(); signal != 0) {
      return stoppedLeavingFile(signal, files[i]);
    }
    return work(files[i],
                outputDir_.empty() ? output_ : joinPath(outputDir_, baseNameOf(files[i])));
  }));
  return list_.errors.empty() ? status : std::max(status, 1);
}

}  // namespace ril::cli
