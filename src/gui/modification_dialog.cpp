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
    if (ctx_.sel) ctx_.sel->setEnabled(false);
    if (ctx_.main) ctx_.main->updateCommands();
  }
  ~RunScope() {
    running_ = false;
    ctx_.modifyRunning = false;
    dialog_.setEnabled(true);
    if (ctx_.sel) ctx_.sel->setEnabled(true);
    if (ctx_.main) ctx_.main->updateCommands();
  }

 private:
  AppContext& ctx_;
  QWidget& dialog_;
  bool& running_;
};

}  // namespace

const char* const frmModify::kTitle = "Select modification";

frmModify::frmModify(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QString::fromLatin1(kTitle));

  auto place = [this](QWidget* w, double left, double top, double width, double height) {
    w->setGeometry(twipsToPixelsX(left, this), twipsToPixelsY(top, this),
                   twipsToPixelsX(width, this), twipsToPixelsY(height, this));
  };
  // Created in tab order: the frame and its contents first.
  frmVolume = new QGroupBox(tr("Change volume by"), this);
  hsbVolume = new QScrollBar(Qt::Horizontal, frmVolume);
  lblVolume = new QLabel(QStringLiteral("100%"), frmVolume);
  cmdModify = new QPushButton(tr("Modify"), this);
  cmdCancel = new QPushButton(tr("Cancel"), this);
  chkEmph = new QCheckBox(tr("apply De-emphasis"), this);
  chkVolume = new QCheckBox(tr("maximize volume"), this);
  place(chkEmph, 120, 120, 2175, 255);
  place(chkVolume, 120, 480, 2175, 255);
  place(frmVolume, 120, 840, 2175, 735);
  place(hsbVolume, 120, 240, 1935, 255);
  place(lblVolume, 120, 480, 1935, 180);
  place(cmdModify, 120, 1680, 855, 375);
  place(cmdCancel, 1440, 1680, 855, 375);
  lblVolume->setAlignment(Qt::AlignCenter);
  // The label is as tall as a line of the dialog's font, so larger fonts than
  // the design's are not cut off; its top edge stays where it was designed.
  lblVolume->resize(lblVolume->width(),
                    std::max(lblVolume->height(), lblVolume->fontMetrics().height()));
  // The frame's caption sits on its top border, as on the classic frame, so
  // that the scroll bar 240 twips below the frame's top stays clear of it.
  frmVolume->setStyleSheet(
      QStringLiteral("QGroupBox { border: 1px solid palette(mid); margin-top: %1px; }"
                     "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                     " left: %2px; padding: 0px 2px; }")
          .arg(frmVolume->fontMetrics().height() / 2)
          .arg(twipsToPixelsX(60, this)));
  setFixedSize(twipsToPixelsX(2475, this), twipsToPixelsY(2250, this));

  frmVolume->setFocusPolicy(Qt::NoFocus);
  hsbVolume->setFocusPolicy(Qt::StrongFocus);
  hsbVolume->setRange(0, 10000);
  hsbVolume->setPageStep(100);
  hsbVolume->setSingleStep(1);
  hsbVolume->setTracking(true);
  // The right arrow key raises the value, as on the classic scroll bar.
  hsbVolume->setInvertedControls(false);
  // Neither button is the default or the cancel button.
  cmdModify->setAutoDefault(false);
  cmdCancel->setAutoDefault(false);
  setTabOrder(hsbVolume, cmdModify);
  setTabOrder(cmdModify, cmdCancel);
  setTabOrder(cmdCancel, chkEmph);
  setTabOrder(chkEmph, chkVolume);
  hsbVolume->setFocus();

  connect(chkEmph, &QCheckBox::toggled, this, &frmModify::chkEmph_Click);
  connect(chkVolume, &QCheckBox::toggled, this, &frmModify::chkVolume_Click);
  connect(hsbVolume, &QScrollBar::valueChanged, this, &frmModify::hsbVolume_Change);
  connect(hsbVolume, &QScrollBar::sliderMoved, this, [this] {
    // Scroll comes from the user dragging the thumb, never from code.
    if (!settingFromCode_) hsbVolume_Scroll();
  });
  connect(cmdModify, &QPushButton::clicked, this, &frmModify::cmdModify_Click);
  connect(cmdCancel, &QPushButton::clicked, this, &frmModify::cmdCancel_Click);
}

void frmModify::Form_Load() {
  const ProgramState& s = ctx_.state;
  placeBesideMain();                                               // 1.
  chkEmph->setChecked(false);                                      // 2.
  chkEmph->setEnabled(s.sampleRate == 44100);                      // 3.
  chkVolume->setChecked(false);                                    // 4.
  maxGain_ = maximumGain(s.peakLevel[0], s.bitsPerSample, false);  // 5.
  frmVolume->setEnabled(true);                                     // 6.
  hsbVolume->setEnabled(true);
  lblVolume->setEnabled(true);
  lblVolume->setText(QStringLiteral("100%"));  // 7.
  setVolumeValue(1000);                        // 8.
}

void frmModify::placeBesideMain() {
  if (!ctx_.main) return;
  // Both windows have the same border, and the window system adds this
  // window's frame only when it is shown: the main window's frame stands in
  // for it, and the inner area is placed so that the frame lands on the spot.
  const QRect mainFrame = ctx_.main->frameGeometry();
  const QRect mainInner = ctx_.main->geometry();
  const float outerWidth =
      static_cast<float>(pixelsToTwipsX(width() + mainFrame.width() - mainInner.width(), this));
  const float left = static_cast<float>(ctx_.main->leftTwips()) +
                     static_cast<float>(ctx_.main->widthTwips()) - outerWidth - 600.0f;
  const float top = static_cast<float>(ctx_.main->topTwips()) + 1200.0f;
  const QPoint frameTopLeft(twipsToPixelsX(left, this), twipsToPixelsY(top, this));
  setGeometry(QRect(frameTopLeft + (mainInner.topLeft() - mainFrame.topLeft()), size()));
}

void frmModify::chkEmph_Click() {
  const ProgramState& s = ctx_.state;
  const std::int32_t peak = chkEmph->isChecked() ? s.peakLevel[1] : s.peakLevel[0];
  maxGain_ = maximumGain(peak, s.bitsPerSample, true);
  clampStep();
}

void frmModify::chkVolume_Click() {
  const int v = chkVolume->isChecked() ? 1 : 0;
  const bool enabled = v - 1 != 0;
  frmVolume->setEnabled(enabled);
  hsbVolume->setEnabled(enabled);
  lblVolume->setEnabled(enabled);
}

void frmModify::hsbVolume_Change() {
  clampStep();
}

void frmModify::hsbVolume_Scroll() {
  clampStep();
}

void frmModify::clampStep() {
  const float limit = static_cast<float>(maxGain_);
  const float current = static_cast<float>(hsbVolume->value()) / 1000.0f;
  if (limit < current) {
    // Raises the change event again; the nested run sees the clamped value.
    setVolumeValue(static_cast<int>(std::nearbyint(maxGain_ * 1000.0)));
    lblVolume->setText(QString::fromStdString(labelText(hsbVolume->value())));
  } else {
    lblVolume->setText(QString::fromStdString(labelText(hsbVolume->value())));
    QPalette p = lblVolume->palette();
    p.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
    p.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
    lblVolume->setPalette(p);
  }
}

void frmModify::setVolumeValue(int value) {
  const bool was = settingFromCode_;
  settingFromCode_ = true;
  hsbVolume->setValue(value);
  settingFromCode_ = was;
}

std::string frmModify::labelText(int value) const {
  return formatGeneral(static_cast<float>(value) / 10.0f, ctx_.decimalSeparator) + "%";
}

void frmModify::cmdModify_Click() {
  // A batch run is reading files into the program state; a run now would
  // work on half of it.
  if (running_ || ctx_.batchRunning) return;
  if (!ctx_.fs || !ctx_.clock || !ctx_.messages || !ctx_.main) return;
  ModifyRequest request;
  request.chkVolume = chkVolume->isChecked() ? 1 : 0;
  request.hsbVolume = hsbVolume->value();
  request.maxGain = maxGain_;
  ModifyServices services{.fs = *ctx_.fs,
                          .clock = *ctx_.clock,
                          .messages = *ctx_.messages,
                          .dialog = *this,
                          .main = *ctx_.main,
                          .placement = PlacementMode::kProgramDirectory,
                          .explicitOutput = {},
                          .exitRequested = [this] { return ctx_.exitRequested; },
                          .decimalSeparator = ctx_.decimalSeparator};

  ModifyOutcome outcome;
  {
    RunScope scope(ctx_, *this, running_);
    outcome = runModification(ctx_.state, request, services);
  }
  if (outcome == ModifyOutcome::kNothingToDo && !ctx_.exitRequested) return;
  unload();
  if (ctx_.exitRequested && ctx_.endProgram) ctx_.endProgram();
}

void frmModify::cmdCancel_Click() {
  if (running_) return;
  unload();
}

void frmModify::unload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (ctx_.modify == this) ctx_.modify = nullptr;
  hide();
  deleteLater();
}

void frmModify::setCaption(const std::string& caption) {
  setWindowTitle(QString::fromStdString(caption));
}

void frmModify::yieldToEvents() {
  QCoreApplication::processEvents();
}

bool frmModify::emphasisChecked() {
  return chkEmph->isChecked();
}

void frmModify::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();  // a run in progress cannot be abandoned from here
    return;
  }
  event->accept();
  unload();
}

frmModify* showModificationDialog(AppContext& ctx) {
  if (!ctx.modify) {
    auto* dialog = new frmModify(ctx, ctx.main);
    ctx.modify = dialog;
    dialog->Form_Load();
  }
  frmModify* dialog = ctx.modify;
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
  return dialog;
}

}  // namespace ril
