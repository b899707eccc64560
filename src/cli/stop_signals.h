// The signals that ask a program to stop (a closed terminal or ssh session,
// Ctrl+C, Ctrl+\, kill): noted while a command works, so that it can end
// through its failure path with the user's files as they were.
#pragma once

#include <stop_token>
#include <string>

namespace ril::cli {

// While this lives, SIGHUP, SIGINT, SIGQUIT and SIGTERM only note that they
// came and request a stop through stopToken(); the previous handling is
// restored at the end of its scope.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // The first stop signal that came, or 0.
  static int received();
  // Stopped once a stop signal has come (a moment after received() says so:
  // a thread of this class requests the stop, which a handler may not).
  static std::stop_token stopToken();
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
