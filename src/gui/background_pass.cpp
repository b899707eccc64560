#include "gui/background_pass.h"

#include <QCoreApplication>
#include <QThread>

namespace ril {

void PassProgress::progress(double fraction, const std::string& text) {
  emit progressed(fraction, QString::fromStdString(text));
}

void PassProgress::progressDone(const std::string& text) {
  emit ended(QString::fromStdString(text));
}

Answer GuiThreadMessages::show(const Message& message) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread()) return shown_.show(message);
  Answer answer = message.kind == MessageKind::kQuestion ? Answer::kNo : Answer::kOk;
  QMetaObject::invokeMethod(
      app, [this, &message, &answer] { answer = shown_.show(message); },
      Qt::BlockingQueuedConnection);
  return answer;
}

void runOffThread(QObject* context, std::function<void()> work, std::function<void()> done) {
  QThread* thread = QThread::create(std::move(work));
  QObject::connect(thread, &QThread::finished, context, [thread, done = std::move(done)] {
    thread->wait();
    done();
  });
  // The thread object goes once the thread has ended, whether or not
  // `context` is still there to hear of it.
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  thread->start();
}

}  // namespace ril
