// MainWindow: the program's main window, with the report view and the menu bar.
//
// Geometry is handled in twips (1/1440 inch) like every window of the program:
// pixels = twips * logicalDpi / 1440, so 15 twips make one pixel at 96 DPI.
// The width and height are the outer size (window frame and menu bar
// included); the client area is the drawing surface below the menu bar.
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "core/base/host.h"
#include "gui/app_context.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;

namespace ril {

class MainWindow : public QMainWindow, public ProgressSink {
  Q_OBJECT

 public:
  // "Rilmaton - statistical analysis and application of De-Emphasis of WAV-files"
  static const char* const kTitle;

  // Builds the window and its controls and registers it as ctx.mainWindow.
  // initialise() is not run here: the start-up (or a test) calls it.
  explicit MainWindow(AppContext& ctx);
  ~MainWindow() override;

  AppContext& context() { return ctx_; }

  // ---- commands and events --------------------------------------------------
  // Sets the outer size to 9600 x 7200, places the report view 120 in from
  // the left, top and right edges of the client area and 840 up from its
  // bottom, and marks the next selection as the session's first.
  void initialise();
  // Raises the outer size to at least 6000 x 4500 and refits the report view
  // to 120 inside each edge of the client area.
  void onResized();
  void openFile();    // File, Open: ril::showSelectionDialog(ctx)
  void copyReport();  // the whole report (not the selection) to the clipboard
  // Ends the program at once through ctx.endProgram. While a modification is
  // running (ctx.modifyRunning) it only sets ctx.exitRequested: the engine is
  // inside a yield on the stack, so it finishes or abandons its block and the
  // modification dialog then ends the program. Closing the window does the same.
  void exitProgram();
  void showHelp();   // appPath + "Rilmaton.txt" through ctx.editor
  void showAbout();  // the about box, or only to the front when it is open
  // A file dropped onto the window: one .wav file is read as if it had been
  // chosen in File, Open; false (nothing happens) for anything else, and
  // while a batch run or a modification runs.
  bool openDroppedFile(const std::string& path);

  // ---- the report view and the findings area --------------------------------
  void setReportText(const std::string& text);  // CR LF shown as line breaks
  std::string reportViewText() const;           // exactly what was set
  // The findings area holds lines about the file read last that are not part
  // of the report (the header reader's warnings), so they are neither in the
  // report text nor copied with it. It shows above the report view while it
  // holds lines; the report view gives up the room it takes.
  void addFinding(const std::string& line);
  void clearFindings();  // when the next file is read
  const std::vector<std::string>& findings() const { return findings_; }
  void repaintNow();

  // ---- ProgressSink: the title shows the analysis' progress ------------------
  void progress(double fraction, const std::string& text) override;  // "title - 44%"
  void progressDone(const std::string& text) override;               // the title again
  void yield() override;  // QCoreApplication::processEvents()

  // Hourglass while busy, arrow otherwise.
  void setBusyPointer(bool busy);
  // Enables File, Open unless a batch run or a modification is in progress.
  void updateCommands();

  // ---- geometry in twips (single-precision values, as the windows store them)
  double twipsPerPixelX() const;
  double twipsPerPixelY() const;
  double leftTwips() const;
  double topTwips() const;
  double widthTwips() const;   // outer
  double heightTwips() const;  // outer
  double clientWidthTwips() const;
  double clientHeightTwips() const;
  void setWidthTwips(double width);
  void setHeightTwips(double height);
  void setOuterSizeTwips(double width, double height);
  void moveTwips(double left, double top);

  // ---- controls -----------------------------------------------------------
  QPlainTextEdit* reportView = nullptr;
  QLabel* findingsArea = nullptr;  // hidden while it holds no lines
  QMenu* fileMenu = nullptr;       // Open, Copy result to clipboard, a separator, Exit
  QAction* openAction = nullptr;
  QAction* copyAction = nullptr;
  QAction* exitAction = nullptr;
  QMenu* helpMenu = nullptr;  // Content, a separator, About
  QAction* helpContentAction = nullptr;
  QAction* aboutAction = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  int menuBarPixels() const;
  QSize frameExtraPixels() const;
  void applyOuterSizePixels(int width, int height);
  void keepOuterSize();
  void placeReportView();
  bool canOpenFiles() const;

  AppContext& ctx_;
  // The report view's geometry in twips, single precision; the findings area,
  // while shown, takes its top.
  float reportLeft_ = 120, reportTop_ = 120, reportWidth_ = 9375, reportHeight_ = 6255;
  std::string report_;
  std::vector<std::string> findings_;
  // The outer size last set (pixels) and the frame it was set for: once the
  // window manager has framed the window, the inner size is corrected so that
  // the outer size stays as set.
  QSize requestedOuter_;
  QSize appliedFrame_;
};

// The start-up: sets lineBreak and appPath (`programDir`, ending in "/"),
// builds and initialises the main window and shows it in the middle of the
// screen. The program then runs on the window's events.
std::unique_ptr<MainWindow> startUp(AppContext& ctx, const std::string& programDir);

}  // namespace ril
