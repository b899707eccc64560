// MainWindow: the program's main window, with the report view and the menu bar.
//
// Geometry is handled in twips (1/1440 inch) like every window of the program:
// pixels = twips * logicalDpi / 1440, so 15 twips make one pixel at 96 DPI.
// The width and height are the outer size (window frame and menu bar
// included); the client area is the drawing surface below the menu bar.
// The window opens at 9600 x 7200, which is also its smallest size; the user
// can make it larger or maximise it, and the report view grows with it.
#pragma once

#include <QMainWindow>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/analysis/analysis.h"
#include "core/base/host.h"
#include "gui/app_context.h"

class QAction;
class QFrame;
class QHBoxLayout;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace ril {

class LevelView;

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  // "Rilmaton - statistical analysis and application of De-Emphasis of WAV-files"
  static const char* const kTitle;

  // Builds the window and its controls and registers it as ctx.mainWindow.
  // initialise() is not run here: the start-up (or a test) calls it.
  explicit MainWindow(AppContext& ctx);
  ~MainWindow() override;

  AppContext& context() { return ctx_; }

  // The outer size the window opens at, and its smallest.
  static constexpr double kDefaultWidth = 9600;
  static constexpr double kDefaultHeight = 7200;

  // ---- commands and events --------------------------------------------------
  // Sets the outer size to 9600 x 7200, places the report view 120 in from
  // the left, top and right edges of the client area and 840 up from its
  // bottom, and marks the next selection as the session's first.
  void initialise();
  // Raises the outer size to at least 9600 x 7200 and refits the report view
  // to 120 inside each edge of the client area.
  void onResized();
  void openFile();  // File, Open: ril::showSelectionDialog(ctx)
  // File, Open Recent: the files read last (ctx.recentFiles), newest first;
  // choosing one reads it as if it had been chosen in File, Open.
  void openRecent(const std::string& path);
  void fillRecentMenu();
  void copyReport();  // the whole report (not the selection) to the clipboard
  // Ends the program at once through ctx.endProgram. While a modification is
  // running (ctx.modifyRunning) it only sets ctx.exitRequested and asks the
  // run to stop (ctx.stopRun): the run abandons its output, or finishes an
  // in-place rewrite that has begun, and the modification dialog then ends
  // the program. Closing the window does the same.
  void exitProgram();
  // Help, Content: appPath + "Rilmaton.txt" through ctx.editor, or in the
  // program's own viewer when no editor starts; a message names the file
  // looked for when it is not there or cannot be read.
  void showHelp();
  void showAbout();  // the about box, or only to the front when it is open
  // Files dropped onto the window, or named on the command line: read one
  // after the other as if they had been chosen in File, Open; false (nothing
  // happens) for none, and while a batch run or a modification runs.
  bool openFiles(const std::vector<std::string>& paths);

  // ---- the report view and the findings area --------------------------------
  void setReportText(const std::string& text);  // CR LF shown as line breaks
  std::string reportViewText() const;           // exactly what was set
  // The findings area holds lines about the file read last that are not part
  // of the report (the header reader's findings), so they are neither in the
  // report text nor copied with it. It shows above the report view while it
  // holds lines; the report view gives up the room it takes.
  void addFinding(const std::string& line);
  void clearFindings();  // when the next file is read; Repair… goes with them
  // A repair applies to the file read last: `finding` says what it mends,
  // and Repair… beside it starts the repair (ril::repairCurrentFile).
  void offerRepair(const std::string& finding);
  const std::vector<std::string>& findings() const { return findings_; }
  // A view shown under the report, `height` pixels tall, taking that room
  // from the report view; nullptr for none.
  void setViewBelowReport(QWidget* view, int height);

  // ---- the picture of the levels, under the report ---------------------------
  // The levels of the complete analysis of `path` at `sampleRate`; the
  // picture shows under the report until clearLevels() (the next file).
  void showLevels(const AnalysisResult& result, double sampleRate, const std::string& path);
  void clearLevels();
  // File, Save Picture...: asks where (askPicturePath, offering NAME.png
  // beside the file) and saves the picture there as PNG; a message says why
  // when it cannot.
  void savePicture();
  bool savePictureTo(const std::string& path);
  // The path to save the picture at, or "" to cancel (a file dialog; tests
  // replace it).
  std::function<std::string(const std::string& suggested)> askPicturePath;

  // ---- the title shows the analysis' progress ------------------------------
  void showProgress(const QString& text);  // "title - 44%"
  void showProgressDone();                 // the title again

  // Hourglass while busy, arrow otherwise.
  void setBusyPointer(bool busy);
  // Enables File, Open and Repair… unless a batch run or a modification or
  // repair is in progress.
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
  QFrame* findingsArea = nullptr;  // the yellow box; hidden while it holds no lines
  QLabel* findingsText = nullptr;  // its lines
  // Beside the lines, the place for buttons that act on the findings.
  QHBoxLayout* findingsLayout = nullptr;
  // Repair…, shown only while a repair applies to the file read last;
  // disabled while a batch run or a modification or repair runs.
  QPushButton* repairButton = nullptr;
  // Open, Open Recent, Copy result to clipboard, a separator, Exit
  QMenu* fileMenu = nullptr;
  QAction* openAction = nullptr;
  QMenu* recentMenu = nullptr;
  QAction* copyAction = nullptr;
  QAction* savePictureAction = nullptr;  // Ctrl+S; enabled while a picture shows
  LevelView* levelView = nullptr;        // shown while it holds a picture
  QAction* exitAction = nullptr;         // Ctrl+X, and Ctrl+Q
  QMenu* helpMenu = nullptr;             // Content, a separator, About
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
  int pictureHeight() const;
  QSize frameExtraPixels() const;
  void buildMenus();
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
  std::string picturePath_;  // the file whose picture shows
  QWidget* belowReport_ = nullptr;
  int belowReportHeight_ = 0;
  // The outer size last set (pixels) and the frame it was set for: once the
  // window manager has framed the window, the inner size is corrected so that
  // the outer size stays as set.
  QSize requestedOuter_;
  QSize appliedFrame_;
};

// The start-up: sets lineBreak and appPath (`programDir`, ending in "/"),
// builds and initialises the main window and shows it in the middle of the
// screen. The program then runs on the window's events; the first of them
// reads `files` (named on the command line) as if they had been chosen.
std::unique_ptr<MainWindow> startUp(AppContext& ctx, const std::string& programDir,
                                    std::vector<std::string> files = {});

}  // namespace ril
