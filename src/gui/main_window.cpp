#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScreen>
#include <QUrl>
#include <algorithm>

#include "core/io/files.h"
#include "gui/about_box.h"
#include "gui/batch_run.h"
#include "gui/display_text.h"
#include "gui/file_selection_dialog.h"
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

// The path of the one local .wav file (the extension in any case) that a
// drag carries, in the file system's encoding; empty for anything else.
std::string draggedWavFile(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return {};
  const QList<QUrl> urls = mime->urls();
  if (urls.size() != 1 || !urls.front().isLocalFile()) return {};
  const QFileInfo file(urls.front().toLocalFile());
  if (!file.isFile() || file.suffix().compare(QStringLiteral("wav"), Qt::CaseInsensitive) != 0) {
    return {};
  }
  return QFile::encodeName(file.absoluteFilePath()).toStdString();
}

}  // namespace

MainWindow::MainWindow(AppContext& ctx) : ctx_(ctx) {
  ctx_.mainWindow = this;
  setObjectName(QStringLiteral("mainWindow"));
  setWindowTitle(QString::fromLatin1(kTitle));
  // Fixed single border: a close box, no maximise and no minimise button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);

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

  findingsArea = new QLabel(client);
  findingsArea->setObjectName(QStringLiteral("findingsArea"));
  findingsArea->setTextFormat(Qt::PlainText);
  findingsArea->setStyleSheet(
      QStringLiteral("QLabel { background: #fff3c4; color: black; border: 1px solid #c9a227;"
                     " padding: 2px 6px; }"));
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
  placeReportView();

  fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
  fileMenu->setObjectName(QStringLiteral("fileMenu"));
  openAction = fileMenu->addAction(QStringLiteral("&Open"));
  openAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  copyAction = fileMenu->addAction(QStringLiteral("&Copy result to clipboard"));
  copyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  fileMenu->addSeparator();
  exitAction = fileMenu->addAction(QStringLiteral("E&xit"));
  exitAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));

  helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
  helpMenu->setObjectName(QStringLiteral("helpMenu"));
  helpContentAction = helpMenu->addAction(QStringLiteral("&Content"));
  helpContentAction->setShortcut(QKeySequence(Qt::Key_F1));
  helpMenu->addSeparator();
  aboutAction = helpMenu->addAction(QStringLiteral("&About"));

  for (QAction* action : {openAction, copyAction, exitAction, helpContentAction, aboutAction}) {
    action->setShortcutContext(Qt::WindowShortcut);
  }
  openAction->setObjectName(QStringLiteral("openAction"));
  copyAction->setObjectName(QStringLiteral("copyAction"));
  exitAction->setObjectName(QStringLiteral("exitAction"));
  helpContentAction->setObjectName(QStringLiteral("helpContentAction"));
  aboutAction->setObjectName(QStringLiteral("aboutAction"));

  connect(openAction, &QAction::triggered, this, [this] { openFile(); });
  connect(copyAction, &QAction::triggered, this, [this] { copyReport(); });
  connect(exitAction, &QAction::triggered, this, [this] { exitProgram(); });
  connect(helpContentAction, &QAction::triggered, this, [this] { showHelp(); });
  connect(aboutAction, &QAction::triggered, this, [this] { showAbout(); });

  updateCommands();
}

MainWindow::~MainWindow() {
  if (ctx_.mainWindow == this) ctx_.mainWindow = nullptr;
}

// ---- commands and events ----------------------------------------------------

void MainWindow::initialise() {
  setOuterSizeTwips(9600, 7200);
  reportLeft_ = 120;
  reportWidth_ = static_cast<float>(clientWidthTwips() - 240);
  reportTop_ = 120;
  reportHeight_ = static_cast<float>(clientHeightTwips() - 960);
  placeReportView();
  ctx_.session.firstSelection = true;
}

void MainWindow::onResized() {
  if (widthTwips() < 6000) setWidthTwips(6000);
  if (heightTwips() < 4500) setHeightTwips(4500);
  reportWidth_ = static_cast<float>(clientWidthTwips() - 240);
  reportHeight_ = static_cast<float>(clientHeightTwips() - 240);
  placeReportView();
}

void MainWindow::openFile() {
  if (!canOpenFiles()) return;
  showSelectionDialog(ctx_);
}

bool MainWindow::openDroppedFile(const std::string& path) {
  if (!canOpenFiles() || path.empty()) return false;
  runBatchOn(ctx_, {path}, {baseNameOf(path)});
  return true;
}

// A second, nested batch run inside the analysis' yield is not allowed, nor
// one while a modification rewrites the current file.
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
    // A file is being rewritten further down the stack: let the engine finish
    // or abandon it cleanly; the modification dialog ends the program then.
    ctx_.exitRequested = true;
    ctx_.runStop.request_stop();
    return;
  }
  if (ctx_.endProgram) ctx_.endProgram();
}

void MainWindow::showHelp() {
  const std::string path = ctx_.session.appPath + "Rilmaton.txt";
  const bool there =
      ctx_.fs ? ctx_.fs->exists(path) : QFileInfo::exists(QString::fromStdString(path));
  if (there && ctx_.editor && ctx_.editor->open(path)) return;
  if (ctx_.messages) {
    Message message;
    message.kind = MessageKind::kInformation;
    message.title = "Warning";
    message.text = "Notepad or Rilmaton.txt not found";
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
  findingsArea->setText(lines.join(QLatin1Char('\n')));
  placeReportView();
}

void MainWindow::clearFindings() {
  findings_.clear();
  findingsArea->clear();
  placeReportView();
}

void MainWindow::repaintNow() {
  repaint();
}

// ---- ProgressSink -------------------------------------------------------------

void MainWindow::progress(double, const std::string& text) {
  setWindowTitle(QString::fromLatin1(kTitle) + QStringLiteral(" - ") +
                 QString::fromStdString(text));
}

void MainWindow::progressDone(const std::string&) {
  setWindowTitle(QString::fromLatin1(kTitle));
}

void MainWindow::yield() {
  QCoreApplication::processEvents();
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

// Sets the outer size. The user cannot resize the window (its minimum and
// maximum size are its size); the program can, and every change raises the
// resize event at once when the window is shown, or on first display.
void MainWindow::applyOuterSizePixels(int width, int height) {
  const QSize extra = frameExtraPixels();
  requestedOuter_ = QSize(width, height);
  appliedFrame_ = extra;
  const QSize inner(std::max(1, width - extra.width()), std::max(1, height - extra.height()));
  setMinimumSize(0, 0);
  setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
  resize(inner);
  // The resize event above may have changed the size once more.
  setMinimumSize(size());
  setMaximumSize(size());
}

void MainWindow::keepOuterSize() {
  if (requestedOuter_.isEmpty() || frameExtraPixels() == appliedFrame_) return;
  applyOuterSizePixels(requestedOuter_.width(), requestedOuter_.height());
}

// The report view at its place; while the findings area holds lines, it
// takes the top of that place (at most half of it) and a gap of 60.
void MainWindow::placeReportView() {
  // A minimised or tiny window leaves no room: the text box shrinks to nothing.
  const int left = twipsToPixelsX(reportLeft_, this);
  int top = twipsToPixelsY(reportTop_, this);
  const int width = std::max(0, twipsToPixelsX(reportWidth_, this));
  int height = std::max(0, twipsToPixelsY(reportHeight_, this));
  if (!findings_.empty()) {
    const int area = std::min(findingsArea->sizeHint().height(), height / 2);
    const int gap = twipsToPixelsY(60, this);
    findingsArea->setGeometry(left, top, width, area);
    top += area + gap;
    height = std::max(0, height - area - gap);
  }
  findingsArea->setVisible(!findings_.empty());
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
  if (canOpenFiles() && !draggedWavFile(event->mimeData()).empty()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

// The drop is taken at once and the file read afterwards, so the program the
// file came from is not kept waiting for the analysis.
void MainWindow::dropEvent(QDropEvent* event) {
  const std::string path = draggedWavFile(event->mimeData());
  if (!canOpenFiles() || path.empty()) {
    event->ignore();
    return;
  }
  event->acceptProposedAction();
  QMetaObject::invokeMethod(
      this, [this, path] { openDroppedFile(path); }, Qt::QueuedConnection);
}

std::unique_ptr<MainWindow> startUp(AppContext& ctx, const std::string& programDir) {
  startSession(ctx.session, programDir);
  auto window = std::make_unique<MainWindow>(ctx);
  window->initialise();
  if (const QScreen* screen = window->screen()) {
    const QRect available = screen->availableGeometry();
    window->move(available.center() - QPoint(window->width() / 2, window->height() / 2));
  }
  window->show();
  return window;
}

}  // namespace ril
