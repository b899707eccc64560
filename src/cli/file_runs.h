// Many files worked on at once: each file's output is captured while a
// worker thread works on it and written out in the files' order, so that the
// output reads as if they had been done one after another.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace ril::cli {

// Runs work(i) for every i below `count` on up to `jobs` threads and returns
// the exit statuses in that order. The standard output and error of a
// worker (outStream(), errStream()) are the file's own; each file's output
// goes out, in the order it was written, once the files before it are done.
// With one file, work(0) runs on the calling thread with the process's
// streams. `progress` draws "Files done: K of N" on stderr when it is a
// terminal. An exception thrown by work(i) makes it fail with its text.
std::vector<int> runEach(std::size_t count, unsigned jobs, bool progress,
                         const std::function<int(std::size_t)>& work);

// The status of a whole run: a single file's own; of several, a stop
// signal's (128+N) when one ended a file, else 1 when any file failed, else 0.
int combinedStatus(const std::vector<int>& statuses);

// The number of files worked on at once by default: the processors this
// process may run on, as for the threads within one file.
unsigned defaultJobs();

// Threads for each file when `processors` are shared among the files worked
// on at once: `jobs`, or fewer when there are fewer files (at least 1). One
// file gets them all; many files at --jobs N one each.
int threadsPerFile(int processors, unsigned jobs, std::size_t files);

}  // namespace ril::cli
