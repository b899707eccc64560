// The desktop program: the application, its services and the main window.
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QLocale>
#include <QWidget>
#include <cstdio>
#include <memory>

#include "core/base/clock.h"
#include "core/base/version.h"
#include "core/io/directories.h"
#include "core/io/files.h"
#include "core/io/program_directory.h"
#include "gui/app_context.h"
#include "gui/editor_launcher.h"
#include "gui/main_window.h"
#include "gui/message_boxes.h"
#include "gui/recent_files.h"
#include "gui/stop_signals.h"

namespace {

// The files named on the command line (`rilmaton FILE...`, as a file manager
// starts it), made absolute, in the file system's own spelling.
std::vector<std::string> filesFromArguments(int argc, char* argv[]) {
  std::vector<std::string> files;
  const std::string cwd = ril::currentDirectory();
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] != '\0') files.push_back(ril::normalPath(argv[i], cwd));
  }
  return files;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Qt takes its own options (-platform and the like) out of argv here.
  QApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("Rilmaton"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(ril::kVersionText));
  QGuiApplication::setDesktopFileName(QStringLiteral("rilmaton"));
  QIcon icon;
  for (const char* size : {"16", "32", "48", "64", "128", "256"}) {
    icon.addFile(QStringLiteral(":/rilmaton/icon-%1.png").arg(QLatin1String(size)));
  }
  QApplication::setWindowIcon(icon);
  // Ending the program is the Exit command's business alone.
  app.setQuitOnLastWindowClosed(false);

  ril::AppContext ctx;
  // Boxes belong to the active window; none is shown once the program ends.
  ril::MessageBoxes messages({}, [&ctx] { return ctx.messagesDismissed; });
  ril::QtEditorLauncher editor;
  ril::RecentFiles recentFiles(ril::RecentFiles::defaultFile());
  ctx.fs = &ril::realFileSystem();
  ctx.clock = &ril::steadyClock();
  ctx.messages = &messages;
  ctx.editor = &editor;
  ctx.recentFiles = &recentFiles;
  const QString decimalPoint = QLocale().decimalPoint();
  ctx.decimalSeparator = decimalPoint.size() == 1 && decimalPoint.front().unicode() < 128
                             ? static_cast<char>(decimalPoint.front().unicode())
                             : '.';

  // Exit: all windows go at once and no further handler runs. During a batch
  // run a thread is reading the input files, and the process ends right here
  // (they are only read); otherwise the event loop is left normally, which
  // lets the clipboard keep a copied report after the program has ended.
  bool ending = false;
  ctx.endProgram = [&ctx, &ending] {
    if (ending) return;
    ending = true;
    if (ctx.batchRunning || ctx.modifyRunning) {
      std::fflush(nullptr);
      _exit(ctx.exitStatus);
    }
    for (QWidget* window : QApplication::topLevelWidgets()) window->hide();
    QCoreApplication::exit(ctx.exitStatus);
  };

  // SIGTERM, SIGHUP and SIGINT end the program as File, Exit does (exit
  // status 128 + the signal's number); a reader that goes away is a failing
  // write, not the end of the process.
  ::signal(SIGPIPE, SIG_IGN);
  // A file-size limit is a failing write (disk full), not a silent end.
  ::signal(SIGXFSZ, SIG_IGN);
  const ril::StopSignalNotifier stopSignals(
      [&ctx](int signal) { ril::stopForSignal(ctx, signal); });

  const std::unique_ptr<ril::MainWindow> window =
      ril::startUp(ctx, ril::programDirectory(), filesFromArguments(argc, argv));
  return app.exec();
}
