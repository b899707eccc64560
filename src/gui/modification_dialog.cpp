#include "gui/modification_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>
#include <cmath>

#include "core/base/errors.h"
#include "core/base/number_format.h"
#include "core/base/text.h"
#include "core/base/thread_pool.h"
#include "core/modify/loudness_normalisation.h"
#include "core/modify/modify_messages.h"
#include "core/modify/volume_policy.h"
#include "core/wav/wav_header_reader.h"
#include "gui/background_pass.h"
#include "gui/file_selection_dialog.h"
#include "gui/main_window.h"
#include "gui/twips.h"

namespace ril {

namespace {

// One modification run: its inputs, read from the dialog once before it
// starts, and the services it uses on its thread. Shared between the thread
// and the dialog, so that it outlives whichever ends first.
struct ModifyJob {
  ModifyJob(FileSystem& fileSystem, Clock& runClock, MessageSink& shown)
      : fs(fileSystem), clock(runClock), messages(shown) {}

  // On the run's thread.
  void run(std::stop_token stop) {
    try {
      ModifyServices services = servicesFor(std::move(stop));
      result = runModification(target, request, services);
    } catch (...) {
      result = ModifyResult{};
      result.outcome = ModifyOutcome::kFailed;
      result.errorNumber = kErrInternal;
    }
  }

  // The choices are those in `request`, made when the run started; the run
  // stops when `stop` is asked to (File, Exit, a stop signal).
  ModifyServices servicesFor(std::stop_token stop) {
    ModifyServices services{.fs = fs,
                            .clock = clock,
                            .messages = messages,
                            .progress = progress,
                            .stop = std::move(stop)};
    services.threads = rewritingThreads();
    return services;
  }

  ModifyTarget target;
  ModifyRequest request;  // de-emphasis and factor, fixed for the run
  FileSystem& fs;
  Clock& clock;
  GuiThreadMessages messages;  // the disk-space question, clipped samples
  PassProgress progress;       // the dialog's title
  ModifyResult result;         // read once the thread has ended
};

// The volume that brings `trace` to `targetLufs` with the true peak at most
// `limitDbtp`, and the line that says its gain; no volume, and why, when the
// loudness is not there to be normalised.
struct LoudnessVolume {
  std::string line;
  std::optional<long long> tenths;
};

LoudnessVolume loudnessVolume(const LoudnessTrace& trace, double targetLufs, double limitDbtp) {
  const ProgrammeLoudness p = programmeLoudness({&trace});
  if (!p.integratedLufs.value) {
    return {"No loudness to normalise to: " + p.integratedLufs.reason + ".", std::nullopt};
  }
  const LoudnessGain gain =
      loudnessGain(*p.integratedLufs.value, p.truePeakDbtp, targetLufs, limitDbtp);
  return {loudnessGainLine(gain, limitDbtp), gain.tenths};
}

// On a thread of its own: the loudness of `path`'s samples after the
// rewriting's de-emphasis, as `header` was read; a failure when the file is
// no longer as it was.
LoudnessMeasurement measureAfterDeemphasis(FileSystem& fs, const std::string& path,
                                           const WavHeader& header) {
  LoudnessMeasurement m;
  try {
    HeaderReading reading = readWavFile(fs, path);
    const WavHeader& now = reading.header;
    if (!reading.samples || !(now.format == header.format) ||
        now.layout.dataOffset != header.layout.dataOffset ||
        now.layout.framesInFile != header.layout.framesInFile) {
      m.failure = "the file has changed since it was analysed.";
      return m;
    }
    return measureLoudness(*reading.samples, header.format, header.layout, true,
                           availableProcessors());
  } catch (const std::exception&) {
    m.failure = "the file cannot be read.";
  }
  return m;
}

}  // namespace

const char* const ModificationDialog::kTitle = "Select modification";

ModificationDialog::ModificationDialog(AppContext& ctx, QWidget* parent)
    : QWidget(parent), ctx_(ctx) {
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
  setWindowTitle(QString::fromLatin1(kTitle));
  buildControls();
  connectControls();
}

void ModificationDialog::connectControls() {
  connect(deemphasisCheck, &QCheckBox::toggled, this, [this] {
    onDeemphasisToggled();
    applyLoudness();
  });
  connect(maximizeCheck, &QCheckBox::toggled, this, &ModificationDialog::onMaximizeToggled);
  connect(loudnessCheck, &QCheckBox::toggled, this, &ModificationDialog::onLoudnessToggled);
  connect(loudnessTargetSpinBox, &QDoubleSpinBox::valueChanged, this, [this] { applyLoudness(); });
  connect(truePeakLimitSpinBox, &QDoubleSpinBox::valueChanged, this, [this] { applyLoudness(); });
  connect(volumeScrollBar, &QScrollBar::valueChanged, this, &ModificationDialog::onVolumeChanged);
  connect(volumeScrollBar, &QScrollBar::sliderMoved, this, [this] {
    // Only the user dragging the thumb counts as scrolling, never a value set in code.
    if (!settingFromCode_) onVolumeScrolled();
  });
  connect(volumeSpinBox, &QDoubleSpinBox::valueChanged, this, [this](double percent) {
    if (!settingFromCode_) setVolumeValue(static_cast<int>(std::lround(percent * 10.0)));
  });
  connect(modifyButton, &QPushButton::clicked, this, &ModificationDialog::modify);
  connect(cancelButton, &QPushButton::clicked, this, &ModificationDialog::cancel);
}

// The controls at their places, in twips. The dialog is wider than the old
// design so that its title reads in full and a spin box fits beside the
// scroll bar.
void ModificationDialog::buildControls() {
  auto place = [this](QWidget* w, double left, double top, double width, double height) {
    w->setGeometry(twipsToPixelsX(left, this), twipsToPixelsY(top, this),
                   twipsToPixelsX(width, this), twipsToPixelsY(height, this));
  };
  // Created in tab order: the frame and its contents first.
  volumeFrame = new QGroupBox(tr("Change volume by"), this);
  volumeScrollBar = new QScrollBar(Qt::Horizontal, volumeFrame);
  volumeSpinBox = new QDoubleSpinBox(volumeFrame);
  volumeLabel = new QLabel(QStringLiteral("100%"), volumeFrame);
  modifyButton = new QPushButton(tr("Modify"), this);
  cancelButton = new QPushButton(tr("Cancel"), this);
  deemphasisCheck = new QCheckBox(tr("apply De-emphasis"), this);
  maximizeCheck = new QCheckBox(tr("maximize volume"), this);
  buildLoudnessControls();
  place(deemphasisCheck, 120, 120, kClientWidth - 240, 255);
  place(maximizeCheck, 120, 480, kClientWidth - 240, 255);
  place(loudnessCheck->parentWidget(), 120, 810, kClientWidth - 240, 375);
  place(truePeakLimitSpinBox->parentWidget(), 120, 1185, kClientWidth - 240, 375);
  place(loudnessLabel, 120, 1575, kClientWidth - 240, 480);
  place(volumeFrame, 120, 2100, kClientWidth - 240, 735);
  place(volumeScrollBar, 120, 240, kClientWidth - 1680, 255);
  place(volumeSpinBox, kClientWidth - 1500, 180, 1140, 375);
  place(volumeLabel, 120, 480, kClientWidth - 1680, 180);
  place(modifyButton, 120, 2940, 1155, 375);
  place(cancelButton, kClientWidth - 1275, 2940, 1155, 375);
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
  setFixedSize(twipsToPixelsX(kClientWidth, this), twipsToPixelsY(kClientHeight, this));

  volumeFrame->setFocusPolicy(Qt::NoFocus);
  volumeScrollBar->setFocusPolicy(Qt::StrongFocus);
  volumeScrollBar->setRange(0, 10000);
  volumeScrollBar->setPageStep(100);
  volumeScrollBar->setSingleStep(1);
  volumeScrollBar->setTracking(true);
  // The right arrow key raises the value.
  volumeScrollBar->setInvertedControls(false);
  // The same volume in percent, typed; taken on Enter or when the box is left.
  volumeSpinBox->setRange(0.0, 1000.0);
  volumeSpinBox->setDecimals(1);
  volumeSpinBox->setSingleStep(0.1);
  volumeSpinBox->setSuffix(QStringLiteral("%"));
  volumeSpinBox->setKeyboardTracking(false);
  volumeSpinBox->setAlignment(Qt::AlignRight);
  volumeSpinBox->setValue(100.0);
  // Neither button is the default button; Escape cancels (keyPressEvent).
  modifyButton->setAutoDefault(false);
  cancelButton->setAutoDefault(false);
  setTabOrder(volumeScrollBar, volumeSpinBox);
  setTabOrder(volumeSpinBox, modifyButton);
  setTabOrder(modifyButton, cancelButton);
  setTabOrder(cancelButton, deemphasisCheck);
  setTabOrder(deemphasisCheck, maximizeCheck);
  setTabOrder(maximizeCheck, loudnessCheck);
  setTabOrder(loudnessCheck, loudnessTargetSpinBox);
  setTabOrder(loudnessTargetSpinBox, truePeakLimitSpinBox);
  volumeScrollBar->setFocus();
}

// "normalise loudness to [-23.0] LUFS, true peak at most [-1.0] dBTP" on two
// rows, and the line that says the gain under them.
void ModificationDialog::buildLoudnessControls() {
  auto spinBox = [](QWidget* parent, double minimum, double value) {
    auto* box = new QDoubleSpinBox(parent);
    box->setRange(minimum, 0.0);
    box->setDecimals(1);
    box->setSingleStep(0.1);
    box->setValue(value);
    box->setKeyboardTracking(false);
    box->setAlignment(Qt::AlignRight);
    return box;
  };
  auto row = [this](std::initializer_list<QWidget*> widgets, QWidget* parent, int indent) {
    auto* layout = new QHBoxLayout(parent);
    layout->setContentsMargins(indent, 0, 0, 0);
    for (QWidget* w : widgets) layout->addWidget(w);
    layout->addStretch(1);
    return layout;
  };
  auto* first = new QWidget(this);
  loudnessCheck = new QCheckBox(tr("normalise loudness to"), first);
  loudnessTargetSpinBox = spinBox(first, -70.0, -23.0);
  row({loudnessCheck, loudnessTargetSpinBox, new QLabel(tr("LUFS,"), first)}, first, 0);
  auto* second = new QWidget(this);
  auto* truePeakText = new QLabel(tr("true peak at most"), second);
  truePeakLimitSpinBox = spinBox(second, -20.0, -1.0);
  row({truePeakText, truePeakLimitSpinBox, new QLabel(tr("dBTP"), second)}, second,
      twipsToPixelsX(300, this));
  loudnessLabel = new QLabel(this);
  loudnessLabel->setWordWrap(true);
  loudnessLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void ModificationDialog::initialise() {
  const Session& s = ctx_.session;
  placeBesideMain();
  deemphasisCheck->setChecked(false);
  deemphasisCheck->setEnabled(s.current.format.sampleRate == 44100);
  maximizeCheck->setChecked(false);
  ++generation_;
  storedLoudness_ = s.loudness;
  deemphasisedLoudness_.reset();
  deemphasisedFailure_.clear();
  loudnessCheck->setChecked(false);
  for (QWidget* row : {loudnessCheck->parentWidget(), truePeakLimitSpinBox->parentWidget()}) {
    row->setEnabled(storedLoudness_.has_value());
  }
  loudnessLabel->clear();
  maxGain_ = safeGainFor(s.current.format.sample(), s.peakLevel[0], s.peakLevel[1], false);
  volumeFrame->setEnabled(true);
  volumeScrollBar->setEnabled(true);
  volumeSpinBox->setEnabled(true);
  volumeLabel->setEnabled(true);
  volumeLabel->setText(QStringLiteral("100%"));
  setVolumeValue(1000);
  showVolume();
  updateManualVolume();
}

QPoint ModificationDialog::besideMain(const QRect& mainFrame, const QSize& outer,
                                      const QRect& screen, const QPoint& fallback) {
  const int gap = 8;
  const int top = std::clamp(fallback.y(), screen.top(),
                             std::max(screen.top(), screen.bottom() + 1 - outer.height()));
  if (mainFrame.right() + gap + outer.width() <= screen.right()) {
    return {mainFrame.right() + 1 + gap, top};
  }
  if (mainFrame.left() - gap - outer.width() >= screen.left()) {
    return {mainFrame.left() - gap - outer.width(), top};
  }
  return fallback;
}

void ModificationDialog::placeBesideMain() {
  if (!ctx_.mainWindow) return;
  // Both windows have the same border, and the window system adds this
  // window's frame only when it is shown: the main window's frame stands in
  // for it, and the inner area is placed so that the frame lands on the spot.
  const QRect mainFrame = ctx_.mainWindow->frameGeometry();
  const QRect mainInner = ctx_.mainWindow->geometry();
  const QSize outer = size() + mainFrame.size() - mainInner.size();
  // Where there is no room beside it: 600 twips in from the main window's
  // right edge and 1200 below its top, over the report.
  const float outerWidth = static_cast<float>(pixelsToTwipsX(outer.width(), this));
  const float left = static_cast<float>(ctx_.mainWindow->leftTwips()) +
                     static_cast<float>(ctx_.mainWindow->widthTwips()) - outerWidth - 600.0f;
  const float top = static_cast<float>(ctx_.mainWindow->topTwips()) + 1200.0f;
  const QPoint over(twipsToPixelsX(left, this), twipsToPixelsY(top, this));
  const QScreen* screen = ctx_.mainWindow->screen();
  const QPoint frameTopLeft =
      screen ? besideMain(mainFrame, outer, screen->availableGeometry(), over) : over;
  setGeometry(QRect(frameTopLeft + (mainInner.topLeft() - mainFrame.topLeft()), size()));
}

void ModificationDialog::onDeemphasisToggled() {
  const Session& s = ctx_.session;
  // Once the choice has been made, the factor stays cut to thousandths.
  maxGain_ = safeGainFor(s.current.format.sample(), s.peakLevel[0], s.peakLevel[1],
                         deemphasisCheck->isChecked(), true);
  clampStep();
}

// The manual volume is greyed out while "maximize volume" is ticked; the
// frame and its label stay readable, for the label shows the factor then.
void ModificationDialog::onMaximizeToggled() {
  if (maximizeCheck->isChecked()) loudnessCheck->setChecked(false);
  updateManualVolume();
  showVolume();
}

// The scroll bar and the spin box take the user's volume unless maximize or
// the loudness chooses it.
void ModificationDialog::updateManualVolume() {
  const bool enabled = !maximizeCheck->isChecked() && !loudnessCheck->isChecked();
  volumeScrollBar->setEnabled(enabled);
  volumeSpinBox->setEnabled(enabled);
  modifyButton->setEnabled(!measuring_ && (!loudnessCheck->isChecked() || loudnessUsable_));
}

void ModificationDialog::onLoudnessToggled() {
  if (loudnessCheck->isChecked()) maximizeCheck->setChecked(false);
  applyLoudness();
}

void ModificationDialog::applyLoudness() {
  loudnessUsable_ = false;
  if (!loudnessCheck->isChecked()) {
    loudnessLabel->clear();
    updateManualVolume();
    return;
  }
  const bool deemphasis = deemphasisCheck->isChecked();
  if (deemphasis && !deemphasisedLoudness_ && deemphasisedFailure_.empty()) {
    measureDeemphasisedLoudness();
    return;
  }
  const std::optional<LoudnessTrace>& trace = deemphasis ? deemphasisedLoudness_ : storedLoudness_;
  LoudnessVolume volume;
  if (trace) {
    volume = loudnessVolume(*trace, loudnessTargetSpinBox->value(), truePeakLimitSpinBox->value());
  } else {
    volume.line = deemphasis
                      ? "The loudness after de-emphasis cannot be measured: " + deemphasisedFailure_
                      : std::string("The analysis measured no loudness.");
  }
  QString text = QString::fromStdString(volume.line);
  if (volume.tenths) {
    loudnessUsable_ = true;
    const int wanted = static_cast<int>(std::clamp<long long>(*volume.tenths, 0, 10000));
    setVolumeValue(wanted);
    clampStep();
    if (volumeScrollBar->value() < wanted) {
      text += tr("; held at %1, the largest change without clipping")
                  .arg(QString::fromStdString(labelText(volumeScrollBar->value())));
    }
  }
  loudnessLabel->setText(text);
  updateManualVolume();
}

// The loudness of the de-emphasised data, measured on a thread of its own
// from the file as it is now; Modify waits for it. A result for a file the
// dialog is no longer set for is dropped.
void ModificationDialog::measureDeemphasisedLoudness() {
  if (measuring_ || !ctx_.fs) return;
  measuring_ = true;
  loudnessLabel->setText(tr("Measuring the loudness after de-emphasis\u2026"));
  updateManualVolume();
  const Session& s = ctx_.session;
  auto measured = std::make_shared<LoudnessMeasurement>();
  runOffThread(
      this,
      [measured, &fs = *ctx_.fs, path = s.currentPath(), header = s.current] {
        *measured = measureAfterDeemphasis(fs, path, header);
      },
      [this, measured, generation = generation_] {
        measuring_ = false;
        if (generation == generation_) {
          if (measured->complete) {
            deemphasisedLoudness_ = std::move(measured->trace);
          } else {
            deemphasisedFailure_ = measured->failure;
          }
        }
        applyLoudness();
      });
}

void ModificationDialog::onVolumeChanged() {
  clampStep();
}

void ModificationDialog::onVolumeScrolled() {
  clampStep();
}

void ModificationDialog::clampStep() {
  if (holdsDown(maxGain_, volumeScrollBar->value(), false)) {
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
  showVolume();
}

// The spin box follows the scroll bar; with "maximize volume" ticked the
// label shows the factor the run will apply instead of the manual volume.
void ModificationDialog::showVolume() {
  const bool was = settingFromCode_;
  settingFromCode_ = true;
  volumeSpinBox->setValue(volumeScrollBar->value() / 10.0);
  settingFromCode_ = was;
  if (maximizeCheck->isChecked()) {
    volumeLabel->setText(tr("maximized: ") + QString::fromStdString(formatNumber(
                                                 maxGain_, "0.00%", ctx_.decimalSeparator)));
  } else {
    volumeLabel->setText(QString::fromStdString(labelText(volumeScrollBar->value())));
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
  // A repair rewrites the file; the loudness after de-emphasis is still
  // being measured.
  if (running_ || ctx_.batchRunning || ctx_.modifyRunning || measuring_) return;
  if (!ctx_.fs || !ctx_.clock || !ctx_.messages || !ctx_.mainWindow) return;
  const Session& s = ctx_.session;
  auto job = std::make_shared<ModifyJob>(*ctx_.fs, *ctx_.clock, *ctx_.messages);
  job->request.deemphasis = deemphasisCheck->isChecked();
  job->request.maximize = maximizeCheck->isChecked();
  job->request.volumeTenths = volumeScrollBar->value();
  job->request.maxGain = maxGain_;
  job->request.peakToDivideBy = peakToDivideBy(s.current.format.sample(), s.peakLevel[0]);
  job->target = ModifyTarget{s.currentPath(), s.currentName(), s.appPath, s.current};
  connect(&job->progress, &PassProgress::progressed, this,
          [this](double, const QString& text) { setWindowTitle(text); });
  connect(&job->progress, &PassProgress::ended, this,
          [this](const QString& text) { setWindowTitle(text); });

  ctx_.stopRun = std::stop_source();
  enterRun();
  runOffThread(
      this, [job, stop = ctx_.stopRun.get_token()] { job->run(stop); },
      [this, job] { endRun(job->result); });
}

// The dialog is greyed out and cannot be closed, and File, Open and a
// selection dialog left open are disabled, from the start of a run to its end.
void ModificationDialog::enterRun() {
  markRunning(true);
}

void ModificationDialog::leaveRun() {
  markRunning(false);
}

void ModificationDialog::markRunning(bool running) {
  running_ = running;
  ctx_.modifyRunning = running;
  setEnabled(!running);
  // A selection dialog left open must not start a batch run under this one.
  if (ctx_.selectionDialog) ctx_.selectionDialog->setEnabled(!running);
  if (ctx_.mainWindow) ctx_.mainWindow->updateCommands();
}

// Back on the user-interface thread once the run has ended: what it did is
// told while the dialog is still greyed out; the dialog then goes, unless
// there was nothing to do, and an exit asked for meanwhile ends the program.
void ModificationDialog::endRun(const ModifyResult& result) {
  tellOutcome(result);
  leaveRun();
  if (result.outcome == ModifyOutcome::kNothingToDo && !ctx_.exitRequested) return;
  unload();
  if (ctx_.exitRequested && ctx_.endProgram) ctx_.endProgram();
}

ModificationDialog::~ModificationDialog() {
  // Discarded with a run in progress (the program is ending): the run stops
  // on its own and is no longer heard of.
  if (running_) {
    ctx_.stopRun.request_stop();
    ctx_.modifyRunning = false;
  }
}

void ModificationDialog::cancel() {
  if (running_) return;
  unload();
}

void ModificationDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    event->accept();
    cancel();
    return;
  }
  QWidget::keyPressEvent(event);
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
      // The file read is no longer where it was: nothing left to repair there.
      ctx_.mainWindow->repairButton->hide();
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
