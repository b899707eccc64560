// The modification dialog: maxGain, the clamp of the volume scroll bar, the
// check boxes, its layout, and the dialog around a run of the engine.
#include "gui/modification_dialog.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTest>
#include <cmath>

#include "gui/batch_run.h"
#include "gui/dialog_test_fixture.h"
#include "gui/stop_signals.h"
#include "gui/twips.h"

namespace ril {
namespace {

using test::DialogTest;

class ModificationDialogTest : public DialogTest {
 protected:
  // The dialog as the batch run leaves it for an analysed file.
  ModificationDialog* load(std::int32_t peak0, std::int32_t peak1 = 0, std::int32_t rate = 44100,
                           std::int16_t bits = 16) {
    ctx.session.current.format.sampleRate = rate;
    ctx.session.current.format.bitsPerSample = bits;
    ctx.session.current.format.channels = 2;
    ctx.session.peakLevel = {static_cast<double>(peak0), static_cast<double>(peak1)};
    return showModificationDialog(ctx);
  }
  static std::string label(ModificationDialog* d) { return d->volumeLabel->text().toStdString(); }

  // Drags the thumb of the scroll bar to its right end with the mouse.
  static void dragThumbToTheRight(QScrollBar* bar) {
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.orientation = Qt::Horizontal;
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.subControls = QStyle::SC_All;
    const QRect thumb = bar->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                     QStyle::SC_ScrollBarSlider, bar);
    QTest::mousePress(bar, Qt::LeftButton, {}, thumb.center());
    for (int x = thumb.center().x(); x <= bar->width() + 20; x += 4) {
      QMouseEvent move(QEvent::MouseMove, QPointF(x, thumb.center().y()),
                       bar->mapToGlobal(QPointF(x, thumb.center().y())), Qt::NoButton,
                       Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(bar, &move);
    }
    QTest::mouseRelease(bar, Qt::LeftButton, {}, QPoint(bar->width() + 20, thumb.center().y()));
  }
};

TEST_F(ModificationDialogTest, LoadsWithTheUncutFactorOfTheOriginalPeak) {
  ModificationDialog* d = load(16384);
  EXPECT_EQ(d->windowTitle().toStdString(), "Select modification");
  EXPECT_TRUE(d->deemphasisCheck->isEnabled());
  EXPECT_FALSE(d->deemphasisCheck->isChecked());
  EXPECT_FALSE(d->maximizeCheck->isChecked());
  EXPECT_EQ(d->maxGain(), 1.99993896484375);
  EXPECT_EQ(d->volumeScrollBar->value(), 1000);
  EXPECT_EQ(label(d), "100%");
  EXPECT_TRUE(d->volumeFrame->isEnabled());
  EXPECT_TRUE(d->volumeScrollBar->isEnabled());
}

TEST_F(ModificationDialogTest, OffersNoDeemphasisAwayFrom44100Hz) {
  ModificationDialog* d = load(16384, 0, 48000);
  EXPECT_FALSE(d->deemphasisCheck->isEnabled());
  d->deemphasisCheck->click();
  QTest::keyClick(d->deemphasisCheck, Qt::Key_Space);
  EXPECT_FALSE(d->deemphasisCheck->isChecked());
  EXPECT_EQ(d->maxGain(), 32767.0 / 16384.0);
}

TEST_F(ModificationDialogTest, ThumbDraggedPastTheLimitSpringsBack) {
  ModificationDialog* d = load(16384);
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  dragThumbToTheRight(d->volumeScrollBar);
  EXPECT_EQ(d->volumeScrollBar->value(), 2000);
  EXPECT_EQ(label(d), "200%");

  // The same from code and from the keyboard: never above the limit.
  d->volumeScrollBar->setValue(9000);
  EXPECT_EQ(d->volumeScrollBar->value(), 2000);
  EXPECT_EQ(label(d), "200%");
  d->volumeScrollBar->setFocus();
  d->volumeScrollBar->setValue(1500);
  QTest::keyClick(d->volumeScrollBar, Qt::Key_Right);  // the right arrow raises the volume
  EXPECT_EQ(d->volumeScrollBar->value(), 1501);
  d->volumeScrollBar->setValue(2000);
  QTest::keyClick(d->volumeScrollBar, Qt::Key_Right);
  EXPECT_EQ(d->volumeScrollBar->value(), 2000);
  QTest::keyClick(d->volumeScrollBar, Qt::Key_Left);
  EXPECT_EQ(d->volumeScrollBar->value(), 1999);
  EXPECT_EQ(label(d), "199.9%");
}

TEST_F(ModificationDialogTest, DeemphasisPullsTheVolumeDownToItsCutLimitAndBack) {
  ModificationDialog* d = load(16384, 40000);
  d->deemphasisCheck->click();
  EXPECT_EQ(d->maxGain(), 0.819);
  EXPECT_EQ(d->volumeScrollBar->value(), 819);
  EXPECT_EQ(label(d), "81.9%");

  // Unchecking: the original data's factor, cut to 0.001; the value stays.
  d->deemphasisCheck->click();
  EXPECT_EQ(d->maxGain(), 1.999);
  EXPECT_EQ(d->volumeScrollBar->value(), 819);
  EXPECT_EQ(label(d), "81.9%");
}

TEST_F(ModificationDialogTest, AcceptsAValueExactlyAtACutLimit) {
  ModificationDialog* d = load(20000, 20000);
  EXPECT_EQ(d->maxGain(), 32767.0 / 20000.0);  // 1.63835 uncut
  d->deemphasisCheck->click();
  EXPECT_EQ(d->maxGain(), 1.638);
  QPalette red = d->volumeLabel->palette();
  red.setColor(QPalette::WindowText, Qt::red);
  d->volumeLabel->setPalette(red);
  d->volumeScrollBar->setValue(1638);
  EXPECT_EQ(d->volumeScrollBar->value(), 1638);
  EXPECT_EQ(label(d), "163.8%");
  // Taken as accepted: the label is black again.
  EXPECT_EQ(d->volumeLabel->palette().color(QPalette::Active, QPalette::WindowText),
            QColor(Qt::black));
  d->volumeScrollBar->setValue(1639);
  EXPECT_EQ(d->volumeScrollBar->value(), 1638);
}

TEST_F(ModificationDialogTest, LabelShowsTenthsOfAPercentInGeneralFormat) {
  ModificationDialog* d = load(3000);  // limit about 10.9: the whole range is open
  for (auto [value, text] : std::vector<std::pair<int, std::string>>{
           {1235, "123.5%"}, {995, "99.5%"}, {1000, "100%"}, {0, "0%"}, {10000, "1000%"}}) {
    d->volumeScrollBar->setValue(value);
    EXPECT_EQ(label(d), text) << value;
  }
  ctx.decimalSeparator = ',';
  d->volumeScrollBar->setValue(1236);
  EXPECT_EQ(label(d), "123,6%");
}

TEST_F(ModificationDialogTest, AcceptedValuesTurnTheLabelBlack) {
  ModificationDialog* d = load(16384);
  d->volumeScrollBar->setValue(1500);
  EXPECT_EQ(d->volumeLabel->palette().color(QPalette::Active, QPalette::WindowText),
            QColor(Qt::black));
}

TEST_F(ModificationDialogTest, MaximizeGreysOutTheManualVolumeAndKeepsItsValue) {
  ModificationDialog* d = load(16384);
  d->volumeScrollBar->setValue(1500);
  d->maximizeCheck->click();
  EXPECT_FALSE(d->volumeFrame->isEnabled());
  EXPECT_FALSE(d->volumeScrollBar->isEnabled());
  EXPECT_FALSE(d->volumeLabel->isEnabled());
  d->maximizeCheck->click();
  EXPECT_TRUE(d->volumeFrame->isEnabled());
  EXPECT_TRUE(d->volumeScrollBar->isEnabled());
  EXPECT_TRUE(d->volumeLabel->isEnabled());
  EXPECT_EQ(d->volumeScrollBar->value(), 1500);
  EXPECT_EQ(label(d), "150%");
}

TEST_F(ModificationDialogTest, SilentFileIsTreatedAsUnamplifiable) {
  ModificationDialog* d = load(0, 0);
  EXPECT_EQ(d->maxGain(), 1.0);
  EXPECT_EQ(d->volumeScrollBar->value(), 1000);
  d->volumeScrollBar->setValue(1500);
  EXPECT_EQ(d->volumeScrollBar->value(), 1000);
  d->deemphasisCheck->click();
  EXPECT_EQ(d->maxGain(), 1.0);
  EXPECT_TRUE(std::isfinite(d->maxGain()));
}

TEST_F(ModificationDialogTest, FullScalePeakRoundsTheClampBackToOneHundredPercent) {
  // 32767 / 32768 lies below 1, but 999.97 rounds to 1000 again.
  ModificationDialog* d = load(32768);
  EXPECT_EQ(d->volumeScrollBar->value(), 1000);
  EXPECT_EQ(label(d), "100%");
}

TEST_F(ModificationDialogTest, TabsFromTheScrollBarAndLeavesEnterAndEscapeUnbound) {
  ModificationDialog* d = load(16384);
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  EXPECT_EQ(d->size(), QSize(twipsToPixelsX(2475, d), twipsToPixelsY(2250, d)));
  EXPECT_EQ(d->minimumSize(), d->maximumSize());
  d->volumeScrollBar->setValue(1500);  // Modify would now run and close the dialog
  d->modifyButton->setFocus();
  QTest::keyClick(d->modifyButton, Qt::Key_Return);
  QTest::keyClick(d, Qt::Key_Escape);
  EXPECT_EQ(ctx.modificationDialog, d);
  EXPECT_TRUE(d->isVisible());
  EXPECT_TRUE(host.messages.empty());

  // Tab order: scroll bar, Modify, Cancel, the two check boxes.
  std::vector<QWidget*> order{d->volumeScrollBar, d->modifyButton, d->cancelButton,
                              d->deemphasisCheck, d->maximizeCheck};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    QWidget* next = order[i]->nextInFocusChain();
    while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, order[i + 1]) << i;
  }
}

TEST_F(ModificationDialogTest, SitsInsideTheMainWindowsTopRightCorner) {
  main->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
  main->moveTwips(1500, 900);
  ModificationDialog* d = load(16384);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  const double outerWidth = pixelsToTwipsX(d->frameGeometry().width(), d);
  const float left = static_cast<float>(main->leftTwips()) +
                     static_cast<float>(main->widthTwips()) - static_cast<float>(outerWidth) -
                     600.0f;
  EXPECT_EQ(d->frameGeometry().x(), twipsToPixelsX(left, d));
  EXPECT_EQ(d->frameGeometry().y(),
            twipsToPixelsY(static_cast<float>(main->topTwips()) + 1200.0f, d));
}

TEST_F(ModificationDialogTest, ShowingItAgainInitialisesItForTheFileNowAnalysed) {
  ModificationDialog* d = load(16384);
  d->volumeScrollBar->setValue(1500);
  d->maximizeCheck->click();
  ctx.session.peakLevel = {8000, 8000};
  EXPECT_EQ(showModificationDialog(ctx), d);
  EXPECT_EQ(d->volumeScrollBar->value(), 1000);
  EXPECT_EQ(label(d), "100%");
  EXPECT_FALSE(d->maximizeCheck->isChecked());
  EXPECT_TRUE(d->volumeScrollBar->isEnabled());
  EXPECT_EQ(d->maxGain(), 32767.0 / 8000.0);
}

TEST_F(ModificationDialogTest, CancelAndTheCloseBoxUnloadTheDialog) {
  load(16384);
  ctx.modificationDialog->cancelButton->click();
  EXPECT_TRUE(ctx.modificationDialog.isNull());
  flushDeletes();

  ModificationDialog* d = load(8000);
  EXPECT_EQ(d->volumeScrollBar->value(), 1000);  // a fresh dialog
  EXPECT_TRUE(d->close());
  EXPECT_TRUE(ctx.modificationDialog.isNull());
}

// ---- around a run of the engine ----------------------------------------------

class ModifyRunTest : public ModificationDialogTest {
 protected:
  // Chooses and analyses a file as File, Open and OK do.
  ModificationDialog* analyse(const test::Bytes& wav, const std::string& name = "song.wav") {
    original = wav;
    path = dataDir.file(name);
    test::writeFile(path, wav);
    ctx.session.filePaths = {path};
    ctx.session.fileNames = {name};
    ctx.session.lastFileIndex = 0;
    runBatch(ctx);
    return ctx.modificationDialog;
  }
  test::Bytes original;
  std::string path;
};

TEST_F(ModifyRunTest, NothingToDoKeepsTheDialogOpenAndWritesNothing) {
  ModificationDialog* d = analyse(test::wavWithPeak(16384));
  ASSERT_NE(d, nullptr);
  d->modifyButton->click();
  EXPECT_EQ(ctx.modificationDialog, d);
  EXPECT_TRUE(d->isEnabled());
  EXPECT_TRUE(d->deemphasisCheck->isEnabled());
  EXPECT_FALSE(ctx.modifyRunning);
  EXPECT_TRUE(host.messages.empty());
  EXPECT_EQ(test::readFile(path), original);
  EXPECT_FALSE(test::fileExists(programDir.file("song.wav")));
}

TEST_F(ModifyRunTest, ControlsFileOpenAndClosingAreBlockedWhileARunIsInProgress) {
  ModificationDialog* d = analyse(test::wavWithPeak(16384));
  ASSERT_NE(d, nullptr);
  // A selection dialog left open with a file chosen.
  test::writeFile(dataDir.file("next.wav"), test::wavWithPeak(1000));
  showSelectionDialog(ctx);
  ASSERT_EQ(ctx.selectionDialog->directoryList->setPath(dataDir.path()), "");
  ASSERT_EQ(ctx.selectionDialog->fileList->fileName(0), "next.wav");
  ctx.selectionDialog->fileList->setSelected(0, true);
  d->volumeScrollBar->setValue(1500);
  bool sawRun = false;
  duringNextYield([&] {
    sawRun = true;
    EXPECT_TRUE(ctx.modifyRunning);
    EXPECT_FALSE(d->deemphasisCheck->isEnabled());
    EXPECT_FALSE(d->maximizeCheck->isEnabled());
    EXPECT_FALSE(d->volumeScrollBar->isEnabled());
    EXPECT_FALSE(d->modifyButton->isEnabled());
    EXPECT_FALSE(d->cancelButton->isEnabled());
    EXPECT_FALSE(main->openAction->isEnabled());
    EXPECT_FALSE(d->close());
    d->cancel();
    d->modify();  // no second run inside the first
    EXPECT_EQ(ctx.modificationDialog, d);
    EXPECT_FALSE(ctx.selectionDialog->isEnabled());
    ctx.selectionDialog->acceptSelection();  // no batch run under this run
    EXPECT_FALSE(ctx.selectionDialog.isNull());
  });
  d->modifyButton->click();
  EXPECT_TRUE(ctx.selectionDialog->isEnabled());
  EXPECT_EQ(ctx.session.fileNames, std::vector<std::string>{"song.wav"});
  EXPECT_TRUE(sawRun);
  EXPECT_TRUE(ctx.modificationDialog.isNull());
  EXPECT_FALSE(ctx.modifyRunning);
  EXPECT_TRUE(main->openAction->isEnabled());
  // One run: the original kept as .old, one closing notice.
  EXPECT_EQ(test::readFile(path + ".old"), original);
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].title, "Info:");
}

TEST_F(ModifyRunTest, ExitDuringARunAbandonsItThenEndsTheProgram) {
  ModificationDialog* d = analyse(test::wavWithPeak(16384));
  ASSERT_NE(d, nullptr);
  d->maximizeCheck->click();
  duringNextYield([&] { main->exitProgram(); });
  d->modifyButton->click();
  EXPECT_EQ(ended, 1);
  EXPECT_TRUE(ctx.modificationDialog.isNull());
  EXPECT_EQ(test::readFile(path), original);
  EXPECT_FALSE(test::fileExists(path + ".old"));
}

TEST_F(ModifyRunTest, CaptionShowsProgressAndDoneWhileTheNoticeIsShown) {
  ModificationDialog* d = analyse(test::wavWithPeak(16384));
  ASSERT_NE(d, nullptr);
  std::vector<std::string> titles;
  duringNextYield([&] { titles.push_back(d->windowTitle().toStdString()); });
  host.onMessage = [&](const Message&) { titles.push_back(d->windowTitle().toStdString()); };
  d->maximizeCheck->click();
  d->modifyButton->click();
  EXPECT_EQ(titles, (std::vector<std::string>{"Progress 0%", "Done!"}));
  EXPECT_TRUE(ctx.modificationDialog.isNull());
}

TEST_F(ModifyRunTest, StopSignalDuringARunAbandonsItAndEndsWithItsStatus) {
  // Three blocks, so that the run yields again after the signal came.
  const test::Bytes wav = test::wavWithPeak(16384, 44100, 2, 800000);
  for (int signal : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(signal);
    ended = 0;
    ctx.exitRequested = false;
    ModificationDialog* d = analyse(wav);
    ASSERT_NE(d, nullptr);
    const StopSignalNotifier notifier([this](int s) { stopForSignal(ctx, s); });
    d->maximizeCheck->click();
    duringNextYield([signal] { ::raise(signal); });
    d->modifyButton->click();
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(ctx.exitStatus, 128 + signal);
    EXPECT_TRUE(ctx.modificationDialog.isNull());
    EXPECT_TRUE(test::readFile(path) == original);
    EXPECT_EQ(test::listDirectory(dataDir.path()), std::vector<std::string>{"song.wav"});
    EXPECT_FALSE(test::fileExists(programDir.file("song.wav")));
    flushDeletes();
  }
}

TEST_F(ModificationDialogTest, StopSignalWithoutARunEndsTheProgramAtOnce) {
  const StopSignalNotifier notifier([this](int s) { stopForSignal(ctx, s); });
  ::raise(SIGTERM);
  EXPECT_TRUE(QTest::qWaitFor([this] { return ended > 0; }));
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(ctx.exitStatus, 143);
  EXPECT_TRUE(ctx.messagesDismissed);
}

}  // namespace
}  // namespace ril
