// ModificationDialog: the small dialog in which the user decides what to do with the
// file just analysed: de-emphasis, the largest volume that does not clip, or a
// volume change in tenths of a percent.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

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
  static constexpr double kClientWidth = 3900;
  static constexpr double kClientHeight = 2250;

  // Builds the window and its controls; showModificationDialog initialises it.
  explicit ModificationDialog(AppContext& ctx, QWidget* parent = nullptr);
  ~ModificationDialog() override;

  // ---- commands and events --------------------------------------------------
  // Places the dialog beside the main window and sets the controls for the
  // file just analysed: de-emphasis unchecked, and offered only at 44100 Hz;
  // maximize unchecked; the volume at 100% and enabled; maxGain the factor
  // the original data allows, uncut.
  void initialise();
  // maxGain becomes the factor the de-emphasised (checked) or the original
  // (unchecked) data allows, cut to a thousandth; the volume is held at or below it.
  void onDeemphasisToggled();
  // The scroll bar and the spin box are greyed out while "maximize volume"
  // is checked; the label then shows the factor the run will apply.
  void onMaximizeToggled();
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

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;  // Escape cancels

 private:
  void buildControls();
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
};

// Builds the dialog when there is none and initialises it for the file just
// analysed, also when it was left open for an earlier file; shows it modeless
// and brings it to the front.
ModificationDialog* showModificationDialog(AppContext& ctx);

}  // namespace ril
