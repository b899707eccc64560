// ModificationDialog: the small dialog in which the user decides what to do with the
// file just analysed: de-emphasis, the largest volume that does not clip, or a
// volume change in tenths of a percent.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "core/base/host.h"
#include "core/modify/modification_run.h"
#include "gui/app_context.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;

namespace ril {

class ModificationDialog : public QWidget, public ProgressSink {
  Q_OBJECT

 public:
  static const char* const kTitle;  // "Select modification"

  // Builds the window and its controls; showModificationDialog initialises it.
  explicit ModificationDialog(AppContext& ctx, QWidget* parent = nullptr);

  // ---- commands and events --------------------------------------------------
  // Places the dialog beside the main window and sets the controls for the
  // file just analysed: de-emphasis unchecked, and offered only at 44100 Hz;
  // maximize unchecked; the volume at 100% and enabled; maxGain the factor
  // the original data allows, uncut.
  void initialise();
  // maxGain becomes the factor the de-emphasised (checked) or the original
  // (unchecked) data allows, cut to a thousandth; the volume is held at or below it.
  void onDeemphasisToggled();
  // The manual volume is greyed out while "maximize volume" is checked.
  void onMaximizeToggled();
  void onVolumeChanged();   // held at most at maxGain, the label follows
  void onVolumeScrolled();  // the thumb dragged by the user: the same
  // Modify: runs the modification engine on the current file and unloads the
  // dialog afterwards; with nothing to do the dialog stays as it is.
  void modify();
  void cancel();  // unloads the dialog, unless a run is in progress

  // The outer frame 600 twips in from the main window's right edge and 1200
  // twips below its top.
  void placeBesideMain();

  // Closes and discards the dialog (ctx.modificationDialog becomes empty at once).
  void unload();

  double maxGain() const { return maxGain_; }
  bool running() const { return running_; }
  // The label text of a scroll-bar value: 1235 -> "123.5%".
  std::string labelText(int value) const;

  // ---- ProgressSink: the title shows a run's progress ---------------------
  void progress(double fraction, const std::string& text) override;
  void progressDone(const std::string& text) override;
  void yield() override;  // QCoreApplication::processEvents()

  // ---- controls -----------------------------------------------------------
  QCheckBox* deemphasisCheck = nullptr;
  QCheckBox* maximizeCheck = nullptr;
  QGroupBox* volumeFrame = nullptr;
  QScrollBar* volumeScrollBar = nullptr;
  QLabel* volumeLabel = nullptr;
  QPushButton* modifyButton = nullptr;
  QPushButton* cancelButton = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void clampStep();
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
