// Passes over a file's samples (the analysis, the rewriting) run on a thread
// of their own, so that the windows stay responsive and redraw meanwhile. A
// pass reports its progress to the user-interface thread through queued
// signals, and the messages it has to show on the way are shown there while
// it waits for the answer.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "core/base/host.h"

namespace ril {

// The progress of a pass, as signals. Built on the user-interface thread;
// what is connected there receives the signals queued, in the order the pass
// raised them. The pass needs no moment for pending events: yield() does nothing.
class PassProgress : public QObject, public ProgressSink {
  Q_OBJECT

 public:
  using QObject::QObject;

  void progress(double fraction, const std::string& text) override;
  void progressDone(const std::string& text) override;
  void yield() override {}

 signals:
  void progressed(double fraction, const QString& text);
  void ended(const QString& text);
};

// Shows a pass's messages with `shown` on the user-interface thread, one at a
// time and in the order asked; the pass waits for each answer. Called on the
// user-interface thread itself, it shows the message at once.
class GuiThreadMessages : public MessageSink {
 public:
  explicit GuiThreadMessages(MessageSink& shown) : shown_(shown) {}
  Answer show(const Message& message) override;

 private:
  MessageSink& shown_;
};

// Runs `work` on a thread of its own and returns at once; `done` runs on the
// user-interface thread after `work` has returned (and not at all when
// `context` has gone by then). Nothing on the user-interface thread may wait
// for the thread: a pass may be waiting there for a message to be answered.
void runOffThread(QObject* context, std::function<void()> work, std::function<void()> done);

}  // namespace ril
