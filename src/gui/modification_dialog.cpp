#include "gui/modification_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "core/base/number_format.h"
#include "core/base/text.h"
#include "core/base/thread_pool.h"
#include "core/modify/modify_messages.h"
#include "core/modify/volume_policy.h"
#include "gui/file_selection_dialog.h"
#include "gui/main_window.h"
#include "gui/twips.h"

namespace ril {

namespace {

// Marks a modification run: the dialog is greyed out and cannot be closed,
// File, Open is disabled; every way out of the run lifts it again.
class RunScope {
 public:
  RunScope(AppContext& ctx, QWidget& dialog, bool& running)
      : ctx_(ctx), dialog_(dialog), running_(running) {
    running_ = true;
    ctx_.modifyRunning = true;
    dialog_.setEnabled(false);
    // A selection dialog left open must not start a batch run under this one.
    if (ctx_.selectionDialog) ctx_.selectionDialog->setEnabled(false);
    if (ctx_.mainWindow) ctx_.mainWindow->updateCommands();
  }
  ~RunScope() {
    running_ = false;
    ctx_.modifyRunning = false;
    dialog_.setEnabled(true);
    if (ctx_.selectionDialog) ctx_.selectionDialog->setEnabled(true);
    if (ctx_.mainWindow) ctx_.mainWindow->updateCommands();
  }

 private:
  AppContext& ctx_;
  QWidget& dialog_;
  bool& running_;
};

}  // namespace

const char* const ModificationDialog::kTitle = "Select modification";

ModificationDialog::ModificationDialog(AppContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QString::fromLatin1(kTitle));

  auto place = [this](QWidget* w, double left, double top, double width, double height) {
    w->setGeometry(twipsToPixelsX(left, this), twipsToPixelsY(top, this),
                   twipsToPixelsX(width, this), twipsToPixelsY(height, this));
  };
  // Created in tab order: the frame and its contents first.
  volumeFrame = new QGroupBox(tr("Change volume by"), this);
  volumeScrollBar = new QScrollBar(Qt::Horizontal, volumeFrame);
  volumeLabel = new QLabel(QStringLiteral("100%"), volumeFrame);
  modifyButton = new QPushButton(tr("Modify"), this);
  cancelButton = new QPushButton(tr("Cancel"), this);
  deemphasisCheck = new QCheckBox(tr("apply De-emphasis"), this);
  maximizeCheck = new QCheckBox(tr("maximize volume"), this);
  place(deemphasisCheck, 120, 120, 2175, 255);
  place(maximizeCheck, 120, 480, 2175, 255);
  place(volumeFrame, 120, 840, 2175, 735);
  place(volumeScrollBar, 120, 240, 1935, 255);
  place(volumeLabel, 120, 480, 1935, 180);
  place(modifyButton, 120, 1680, 855, 375);
  place(cancelButton, 1440, 1680, 855, 375);
  volumeLabel->setAlignment(Qt::AlignCenter);
  // The label is as tall as a line of the dialog's font, so larger fonts than
  // the design's are not cut off; its top edge stays where it was designed.
  volumeLabel->resize(volumeLabel->width(),
                      std::max(volumeLabel->height(), volumeLabel->fontMetrics().height()));
  // The frame's caption sits on its top border, not inside the frame, so that
  // the scroll bar 240 twips below the frame's top stays clear of it.
  volumeFrame->setStyleSheet(
      QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                     "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                     " left: %2px; padding: 0px 2px; }")
          .arg(volumeFrame->fontMetrics().height() / 2)
          .arg(twipsToPixelsX(60, this)));
  setFixedSize(twipsToPixelsX(2475, this), twipsToPixelsY(2250, this));

  volumeFrame->setFocusPolicy(Qt::NoFocus);
  volumeScrollBar->setFocusPolicy(Qt::StrongFocus);
  volumeScrollBar->setRange(0, 10000);
  volumeScrollBar->setPageStep(100);
  volumeScrollBar->setSingleStep(1);
  volumeScrollBar->setTracking(true);
  // The right arrow key raises the value.
  volumeScrollBar->setInvertedControls(false);
  // Neither button is the default or the cancel button.
  modifyButton->setAutoDefault(false);
  cancelButton->setAutoDefault(false);
  setTabOrder(volumeScrollBar, modifyButton);
  setTabOrder(modifyButton, cancelButton);
  setTabOrder(cancelButton, deemphasisCheck);
  setTabOrder(deemphasisCheck, maximizeCheck);
  volumeScrollBar->setFocus();

  connect(deemphasisCheck, &QCheckBox::toggled, this, &ModificationDialog::onDeemphasisToggled);
  connect(maximizeCheck, &QCheckBox::toggled, this, &ModificationDialog::onMaximizeToggled);
  connect(volumeScrollBar, &QScrollBar::valueChanged, this, &ModificationDialog::onVolumeChanged);
  connect(volumeScrollBar, &QScrollBar::sliderMoved, this, [this] {
    // Only the user dragging the thumb counts as scrolling, never a value set in code.
    if (!settingFromCode_) onVolumeScrolled();
  });
  connect(modifyButton, &QPushButton::clicked, this, &ModificationDialog::modify);
  connect(cancelButton, &QPushButton::clicked, this, &ModificationDialog::cancel);
}

void ModificationDialog::initialise() {
  const Session& s = ctx_.session;
  placeBesideMain();
  deemphasisCheck->setChecked(false);
  deemphasisCheck->setEnabled(s.current.format.sampleRate == 44100);
  maximizeCheck->setChecked(false);
  maxGain_ = maximumGainFor(s.current.format.sample(), s.peakLevel[0], false);
  volumeFrame->setEnabled(true);
  volumeScrollBar->setEnabled(true);
  volumeLabel->setEnabled(true);
  volumeLabel->setText(QStringLiteral("100%"));
  setVolumeValue(1000);
}

void ModificationDialog::placeBesideMain() {
  if (!ctx_.mainWindow) return;
  // Both windows have the same border, and the window system adds this
  // window's frame only when it is shown: the main window's frame stands in
  // for it, and the inner area is placed so that the frame lands on the spot.
  const QRect mainFrame = ctx_.mainWindow->frameGeometry();
  const QRect mainInner = ctx_.mainWindow->geometry();
  const float outerWidth =
      static_cast<float>(pixelsToTwipsX(width() + mainFrame.width() - mainInner.width(), this));
  const float left = static_cast<float>(ctx_.mainWindow->leftTwips()) +
                     static_cast<float>(ctx_.mainWindow->widthTwips()) - outerWidth - 600.0f;
  const float top = static_cast<float>(ctx_.mainWindow->topTwips()) + 1200.0f;
  const QPoint frameTopLeft(twipsToPixelsX(left, this), twipsToPixelsY(top, this));
  setGeometry(QRect(frameTopLeft + (mainInner.topLeft() - mainFrame.topLeft()), size()));
}

void ModificationDialog::onDeemphasisToggled() {
  const Session& s = ctx_.session;
  const double peak = deemphasisCheck->isChecked() ? s.peakLevel[1] : s.peakLevel[0];
  maxGain_ = maximumGainFor(s.current.format.sample(), peak, true);
  clampStep();
}

void ModificationDialog::onMaximizeToggled() {
  const int v = maximizeCheck->isChecked() ? 1 : 0;
  const bool enabled = v - 1 != 0;
  volumeFrame->setEnabled(enabled);
  volumeScrollBar->setEnabled(enabled);
  volumeLabel->setEnabled(enabled);
}

void ModificationDialog::onVolumeChanged() {
  clampStep();
}

void ModificationDialog::onVolumeScrolled() {
  clampStep();
}

void ModificationDialog::clampStep() {
  const float limit = static_cast<float>(maxGain_);
  const float current = static_cast<float>(volumeScrollBar->value()) / 1000.0f;
  if (limit < current) {
    // Raises the change event again; the nested run sees the clamped value.
    setVolumeValue(static_cast<int>(std::nearbyint(maxGain_ * 1000.0)));
    volumeLabel->setText(QString::fromStdString(labelText(volumeScrollBar->value())));
  } else {
    volumeLabel->setText(QString::fromStdString(labelText(volumeScrollBar->value())));
    QPalette p = volumeLabel->palette();
    p.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
    p.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
    volumeLabel->setPalette(p);
  }
}

void ModificationDialog::setVolumeValue(int value) {
  const bool was = settingFromCode_;
  settingFromCode_ = true;
  volumeScrollBar->setValue(value);
  settingFromCode_ = was;
}

std::string ModificationDialog::labelText(int value) const {
  return formatGeneral(static_cast<float>(value) / 10.0f, ctx_.decimalSeparator) + "%";
}

void ModificationDialog::modify() {
  // A batch run is reading files into the session; a run now would work on
  // half of it.
  if (running_ || ctx_.batchRunning) return;
  if (!ctx_.fs || !ctx_.clock || !ctx_.messages || !ctx_.mainWindow) return;
  const Session& s = ctx_.session;
  ModifyRequest request;
  request.deemphasis = deemphasisCheck->isChecked();
  request.maximize = maximizeCheck->isChecked();
  request.volumeTenths = volumeScrollBar->value();
  request.maxGain = maxGain_;
  if (s.current.format.sample().isFloat()) request.peakToDivideBy = s.peakLevel[0];
  const ModifyTarget target{s.currentPath(), s.fileNames.empty() ? std::string() : s.fileNames[0],
                            s.appPath, s.current};
  ctx_.runStop = std::stop_source();
  ModifyServices services{.fs = *ctx_.fs,
                          .clock = *ctx_.clock,
                          .messages = *ctx_.messages,
                          .progress = *this,
                          .stop = ctx_.runStop.get_token()};
  services.threads = rewritingThreads();

  ModifyOutcome outcome;
  {
    RunScope scope(ctx_, *this, running_);
    const ModifyResult result = runModification(target, request, services);
    outcome = result.outcome;
    tellOutcome(result);
  }
  if (outcome == ModifyOutcome::kNothingToDo && !ctx_.exitRequested) return;
  unload();
  if (ctx_.exitRequested && ctx_.endProgram) ctx_.endProgram();
}

void ModificationDialog::cancel() {
  if (running_) return;
  unload();
}

void ModificationDialog::unload() {
  discardWindow(this, ctx_.modificationDialog, unloaded_);
}

// What the user sees at the end of a run: the time it took in the report,
// then where the files are; or the one message of a run that failed or could
// not start.
void ModificationDialog::tellOutcome(const ModifyResult& result) {
  const Session& s = ctx_.session;
  switch (result.outcome) {
    case ModifyOutcome::kCompleted:
      ctx_.mainWindow->setReportText(
          ctx_.mainWindow->reportViewText() + kLineBreak +
          manipulationTimeLine(result.elapsedSeconds, ctx_.decimalSeparator) + kLineBreak);
      // When the program is ending, no notice holds the exit up.
      if (!result.exitPending) {
        const std::optional<std::int64_t> beyond =
            s.current.format.sample().isFloat()
                ? std::optional<std::int64_t>(result.samplesBeyondFullScale)
                : std::nullopt;
        ctx_.messages->show(
            closingNotice(result.inProgramDir, s.lineBreak, result.outputName, beyond));
      }
      break;
    case ModifyOutcome::kFailed:
      ctx_.messages->show(failureMessage(result, s.currentPath()));
      break;
    case ModifyOutcome::kRefused:
      ctx_.messages->show(refusalMessage(result.refusal));
      break;
    case ModifyOutcome::kNothingToDo:
    case ModifyOutcome::kDeclined:
    case ModifyOutcome::kAbandoned:
    case ModifyOutcome::kClipped:
      break;
  }
}

void ModificationDialog::progress(double, const std::string& text) {
  setWindowTitle(QString::fromStdString(text));
}

void ModificationDialog::progressDone(const std::string& text) {
  setWindowTitle(QString::fromStdString(text));
}

void ModificationDialog::yield() {
  QCoreApplication::processEvents();
}

void ModificationDialog::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();  // a run in progress cannot be abandoned from here
    return;
  }
  event->accept();
  unload();
}

ModificationDialog* showModificationDialog(AppContext& ctx) {
  if (!ctx.modificationDialog) ctx.modificationDialog = new ModificationDialog(ctx, ctx.mainWindow);
  ModificationDialog* dialog = ctx.modificationDialog;
  // Settings made for another file never apply to this one.
  dialog->initialise();
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
  return dialog;
}

}  // namespace ril
