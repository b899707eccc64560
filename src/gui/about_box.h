// frmAbout: the small box with the program's name, version, description,
// author and web address.
#pragma once

#include <QWidget>

#include "gui/app_context.h"

class QLabel;
class QPushButton;

namespace ril {

class frmAbout : public QWidget {
  Q_OBJECT

 public:
  static const char* const kAuthor;      // "The Rilmaton developers"
  static const char* const kWebAddress;  // the project's home

  // Creates the box (deleted when it is unloaded) and registers it as ctx.about.
  explicit frmAbout(AppContext& ctx);
  ~frmAbout() override;

  void Form_Load();    // centres the box over frmMain
  void cmdOK_Click();  // unloads the box

  // Left = (frmMain.Width - frmAbout.Width) / 2 + frmMain.Left, likewise Top;
  // all outer sizes in twips, single precision.
  static float centredPosition(float mainExtent, float aboutExtent, float mainOrigin);

  double leftTwips() const;
  double topTwips() const;
  double widthTwips() const;   // outer
  double heightTwips() const;  // outer

  QLabel* txtAbout1 = nullptr;
  QLabel* Bezeichnung1 = nullptr;
  QLabel* txtAbout2 = nullptr;
  QLabel* txtAbout3 = nullptr;
  QLabel* txtAbout4 = nullptr;
  QPushButton* cmdOK = nullptr;

 private:
  AppContext& ctx_;
};

// Help, About: loads and shows the box, or only brings an open one to the front.
void showAboutBox(AppContext& ctx);

}  // namespace ril
