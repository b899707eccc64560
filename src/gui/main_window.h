// frmMain: the program's main window with the report view txtOut and the menu bar.
//
// Geometry is handled in twips (1/1440 inch) like every window of the program:
// pixels = twips * logicalDpi / 1440, so 15 twips make one pixel at 96 DPI.
// Width and Height are the outer size (window frame and menu bar included);
// the client area is the drawing surface below the menu bar.
#pragma once

#include <QImage>
#include <QMainWindow>
#include <memory>
#include <string>

#include "core/base/host.h"
#include "gui/app_context.h"

class QAction;
class QMenu;
class QPlainTextEdit;

namespace ril {

class frmMain : public QMainWindow, public MainView {
  Q_OBJECT

 public:
  // "Rilmaton - statistical analysis and application of De-Emphasis of WAV-files"
  static const char* const kTitle;

  // Builds the window and its controls and registers it as ctx.main.
  // Form_Load is not run here: the start-up (or a test) calls it.
  explicit frmMain(AppContext& ctx);
  ~frmMain() override;

  AppContext& context() { return ctx_; }

  // ---- event handlers ---------------------------------------------------
  void Form_Load();          // persistent drawing, outer size 9600 x 7200, txtOut, firstSelection
  void Form_Resize();        // minimum 6000 x 4500, txtOut 120 inside each edge
  void Form_Unload();        // runs mnuExit_Click
  void mnuFileOpen_Click();  // ril::showSelectionDialog(ctx)
  void mnuClip_Click();      // whole text of txtOut to the clipboard
  // Ends the program at once through ctx.endProgram. While a modification is
  // running (ctx.modifyRunning) it only sets ctx.exitRequested: the engine is
  // inside a yield on the stack, so it finishes or abandons its block and the
  // modification dialog then ends the program.
  void mnuExit_Click();
  void mnuHelpCont_Click();  // appPath + "Rilmaton.txt" through ctx.editor
  void mnuAbout_Click();     // frmAbout, or only to the front when it is open

  // ---- MainView -----------------------------------------------------------
  void setReportText(const std::string& text) override;  // CR LF shown as line breaks
  std::string reportViewText() const override;           // exactly what was set
  void printLine(const std::string& line) override;      // at the print position, kept
  void repaintNow() override;
  void setCaption(const std::string& caption) override;
  void yieldToEvents() override;  // QCoreApplication::processEvents()

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

  // Print position on the drawing surface, in twips (CurrentX / CurrentY).
  double currentX() const { return currentX_; }
  double currentY() const { return currentY_; }
  // The persistent drawing surface (what printLine drew; white elsewhere).
  const QImage& surface() const { return surface_; }

  // ---- controls -----------------------------------------------------------
  QPlainTextEdit* txtOut = nullptr;
  QMenu* mnuFile = nullptr;
  QAction* mnuFileOpen = nullptr;
  QAction* mnuClip = nullptr;
  QAction* mnuDummy1 = nullptr;
  QAction* mnuExit = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuHelpCont = nullptr;
  QAction* mnuDummy4 = nullptr;
  QAction* mnuAbout = nullptr;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  class Surface;
  friend class Surface;

  int menuBarPixels() const;
  QSize frameExtraPixels() const;
  void applyOuterSizePixels(int width, int height);
  void keepOuterSize();
  void placeTxtOut();
  void ensureSurface();

  AppContext& ctx_;
  Surface* surfaceWidget_ = nullptr;
  QImage surface_;
  double currentX_ = 0;
  double currentY_ = 0;
  // txtOut geometry in twips (single precision, as stored by the handlers).
  float txtLeft_ = 120, txtTop_ = 120, txtWidth_ = 9375, txtHeight_ = 6255;
  std::string report_;
  // The outer size last set (pixels) and the frame it was set for: once the
  // window manager has framed the window, the inner size is corrected so that
  // the outer size stays as set.
  QSize requestedOuter_;
  QSize appliedFrame_;
};

// Main, the start-up: sets lineBreak and appPath (`programDir`, ending in
// "/"), loads frmMain (its Form_Load runs) and shows it, in the middle of the
// screen. The program then runs on the window's events.
std::unique_ptr<frmMain> Main(AppContext& ctx, const std::string& programDir);

}  // namespace ril
