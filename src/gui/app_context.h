// Everything the windows share: the session, the services behind them, and
// the windows themselves (each at most once).
#pragma once

#include <QPointer>
#include <functional>
#include <memory>
#include <stop_token>
#include <string>

#include "core/base/clock.h"
#include "core/base/host.h"
#include "core/io/files.h"
#include "gui/session.h"

namespace ril {

class MainWindow;
class FileSelectionDialog;
class ModificationDialog;
class AboutBox;
class RecentFiles;

// Starts the desktop's text editor on a file without waiting; false when no
// editor could be started.
class EditorLauncher {
 public:
  virtual ~EditorLauncher() = default;
  virtual bool open(const std::string& path) = 0;
};

struct AppContext {
  Session session;
  FileSystem* fs = nullptr;
  Clock* clock = nullptr;
  MessageSink* messages = nullptr;  // message boxes (Qt, or scripted in tests)
  EditorLauncher* editor = nullptr;
  RecentFiles* recentFiles = nullptr;  // File, Open Recent; none in most tests
  char decimalSeparator = '.';         // the user's locale's

  MainWindow* mainWindow = nullptr;
  QPointer<FileSelectionDialog> selectionDialog;
  QPointer<ModificationDialog> modificationDialog;
  QPointer<AboutBox> aboutBox;

  bool batchRunning = false;   // File, Open is disabled while true
  bool modifyRunning = false;  // set by the modification dialog during a run
  bool exitRequested = false;  // Exit asked for while a modification ran
  // Stops the modification in progress (File, Exit, a stop signal); each run
  // gets a fresh one.
  std::stop_source stopRun;
  // The program is ending on a signal: message boxes are answered at once
  // with their default (OK, or No) instead of waiting for the user.
  bool messagesDismissed = false;
  int exitStatus = 0;  // the process's, when it ends

  // Ends the program at once (tests replace it).
  std::function<void()> endProgram;
};

// Closes a window that exists at most once and discards it: its slot in the
// context is empty at once, the object goes when the event loop comes round.
// A second call does nothing.
template <typename Window>
void discardWindow(Window* window, QPointer<Window>& slot, bool& discarded) {
  if (discarded) return;
  discarded = true;
  if (slot == window) slot = nullptr;
  window->hide();
  window->deleteLater();
}

}  // namespace ril
