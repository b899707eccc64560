#include "gui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QResizeEvent>
#include <QScreen>
#include <algorithm>

#include "core/program_state.h"
#include "gui/about_box.h"
#include "gui/file_selection_dialog.h"
#include "gui/twips.h"

namespace ril {

const char* const frmMain::kTitle =
    "Rilmaton - statistical analysis and application of De-Emphasis of WAV-files";

namespace {

QString shownLines(const std::string& text) {
  QString shown = QString::fromStdString(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

bool isCopyKey(const QKeyEvent* key) {
  return key->matches(QKeySequence::Copy) ||
         (key->key() == Qt::Key_C && key->modifiers() == Qt::ControlModifier);
}

bool isExitKey(const QKeyEvent* key) {
  return key->key() == Qt::Key_X && key->modifiers() == Qt::ControlModifier;
}

}  // namespace

// The window's own drawing surface (the client area below the menu bar): it
// shows the persistent image that printLine draws into, so the lines survive
// every repaint. txtOut lies on top of it.
class frmMain::Surface : public QWidget {
 public:
  Surface(frmMain* owner) : QWidget(owner), owner_(owner) {
    setAutoFillBackground(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

 protected:
  void paintEvent(QPaintEvent* event) override {
    QPainter painter(this);
    painter.fillRect(event->rect(), Qt::white);
    painter.drawImage(event->rect().topLeft(), owner_->surface_, event->rect());
  }

 private:
  frmMain* owner_;
};

frmMain::frmMain(AppContext& ctx) : ctx_(ctx) {
  ctx_.main = this;
  setObjectName(QStringLiteral("frmMain"));
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

  surfaceWidget_ = new Surface(this);
  setCentralWidget(surfaceWidget_);

  txtOut = new QPlainTextEdit(surfaceWidget_);
  txtOut->setObjectName(QStringLiteral("txtOut"));
  txtOut->setReadOnly(true);
  txtOut->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  txtOut->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtOut->setUndoRedoEnabled(false);
  // Tab stops nine digits apart: wide enough for every label and figure of
  // the report's columns ("-100.00%"), so the columns line up.
  txtOut->setTabStopDistance(QFontMetricsF(font).horizontalAdvance(QString(9, QLatin1Char('0'))));
  txtOut->installEventFilter(this);
  txtOut->viewport()->installEventFilter(this);
  txtOut->setFocus();
  placeTxtOut();

  mnuFile = menuBar()->addMenu(QStringLiteral("&File"));
  mnuFile->setObjectName(QStringLiteral("mnuFile"));
  mnuFileOpen = mnuFile->addAction(QStringLiteral("&Open"));
  mnuFileOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  mnuClip = mnuFile->addAction(QStringLiteral("&Copy result to clipboard"));
  mnuClip->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  mnuDummy1 = mnuFile->addSeparator();
  mnuExit = mnuFile->addAction(QStringLiteral("E&xit"));
  mnuExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));

  mnuHelp = menuBar()->addMenu(QStringLiteral("&Help"));
  mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
  mnuHelpCont = mnuHelp->addAction(QStringLiteral("&Content"));
  mnuHelpCont->setShortcut(QKeySequence(Qt::Key_F1));
  mnuDummy4 = mnuHelp->addSeparator();
  mnuAbout = mnuHelp->addAction(QStringLiteral("&About"));

  for (QAction* action : {mnuFileOpen, mnuClip, mnuExit, mnuHelpCont, mnuAbout}) {
    action->setShortcutContext(Qt::WindowShortcut);
  }
  mnuFileOpen->setObjectName(QStringLiteral("mnuFileOpen"));
  mnuClip->setObjectName(QStringLiteral("mnuClip"));
  mnuExit->setObjectName(QStringLiteral("mnuExit"));
  mnuHelpCont->setObjectName(QStringLiteral("mnuHelpCont"));
  mnuAbout->setObjectName(QStringLiteral("mnuAbout"));

  connect(mnuFileOpen, &QAction::triggered, this, [this] { mnuFileOpen_Click(); });
  connect(mnuClip, &QAction::triggered, this, [this] { mnuClip_Click(); });
  connect(mnuExit, &QAction::triggered, this, [this] { mnuExit_Click(); });
  connect(mnuHelpCont, &QAction::triggered, this, [this] { mnuHelpCont_Click(); });
  connect(mnuAbout, &QAction::triggered, this, [this] { mnuAbout_Click(); });

  updateCommands();
}

frmMain::~frmMain() {
  if (ctx_.main == this) ctx_.main = nullptr;
}

// ---- event handlers ---------------------------------------------------------

void frmMain::Form_Load() {
  // Persistent drawing: whatever printLine draws is kept in surface_.
  ensureSurface();
  setOuterSizeTwips(9600, 7200);
  txtLeft_ = 120;
  txtWidth_ = static_cast<float>(clientWidthTwips() - 240);
  txtTop_ = 120;
  txtHeight_ = static_cast<float>(clientHeightTwips() - 960);
  placeTxtOut();
  ctx_.state.firstSelection = true;
}

void frmMain::Form_Resize() {
  if (widthTwips() < 6000) setWidthTwips(6000);
  if (heightTwips() < 4500) setHeightTwips(4500);
  txtWidth_ = static_cast<float>(clientWidthTwips() - 240);
  txtHeight_ = static_cast<float>(clientHeightTwips() - 240);
  placeTxtOut();
}

void frmMain::Form_Unload() {
  mnuExit_Click();
}

void frmMain::mnuFileOpen_Click() {
  // A second, nested batch run inside the analysis' yield is not allowed.
  if (ctx_.batchRunning || ctx_.modifyRunning) return;
  showSelectionDialog(ctx_);
}

void frmMain::mnuClip_Click() {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(QString::fromStdString(report_));
}

void frmMain::mnuExit_Click() {
  if (ctx_.modifyRunning) {
    // A file is being rewritten further down the stack: let the engine finish
    // or abandon it cleanly; the modification dialog ends the program then.
    ctx_.exitRequested = true;
    return;
  }
  if (ctx_.endProgram) ctx_.endProgram();
}

void frmMain::mnuHelpCont_Click() {
  const std::string path = ctx_.state.appPath + "Rilmaton.txt";
  const bool there =
      ctx_.fs ? ctx_.fs->exists(path) : QFileInfo::exists(QString::fromStdString(path));
  if (there && ctx_.editor && ctx_.editor->open(path)) return;
  if (ctx_.messages) {
    Message message;
    message.title = "Warning";
    message.text = "Notepad or Rilmaton.txt not found";
    message.icon = MsgIcon::kInformation;
    message.buttons = MsgButtons::kOk;
    ctx_.messages->show(message);
  }
}

void frmMain::mnuAbout_Click() {
  showAboutBox(ctx_);
}

// ---- MainView ---------------------------------------------------------------

void frmMain::setReportText(const std::string& text) {
  report_ = text;
  txtOut->setPlainText(shownLines(text));
}

std::string frmMain::reportViewText() const {
  return report_;
}

void frmMain::printLine(const std::string& line) {
  ensureSurface();
  const QFontMetrics metrics(font());
  const int x = twipsToPixelsX(currentX_, this);
  const int y = twipsToPixelsY(currentY_, this);
  {
    QPainter painter(&surface_);
    painter.setFont(font());
    painter.setPen(Qt::black);
    painter.drawText(QPoint(x, y + metrics.ascent()), QString::fromStdString(line));
  }
  // On to the start of the next line.
  currentX_ = 0;
  currentY_ += pixelsToTwipsY(metrics.height(), this);
  surfaceWidget_->update();
}

void frmMain::repaintNow() {
  repaint();
}

void frmMain::setCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void frmMain::yieldToEvents() {
  QCoreApplication::processEvents();
}

void frmMain::setBusyPointer(bool busy) {
  if (busy) {
    setCursor(Qt::WaitCursor);
    txtOut->viewport()->setCursor(Qt::WaitCursor);
  } else {
    setCursor(Qt::ArrowCursor);
    txtOut->viewport()->setCursor(Qt::IBeamCursor);
  }
}

void frmMain::updateCommands() {
  mnuFileOpen->setEnabled(!ctx_.batchRunning && !ctx_.modifyRunning);
}

// ---- geometry ---------------------------------------------------------------

double frmMain::twipsPerPixelX() const {
  return ril::twipsPerPixelX(this);
}
double frmMain::twipsPerPixelY() const {
  return ril::twipsPerPixelY(this);
}

double frmMain::leftTwips() const {
  return pixelsToTwipsX(frameGeometry().x(), this);
}
double frmMain::topTwips() const {
  return pixelsToTwipsY(frameGeometry().y(), this);
}

double frmMain::widthTwips() const {
  return pixelsToTwipsX(width() + frameExtraPixels().width(), this);
}

double frmMain::heightTwips() const {
  return pixelsToTwipsY(height() + frameExtraPixels().height(), this);
}

double frmMain::clientWidthTwips() const {
  return pixelsToTwipsX(width(), this);
}

double frmMain::clientHeightTwips() const {
  return pixelsToTwipsY(std::max(0, height() - menuBarPixels()), this);
}

void frmMain::setWidthTwips(double width) {
  applyOuterSizePixels(twipsToPixelsX(width, this), height() + frameExtraPixels().height());
}

void frmMain::setHeightTwips(double height) {
  applyOuterSizePixels(width() + frameExtraPixels().width(), twipsToPixelsY(height, this));
}

void frmMain::setOuterSizeTwips(double width, double height) {
  applyOuterSizePixels(twipsToPixelsX(width, this), twipsToPixelsY(height, this));
}

void frmMain::moveTwips(double left, double top) {
  move(twipsToPixelsX(left, this), twipsToPixelsY(top, this));
}

int frmMain::menuBarPixels() const {
  QMenuBar* bar = menuBar();
  if (!bar || bar->isNativeMenuBar()) return 0;
  const int forWidth = bar->heightForWidth(width());
  return forWidth > 0 ? forWidth : bar->sizeHint().height();
}

// What the window manager adds around the window (title bar and border);
// nothing until the window has been framed.
QSize frmMain::frameExtraPixels() const {
  const QRect frame = frameGeometry();
  const QRect inner = geometry();
  return {std::max(0, frame.width() - inner.width()), std::max(0, frame.height() - inner.height())};
}

// Sets the outer size. The user cannot resize the window (its minimum and
// maximum size are its size); the program can, and every change raises the
// resize event at once when the window is shown, or on first display.
void frmMain::applyOuterSizePixels(int width, int height) {
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

void frmMain::keepOuterSize() {
  if (requestedOuter_.isEmpty() || frameExtraPixels() == appliedFrame_) return;
  applyOuterSizePixels(requestedOuter_.width(), requestedOuter_.height());
}

void frmMain::placeTxtOut() {
  // A minimised or tiny window leaves no room: the text box shrinks to nothing.
  const int width = std::max(0, twipsToPixelsX(txtWidth_, this));
  const int height = std::max(0, twipsToPixelsY(txtHeight_, this));
  txtOut->setGeometry(twipsToPixelsX(txtLeft_, this), twipsToPixelsY(txtTop_, this), width, height);
}

// The persistent image covers the screen (at least the window's largest
// client area), so drawing is kept whatever size the window gets.
void frmMain::ensureSurface() {
  QSize wanted(twipsToPixelsX(9600, this), twipsToPixelsY(7200, this));
  if (const QScreen* shown = screen()) wanted = wanted.expandedTo(shown->size());
  wanted = wanted.expandedTo(size());
  if (!surface_.isNull() && surface_.width() >= wanted.width() &&
      surface_.height() >= wanted.height()) {
    return;
  }
  QImage grown(wanted, QImage::Format_RGB32);
  grown.fill(Qt::white);
  if (!surface_.isNull()) {
    QPainter painter(&grown);
    painter.drawImage(0, 0, surface_);
  }
  surface_ = std::move(grown);
}

// ---- Qt events --------------------------------------------------------------

void frmMain::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  ensureSurface();
  Form_Resize();
  keepOuterSize();
}

void frmMain::moveEvent(QMoveEvent* event) {
  QMainWindow::moveEvent(event);
  keepOuterSize();
}

void frmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  keepOuterSize();
}

void frmMain::closeEvent(QCloseEvent* event) {
  // The window stays until the Exit command ends the program.
  event->ignore();
  Form_Unload();
}

// The menu accelerators Ctrl+C and Ctrl+X win over the text box's own copy
// and cut keys: Ctrl+C copies the whole report, not the selection.
bool frmMain::eventFilter(QObject* watched, QEvent* event) {
  if (watched == txtOut || watched == txtOut->viewport()) {
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
        mnuClip_Click();
        return true;
      }
      if (isExitKey(key)) {
        mnuExit_Click();
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

std::unique_ptr<frmMain> Main(AppContext& ctx, const std::string& programDir) {
  initialiseProgramState(ctx.state, programDir);
  auto window = std::make_unique<frmMain>(ctx);
  window->Form_Load();
  if (const QScreen* screen = window->screen()) {
    const QRect available = screen->availableGeometry();
    window->move(available.center() - QPoint(window->width() / 2, window->height() / 2));
  }
  window->show();
  return window;
}

}  // namespace ril
