// rilmaton-cli modify: the files, the album where asked for, then each file
// as the modification dialog's Modify does it.
#include "cli/commands.h"
#include "cli/file_runs.h"
#include "cli/modify_album.h"
#include "cli/modify_file.h"
#include "cli/modify_options.h"
#include "cli/output_files.h"
#include "cli/stop_signals.h"
#include "core/base/thread_pool.h"

namespace ril::cli {

int runModifyCommand(int argc, char** argv) {
  if (asksForCue(argc, argv)) return runCueModifyCommand(argc, argv);
  // From the first moment: nothing is written before the run, and the run
  // ends through its failure path when one of these comes.
  StopSignals stopSignals;
  ModifyOptions options;
  if (const int status = parseModifyOptions(argc, argv, options); status >= 0) return status;
  OutputFiles run("modify", options.operands, options.sources, options.output, options.outputDir);
  if (run.status >= 0) return run.status;
  const std::size_t count = run.files().size();
  FileModification job;
  job.analysisThreads =
      options.threads ? options.threads : threadsPerFile(availableProcessors(), run.jobs, count);
  job.rewritingThreads =
      options.threads ? options.threads : threadsPerFile(rewritingThreads(), run.jobs, count);
  if (options.album) {
    if (const int status = chooseAlbum(run.files(), run.jobs, options, job.album); status >= 0) {
      return status;
    }
  }
  return run.each(count > 1, [&](const std::string& file, const std::string& output) {
    FileModification one = job;
    one.file = file;
    one.output = output;
    return modifyFile(options, one);
  });
}

}  // namespace ril::cli
