#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QUrl>
#include <algorithm>

#include "core/io/files.h"
#include "gui/about_box.h"
#include "gui/batch_run.h"
#include "gui/display_text.h"
#include "gui/file_selection_dialog.h"
#include "gui/help_viewer.h"
#include "gui/level_view.h"
#include "gui/recent_files.h"
#include "gui/repair_flow.h"
#include "gui/twips.h"

namespace ril {

const char* const MainWindow::kTitle =
    "Rilmaton - statistical analysis and application of De-Emphasis of WAV-files";

namespace {

bool isCopyKey(const QKeyEvent* key) {
  return key->matches(QKeySequence::Copy) ||
         (key->key() == Qt::Key_C && key->modifiers() == Qt::ControlModifier);
}

bool isExitKey(const QKeyEvent* key) {
  return key->key() == Qt::Key_X && key->modifiers() == Qt::ControlModifier;
}

// The paths of the local .wav files (the extension in any case) that a drag
// carries, in the file system's encoding; anything else it carries is left out.
std::vector<std::string> draggedWavFiles(const QMimeData* mime) {
  std::vector<std::string> paths;
  if (!mime || !mime->hasUrls()) return paths;
  for (const QUrl& url : mime->urls()) {
    if (!url.isLocalFile()) continue;
    const QFileInfo file(url.toLocalFile());
    if (file.isFile() && file.suffix().compare(QStringLiteral("wav"), Qt::CaseInsensitive) == 0) {
      paths.push_back(QFile::encodeName(file.absoluteFilePath()).toStdString());
    }
  }
  return paths;
}

}  // namespace

MainWindow::MainWindow(AppContext& ctx) : ctx_(ctx) {
  ctx_.mainWindow = this;
  setObjectName(QStringLiteral("mainWindow"));
  setWindowTitle(QString::fromLatin1(kTitle));
  // A window the user can resize, maximise and minimise.
  setWindowFlags(Qt::Window);

  QFont font(QStringLiteral("Arial"));
  font.setPointSizeF(9.75);
  font.setWeight(QFont::Normal);
  setFont(font);

  QPalette colours = palette();
  colours.setColor(QPalette::Window, Qt::white);
  colours.setColor(QPalette::Base, Qt::white);
  colours.setColor(QPalette::WindowText, Qt::black);
  colours.setColor(QPalette::Text, Qt::black);
  setPalette(colours);

  // The client area below the menu bar.
  auto* client = new QWidget(this);
  client->setAutoFillBackground(true);
  setCentralWidget(client);
  setAcceptDrops(true);

  findingsArea = new QFrame(client);
  findingsArea->setObjectName(QStringLiteral("findingsArea"));
  findingsArea->setStyleSheet(
      QStringLiteral("QFrame#findingsArea { background: #fff3c4; border: 1px solid #c9a227; }"
                     " QLabel { color: black; background: transparent; }"));
  findingsText = new QLabel(findingsArea);
  findingsText->setObjectName(QStringLiteral("findingsText"));
  findingsText->setTextFormat(Qt::PlainText);
  findingsText->setWordWrap(true);
  findingsText->setTextInteractionFlags(Qt::TextSelectableByMouse);
  findingsLayout = new QHBoxLayout(findingsArea);
  findingsLayout->setContentsMargins(6, 3, 6, 3);
  findingsLayout->addWidget(findingsText, 1);
  repairButton = new QPushButton(QStringLiteral("Repair\u2026"), findingsArea);
  repairButton->setObjectName(QStringLiteral("repairButton"));
  repairButton->setAutoDefault(false);
  repairButton->hide();
  findingsLayout->addWidget(repairButton, 0, Qt::AlignVCenter);
  connect(repairButton, &QPushButton::clicked, this, [this] { repairCurrentFile(ctx_); });
  findingsArea->hide();

  reportView = new QPlainTextEdit(client);
  reportView->setObjectName(QStringLiteral("reportView"));
  reportView->setReadOnly(true);
  reportView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  reportView->setLineWrapMode(QPlainTextEdit::NoWrap);
  reportView->setUndoRedoEnabled(false);
  // Tab stops nine digits apart: wide enough for every label and figure of
  // the report's columns ("-100.00%"), so the columns line up.
  reportView->setTabStopDistance(
      QFontMetricsF(font).horizontalAdvance(QString(9, QLatin1Char('0'))));
  reportView->installEventFilter(this);
  reportView->viewport()->installEventFilter(this);
  // Files dropped on the report go to the window.
  reportView->setAcceptDrops(false);
  reportView->viewport()->setAcceptDrops(false);
  reportView->setFocus();
  levelView = new LevelView(client);
  levelView->hide();
  askPicturePath = [this](const std::string& suggested) {
    return QFile::encodeName(
               QFileDialog::getSaveFileName(this, QStringLiteral("Save Picture"),
                                            QFile::decodeName(QByteArray::fromStdString(suggested)),
                                            QStringLiteral("PNG images (*.png)")))
        .toStdString();
  };
  placeReportView();

  buildMenus();
  updateCommands();
}

void MainWindow::buildMenus() {
  fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
  fileMenu->setObjectName(QStringLiteral("fileMenu"));
  openAction = fileMenu->addAction(QStringLiteral("&Open"));
  openAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  recentMenu = fileMenu->addMenu(QStringLiteral("Open &Recent"));
  recentMenu->setObjectName(QStringLiteral("recentMenu"));
  copyAction = fileMenu->addAction(QStringLiteral("&Copy result to clipboard"));
  copyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  savePictureAction = fileMenu->addAction(QStringLiteral("&Save Picture\u2026"));
  savePictureAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  fileMenu->addSeparator();
  exitAction = fileMenu->addAction(QStringLiteral("E&xit"));
  exitAction->setShortcuts(
      {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::CTRL | Qt::Key_Q)});

  helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
  helpMenu->setObjectName(QStringLiteral("helpMenu"));
  helpContentAction = helpMenu->addAction(QStringLiteral("&Content"));
  helpContentAction->setShortcut(QKeySequence(Qt::Key_F1));
  helpMenu->addSeparator();
  aboutAction = helpMenu->addAction(QStringLiteral("&About"));

  for (QAction* action :
       {openAction, copyAction, savePictureAction, exitAction, helpContentAction, aboutAction}) {
    action->setShortcutContext(Qt::WindowShortcut);
  }
  openAction->setObjectName(QStringLiteral("openAction"));
  copyAction->setObjectName(QStringLiteral("copyAction"));
  savePictureAction->setObjectName(QStringLiteral("savePictureAction"));
  exitAction->setObjectName(QStringLiteral("exitAction"));
  helpContentAction->setObjectName(QStringLiteral("helpContentAction"));
  aboutAction->setObjectName(QStringLiteral("aboutAction"));

  connect(openAction, &QAction::triggered, this, [this] { openFile(); });
  connect(copyAction, &QAction::triggered, this, [this] { copyReport(); });
  connect(savePictureAction, &QAction::triggered, this, [this] { savePicture(); });
  connect(exitAction, &QAction::triggered, this, [this] { exitProgram(); });
  connect(helpContentAction, &QAction::triggered, this, [this] { showHelp(); });
  connect(aboutAction, &QAction::triggered, this, [this] { showAbout(); });
  connect(fileMenu, &QMenu::aboutToShow, this, [this] { fillRecentMenu(); });
  fillRecentMenu();
}

MainWindow::~MainWindow() {
  if (ctx_.mainWindow == this) ctx_.mainWindow = nullptr;
}

// ---- commands and events ----------------------------------------------------

void MainWindow::initialise() {
  setOuterSizeTwips(kDefaultWidth, kDefaultHeight);
  reportLeft_ = 120;
  reportWidth_ = static_cast<float>(clientWidthTwips() - 240);
  reportTop_ = 120;
  reportHeight_ = static_cast<float>(clientHeightTwips() - 960);
  placeReportView();
  ctx_.session.firstSelection = true;
}

void MainWindow::onResized() {
  // A minimised window keeps the size it had.
  if (isMinimized()) return;
  if (widthTwips() < kDefaultWidth) setWidthTwips(kDefaultWidth);
  if (heightTwips() < kDefaultHeight) setHeightTwips(kDefaultHeight);
  reportWidth_ = static_cast<float>(clientWidthTwips() - 240);
  reportHeight_ = static_cast<float>(clientHeightTwips() - 240);
  if (belowReport_ && belowReport_ == levelView) belowReportHeight_ = pictureHeight();
  placeReportView();
}

// The picture takes two fifths of the client area, growing with the window.
int MainWindow::pictureHeight() const {
  return std::max(0, height() - menuBarPixels()) * 2 / 5;
}

void MainWindow::openFile() {
  if (!canOpenFiles()) return;
  showSelectionDialog(ctx_);
}

bool MainWindow::openFiles(const std::vector<std::string>& paths) {
  if (!canOpenFiles() || paths.empty()) return false;
  std::vector<std::string> names;
  for (const std::string& path : paths) names.push_back(baseNameOf(path));
  runBatchOn(ctx_, paths, std::move(names));
  return true;
}

void MainWindow::openRecent(const std::string& path) {
  openFiles({path});
}

void MainWindow::fillRecentMenu() {
  recentMenu->clear();
  const std::vector<std::string> paths =
      ctx_.recentFiles ? ctx_.recentFiles->list() : std::vector<std::string>{};
  int number = 0;
  for (const std::string& path : paths) {
    const QString shown = QFile::decodeName(QByteArray::fromStdString(path));
    QAction* action = recentMenu->addAction(
        QStringLiteral("&%1 %2").arg(++number).arg(QString(shown).replace('&', "&&")));
    connect(action, &QAction::triggered, this, [this, path] { openRecent(path); });
  }
  recentMenu->setEnabled(!paths.empty() && canOpenFiles());
}

// No second batch run while one is reading files, nor one while a
// modification rewrites the current file.
bool MainWindow::canOpenFiles() const {
  return !ctx_.batchRunning && !ctx_.modifyRunning;
}

void MainWindow::copyReport() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(QString::fromStdString(report_));
}

void MainWindow::exitProgram() {
  if (ctx_.modifyRunning) {
    // A file is being rewritten: let the run finish or abandon it cleanly;
    // the modification dialog ends the program then.
    ctx_.exitRequested = true;
    ctx_.stopRun.request_stop();
    return;
  }
  if (ctx_.endProgram) ctx_.endProgram();
}

void MainWindow::showHelp() {
  const std::string path = ctx_.session.appPath + "Rilmaton.txt";
  const bool there =
      ctx_.fs ? ctx_.fs->exists(path) : QFileInfo::exists(QString::fromStdString(path));
  if (there && ctx_.editor && ctx_.editor->open(path)) return;
  std::string why = "not found";
  if (there) {
    auto* viewer = new HelpViewer(this);
    if (viewer->load(path, why)) {
      viewer->show();
      viewer->raise();
      viewer->activateWindow();
      return;
    }
    delete viewer;
  }
  if (ctx_.messages) {
    Message message;
    message.kind = MessageKind::kInformation;
    message.title = "Warning";
    message.text = "The help text " + path + " cannot be shown: " + why + ".";
    ctx_.messages->show(message);
  }
}

void MainWindow::showAbout() {
  showAboutBox(ctx_);
}

// ---- the report view and the findings area ---------------------------------

void MainWindow::setReportText(const std::string& text) {
  report_ = text;
  reportView->setPlainText(displayText(text));
}

std::string MainWindow::reportViewText() const {
  return report_;
}

void MainWindow::addFinding(const std::string& line) {
  findings_.push_back(line);
  QStringList lines;
  for (const std::string& each : findings_) lines << QString::fromStdString(each);
  findingsText->setText(lines.join(QLatin1Char('\n')));
  placeReportView();
}

void MainWindow::clearFindings() {
  findings_.clear();
  findingsText->clear();
  repairButton->hide();
  placeReportView();
}

void MainWindow::offerRepair(const std::string& finding) {
  repairButton->show();
  updateCommands();
  addFinding(finding);
}

void MainWindow::setViewBelowReport(QWidget* view, int height) {
  if (belowReport_ && belowReport_ != view) belowReport_->hide();
  belowReport_ = view;
  belowReportHeight_ = view ? std::max(0, height) : 0;
  if (view) {
    view->setParent(centralWidget());
    view->show();
  }
  placeReportView();
}

// ---- the picture of the levels --------------------------------------------------

void MainWindow::showLevels(const AnalysisResult& result, double sampleRate,
                            const std::string& path) {
  picturePath_ = path;
  levelView->setAnalysis(result, sampleRate);
  setViewBelowReport(levelView, pictureHeight());
  updateCommands();
}

void MainWindow::clearLevels() {
  if (belowReport_ == levelView) setViewBelowReport(nullptr, 0);
  levelView->setAnalysis(AnalysisResult{}, 0);
  picturePath_.clear();
  updateCommands();
}

void MainWindow::savePicture() {
  if (!levelView->hasPicture() || !askPicturePath) return;
  std::string suggested = picturePath_;
  const std::size_t dot = suggested.rfind('.');
  if (dot != std::string::npos && dot > suggested.rfind('/')) suggested.resize(dot);
  const std::string path = askPicturePath(suggested + ".png");
  if (!path.empty()) savePictureTo(path);
}

bool MainWindow::savePictureTo(const std::string& path) {
  QString why;
  if (levelView->savePng(QFile::decodeName(QByteArray::fromStdString(path)), why)) return true;
  if (ctx_.messages) {
    Message message;
    message.kind = MessageKind::kInformation;
    message.title = "Warning";
    message.text = "The picture cannot be saved as " + path + ": " + why.toStdString() + ".";
    ctx_.messages->show(message);
  }
  return false;
}

// ---- progress -------------------------------------------------------------------

void MainWindow::showProgress(const QString& text) {
  setWindowTitle(QString::fromLatin1(kTitle) + QStringLiteral(" - ") + text);
}

void MainWindow::showProgressDone() {
  setWindowTitle(QString::fromLatin1(kTitle));
}

void MainWindow::setBusyPointer(bool busy) {
  if (busy) {
    setCursor(Qt::WaitCursor);
    reportView->viewport()->setCursor(Qt::WaitCursor);
  } else {
    setCursor(Qt::ArrowCursor);
    reportView->viewport()->setCursor(Qt::IBeamCursor);
  }
}

void MainWindow::updateCommands() {
  openAction->setEnabled(canOpenFiles());
  repairButton->setEnabled(canOpenFiles());
  savePictureAction->setEnabled(levelView->hasPicture());
  recentMenu->setEnabled(canOpenFiles() && ctx_.recentFiles && !ctx_.recentFiles->list().empty());
}

// ---- geometry ---------------------------------------------------------------

double MainWindow::twipsPerPixelX() const {
  return ril::twipsPerPixelX(this);
}
double MainWindow::twipsPerPixelY() const {
  return ril::twipsPerPixelY(this);
}

double MainWindow::leftTwips() const {
  return pixelsToTwipsX(frameGeometry().x(), this);
}
double MainWindow::topTwips() const {
  return pixelsToTwipsY(frameGeometry().y(), this);
}

double MainWindow::widthTwips() const {
  return pixelsToTwipsX(width() + frameExtraPixels().width(), this);
}

double MainWindow::heightTwips() const {
  return pixelsToTwipsY(height() + frameExtraPixels().height(), this);
}

double MainWindow::clientWidthTwips() const {
  return pixelsToTwipsX(width(), this);
}

double MainWindow::clientHeightTwips() const {
  return pixelsToTwipsY(std::max(0, height() - menuBarPixels()), this);
}

void MainWindow::setWidthTwips(double width) {
  applyOuterSizePixels(twipsToPixelsX(width, this), height() + frameExtraPixels().height());
}

void MainWindow::setHeightTwips(double height) {
  applyOuterSizePixels(width() + frameExtraPixels().width(), twipsToPixelsY(height, this));
}

void MainWindow::setOuterSizeTwips(double width, double height) {
  applyOuterSizePixels(twipsToPixelsX(width, this), twipsToPixelsY(height, this));
}

void MainWindow::moveTwips(double left, double top) {
  move(twipsToPixelsX(left, this), twipsToPixelsY(top, this));
}

int MainWindow::menuBarPixels() const {
  QMenuBar* bar = menuBar();
  if (!bar || bar->isNativeMenuBar()) return 0;
  const int forWidth = bar->heightForWidth(width());
  return forWidth > 0 ? forWidth : bar->sizeHint().height();
}

// What the window manager adds around the window (title bar and border);
// nothing until the window has been framed.
QSize MainWindow::frameExtraPixels() const {
  const QRect frame = frameGeometry();
  const QRect inner = geometry();
  return {std::max(0, frame.width() - inner.width()), std::max(0, frame.height() - inner.height())};
}

// Sets the outer size, never below the smallest; every change raises the
// resize event at once when the window is shown, or on first display.
void MainWindow::applyOuterSizePixels(int width, int height) {
  const QSize extra = frameExtraPixels();
  requestedOuter_ = QSize(width, height);
  appliedFrame_ = extra;
  setMinimumSize(std::max(1, twipsToPixelsX(kDefaultWidth, this) - extra.width()),
                 std::max(1, twipsToPixelsY(kDefaultHeight, this) - extra.height()));
  resize(std::max(1, width - extra.width()), std::max(1, height - extra.height()));
}

// Once the window manager has framed the window, the size last set is set
// again for the frame it now has (not for a maximised window).
void MainWindow::keepOuterSize() {
  if (requestedOuter_.isEmpty() || frameExtraPixels() == appliedFrame_) return;
  if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) return;
  applyOuterSizePixels(requestedOuter_.width(), requestedOuter_.height());
}

// The report view at its place; while the findings area holds lines, it
// takes the top of that place (at most half of it) and a gap of 60, and a
// view below the report takes the bottom (at most half of what is left).
void MainWindow::placeReportView() {
  // A minimised or tiny window leaves no room: the text box shrinks to nothing.
  const int left = twipsToPixelsX(reportLeft_, this);
  int top = twipsToPixelsY(reportTop_, this);
  const int width = std::max(0, twipsToPixelsX(reportWidth_, this));
  int height = std::max(0, twipsToPixelsY(reportHeight_, this));
  const int gap = twipsToPixelsY(60, this);
  if (!findings_.empty()) {
    const int wanted = findingsArea->hasHeightForWidth() ? findingsArea->heightForWidth(width)
                                                         : findingsArea->sizeHint().height();
    const int area = std::min(wanted, height / 2);
    findingsArea->setGeometry(left, top, width, area);
    top += area + gap;
    height = std::max(0, height - area - gap);
  }
  findingsArea->setVisible(!findings_.empty());
  if (belowReport_) {
    const int below = std::min(belowReportHeight_, height / 2);
    belowReport_->setGeometry(left, top + height - below, width, below);
    height = std::max(0, height - below - gap);
  }
  reportView->setGeometry(left, top, width, height);
}

// ---- Qt events --------------------------------------------------------------

void MainWindow::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  onResized();
  keepOuterSize();
}

void MainWindow::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  keepOuterSize();
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  keepOuterSize();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The window stays until the Exit command ends the program.
  event->ignore();
  exitProgram();
}

// The menu accelerators Ctrl+C and Ctrl+X win over the text box's own copy
// and cut keys: Ctrl+C copies the whole report, not the selection.
bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == reportView || watched == reportView->viewport()) {
    if (event->type() == QEvent::ShortcutOverride) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (isCopyKey(key) || isExitKey(key)) {
        // Not taken by the text box: the menu's shortcut runs.
        event->ignore();
        return true;
      }
    } else if (event->type() == QEvent::KeyPress) {
      const auto* key = static_cast<QKeyEvent*>(event);
      if (isCopyKey(key)) {
        copyReport();
        return true;
      }
      if (isExitKey(key)) {
        exitProgram();
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (canOpenFiles() && !draggedWavFiles(event->mimeData()).empty()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

// The drop is taken at once and the files read afterwards, so the program the
// files came from is not kept waiting.
void MainWindow::dropEvent(QDropEvent* event) {
  std::vector<std::string> paths = draggedWavFiles(event->mimeData());
  if (!canOpenFiles() || paths.empty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  QMetaObject::invokeMethod(
      this, [this, paths = std::move(paths)] { openFiles(paths); }, Qt::QueuedConnection);
}

std::unique_ptr<MainWindow> startUp(AppContext& ctx, const std::string& programDir,
                                    std::vector<std::string> files) {
  startSession(ctx.session, programDir);
  auto window = std::make_unique<MainWindow>(ctx);
  window->initialise();
  if (const QScreen* screen = window->screen()) {
    const QRect available = screen->availableGeometry();
    window->move(available.center() - QPoint(window->width() / 2, window->height() / 2));
  }
  window->show();
  if (!files.empty()) {
    MainWindow* shown = window.get();
    QMetaObject::invokeMethod(
        shown, [shown, files = std::move(files)] { shown->openFiles(files); },
        Qt::QueuedConnection);
  }
  return window;
}

}  // namespace ril
