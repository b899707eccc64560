#include "cli/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <thread>

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
// may safely do); a thread reads it there and requests the stop. A 0 byte
// ends that thread.
int signalPipe[2] = {-1, -1};
std::stop_source stopSource;
std::thread stopRequester;

extern "C" void noteStopSignal(int signal) {
  int none = 0;
  firstSignal.compare_exchange_strong(none, signal);
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  if (signalPipe[1] >= 0) (void)::write(signalPipe[1], &number, 1);
  errno = saved;
}

void requestStops() {
  unsigned char number = 0;
  for (;;) {
    const ssize_t got = ::read(signalPipe[0], &number, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got != 1 || number == 0) return;
    stopSource.request_stop();
  }
}

}  // namespace

StopSignals::StopSignals() {
  if (::pipe2(signalPipe, O_CLOEXEC) == 0) {
    // A handler never waits on a full pipe: the first byte is the one that counts.
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    stopRequester = std::thread(requestStops);
  } else {
    signalPipe[0] = signalPipe[1] = -1;
  }
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
    // Blocking again, so that a full pipe cannot lose the closing byte: the
    // thread reads on until it comes.
    ::fcntl(signalPipe[1], F_SETFL, 0);
    const unsigned char end = 0;
    while (::write(signalPipe[1], &end, 1) < 0 && errno == EINTR) {
    }
    stopRequester.join();
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
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

}  // namespace ril::cli
