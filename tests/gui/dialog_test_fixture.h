// A main window, the session and scripted message boxes for the window
// tests of the selection dialog, the batch run and the modification dialog.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QTest>
#include <QTimer>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/io/directories.h"
#include "core/io/files.h"
#include "gui/app_context.h"
#include "gui/file_selection_dialog.h"
#include "gui/main_window.h"
#include "gui/modification_dialog.h"
#include "gui/session.h"
#include "support/forwarding_file_system.h"
#include "support/manual_clock.h"
#include "support/scripted_host.h"
#include "support/test_support.h"

namespace ril::test {

// "/tmp/x/" -> "/tmp/x": how the directory list spells a directory.
inline std::string withoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A 16-bit WAV whose loudest sample has magnitude `peak` (at most 32767, or
// 32768 for -32768), with some quieter music-like samples around it.
inline Bytes wavWithPeak(std::int32_t peak, std::int32_t sampleRate = 44100,
                         std::int16_t channels = 2, int frames = 4000) {
  std::vector<std::int16_t> samples;
  for (int i = 0; i < frames * channels; ++i) {
    samples.push_back(static_cast<std::int16_t>(((i * 37) % 2001 - 1000) * (peak / 4) / 1000));
  }
  samples[samples.size() / 2] = static_cast<std::int16_t>(peak > 32767 ? -32768 : peak);
  WavShape layout;
  layout.channels = channels;
  layout.sampleRate = sampleRate;
  layout.data = pcm16(samples);
  return buildWav(layout);
}

// Reads through the real file system, but a read that reaches past `holdAt`
// bytes of any file waits until release(): a pass held in the middle of a
// file, for as long as a test needs to act while it runs.
class HeldReads : public ForwardingFileSystem {
 public:
  explicit HeldReads(std::uint64_t holdAt) : holdAt_(holdAt) {}
  ~HeldReads() override { release(); }

  std::unique_ptr<InputFile> openRead(const std::string& path) override {
    class Input : public InputFile {
     public:
      Input(std::unique_ptr<InputFile> real, HeldReads& owner)
          : real_(std::move(real)), owner_(owner) {}
      std::size_t read(void* buffer, std::size_t count) override {
        if (pos_ + count > owner_.holdAt_) owner_.hold();
        const std::size_t n = real_->read(buffer, count);
        pos_ += n;
        return n;
      }
      std::uint64_t skip(std::uint64_t count) override {
        const std::uint64_t n = real_->skip(count);
        pos_ += n;
        return n;
      }
      void close() override { real_->close(); }

     private:
      std::unique_ptr<InputFile> real_;
      HeldReads& owner_;
      std::uint64_t pos_ = 0;
    };
    return std::make_unique<Input>(inner_.openRead(path), *this);
  }

  // Lets events run until a read is held (at most 20 seconds).
  bool waitUntilHeld() {
    return QTest::qWaitFor(
        [this] {
          std::lock_guard lock(mutex_);
          return held_;
        },
        20000);
  }

  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    wake_.notify_all();
  }

 private:
  void hold() {
    std::unique_lock lock(mutex_);
    held_ = true;
    wake_.wait(lock, [this] { return released_; });
  }

  std::uint64_t holdAt_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool held_ = false;
  bool released_ = false;
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    savedCwd_ = currentDirectory();
    ctx.fs = &realFileSystem();
    ctx.clock = &clock;
    ctx.messages = &host;
    ctx.endProgram = [this] { ++ended; };
    startSession(ctx.session, programDir.path());
    main = std::make_unique<MainWindow>(ctx);
    main->initialise();
  }

  void TearDown() override {
    finishRuns();
    if (ctx.selectionDialog) delete ctx.selectionDialog.data();
    if (ctx.modificationDialog) delete ctx.modificationDialog.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    main.reset();
    if (!savedCwd_.empty()) (void)setCurrentDirectory(savedCwd_);
  }

  // Lets the windows deleted by an unload go.
  static void flushDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  // File, Open; the data directory; the file; OK.
  void openAndChoose(const std::string& name) {
    main->openAction->trigger();
    FileSelectionDialog* d = ctx.selectionDialog;
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->directoryList->setPath(dataDir.path()), "");
    int row = -1;
    for (std::int16_t i = 0; i < d->fileList->fileCount(); ++i) {
      if (d->fileList->fileName(i) == name) row = i;
    }
    ASSERT_GE(row, 0) << name;
    d->fileList->setSelected(static_cast<std::int16_t>(row), true);
    d->okButton->click();
    finishRuns();
  }

  // Lets events run until no batch run and no modification is in progress
  // (at most a minute), then lets the windows unloaded meanwhile go.
  void finishRuns() {
    QDeadlineTimer deadline(60000);
    QTimer tick;  // wakes the wait below now and then to look at the clock
    tick.start(50);
    while ((ctx.batchRunning || ctx.modifyRunning) && !deadline.hasExpired()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    EXPECT_FALSE(ctx.batchRunning || ctx.modifyRunning) << "a run did not end";
    flushDeletes();
  }

  // Runs `f` on the user-interface thread while the run started next is in
  // progress: before the run's end is taken in there.
  static void duringTheRun(std::function<void()> f) {
    QMetaObject::invokeMethod(qApp, std::move(f), Qt::QueuedConnection);
  }

  TempDir programDir;
  TempDir dataDir;
  ManualClock clock;
  ScriptedHost host;
  AppContext ctx;
  std::unique_ptr<MainWindow> main;
  int ended = 0;

 private:
  std::string savedCwd_;
};

}  // namespace ril::test
