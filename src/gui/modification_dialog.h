// frmModify: the small dialog in which the user decides what to do with the
// file just analysed: de-emphasis, the largest volume that does not clip, or a
// volume change in tenths of a percent.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>

#include "core/base/host.h"
#include "core/modify/modification_engine.h"
#include "gui/app_context.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QScrollBar;

namespace ril {

class frmModify : public QWidget, public ModifyView {
  Q_OBJECT

 public:
  static const char* const kTitle;  // "Select modification"

  // Builds the window and its controls; Form_Load is run by the loader.
  explicit frmModify(AppContext& ctx, QWidget* parent = nullptr);

  // ---- event handlers ---------------------------------------------------
  void Form_Load();
  void chkEmph_Click();
  void chkVolume_Click();
  void hsbVolume_Change();
  void hsbVolume_Scroll();
  void cmdModify_Click();
  void cmdCancel_Click();

  // Form_Load's first step: the outer frame 600 twips in from the main
  // window's right edge and 1200 twips below its top.
  void placeBesideMain();

  // Closes and discards the dialog (ctx.modify becomes empty at once).
  void unload();

  double maxGain() const { return maxGain_; }
  bool running() const { return running_; }
  // The label text of a scroll-bar value: 1235 -> "123.5%".
  std::string labelText(int value) const;

  // ---- ModifyView ---------------------------------------------------------
  void setCaption(const std::string& caption) override;
  void yieldToEvents() override;
  bool emphasisChecked() override;

  // ---- controls -----------------------------------------------------------
  QCheckBox* chkEmph = nullptr;
  QCheckBox* chkVolume = nullptr;
  QGroupBox* frmVolume = nullptr;
  QScrollBar* hsbVolume = nullptr;
  QLabel* lblVolume = nullptr;
  QPushButton* cmdModify = nullptr;
  QPushButton* cmdCancel = nullptr;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void clampStep();
  void setVolumeValue(int value);

  AppContext& ctx_;
  double maxGain_ = 1.0;
  bool running_ = false;
  bool unloaded_ = false;
  bool settingFromCode_ = false;
};

// Loads frmModify when it is not loaded (its Form_Load runs), shows it modeless
// and brings it to the front; a loaded dialog keeps its contents.
frmModify* showModificationDialog(AppContext& ctx);

}  // namespace ril
