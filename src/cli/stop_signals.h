// The signals that ask a program to stop (a closed terminal or ssh session,
// Ctrl+C, Ctrl+\, kill): noted while a command works, so that it can end
// through its failure path with the user's files as they were.
#pragma once

#include <string>

namespace ril::cli {

// While this lives, SIGHUP, SIGINT, SIGQUIT and SIGTERM only note that they
// came; the previous handling is restored at the end of its scope.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The first stop signal that came, or 0.
  static int received();
  // The exit status after stop signal `signal`: 128 + its number, as shells
  // report a program that the signal ended.
  static int exitStatus(int signal) { return 128 + signal; }
};

// "SIGTERM" for SIGTERM.
std::string signalName(int signal);

// Says on the calling thread's stderr that stop signal `signal` left `file`
// as it was ("Stopped by SIGTERM: a.wav is left as it was.") and returns
// the exit status after it.
int stoppedLeavingFile(int signal, const std::string& file);

}  // namespace ril::cli
