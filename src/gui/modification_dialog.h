// ModificationDialog: the small dialog in which the user decides what to do with the
// file just analysed: de-emphasis, the largest volume that does not clip, a
// volume change in tenths of a percent, or the volume that brings the file
// to a loudness target.
#pragma once

#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>

#include "core/analysis/loudness_meter.h"
#include "core/modify/modification_run.h"
#include "gui/app_context.h"

class QCheckBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;

namespace ril {

class ModificationDialog : public QWidget {
  Q_OBJECT

 public:
  static const char* const kTitle;  // "Select modification"
  // The client area in twips.
  static constexpr double kClientWidth = 4500;
  static constexpr double kClientHeight = 3435;

  // Builds the window and its controls; showModificationDialog initialises it.
  explicit ModificationDialog(AppContext& ctx, QWidget* parent = nullptr);
  ~ModificationDialog() override;

  // ---- commands and events --------------------------------------------------
  // Places the dialog beside the main window and sets the controls for the
  // file just analysed: de-emphasis unchecked, and offered only at 44100 Hz;
  // maximize and the loudness unchecked, the loudness offered where the
  // analysis measured it; the volume at 100% and enabled; maxGain the
  // factor the original data allows, uncut.
  void initialise();
  // maxGain becomes the factor the de-emphasised (checked) or the original
  // (unchecked) data allows, cut to a thousandth; the volume is held at or below it.
  void onDeemphasisToggled();
  // The scroll bar and the spin box are greyed out while "maximize volume"
  // is checked; the label then shows the factor the run will apply.
  void onMaximizeToggled();
  // "normalise loudness to": the volume becomes the figure that brings the
  // integrated loudness to the target, held down so that the true peak stays
  // at or below the limit, in the volume's steps of 0.1 % rounded down, and
  // then held at maxGain like any volume; the scroll bar shows it, greyed
  // out, and the loudness label says the gain and what limited it. With
  // de-emphasis the loudness is that of the de-emphasised data, measured on
  // a thread of its own the first time it is asked for (Modify waits). It
  // excludes "maximize volume". The figure follows the target, the limit and
  // the de-emphasis.
  void onLoudnessToggled();
  void onVolumeChanged();   // held at most at maxGain, the label follows
  void onVolumeScrolled();  // the thumb dragged by the user: the same
  // Modify: starts the modification of the current file on a thread of its
  // own with the choices as they are now, and returns at once; the title
  // shows the run's progress. The dialog is unloaded when the run has ended;
  // with nothing to do it stays as it is.
  void modify();
  void cancel();  // unloads the dialog, unless a run is in progress

  // Beside the main window, so that the report stays in view: right of it,
  // else left of it, where the screen has the room; else over its top right
  // corner (600 twips in from its right edge and 1200 twips below its top).
  void placeBesideMain();
  // Where the dialog's outer frame of `outer` goes beside `mainFrame` on
  // `screen` (its free area), or `fallback` where neither side has room.
  static QPoint besideMain(const QRect& mainFrame, const QSize& outer, const QRect& screen,
                           const QPoint& fallback);

  // Closes and discards the dialog (ctx.modificationDialog becomes empty at once).
  void unload();

  double maxGain() const { return maxGain_; }
  bool running() const { return running_; }
  // The label text of a scroll-bar value: 1235 -> "123.5%".
  std::string labelText(int value) const;
  bool measuringLoudness() const { return measuring_; }

  // ---- controls -----------------------------------------------------------
  QCheckBox* deemphasisCheck = nullptr;
  QCheckBox* maximizeCheck = nullptr;
  QGroupBox* volumeFrame = nullptr;
  QScrollBar* volumeScrollBar = nullptr;
  QDoubleSpinBox* volumeSpinBox = nullptr;  // the same volume in percent, to type
  // The volume as text; with "maximize volume" the factor the run will apply.
  QLabel* volumeLabel = nullptr;
  QPushButton* modifyButton = nullptr;
  QPushButton* cancelButton = nullptr;
  QCheckBox* loudnessCheck = nullptr;               // "normalise loudness to"
  QDoubleSpinBox* loudnessTargetSpinBox = nullptr;  // LUFS, -23.0 at first
  QDoubleSpinBox* truePeakLimitSpinBox = nullptr;   // dBTP, -1.0 at first
  QLabel* loudnessLabel = nullptr;                  // the gain, or why there is none

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;  // Escape cancels

 private:
  void buildControls();
  void buildLoudnessControls();
  void connectControls();
  void applyLoudness();
  void measureDeemphasisedLoudness();
  void updateManualVolume();
  void clampStep();
  void showVolume();
  void enterRun();
  void leaveRun();
  void markRunning(bool running);
  void endRun(const ModifyResult& result);
  void tellOutcome(const ModifyResult& result);
  void setVolumeValue(int value);

  AppContext& ctx_;
  double maxGain_ = 1.0;
  bool running_ = false;
  bool unloaded_ = false;
  bool settingFromCode_ = false;
  // The loudness of the file: as stored (from its analysis), and after
  // de-emphasis once measured, or why that failed.
  std::optional<LoudnessTrace> storedLoudness_;
  std::optional<LoudnessTrace> deemphasisedLoudness_;
  std::string deemphasisedFailure_;
  bool measuring_ = false;
  bool loudnessUsable_ = false;  // the loudness gave a volume
  int generation_ = 0;           // one more for each file the dialog is set for
};

// Builds the dialog when there is none and initialises it for the file just
// analysed, also when it was left open for an earlier file; shows it modeless
// and brings it to the front.
ModificationDialog* showModificationDialog(AppContext& ctx);

}  // namespace ril
