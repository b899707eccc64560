#include "cli/stop_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <thread>

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

// The handler also writes the signal's number into a pipe (what a handler
// may safely do); a thread waits on it and requests the stop. The thread also
// looks at firstSignal and at `ending` every few milliseconds, so that neither
// a lost byte nor a close that failed can keep it waiting.
int signalPipe[2] = {-1, -1};
std::stop_source stopSource;
std::thread stopRequester;
std::atomic<bool> ending{false};

extern "C" void noteStopSignal(int signal) {
  int none = 0;
  firstSignal.compare_exchange_strong(none, signal);
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  if (signalPipe[1] >= 0) (void)::write(signalPipe[1], &number, 1);
  errno = saved;
}

void requestStops() {
  constexpr int kLookEveryMs = 20;
  pollfd wait{signalPipe[0], POLLIN, 0};
  while (!ending.load()) {
    if (::poll(&wait, 1, kLookEveryMs) > 0 && (wait.revents & POLLIN)) {
      unsigned char drained[16];
      (void)::read(signalPipe[0], drained, sizeof drained);
    }
    if (firstSignal.load() != 0 && !stopSource.stop_requested()) stopSource.request_stop();
  }
}

}  // namespace

StopSignals::StopSignals() {
  if (::pipe2(signalPipe, O_CLOEXEC) == 0) {
    // A handler never waits on a full pipe: the first byte is the one that counts.
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
  } else {
    signalPipe[0] = signalPipe[1] = -1;  // (poll passes over a negative descriptor)
  }
  stopRequester = std::thread(requestStops);
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
  if (stopRequester.joinable()) {
    // The thread ends within one look; no byte or close is needed for it,
    // either of which could fail.
    ending.store(true);
    stopRequester.join();
    if (signalPipe[0] >= 0) {
      ::close(signalPipe[1]);
      ::close(signalPipe[0]);
    }
    signalPipe[0] = signalPipe[1] = -1;
    ending.store(false);
  }
}

int StopSignals::received() {
  return firstSignal.load();
}

std::stop_token StopSignals::stopToken() {
  return stopSource.get_token();
}

std::string signalName(int signal) {
  const char* abbreviation = ::sigabbrev_np(signal);
  return abbreviation ? "SIG" + std::string(abbreviation) : "signal " + std::to_string(signal);
}

int stoppedLeavingFile(int signal, const std::string& file) {
  std::fprintf(errStream(), "Stopped by %s: %s is left as it was.\n", signalName(signal).c_str(),
               shownName(file).c_str());
  return StopSignals::exitStatus(signal);
}

}  // namespace ril::cli
