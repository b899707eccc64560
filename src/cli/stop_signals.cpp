#include "cli/stop_signals.h"

#include <signal.h>
#include <string.h>

#include <array>
#include <atomic>
#include <cstdio>

#include "cli/terminal.h"

namespace ril::cli {

namespace {

constexpr std::array<int, 4> kStopSignals{SIGHUP, SIGINT, SIGQUIT, SIGTERM};

// Set by the handler on whichever thread the signal lands (the reader and
// writer threads too), read by the run: an atomic, which a lock-free one is
// safe to use in a handler; volatile sig_atomic_t is safe only within a thread.
std::atomic<int> firstSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
std::array<struct sigaction, kStopSignals.size()> previous{};

extern "C" void noteStopSignal(int signal) {
  int none = 0;
  firstSignal.compare_exchange_strong(none, signal);
}

}  // namespace

StopSignals::StopSignals() {
  struct sigaction action {};
  action.sa_handler = noteStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a question waiting on the terminal is interrupted.
  action.sa_flags = 0;
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    sigaction(kStopSignals[i], &action, &previous[i]);
  }
}

StopSignals::~StopSignals() {
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    sigaction(kStopSignals[i], &previous[i], nullptr);
  }
}

int StopSignals::received() {
  return firstSignal.load();
}

std::string signalName(int signal) {
  const char* abbreviation = ::sigabbrev_np(signal);
  return abbreviation ? "SIG" + std::string(abbreviation) : "signal " + std::to_string(signal);
}

int stoppedLeavingFile(int signal, const std::string& file) {
  std::fprintf(errStream(), "Stopped by %s: %s is left as it was.\n", signalName(signal).c_str(),
               file.c_str());
  return StopSignals::exitStatus(signal);
}

}  // namespace ril::cli
