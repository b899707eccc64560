// The picture of the levels under the report: which file it shows, its place
// and size, the pointer's line, and File, Save Picture...
#include "gui/level_view.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QImage>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>

#include "gui/dialog_test_fixture.h"

namespace ril {
namespace {

using test::DialogTest;

class LevelViewTest : public DialogTest {
 protected:
  void read(const std::vector<std::string>& paths) {
    ASSERT_TRUE(main->openFiles(paths));
    finishRuns();
  }
  // The columns of the picture's first lane in `colour`, as x positions.
  static std::vector<double> columns(const LevelPicture& p, Colour colour) {
    std::vector<double> xs;
    for (const Shape& s : p.shapes) {
      if (s.kind != Shape::Kind::kBars || !(s.colour == colour)) continue;
      for (std::size_t i = 0; i + 2 < s.points.size(); i += 3) {
        if (s.points[i + 1] < p.layout.laneTop[0] + p.layout.laneHeight[0])
          xs.push_back(s.points[i]);
      }
      break;
    }
    return xs;
  }
  static constexpr Colour kRed{214, 30, 30};
  static constexpr Colour kBlue{47, 109, 181};
};

TEST_F(LevelViewTest, TheLastFilesPictureShowsUnderTheReportAndIsDrawnAnewForEverySize) {
  const std::string quiet = dataDir.file("quiet.wav"), loud = dataDir.file("loud.wav");
  test::writeFile(quiet, test::wavWithPeak(8000));
  test::writeFile(loud, test::wavWithPeak(32768, 44100, 2, 4 * 44100));
  read({quiet, loud});
  LevelView* view = main->levelView;
  ASSERT_TRUE(view->isVisibleTo(main.get()));
  EXPECT_TRUE(main->savePictureAction->isEnabled());
  EXPECT_GT(view->y(), main->reportView->geometry().bottom());
  const LevelPicture& p = view->picture();
  EXPECT_EQ(p.width, view->width());
  // loud.wav's one sample at full scale, half-way, in the first channel.
  const std::vector<double> red = columns(p, kRed);
  ASSERT_EQ(red.size(), 1u);
  EXPECT_NEAR(red[0], p.layout.plotLeft + p.layout.plotWidth / 2, 1.0);
  EXPECT_GT(p.layout.loudnessHeight, 0) << "its loudness was measured";
  EXPECT_FALSE(p.layout.shortTerm.empty());

  main->show();
  const int before = view->width();
  main->setOuterSizeTwips(MainWindow::kDefaultWidth * 1.5, MainWindow::kDefaultHeight * 1.5);
  EXPECT_GT(view->width(), before);
  const LevelPicture& larger = view->picture();
  EXPECT_EQ(larger.width, view->width());
  EXPECT_EQ(columns(larger, kRed).size() + columns(larger, kBlue).size(),
            static_cast<std::size_t>(larger.layout.plotWidth));

  // The next file read takes the picture away until its own is there; one
  // that cannot be analysed leaves none.
  test::writeFile(dataDir.file("empty.wav"), {});
  read({dataDir.file("empty.wav")});
  EXPECT_FALSE(view->isVisibleTo(main.get()));
  EXPECT_FALSE(main->savePictureAction->isEnabled());
}

TEST_F(LevelViewTest, ThePointersLineTellsTheTimeAndLevelUnderIt) {
  test::writeFile(dataDir.file("a.wav"), test::wavWithPeak(16384, 8000, 1, 8000));
  read({dataDir.file("a.wav")});
  LevelView* view = main->levelView;
  const PictureLayout& l = view->picture().layout;
  const QPointF at(l.plotLeft + l.plotWidth / 4, l.laneTop[0] + l.laneHeight[0] / 4);
  QMouseEvent move(QEvent::MouseMove, at, view->mapToGlobal(at), Qt::NoButton, Qt::NoButton,
                   Qt::NoModifier);
  QApplication::sendEvent(view, &move);
  EXPECT_EQ(view->pointerText().toStdString().substr(0, 8), "0:00.250");
  EXPECT_NE(view->pointerText().indexOf(QStringLiteral("channel 1  50.")), -1)
      << view->pointerText().toStdString();
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(view, &leave);
  EXPECT_EQ(view->pointerText(), QString());
}

TEST_F(LevelViewTest, SavePictureWritesThePictureAsPngWhereTheUserSays) {
  const std::string file = dataDir.file("take 1.wav");
  test::writeFile(file, test::wavWithPeak(32768));
  read({file});
  std::string offered;
  std::string answer = dataDir.file("picture.png");
  main->askPicturePath = [&](const std::string& suggested) {
    offered = suggested;
    return answer;
  };
  main->savePictureAction->trigger();
  EXPECT_EQ(offered, dataDir.file("take 1.png"));
  QImage saved(QString::fromStdString(answer), "PNG");
  ASSERT_FALSE(saved.isNull());
  const LevelPicture& p = main->levelView->picture();
  EXPECT_EQ(saved.size(), QSize(p.width, p.height));
  const std::vector<double> red = columns(p, kRed);
  ASSERT_EQ(red.size(), 1u);
  // Red shows in that column between the dashes that mark the minimum there.
  int redPixels = 0;
  for (int y = 0; y < saved.height(); ++y) {
    redPixels += saved.pixelColor(static_cast<int>(red[0]), y) == QColor(214, 30, 30);
  }
  EXPECT_GE(redPixels, 3);

  answer = dataDir.file("no such directory/picture.png");
  main->savePictureAction->trigger();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].text.rfind("The picture cannot be saved as " + answer + ": ", 0), 0u);
}

}  // namespace
}  // namespace ril
