#include "cli/stop_signals.h"

#include <signal.h>
#include <string.h>

#include <array>

namespace ril::cli {

namespace {

constexpr std::array<int, 4> kStopSignals{SIGHUP, SIGINT, SIGQUIT, SIGTERM};

volatile sig_atomic_t firstSignal = 0;
std::array<struct sigaction, kStopSignals.size()> previous{};

extern "C" void noteStopSignal(int signal) {
  if (firstSignal == 0) firstSignal = signal;
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
  return firstSignal;
}

std::string signalName(int signal) {
  const char* abbreviation = ::sigabbrev_np(signal);
  return abbreviation ? "SIG" + std::string(abbreviation) : "signal " + std::to_string(signal);
}

}  // namespace ril::cli
