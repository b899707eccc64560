// The about box: its layout, its place over the main window, and that it
// exists at most once.
#include "gui/about_box.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <memory>

#include "gui/main_window.h"
#include "gui/session.h"
#include "gui/twips.h"
#include "support/scripted_host.h"

namespace ril {
namespace {

class AboutBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ctx.messages = &host;
    ctx.endProgram = [] {};
    startSession(ctx.session, "/nonexistent/");
    window = std::make_unique<MainWindow>(ctx);
    window->initialise();
    window->moveTwips(1500, 750);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  }

  void unloadAbout() {
    if (ctx.aboutBox) ctx.aboutBox->okButton->click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }

  int openBoxes() const {
    int count = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (qobject_cast<AboutBox*>(widget)) ++count;
    }
    return count;
  }

  ScriptedHost host;
  AppContext ctx;
  std::unique_ptr<MainWindow> window;
};

TEST(AboutCentring, FollowsTheFormulaWithSinglePrecisionHalves) {
  // Main window at 1000, 500 with 9600 x 7200; box 4635 x 4080 outside.
  EXPECT_EQ(AboutBox::centredPosition(9600, 4635, 1000), 3482.5f);
  EXPECT_EQ(AboutBox::centredPosition(7200, 4080, 500), 2060.0f);
  // A box larger than the window goes up and left of it.
  EXPECT_EQ(AboutBox::centredPosition(6000, 7000, 0), -500.0f);
}

TEST_F(AboutBoxTest, OpensCentredOverTheMainWindow) {
  window->aboutAction->trigger();
  ASSERT_FALSE(ctx.aboutBox.isNull());
  AboutBox* box = ctx.aboutBox;
  EXPECT_TRUE(box->isVisible());
  const float left = AboutBox::centredPosition(static_cast<float>(window->widthTwips()),
                                               static_cast<float>(box->widthTwips()),
                                               static_cast<float>(window->leftTwips()));
  const float top = AboutBox::centredPosition(static_cast<float>(window->heightTwips()),
                                              static_cast<float>(box->heightTwips()),
                                              static_cast<float>(window->topTwips()));
  EXPECT_EQ(box->frameGeometry().topLeft(),
            QPoint(twipsToPixelsX(left, box), twipsToPixelsY(top, box)));
  // Centred: equal room on both sides (to a pixel).
  const QRect outer = window->frameGeometry();
  const QRect inner = box->frameGeometry();
  EXPECT_LE(std::abs((inner.left() - outer.left()) - (outer.right() - inner.right())), 1);
  EXPECT_LE(std::abs((inner.top() - outer.top()) - (outer.bottom() - inner.bottom())), 1);
  unloadAbout();
}

TEST_F(AboutBoxTest, SecondAboutOnlyBringsTheBoxToTheFront) {
  window->aboutAction->trigger();
  QPointer<AboutBox> first = ctx.aboutBox;
  ASSERT_FALSE(first.isNull());
  // The user moves it away; a second Help, About must not centre it again.
  const QPoint moved = first->pos() + QPoint(37, 21);
  first->move(moved);
  window->aboutAction->trigger();
  EXPECT_EQ(ctx.aboutBox, first);
  EXPECT_EQ(first->pos(), moved);
  EXPECT_EQ(openBoxes(), 1);
  unloadAbout();
}

TEST_F(AboutBoxTest, OkUnloadsAndTheNextOpeningCentresAgain) {
  window->aboutAction->trigger();
  const QPoint firstPlace = ctx.aboutBox->pos();
  ctx.aboutBox->move(firstPlace + QPoint(50, 50));
  unloadAbout();
  EXPECT_TRUE(ctx.aboutBox.isNull());
  EXPECT_EQ(openBoxes(), 0);

  window->aboutAction->trigger();
  ASSERT_FALSE(ctx.aboutBox.isNull());
  EXPECT_EQ(ctx.aboutBox->pos(), firstPlace);
  unloadAbout();
}

TEST_F(AboutBoxTest, LayoutMatchesTheDesignAndNothingIsCutOff) {
  window->aboutAction->trigger();
  AboutBox* box = ctx.aboutBox;
  ASSERT_NE(box, nullptr);
  auto px = [box](double twips) { return twipsToPixelsX(twips, box); };
  auto py = [box](double twips) { return twipsToPixelsY(twips, box); };
  EXPECT_EQ(box->windowTitle(), QStringLiteral("About Rilmaton"));
  EXPECT_EQ(box->size(), QSize(px(4545), py(3570)));
  EXPECT_EQ(box->minimumSize(), box->maximumSize());
  EXPECT_FALSE(box->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_FALSE(box->windowFlags() & Qt::WindowMinimizeButtonHint);

  struct Expected {
    QLabel* label;
    const char* text;
    double points;
    double top, height;
  };
  const Expected labels[] = {
      {box->titleLabel, "Rilmaton 1.01.0001", 18, 240, 435},
      {box->descriptionLabel, "statistical analysis and application of De-emphasis of WAV-files",
       9.75, 720, 735},
      {box->byLabel, "by", 9.75, 1560, 240},
      {box->authorLabel, "The Rilmaton developers", 9.75, 1920, 240},
      {box->webAddressLabel, "https://rilmaton.example/", 9.75, 2280, 240},
  };
  for (const Expected& expected : labels) {
    SCOPED_TRACE(expected.text);
    QLabel* label = expected.label;
    EXPECT_EQ(label->text(), QString::fromLatin1(expected.text));
    EXPECT_TRUE(label->font().bold());
    EXPECT_DOUBLE_EQ(label->font().pointSizeF(), expected.points);
    EXPECT_TRUE(label->alignment() & Qt::AlignHCenter);
    EXPECT_EQ(label->y(), py(expected.top));
    EXPECT_EQ(label->height(), py(expected.height));
    EXPECT_TRUE(box->rect().contains(label->geometry()));
    const QFontMetrics metrics(label->font());
    if (label->wordWrap()) {
      // The description wraps onto several lines, all inside its box.
      const QRect needed = metrics.boundingRect(QRect(0, 0, label->width(), 10000),
                                                Qt::TextWordWrap | Qt::AlignHCenter, label->text());
      EXPECT_GT(needed.height(), metrics.height());
      EXPECT_LE(needed.height(), label->height());
    } else {
      EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width());
      EXPECT_LE(metrics.height(), label->height() + 2);
    }
  }
  EXPECT_TRUE(box->descriptionLabel->wordWrap());
  EXPECT_EQ(box->descriptionLabel->geometry(), QRect(px(720), py(720), px(3015), py(735)));
  // The title with the version is wider than its box: it grows about its centre.
  EXPECT_NEAR(box->titleLabel->geometry().center().x(), QRect(px(735), 0, px(3075), 1).center().x(),
              1);

  EXPECT_EQ(box->okButton->text(), QStringLiteral("OK"));
  EXPECT_DOUBLE_EQ(box->okButton->font().pointSizeF(), 8.25);
  EXPECT_EQ(box->okButton->geometry(), QRect(px(1440), py(2760), px(1575), py(495)));
  unloadAbout();
}

TEST_F(AboutBoxTest, ClosingTheMainWindowEndsTheProgramWithTheBoxOpen) {
  int ended = 0;
  ctx.endProgram = [&ended] { ++ended; };
  window->aboutAction->trigger();
  window->close();
  EXPECT_EQ(ended, 1);
  // The box goes with the main window it belongs to.
  QPointer<AboutBox> box = ctx.aboutBox;
  window.reset();
  EXPECT_TRUE(box.isNull());
}

}  // namespace
}  // namespace ril
