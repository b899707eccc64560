// The modification dialog: maxGain, the clamp of the volume scroll bar, the
// check boxes, its layout, and the dialog around a run of the engine.
#include "gui/modification_dialog.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QTest>
#include <QThread>
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
  EXPECT_FALSE(d->volumeScrollBar->isEnabled());
  EXPECT_FALSE(d->volumeSpinBox->isEnabled());
  EXPECT_TRUE(d->volumeLabel->isEnabled());  // it shows the factor then
  d->maximizeCheck->click();
  EXPECT_TRUE(d->volumeScrollBar->isEnabled());
  EXPECT_TRUE(d->volumeSpinBox->isEnabled());
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

TEST_F(ModificationDialogTest, TabsFromTheScrollBarLeavesEnterUnboundAndEscapeCancels) {
  ModificationDialog* d = load(16384);
  d->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  EXPECT_EQ(d->size(), QSize(twipsToPixelsX(ModificationDialog::kClientWidth, d),
                             twipsToPixelsY(ModificationDialog::kClientHeight, d)));
  EXPECT_EQ(d->minimumSize(), d->maximumSize());
  // The title reads in full in the dialog's width.
  EXPECT_LT(d->fontMetrics().horizontalAdvance(d->windowTitle()), d->width() / 2);
  d->volumeScrollBar->setValue(1500);  // Modify would now run and close the dialog
  d->modifyButton->setFocus();
  QTest::keyClick(d->modifyButton, Qt::Key_Return);
  EXPECT_EQ(ctx.modificationDialog, d);
  EXPECT_TRUE(d->isVisible());
  EXPECT_TRUE(host.messages.empty());

  // Tab order: scroll bar, spin box, Modify, Cancel, the check boxes, the loudness.
  std::vector<QWidget*> order{
      d->volumeScrollBar, d->volumeSpinBox,         d->modifyButton,
      d->cancelButton,    d->deemphasisCheck,       d->maximizeCheck,
      d->loudnessCheck,   d->loudnessTargetSpinBox, d->truePeakLimitSpinBox};
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    QWidget* next = order[i]->nextInFocusChain();
    while (next->focusPolicy() == Qt::NoFocus || !order[i + 1]->isAncestorOf(next)) {
      if (next == order[i + 1]) break;
      next = next->nextInFocusChain();
    }
    EXPECT_EQ(next, order[i + 1]) << i;
  }

  d->volumeScrollBar->setFocus();
  QTest::keyClick(d->volumeScrollBar, Qt::Key_Escape);
  EXPECT_TRUE(ctx.modificationDialog.isNull());
  EXPECT_TRUE(host.messages.empty());
}

TEST_F(ModificationDialogTest, TheSpinBoxAndTheScrollBarStayInStepUnderTheLimit) {
  ModificationDialog* d = load(16384);
  EXPECT_DOUBLE_EQ(d->volumeSpinBox->value(), 100.0);
  d->volumeScrollBar->setValue(1235);
  EXPECT_DOUBLE_EQ(d->volumeSpinBox->value(), 123.5);
  d->volumeSpinBox->setValue(150.5);  // as typed
  EXPECT_EQ(d->volumeScrollBar->value(), 1505);
  EXPECT_EQ(label(d), "150.5%");
  d->volumeSpinBox->setValue(250.0);  // above the limit: held there, both of them
  EXPECT_EQ(d->volumeScrollBar->value(), 2000);
  EXPECT_DOUBLE_EQ(d->volumeSpinBox->value(), 200.0);
}

TEST_F(ModificationDialogTest, WithMaximizeTheFigureShowsTheFactorThatWillBeApplied) {
  ModificationDialog* d = load(16384, 40000);
  d->maximizeCheck->click();
  EXPECT_EQ(label(d), "maximized: 199.99%");
  d->deemphasisCheck->click();  // the de-emphasised data's factor, cut to 0.001
  EXPECT_EQ(label(d), "maximized: 81.90%");
  d->maximizeCheck->click();
  EXPECT_EQ(label(d), "81.9%");
}

TEST_F(ModificationDialogTest, OpensBesideTheMainWindowWhereTheScreenHasRoom) {
  const QRect screen(0, 0, 1600, 1000);
  const QSize outer(262, 180);
  const QPoint over(500, 90);
  // Room on the right: there, at the height it would have over the report.
  EXPECT_EQ(ModificationDialog::besideMain(QRect(100, 50, 642, 500), outer, screen, over),
            QPoint(742 + 8, 90));
  // None on the right: on the left.
  EXPECT_EQ(ModificationDialog::besideMain(QRect(900, 50, 642, 500), outer, screen, over),
            QPoint(900 - 8 - 262, 90));
  // None on either side (a maximised window): over the report's top right corner.
  EXPECT_EQ(ModificationDialog::besideMain(screen, outer, screen, over), over);
  // Never below the screen's bottom edge.
  EXPECT_EQ(
      ModificationDialog::besideMain(QRect(100, 50, 642, 500), outer, screen, QPoint(500, 950)).y(),
      1000 - 180);
}

TEST_F(ModificationDialogTest, WithoutRoomBesideItSitsInsideTheMainWindowsTopRightCorner) {
  main->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
  main->moveTwips(1500, 900);
  ModificationDialog* d = load(16384);
  ASSERT_TRUE(QTest::qWaitForWindowExposed(d));
  const QRect available = main->screen()->availableGeometry();
  const QRect mainFrame = main->frameGeometry();
  const int outerWidth = d->frameGeometry().width();
  if (mainFrame.right() + 8 + outerWidth <= available.right() ||
      mainFrame.left() - 8 - outerWidth >= available.left()) {
    GTEST_SKIP() << "this screen has room beside the main window";
  }
  const float left = static_cast<float>(main->leftTwips()) +
                     static_cast<float>(main->widthTwips()) -
                     static_cast<float>(pixelsToTwipsX(outerWidth, d)) - 600.0f;
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
    finishRuns();
    return ctx.modificationDialog;
  }

  // Modify, with the run held part-way through the file until `whileHeld` has
  // run on the user-interface thread; then the run goes on to its end.
  void modifyHeldPartWay(ModificationDialog* d, const std::function<void()>& whileHeld) {
    test::HeldReads held(1536 * 1024);
    ctx.fs = &held;
    d->modifyButton->click();
    ASSERT_TRUE(held.waitUntilHeld());
    EXPECT_TRUE(ctx.modifyRunning);
    whileHeld();
    held.release();
    finishRuns();
    ctx.fs = &realFileSystem();
  }
  test::Bytes original;
  std::string path;
};

TEST_F(ModifyRunTest, NothingToDoKeepsTheDialogOpenAndWritesNothing) {
  ModificationDialog* d = analyse(test::wavWithPeak(16384));
  ASSERT_NE(d, nullptr);
  d->modifyButton->click();
  finishRuns();
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
  duringTheRun([&] {
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
  finishRuns();
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
  // Four blocks; the run is held in the second.
  ModificationDialog* d = analyse(test::wavWithPeak(16384, 44100, 2, 800000));
  ASSERT_NE(d, nullptr);
  d->maximizeCheck->click();
  modifyHeldPartWay(d, [&] {
    main->exitProgram();
    EXPECT_EQ(ended, 0);  // not before the run has ended
  });
  EXPECT_EQ(ended, 1);
  EXPECT_TRUE(ctx.modificationDialog.isNull());
  EXPECT_EQ(test::readFile(path), original);
  EXPECT_FALSE(test::fileExists(path + ".old"));
}

TEST_F(ModifyRunTest, CaptionShowsProgressAndDoneWhileTheNoticeIsShown) {
  ModificationDialog* d = analyse(test::wavWithPeak(16384));
  ASSERT_NE(d, nullptr);
  std::vector<std::string> titles;
  QObject::connect(d, &QWidget::windowTitleChanged,
                   [&](const QString& title) { titles.push_back(title.toStdString()); });
  std::string atNotice;
  host.onMessage = [&](const Message&) { atNotice = d->windowTitle().toStdString(); };
  d->maximizeCheck->click();
  d->modifyButton->click();
  finishRuns();
  EXPECT_EQ(titles, (std::vector<std::string>{"Progress 0%", "Done!"}));
  EXPECT_EQ(atNotice, "Done!");
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
    modifyHeldPartWay(d, [&] {
      ::raise(signal);
      EXPECT_TRUE(QTest::qWaitFor([this] { return ctx.exitRequested; }));
    });
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(ctx.exitStatus, 128 + signal);
    EXPECT_TRUE(ctx.modificationDialog.isNull());
    EXPECT_TRUE(test::readFile(path) == original);
    EXPECT_EQ(test::listDirectory(dataDir.path()), std::vector<std::string>{"song.wav"});
    EXPECT_FALSE(test::fileExists(programDir.file("song.wav")));
    flushDeletes();
  }
}

TEST_F(ModifyRunTest, ClippedSamplesAreToldOnTheUserInterfaceThreadInOrderBeforeTheNotice) {
  std::vector<std::uint8_t> bytes(40, 0);
  bytes.insert(bytes.end(), 40, 255);
  test::WavShape shape;
  shape.channels = 1;
  shape.bitsPerSample = 8;
  shape.data = test::pcm8(bytes);
  ASSERT_NE(analyse(test::buildWav(shape)), nullptr);
  // Peaks that let the volume rise far enough for the filtered samples to clip.
  ctx.session.peakLevel = {1000, 1000};
  ModificationDialog* d = showModificationDialog(ctx);
  d->deemphasisCheck->click();
  d->volumeScrollBar->setValue(1200);
  std::vector<bool> onUserInterfaceThread;
  host.onMessage = [&](const Message&) {
    onUserInterfaceThread.push_back(QThread::currentThread() == qApp->thread());
  };
  d->modifyButton->click();
  finishRuns();
  ASSERT_EQ(host.messages.size(), 12u);  // ten clips, one for the rest, the closing notice
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(host.messages[i].title, "Error:") << i;
  EXPECT_EQ(host.messages[0].text, "Error at sample 4! Calculated value of -129 limited to -128!");
  EXPECT_EQ(host.messages[10].text.rfind("Another ", 0), 0u);
  EXPECT_EQ(host.messages[11].title, "Info:");
  EXPECT_EQ(onUserInterfaceThread, std::vector<bool>(12, true));
}

// A drive with one free cluster: the disk-space question comes up.
class NoRoom : public test::ForwardingFileSystem {
 public:
  DiskFree freeSpace(const std::string&) override { return {1, 512, 1}; }
};

TEST_F(ModifyRunTest, TheDiskSpaceQuestionIsAskedOnTheUserInterfaceThreadAndNoLeavesAllAsItWas) {
  ModificationDialog* d = analyse(test::wavWithPeak(16384));
  ASSERT_NE(d, nullptr);
  NoRoom noRoom;
  ctx.fs = &noRoom;
  host.answers = {Answer::kNo};
  bool onUserInterfaceThread = false;
  host.onMessage = [&](const Message&) {
    onUserInterfaceThread = QThread::currentThread() == qApp->thread();
  };
  d->maximizeCheck->click();
  d->modifyButton->click();
  finishRuns();
  ctx.fs = &realFileSystem();
  ASSERT_EQ(host.messages.size(), 1u);
  EXPECT_EQ(host.messages[0].kind, MessageKind::kQuestion);
  EXPECT_TRUE(onUserInterfaceThread);
  EXPECT_EQ(test::readFile(path), original);
  EXPECT_FALSE(test::fileExists(path + ".old"));
}

// ---- normalising the loudness -------------------------------------------------

// `seconds` of a stereo signal at 44100 Hz that swells and fades, its
// peaks about `level` of full scale.
test::Bytes musicLike(double seconds, double level) {
  std::vector<std::int16_t> samples;
  const double pi = std::acos(-1.0);
  for (int i = 0; i < static_cast<int>(seconds * 44100); ++i) {
    const double t = i / 44100.0;
    const double swell = level * (0.6 + 0.4 * std::sin(2 * pi * 0.7 * t));
    const double left = 0.6 * std::sin(2 * pi * 220 * t) + 0.3 * std::sin(2 * pi * 3150 * t);
    const double right = 0.5 * std::sin(2 * pi * 330 * t + 1) + 0.4 * std::sin(2 * pi * 5100 * t);
    samples.push_back(static_cast<std::int16_t>(std::lround(swell * left * 32767)));
    samples.push_back(static_cast<std::int16_t>(std::lround(swell * right * 32767)));
  }
  test::WavShape shape;
  shape.data = test::pcm16(samples);
  return test::buildWav(shape);
}

// What `rilmaton-cli modify OPTIONS` says and applies for `path`: its
// "Loudness gain:" line and the volume in tenths of a percent.
struct CliLoudness {
  std::string line;
  int tenths = -1;
};
CliLoudness cliLoudness(const std::string& path, const std::string& options) {
  const test::TempDir out;
  const test::CommandResult r =
      test::runCommand("'" + test::builtProgram("rilmaton-cli") + "' modify " + options +
                       " --output '" + out.file("out.wav") + "' '" + path + "'");
  CliLoudness cli;
  const std::size_t at = r.out.find("Loudness gain:");
  if (at == std::string::npos) return cli;
  cli.line = r.out.substr(at, r.out.find('\n', at) - at);
  const std::size_t open = cli.line.find('(');
  cli.tenths = static_cast<int>(std::lround(std::stod(cli.line.substr(open + 1)) * 10.0));
  return cli;
}

TEST_F(ModifyRunTest, LoudnessSetsTheVolumeToTheFigureModifyLoudnessApplies) {
  ModificationDialog* d = analyse(musicLike(3.0, 0.1));
  ASSERT_NE(d, nullptr);
  ASSERT_TRUE(d->loudnessCheck->isEnabled());
  d->loudnessCheck->click();
  const CliLoudness plain = cliLoudness(path, "--loudness -23");
  ASSERT_GT(plain.tenths, 1000) << plain.line;
  EXPECT_EQ(d->loudnessLabel->text().toStdString(), plain.line);
  EXPECT_EQ(d->volumeScrollBar->value(), plain.tenths);
  EXPECT_FALSE(d->volumeScrollBar->isEnabled());
  EXPECT_TRUE(d->modifyButton->isEnabled());

  // The figure follows the target and the limit; here the limit holds it down.
  d->truePeakLimitSpinBox->setValue(-6.0);
  d->loudnessTargetSpinBox->setValue(-10.0);
  const CliLoudness limited = cliLoudness(path, "--loudness -10 --true-peak-limit -6");
  EXPECT_NE(limited.line.find("limited by the true peak of -6.0 dBTP"), std::string::npos);
  EXPECT_EQ(d->loudnessLabel->text().toStdString(), limited.line);
  EXPECT_EQ(d->volumeScrollBar->value(), limited.tenths);

  // Maximize takes the volume over, and the manual volume comes back after it.
  d->maximizeCheck->click();
  EXPECT_FALSE(d->loudnessCheck->isChecked());
  EXPECT_TRUE(d->loudnessLabel->text().isEmpty());
  d->maximizeCheck->click();
  EXPECT_TRUE(d->volumeScrollBar->isEnabled());

  // A file too short for a loudness is not normalised.
  d = analyse(musicLike(0.2, 0.1));
  ASSERT_NE(d, nullptr);
  d->loudnessCheck->click();
  EXPECT_EQ(d->loudnessLabel->text().toStdString(), "No loudness to normalise to: too short.");
  EXPECT_FALSE(d->modifyButton->isEnabled());
  EXPECT_EQ(d->volumeScrollBar->value(), 1000);
}

TEST_F(ModifyRunTest, WithDeemphasisTheLoudnessIsMeasuredAfterTheFilterBeforeModifyRuns) {
  ModificationDialog* d = analyse(musicLike(3.0, 0.1));
  ASSERT_NE(d, nullptr);
  d->loudnessCheck->click();
  d->deemphasisCheck->click();
  EXPECT_TRUE(d->measuringLoudness());
  EXPECT_FALSE(d->modifyButton->isEnabled());
  d->modify();  // waits for the loudness
  EXPECT_FALSE(ctx.modifyRunning);
  ASSERT_TRUE(QTest::qWaitFor([d] { return !d->measuringLoudness(); }, 20000));
  const CliLoudness filtered = cliLoudness(path, "--deemphasis --loudness -23");
  EXPECT_NE(filtered.line, cliLoudness(path, "--loudness -23").line);
  EXPECT_EQ(d->loudnessLabel->text().toStdString(), filtered.line);
  EXPECT_EQ(d->volumeScrollBar->value(), filtered.tenths);
  EXPECT_TRUE(d->modifyButton->isEnabled());
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
