// AboutBox: the small box with the program's name, version, description,
// author and web address.
#pragma once

#include <QWidget>

#include "gui/app_context.h"

class QLabel;
class QPushButton;

namespace ril {

class AboutBox : public QWidget {
  Q_OBJECT

 public:
  static const char* const kAuthor;      // "The Rilmaton developers"
  static const char* const kWebAddress;  // the project's home

  // Creates the box (deleted when it is unloaded) and registers it as ctx.aboutBox.
  explicit AboutBox(AppContext& ctx);
  ~AboutBox() override;

  // Centres the box over the main window.
  void centreOverMainWindow();

  // The box's left edge is (main window's width - box's width) / 2 + main
  // window's left edge, its top edge likewise; all outer sizes in twips,
  // single precision.
  static float centredPosition(float mainExtent, float aboutExtent, float mainOrigin);

  double leftTwips() const;
  double topTwips() const;
  double widthTwips() const;   // outer
  double heightTwips() const;  // outer

  QLabel* titleLabel = nullptr;        // "Rilmaton " and the version
  QLabel* descriptionLabel = nullptr;  // what the program does, wrapped
  QLabel* byLabel = nullptr;           // "by"
  QLabel* authorLabel = nullptr;
  QLabel* webAddressLabel = nullptr;
  QPushButton* okButton = nullptr;  // closes the box

 private:
  AppContext& ctx_;
};

// Help, About: builds, centres and shows the box, or only brings an open one to the front.
void showAboutBox(AppContext& ctx);

}  // namespace ril
