// Starts the desktop's text editor on a file without waiting for it.
//
// Tried in this order; the first program that starts wins:
//   - xdg-open FILE                              (the desktop's own choice)
//   - x-terminal-emulator -e $VISUAL FILE        (when both are there)
//   - x-terminal-emulator -e $EDITOR FILE
//   - gedit, kate, mousepad, xed, pluma, leafpad, gnome-text-editor FILE
// The file's path is always handed over as one argument, never through a
// shell, so paths with blanks or shell characters open as they are.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "gui/app_context.h"

namespace ril {

struct EditorCommand {
  QString program;  // full path of the executable
  QStringList arguments;
  bool operator==(const EditorCommand&) const = default;
};

class QtEditorLauncher : public EditorLauncher {
 public:
  // Finds an executable by name (empty when absent).
  using FindFn = std::function<QString(const QString& name)>;
  // Reads an environment variable (empty when unset).
  using EnvFn = std::function<QString(const char* name)>;
  // Starts a program detached; false when it could not be started.
  using StartFn = std::function<bool(const QString& program, const QStringList& arguments)>;

  // Defaults: QStandardPaths::findExecutable, qEnvironmentVariable,
  // QProcess::startDetached.
  QtEditorLauncher();
  QtEditorLauncher(FindFn find, EnvFn env, StartFn start);

  bool open(const std::string& path) override;

  // The commands open() tries, in order, for `path`.
  std::vector<EditorCommand> candidates(const QString& path) const;

 private:
  FindFn find_;
  EnvFn env_;
  StartFn start_;
};

}  // namespace ril
