// The signals that ask the program to stop (a logout or shutdown, a closed
// terminal, Ctrl+C in the terminal it was started from): each ends the
// program the way File, Exit does, so that a modification in progress ends
// through its failure path.
#pragma once

#include <QObject>
#include <functional>

#include "gui/app_context.h"

class QSocketNotifier;

namespace ril {

// While this lives, SIGTERM, SIGHUP and SIGINT come to `stop` as events of the
// user-interface thread, with the signal's number.
class StopSignalNotifier : public QObject {
  Q_OBJECT

 public:
  explicit StopSignalNotifier(std::function<void(int)> stop, QObject* parent = nullptr);
  ~StopSignalNotifier() override;  // the previous handling comes back

 private:
  void readSignals();

  std::function<void(int)> stop_;
  QSocketNotifier* notifier_ = nullptr;
};

// Ends the program as File, Exit does, with the exit status 128 + `signal`: a
// modification in progress is abandoned (an in-place rewrite finished first)
// and a message box waiting for the user is closed unanswered.
void stopForSignal(AppContext& ctx, int signal);

}  // namespace ril
