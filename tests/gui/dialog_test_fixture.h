// A main window, the session and scripted message boxes for the window
// tests of the selection dialog, the batch run and the modification dialog.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/io/directories.h"
#include "core/io/files.h"
#include "gui/app_context.h"
#include "gui/file_selection_dialog.h"
#include "gui/main_window.h"
#include "gui/modification_dialog.h"
#include "gui/session.h"
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
    flushDeletes();
  }

  // Runs `f` inside the next yield to pending events (the engine's or the
  // analysis' once-per-block yield).
  static void duringNextYield(std::function<void()> f) {
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
