#include "gui/editor_launcher.h"

#include <QProcess>
#include <QStandardPaths>

namespace ril {

QtEditorLauncher::QtEditorLauncher()
    : QtEditorLauncher([](const QString& name) { return QStandardPaths::findExecutable(name); },
                       [](const char* name) { return qEnvironmentVariable(name); },
                       [](const QString& program, const QStringList& arguments) {
                         return QProcess::startDetached(program, arguments);
                       }) {}

QtEditorLauncher::QtEditorLauncher(FindFn find, EnvFn env, StartFn start)
    : find_(std::move(find)), env_(std::move(env)), start_(std::move(start)) {}

std::vector<EditorCommand> QtEditorLauncher::candidates(const QString& path) const {
  std::vector<EditorCommand> commands;
  if (const QString xdgOpen = find_(QStringLiteral("xdg-open")); !xdgOpen.isEmpty()) {
    commands.push_back({xdgOpen, {path}});
  }
  // Terminal editors named by the user ("vim", "emacs -nw"): the variable may
  // carry arguments of its own, which are split like a command line; the
  // file's path is appended as one more argument.
  if (const QString terminal = find_(QStringLiteral("x-terminal-emulator")); !terminal.isEmpty()) {
    for (const char* variable : {"VISUAL", "EDITOR"}) {
      const QStringList editor = QProcess::splitCommand(env_(variable));
      if (editor.isEmpty() || find_(editor.front()).isEmpty()) continue;
      QStringList arguments{QStringLiteral("-e")};
      arguments << editor << path;
      commands.push_back({terminal, arguments});
    }
  }
  for (const char* name :
       {"gedit", "kate", "mousepad", "xed", "pluma", "leafpad", "gnome-text-editor"}) {
    if (const QString program = find_(QString::fromLatin1(name)); !program.isEmpty()) {
      commands.push_back({program, {path}});
    }
  }
  return commands;
}

bool QtEditorLauncher::open(const std::string& path) {
  const QString file = QString::fromStdString(path);
  for (const EditorCommand& command : candidates(file)) {
    if (start_(command.program, command.arguments)) return true;
  }
  return false;
}

}  // namespace ril
