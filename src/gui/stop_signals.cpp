#include "gui/stop_signals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>
#include <array>
#include <cerrno>

#include "gui/main_window.h"

namespace ril {

namespace {

constexpr std::array<int, 3> kStopSignals{SIGTERM, SIGHUP, SIGINT};

// The handler only writes the signal's number into a pipe (all a handler may
// safely do); the user-interface thread reads it from there.
int signalPipe[2] = {-1, -1};
std::array<struct sigaction, kStopSignals.size()> previous{};

extern "C" void forwardStopSignal(int signal) {
  const int saved = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  (void)::write(signalPipe[1], &number, 1);
  errno = saved;
}

}  // namespace

StopSignalNotifier::StopSignalNotifier(std::function<void(int)> stop, QObject* parent)
    : QObject(parent), stop_(std::move(stop)) {
  if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &StopSignalNotifier::readSignals);
  struct sigaction action {};
  action.sa_handler = forwardStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    sigaction(kStopSignals[i], &action, &previous[i]);
  }
}

StopSignalNotifier::~StopSignalNotifier() {
  if (!notifier_) return;
  for (std::size_t i = 0; i < kStopSignals.size(); ++i) {
    sigaction(kStopSignals[i], &previous[i], nullptr);
  }
  delete notifier_;
  ::close(signalPipe[0]);
  ::close(signalPipe[1]);
  signalPipe[0] = signalPipe[1] = -1;
}

void StopSignalNotifier::readSignals() {
  unsigned char number = 0;
  while (::read(signalPipe[0], &number, 1) == 1) {
    if (stop_) stop_(number);
  }
}

void stopForSignal(AppContext& ctx, int signal) {
  ctx.exitStatus = 128 + signal;
  ctx.messagesDismissed = true;
  if (ctx.mainWindow) {
    ctx.mainWindow->exitProgram();
  } else if (ctx.endProgram) {
    ctx.endProgram();
  }
  // A run waiting on a message box goes on to its end.
  if (QWidget* box = QApplication::activeModalWidget()) box->close();
}

}  // namespace ril
